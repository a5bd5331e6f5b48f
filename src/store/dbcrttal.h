// The certificate store of the file-backed database: five tables in the
// database directory - "certific" (the DER, keyed by serial-number hash,
// e-mail and subject hash), "dnfld" (subject fields), "ca" (CA records),
// "addidx" (key-identifier and certificate hashes) and "netCertTime" (when a
// key's certificates were last fetched). Every operation takes the
// database's inter-process lock; the tables stay open between operations and
// each takes in, under the lock, what other processes wrote since (so several
// processes may share the directory). One object serves one thread at a time.
// Single changes are durable when they return; a batch is durable at endBatch.
// An insert or a batch that fails (a full disk) leaves none of its
// certificates found: a table that committed before another failed has its
// records marked deleted, which takes no new room.
#pragma once

#include "store/db/dbtable.h"
#include "store/dbbase.h"
#include "store/dblock.h"

#include <memory>
#include <string>
#include <vector>

// The key text of a 20-octet hash: two characters per octet, high nibble
// first, nibble v written as the character 0x30 + v (so 10..15 are ":;<=>?").
std::string dbHashText(const DbHash& hash);

class DbCrtTal : public DbCrtBase {
 public:
  // directory ends with '/'; the lock is the database's and is not owned.
  DbCrtTal(const std::string& directory, InterProcessLock& lock);
  ~DbCrtTal() override;

  // Creates the four main tables ("netCertTime" is made on first use).
  void create();
  // True when the four main tables open (their headers and first pages pass
  // their checks); a damaged table answers false here and an exception to queries.
  bool tablesOpen();

  void findBySerNumHash(DbCertList& list, const DbHash& hash) override;
  void findBySbjDnHash(DbCertList& list, const DbHash& hash) override;
  void findBySbjDnFld(DbCertList& list, char tag, const std::string& value) override;
  void findByKeyIdHash(DbCertList& list, const DbHash& hash) override;
  void findByCertHash(DbCertList& list, const DbHash& hash) override;
  void listCa(DbCertList& list) override;
  // False when a whole record with the same serial-number hash holds the
  // same DER; one that a crash left half-indexed is replaced.
  bool insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash, const DbHash& certHash,
                  const DbHash& keyIdHash, const std::string& email, const DbBytes& der,
                  const DbDnFieldList& fields, bool isCa) override;
  bool first() override;
  bool next() override;
  bool prev() override;
  DbRecId getCurrentRec() override { return current; }
  void setCurrentRec(DbRecId id) override { current = id; }
  void get(DbBytes& der) override;
  // The cursor moves to the following live record, when there is one.
  void deleteCert() override;
  void setNetCertTime(const std::string& key) override;
  int64_t getNetCertTime(const std::string& key) override;
  // Takes the lock exclusively until endBatch; the operations in between
  // neither take it again nor look for other processes' changes, and the
  // tables commit once, in the order single inserts write them. A failed
  // operation commits what the batch holds; when that fails too the batch is
  // dropped and the operations up to endBatch fail.
  void beginBatch() override;
  void endBatch() override;

 private:
  class Session;
  // Commits what a batch holds, in the order of endBatch, and goes on with it.
  bool commitBatchSoFar();
  // Takes the lock; opens the tables when they are not open.
  void connect(int mode);
  // Gives the lock back; the tables stay open.
  void disconnect();
  void closeTables();
  DbTable* mainTable(int i);
  // Brings a table kept open up to date before its first use in an operation.
  void ready(DbTable& table);
  // Opens "netCertTime" when it is not open (making it in exclusive mode);
  // false when it is not there.
  bool timeTable(int mode);
  // Appends every live crtTb record whose key at index equals key.
  void searchCertificates(int index, const char* key, DbCertList& list);
  // Appends the certificate of every live record of an index table whose key
  // at index equals key (the whole table when key is null).
  void searchByRecordNumber(DbTable& table, int index, const char* key, DbCertList& list);
  // A record is whole once its certificate-hash key of "addidx" (the last key
  // an insert writes) names it.
  bool isWhole(DbRecId position, const DbHash& certHash);
  // Deletes a certificate record and the entries of the other tables naming it.
  void removeRecord(DbRecId position);
  // Marks deleted the certificate records stored since the tables last
  // committed together, when a commit or an insert failed on the way: the
  // flag is written where each record lies, so a full disk cannot stop it,
  // and no entry committed without the others finds them.
  void dropUncommitted();
  // Moves the cursor one live record in the direction (0: to the first);
  // false at an end.
  bool step(int direction);

  std::string directory;
  InterProcessLock& lock;
  std::unique_ptr<FileSemaphore> semaphore;
  DbTable crtTb, dnTb, caTb, addIdxTb, timeTb;
  bool batch = false;
  bool mainOpen = false;
  bool timeOpen = false;
  std::vector<uint32_t> uncommitted;  // crtTb records of the batch not yet committed with the rest
  unsigned stale = 0;  // tables (bit i: crtTb, dnTb, caTb, addIdxTb, timeTb) not yet brought up to date
  DbRecId current = 0;
};
