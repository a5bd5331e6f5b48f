// The in-memory databases ("w pamieci"): a process-wide table of named
// databases (names compared in lower case), each one certificate store, one
// CRL store and one server table, shared by every DbMem connected to that name
// and kept until the process ends. Every store operation holds the store's own
// re-entrant mutex, so the stores may be used from several threads at once.
#pragma once

#include "store/dbbase.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

class DbCrtMem : public DbCrtBase {
 public:
  void findBySerNumHash(DbCertList& list, const DbHash& hash) override;
  void findBySbjDnHash(DbCertList& list, const DbHash& hash) override;
  void findBySbjDnFld(DbCertList& list, char tag, const std::string& value) override;
  void findByKeyIdHash(DbCertList& list, const DbHash& hash) override;
  void findByCertHash(DbCertList& list, const DbHash& hash) override;
  void listCa(DbCertList& list) override;
  // Not stored (false) when a record has the same certHash. The e-mail is not indexed.
  bool insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash, const DbHash& certHash,
                  const DbHash& keyIdHash, const std::string& email, const DbBytes& der,
                  const DbDnFieldList& fields, bool isCa) override;
  bool first() override;
  bool next() override;
  bool prev() override;
  // The cursor off the records is an invariant failure.
  DbRecId getCurrentRec() override;
  void setCurrentRec(DbRecId id) override;
  void get(DbBytes& der) override;
  void deleteCert() override;
  void setNetCertTime(const std::string&) override {}
  int64_t getNetCertTime(const std::string&) override { return 0; }

  // The number of records (for tests and measurements).
  size_t size();

 private:
  typedef std::multimap<DbHash, DbRecId> HashIndex;
  enum { SER_NUM, SBJ_DN, KEY_ID, CERT, HASH_INDEXES };

  void findByHash(int index, DbCertList& list, const DbHash& hash);
  void appendRecord(DbCertList& list, DbRecId id) const;
  // Removes the id from every index and the CA list (a whole scan: deletes are rare).
  void eraseFromIndexes(DbRecId id);
  // The cursor's record; an invariant failure when it is at the end.
  std::map<DbRecId, DbBytes>::iterator cursorRecord(const char* operation);

  std::recursive_mutex mutex;
  DbRecId nextId = 0;
  std::map<DbRecId, DbBytes> records;
  HashIndex hashes[HASH_INDEXES];
  std::multimap<std::string, DbRecId> fields;
  std::vector<DbRecId> caList;
  // The record under the cursor; cursorAtEnd when none.
  DbRecId cursor = 0;
  bool cursorAtEnd = true;
};

class DbCrlMem : public DbCrlBase {
 public:
  // The index starts as the DER of an empty CRL index.
  DbCrlMem();
  void readAll(std::vector<DbBytes>& out) override;
  void insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n,
                 int32_t removeNumber) override;
  // Always exclusive within the process, whatever the guard's mode; held until unlock.
  void getCrlIndex(DbBytes& out, DbCrlGuard& guard) override;
  // An empty result for a number that holds no CRL.
  void getCrlByFileNum(int32_t n, DbBytes& out) override;
  // Releases what getCrlIndex took on this thread; nothing otherwise.
  void unlock() override;

 private:
  std::recursive_mutex mutex;
  DbBytes index;
  std::map<int32_t, DbBytes> crls;
  // The thread holding the index lock of getCrlIndex, and how often it took it.
  std::atomic<std::thread::id> indexHolder{};
  int indexDepth = 0;
};

// The server table in memory: import numbers of certificate servers by lower-cased name.
class DbSrvMem : public DbSrvBase {
 public:
  void removeServer(int32_t type, const std::string& name) override;
  // TalApiException 20 for a type other than certificate servers; std::runtime_error
  // "Serwer nie znaleziony: " and the name when it is not there.
  void getImportNumber(int32_t type, const std::string& name, uint32_t& number) override;
  void setImportNumber(int32_t type, const std::string& name, uint32_t number) override;

 protected:
  std::recursive_mutex mutex;
  std::map<std::string, uint32_t> numbers;
};

class DbMem : public DbBase {
 public:
  DbMem() { ownsStores = false; }
  // Points this object at the stores of the named database, making it when absent.
  void connect(const std::string& name);
  void create() override {}
  int verify() override { return 0; }
  bool copyDb(const std::string&) override { return true; }
};

// Lower case of ASCII letters, as database and server names are compared.
std::string dbLowerCase(const std::string& text);
