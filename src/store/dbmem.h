// The in-memory databases ("w pamieci"): a process-wide table of named
// databases (names compared in lower case), each one certificate store, one
// CRL store and one server table, shared by every DbMem connected to that name
// and kept until the process ends. Every store operation holds the store's own
// re-entrant mutex, so the stores may be used from several threads at once.
#pragma once

#include "store/dbbase.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
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
  // Four indexes of 20-octet keys, then the field index.
  enum { SER_NUM, SBJ_DN, KEY_ID, CERT, HASH_INDEXES, FIELDS = HASH_INDEXES, INDEXES };
  static constexpr uint32_t NONE = UINT32_MAX;
  static_assert(HASH_INDEXES == 4, "Record::next lists one link per 20-octet index");

  // A record keeps its own keys; the indexes hold only positions. Records
  // are in id order (ids only grow), so a record's position is its slot.
  struct Record {
    DbHash keys[HASH_INDEXES];
    // The next older record with the same key, per 20-octet index (set when
    // linked; none before, so a record is never copied with indeterminate links).
    uint32_t next[HASH_INDEXES] = {NONE, NONE, NONE, NONE};
    DbRecId id = 0;
    uint32_t derLength = 0;
    // The DER, then each field key as one length octet and the key.
    std::unique_ptr<uint8_t[]> data;
  };
  // One field key of a record: where it stands in the record's data.
  struct FieldEntry {
    uint32_t slot;
    uint32_t offset;
    uint32_t next;
  };
  // Open addressing, linear probing: each bucket holds the newest item (a
  // record slot, or a field entry) of the chain of items with one key.
  struct Index {
    std::vector<uint32_t> heads;
    size_t used = 0;
  };

  std::string_view keyOf(int index, uint32_t item) const;
  uint32_t& nextOf(int index, uint32_t item);
  uint64_t hashOf(std::string_view key) const;
  // The bucket of the key's chain, or the empty bucket where it would go.
  uint32_t& bucket(int index, std::string_view key);
  // Room for `more` new keys without passing the load bound (may throw; the
  // index is unchanged then).
  void reserve(int index, size_t more);
  // Puts the item at the head of its key's chain (room reserved before).
  void link(int index, uint32_t item);
  // Appends the records of the key's chain, oldest first.
  void findByKey(int index, DbCertList& list, std::string_view key);
  void appendRecord(DbCertList& list, uint32_t slot) const;
  // Builds every index again from the records (after a delete: deletes are rare).
  void rebuildIndexes();
  // The slot of the record with the id, or NONE.
  uint32_t slotOf(DbRecId id) const;
  // The cursor's slot; an invariant failure when it is at the end.
  uint32_t cursorSlot(const char* operation);

  std::recursive_mutex mutex;
  DbRecId nextId = 0;
  std::deque<Record> records;
  std::deque<FieldEntry> fieldEntries;
  Index indexes[INDEXES];
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
  void listServers(int32_t type, std::vector<std::string>& names) override;

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
