// The database interfaces: a connected database object (DbBase) exposes three
// stores - certificates (DbCrtBase), CRLs (DbCrlBase) and the import numbers of
// certificate servers (DbSrvBase) - and a connection factory (DbConnFactoryIfs)
// makes one from its parameter. Every backend (file-backed, in memory, none)
// implements these; their errors are exceptions (EnDb_Exception from the
// factories, std::runtime_error with Polish texts from the stores).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class EnDb_Exception : public std::runtime_error {
 public:
  explicit EnDb_Exception(const std::string& text) : std::runtime_error(text) {}
};

// A 20-octet digest key (SHA-1). A fixed-size array, so no store ever reads a
// key past its 20 octets, whether or not it holds a zero octet.
typedef std::array<uint8_t, 20> DbHash;

typedef std::vector<uint8_t> DbBytes;

// Record ids of a certificate store (the file store's record position).
typedef uint32_t DbRecId;

// One certificate found: its record id and its DER.
struct DbCertRecord {
  DbRecId id = 0;
  DbBytes der;
};
typedef std::vector<DbCertRecord> DbCertList;

// One indexed field of a subject name: a one-letter tag (the attribute-type
// table's code, "e" for the e-mail address) and its normalised text.
struct DbDnField {
  char tag = 0;
  std::string value;
};
typedef std::vector<DbDnField> DbDnFieldList;

// Bounds of the text keys, the same in every backend: an e-mail address and
// a field value each hold at most 128 octets.
constexpr size_t DB_EMAIL_MAX = 128;
constexpr size_t DB_FIELD_VALUE_MAX = 128;

// The key of a field: the tag followed by the value cut to DB_FIELD_VALUE_MAX
// octets and at its first zero octet. Inserts and queries build it the same way,
// so a long value finds what it stored.
std::string dbFieldKey(char tag, const std::string& value);

// Upper-cases, in place and byte by byte, ASCII letters and the Polish
// lower-case letters of UTF-8 text, exactly as the stored keys were made.
void toUpperText(std::string& text);

// Adds a subject field to the list: the value upper-cased with toUpperText;
// an "e" field also becomes the e-mail (a later one replaces an earlier one);
// an equal pair already in the list is not added again.
void addDnField(DbDnFieldList& fields, char tag, std::string value, std::string& email);

class DbCrtBase {
 public:
  virtual ~DbCrtBase() = default;
  // The finds append every matching {record id, DER} to the list.
  virtual void findBySerNumHash(DbCertList& list, const DbHash& hash) = 0;
  virtual void findBySbjDnHash(DbCertList& list, const DbHash& hash) = 0;
  virtual void findBySbjDnFld(DbCertList& list, char tag, const std::string& value) = 0;
  virtual void findByKeyIdHash(DbCertList& list, const DbHash& hash) = 0;
  virtual void findByCertHash(DbCertList& list, const DbHash& hash) = 0;
  // The CA certificates, in insertion order.
  virtual void listCa(DbCertList& list) = 0;
  // Stores a certificate with its keys. True when it was stored; false when the
  // same certificate was there already (not an error: nothing changes).
  virtual bool insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash,
                          const DbHash& certHash, const DbHash& keyIdHash,
                          const std::string& email, const DbBytes& der,
                          const DbDnFieldList& fields, bool isCa) = 0;
  // The cursor over every record in id order; true while it is on a record.
  virtual bool first() = 0;
  virtual bool next() = 0;
  virtual bool prev() = 0;
  virtual DbRecId getCurrentRec() = 0;
  virtual void setCurrentRec(DbRecId id) = 0;
  // The DER under the cursor.
  virtual void get(DbBytes& der) = 0;
  // Removes the record under the cursor; the cursor moves to the following one.
  virtual void deleteCert() = 0;
  // The time (seconds since 1970) certificates of a key were last fetched from
  // the network; 0 when never.
  virtual void setNetCertTime(const std::string& key) = 0;
  virtual int64_t getNetCertTime(const std::string& key) = 0;
  // A run of inserts made durable together: between the two the store may
  // keep other processes out and its changes in memory; endBatch commits them
  // (and throws when it cannot). Stores that commit each change do nothing.
  virtual void beginBatch() {}
  virtual void endBatch() {}
};

// Holds a batch of a certificate store for a scope: commit ends it and throws
// on failure; a scope left otherwise (an exception) still commits what the
// batch holds, quietly.
class DbCrtBatch {
 public:
  explicit DbCrtBatch(DbCrtBase* store) : store(store)
  {
    if (store)
      store->beginBatch();
  }
  ~DbCrtBatch()
  {
    try {
      commit();
    } catch (...) {
    }
  }
  DbCrtBatch(const DbCrtBatch&) = delete;
  DbCrtBatch& operator=(const DbCrtBatch&) = delete;
  void commit()
  {
    DbCrtBase* s = store;
    store = nullptr;
    if (s)
      s->endBatch();
  }

 private:
  DbCrtBase* store;
};

class DbCrlBase;

// Holds a CRL store's index lock from getCrlIndex until release (or its end),
// so no path, an exception included, leaves the store locked.
class DbCrlGuard {
 public:
  // mode: 0 shared, 1 exclusive.
  explicit DbCrlGuard(int mode) : mode(mode) {}
  ~DbCrlGuard() { release(); }
  DbCrlGuard(const DbCrlGuard&) = delete;
  DbCrlGuard& operator=(const DbCrlGuard&) = delete;

  int getMode() const { return mode; }
  bool holds() const { return store != nullptr; }
  // Called by the store once it holds its lock. A lock the guard held before
  // (a second getCrlIndex through one guard) is released, so none is lost.
  void attach(DbCrlBase* locked);
  // Unlocks the store when it is held; an unlock failure is swallowed here
  // (call the store's unlock directly to see it).
  void release() noexcept;

 private:
  DbCrlBase* store = nullptr;
  int mode;
};

class DbCrlBase {
 public:
  virtual ~DbCrlBase() = default;
  // Appends the DER of every stored CRL.
  virtual void readAll(std::vector<DbBytes>& out) = 0;
  // Replaces the index, stores the CRL under number n and removes the CRL
  // numbered removeNumber (-1: none). Runs under the lock of getCrlIndex.
  virtual void insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n,
                         int32_t removeNumber) = 0;
  // Locks the store in the guard's mode, attaches it to the guard and copies
  // out the index (DER of the CRL index).
  virtual void getCrlIndex(DbBytes& out, DbCrlGuard& guard) = 0;
  virtual void getCrlByFileNum(int32_t n, DbBytes& out) = 0;
  // Releases the lock of getCrlIndex.
  virtual void unlock() = 0;
};

inline void DbCrlGuard::attach(DbCrlBase* locked)
{
  release();
  store = locked;
}

inline void DbCrlGuard::release() noexcept
{
  DbCrlBase* locked = store;
  store = nullptr;
  if (locked) {
    try {
      locked->unlock();
    } catch (...) {
    }
  }
}

// Server kinds of the server table: only certificate servers have import numbers.
constexpr int32_t DB_SERVER_CERTIFICATES = 1;

class DbSrvBase {
 public:
  virtual ~DbSrvBase() = default;
  virtual void removeServer(int32_t type, const std::string& name) = 0;
  virtual void getImportNumber(int32_t type, const std::string& name, uint32_t& number) = 0;
  virtual void setImportNumber(int32_t type, const std::string& name, uint32_t number) = 0;
  // The names of the servers of a type that the table knows (certificate servers only), in its
  // order; nothing for another type or a database that keeps none.
  virtual void listServers(int32_t type, std::vector<std::string>& names) {
    (void)type;
    (void)names;
  }
};

// Answers of DbBase::verify.
enum DbVerifyResult : int {
  DB_VERIFY_VALID = 0,
  DB_VERIFY_INCOMPLETE = 2,
  DB_VERIFY_WRONG_VERSION = 46,
  DB_VERIFY_MISSING = 47,
  DB_VERIFY_NO_ACCESS = 49,
};

class DbBase {
 public:
  DbBase() = default;
  DbBase(const DbBase&) = delete;
  DbBase& operator=(const DbBase&) = delete;
  // Deletes the stores it owns.
  virtual ~DbBase();
  virtual void create() = 0;
  // A DbVerifyResult.
  virtual int verify() = 0;
  virtual bool copyDb(const std::string& sourceDirectory) = 0;

  DbCrtBase* crt() const { return crtStore; }
  DbCrlBase* crl() const { return crlStore; }
  DbSrvBase* srv() const { return srvStore; }

 protected:
  DbCrtBase* crtStore = nullptr;
  DbCrlBase* crlStore = nullptr;
  DbSrvBase* srvStore = nullptr;
  // False where the stores belong to someone else (the memory databases).
  bool ownsStores = true;
};

// Where a factory loads and saves its parameter: the key profile's named settings.
class DbParamStore {
 public:
  virtual ~DbParamStore() = default;
  // False when the name is not set.
  virtual bool getParam(const std::string& name, std::string& value) = 0;
  virtual void setParam(const std::string& name, const std::string& value) = 0;
};

// A connection factory for databases of type Db.
template <class Db>
class DbConnFactoryIfs {
 public:
  virtual ~DbConnFactoryIfs() = default;
  virtual void loadParams(DbParamStore& source) = 0;
  virtual void saveParams(DbParamStore& sink) = 0;
  virtual void getParam(const std::string& name, std::string& value) = 0;
  virtual void setParam(const std::string& name, const std::string& value) = 0;
  // A new connected database object (the caller owns it).
  virtual Db* connect() = 0;
  virtual const char* getName() const = 0;
  virtual void checkParams() = 0;
  virtual DbConnFactoryIfs* clone() const = 0;
};
