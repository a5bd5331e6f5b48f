// The certificate store of the file-backed database: five tables in the
// database directory - "certific" (the DER, keyed by serial-number hash,
// e-mail and subject hash), "dnfld" (subject fields), "ca" (CA records),
// "addidx" (key-identifier and certificate hashes) and "netCertTime" (when a
// key's certificates were last fetched). Every operation opens the tables
// under the database's inter-process lock, works and closes them, so several
// processes may share the directory. One object serves one thread at a time.
#pragma once

#include "store/db/dbtable.h"
#include "store/dbbase.h"
#include "store/dblock.h"

#include <memory>
#include <string>

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

 private:
  class Session;
  void connect(int mode);
  void disconnect();
  void closeTables();
  // Appends every live crtTb record whose key at index equals key.
  void searchCertificates(int index, const std::string& key, DbCertList& list);
  // Appends the certificate of every live record of an index table whose key
  // at index equals key (the whole table when key is null).
  void searchByRecordNumber(DbTable& table, int index, const char* key, DbCertList& list);
  // A record is whole once its certificate-hash key of "addidx" (the last key
  // an insert writes) names it.
  bool isWhole(DbRecId position, const DbHash& certHash);
  // Deletes a certificate record and the entries of the other tables naming it.
  void removeRecord(DbRecId position);
  // Moves the cursor one live record in the direction (0: to the first);
  // false at an end.
  bool step(int direction);

  std::string directory;
  InterProcessLock& lock;
  std::unique_ptr<FileSemaphore> semaphore;
  DbTable crtTb, dnTb, caTb, addIdxTb, timeTb;
  bool timeOpen = false;
  DbRecId current = 0;
};
