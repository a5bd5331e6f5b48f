#include "store/dbcrttal.h"

#include "platform/clock.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <tuple>
#include <stdexcept>

namespace {

const uint16_t PAGE = 4096;
const uint16_t RECNO_KEY = 9;
const uint16_t HASH_KEY = 41;
const uint16_t TEXT_KEY = 129;
const uint16_t FIELD_KEY = 130;

const IndexDescriptor CRT_INDEXES[] = {{HASH_KEY, PAGE}, {TEXT_KEY, PAGE}, {HASH_KEY, PAGE}};
const IndexDescriptor DN_INDEXES[] = {{RECNO_KEY, PAGE}, {FIELD_KEY, PAGE}};
const IndexDescriptor CA_INDEXES[] = {{RECNO_KEY, PAGE}};
const IndexDescriptor ADD_INDEXES[] = {{RECNO_KEY, PAGE}, {HASH_KEY, PAGE}, {HASH_KEY, PAGE}};
const IndexDescriptor TIME_INDEXES[] = {{TEXT_KEY, PAGE}};

enum { CRT_SERIAL = 0, CRT_EMAIL = 1, CRT_SUBJECT = 2 };
enum { ADD_KEY_ID = 1, ADD_CERT = 2 };

[[noreturn]] void fail(const std::string& text) { throw std::runtime_error(text); }

// Table results: 1 success; -1, 2 and 3 nothing there; 0 a failure.
bool found(int r)
{
  if (r == 0)
    fail("Blad bazy danych");
  return r == 1;
}

std::string recordNumber(uint32_t position)
{
  char text[16];
  std::snprintf(text, sizeof text, "%.8lX", static_cast<unsigned long>(position));
  return text;
}

// False when the text is not eight hexadecimal digits (a damaged table).
bool parseRecordNumber(const char* text, uint32_t& position)
{
  if (std::strlen(text) != 8 || std::strspn(text, "0123456789abcdefABCDEF") != 8)
    return false;
  unsigned long value = 0;
  if (std::sscanf(text, "%lx", &value) != 1)
    return false;
  position = static_cast<uint32_t>(value);
  return true;
}

// A hash used as text as it is: its octets up to the first zero octet.
std::string rawHashKey(const DbHash& hash)
{
  const void* zero = std::memchr(hash.data(), 0, hash.size());
  size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - hash.data()) : hash.size();
  return std::string(reinterpret_cast<const char*>(hash.data()), n);
}

// The key as a slot of the index holds it, for comparing with stored keys.
std::string slotKey(const std::string& key, uint16_t keyLength)
{
  std::vector<char> slot(keyLength);
  storeKey(slot.data(), key.c_str(), keyLength);
  return slot.data();
}

// A key as an index holds it (at most 255 characters here), kept without
// allocating while a run of equal keys is walked.
class KeyCopy {
 public:
  explicit KeyCopy(const char* key)
  {
    size_t n = key ? strnlen(key, sizeof text - 1) : 0;
    std::memcpy(text, key ? key : "", n);
    text[n] = 0;
  }
  bool equals(const char* key) const { return key && std::strcmp(text, key) == 0; }

 private:
  char text[256];
};

bool insertRecord(DbTable& table, std::initializer_list<const char*> keys, const uint8_t* data,
                  uint32_t length, uint32_t* position)
{
  std::vector<const char*> list(keys);
  return table.insert(list.data(), data, length, position);
}

}  // namespace

namespace {

const size_t DB_HASH_TEXT = 2 * std::tuple_size<DbHash>::value;

// The hash text into a caller's buffer of DB_HASH_TEXT + 1 characters.
const char* hashText(const DbHash& hash, char* text)
{
  char* p = text;
  for (uint8_t b : hash) {
    *p++ = static_cast<char>(0x30 + (b >> 4));
    *p++ = static_cast<char>(0x30 + (b & 0x0F));
  }
  *p = 0;
  return text;
}

}  // namespace

std::string dbHashText(const DbHash& hash)
{
  char text[DB_HASH_TEXT + 1];
  return hashText(hash, text);
}

// Holds the lock in a mode for the life of one operation and gives it back on
// every path; an operation that fails closes the tables, so the next one
// opens and checks them again.
class DbCrtTal::Session {
 public:
  // Inside a batch the lock is held and the tables are up to date already.
  Session(DbCrtTal& store, int mode) : store(store), failures(std::uncaught_exceptions())
  {
    if (!store.batch)
      store.connect(mode);
    else if (!store.mainOpen)
      fail("Blad bazy danych");  // a failure dropped the batch: it ends with endBatch
  }
  ~Session()
  {
    // A failed operation inside a batch keeps what the batch stored before
    // it (its callers were told so): committed now, as a crash would leave a
    // single insert. Only when that fails is the batch dropped.
    if (std::uncaught_exceptions() > failures && !(store.batch && store.commitBatchSoFar()))
      store.closeTables();
    if (!store.batch)
      store.disconnect();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  DbCrtTal& store;
  int failures;
};

DbCrtTal::DbCrtTal(const std::string& directory, InterProcessLock& lock)
    : directory(directory), lock(lock)
{
  // A batch may commit a table in steps before its end: the tables whose
  // entries name certificate records commit the tables before them first, in
  // the order single inserts write them, so no entry reaches the disk ahead
  // of its record.
  dnTb.setBeforeCommit([this] { return crtTb.commitPending(); });
  caTb.setBeforeCommit([this] { return crtTb.commitPending() && dnTb.commitPending(); });
  addIdxTb.setBeforeCommit(
      [this] { return crtTb.commitPending() && dnTb.commitPending() && caTb.commitPending(); });
}

DbCrtTal::~DbCrtTal()
{
  if (batch) {
    try {
      endBatch();
    } catch (const std::exception&) {
      // What the batch held is lost; the files stay as the last commit left them.
    }
  }
  closeTables();
  disconnect();
}

void DbCrtTal::create()
{
  struct Table {
    DbTable* table;
    const char* name;
    int n;
    const IndexDescriptor* indexes;
    const char* member;
  };
  const Table tables[] = {{&crtTb, "certific", 3, CRT_INDEXES, "crtTb"},
                          {&dnTb, "dnfld", 2, DN_INDEXES, "dnTb"},
                          {&caTb, "ca", 1, CA_INDEXES, "caTb"},
                          {&addIdxTb, "addidx", 3, ADD_INDEXES, "addIdxTb"}};
  for (const Table& t : tables)
    if (!t.table->create((directory + t.name).c_str(), t.n, t.indexes))
      fail(std::string("DbCrtTal::create. Blad tworzenia tabeli ") + t.member);
}

namespace {

struct TableName {
  const char* name;
  const char* member;
};
const TableName MAIN_TABLES[] = {{"certific", "crtTb"}, {"dnfld", "dnTb"}, {"ca", "caTb"}, {"addidx", "addIdxTb"}};

}  // namespace

bool DbCrtTal::tablesOpen()
{
  try {
    // Opened anew, so their headers and first pages are checked again.
    closeTables();
    Session session(*this, InterProcessLock::SHARED);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

DbTable* DbCrtTal::mainTable(int i)
{
  DbTable* tables[] = {&crtTb, &dnTb, &caTb, &addIdxTb};
  return tables[i];
}

void DbCrtTal::connect(int mode)
{
  semaphore.reset(new FileSemaphore(lock, mode));
  semaphore->p();
  if (!mainOpen) {
    for (int i = 0; i < 4; ++i)
      if (!mainTable(i)->open((directory + MAIN_TABLES[i].name).c_str())) {
        closeTables();
        disconnect();
        fail(std::string("DbCrtTal::connect. Blad otwrcia tabeli ") + MAIN_TABLES[i].member);
      }
    mainOpen = true;
    stale = 0;
  } else {
    // Kept open since the last operation: each table takes in what other
    // processes wrote when it is first used.
    stale = 0x1F;
  }
}

bool DbCrtTal::timeTable(int mode)
{
  if (!timeOpen) {
    std::string time = directory + "netCertTime";
    // The table is made on first use, by a writer alone; a reader finds it or
    // finds nothing stored.
    timeOpen = mode == InterProcessLock::EXCLUSIVE ? timeTb.openOrCreate(time.c_str(), 1, TIME_INDEXES)
                                                   : timeTb.open(time.c_str());
    if (timeOpen) {
      // Its times are updated in place: a refresh finishes an update a crash cut short.
      timeTb.dataFile().watchJournal();
      stale &= ~0x10u;
    }
  }
  if (timeOpen)
    ready(timeTb);
  return timeOpen;
}

void DbCrtTal::ready(DbTable& table)
{
  DbTable* tables[] = {&crtTb, &dnTb, &caTb, &addIdxTb, &timeTb};
  for (unsigned i = 0; i < 5; ++i)
    if (tables[i] == &table && (stale & (1u << i))) {
      if (!table.refresh())
        fail(i < 4 ? std::string("DbCrtTal::connect. Blad otwrcia tabeli ") + MAIN_TABLES[i].member
                   : std::string("Blad bazy danych"));
      stale &= ~(1u << i);
    }
}

void DbCrtTal::beginBatch()
{
  if (batch)
    return;
  connect(InterProcessLock::EXCLUSIVE);
  try {
    for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb}) {
      ready(*t);
      if (!t->beginBatch())
        fail("Blad bazy danych");
    }
  } catch (...) {
    closeTables();
    disconnect();
    throw;
  }
  // The lock stays taken until endBatch.
  batch = true;
}

bool DbCrtTal::commitBatchSoFar()
{
  // Runs while an exception unwinds: nothing may leave it.
  try {
    // A table whose failed commit dropped its part of the batch fails it all:
    // the certificates it named would stay stored without their entries.
    bool ok = mainOpen;
    for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb})
      ok = ok && t->indexFile().inBatch() && t->commitPending();
    if (ok)
      uncommitted.clear();
    else
      dropUncommitted();
    return ok;
  } catch (...) {
    return false;
  }
}

void DbCrtTal::endBatch()
{
  if (!batch)
    return;
  batch = false;
  bool ok = mainOpen;
  // The certificate-hash table last: a record it names is whole.
  for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb})
    ok = ok && t->endBatch();
  if (ok) {
    uncommitted.clear();
  } else {
    // The tables before the one that failed committed their part: their
    // certificates go, so the failure leaves none of the batch stored.
    dropUncommitted();
    closeTables();
  }
  disconnect();
  if (!ok)
    fail("Blad bazy danych");
}

void DbCrtTal::closeTables()
{
  for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb, &timeTb})
    t->close();
  mainOpen = false;
  timeOpen = false;
}

void DbCrtTal::disconnect()
{
  if (semaphore) {
    std::unique_ptr<FileSemaphore> held(std::move(semaphore));
    held->v();
  }
}

void DbCrtTal::searchCertificates(int index, const char* key, DbCertList& list)
{
  ready(crtTb);
  crtTb.setIndex(index);
  if (!found(crtTb.find(key)))
    return;
  // find answered a live record with an equal key: the rest of the run of
  // equal keys follows; the key is looked at before the record is read.
  KeyCopy wanted(crtTb.currentKey());
  IndexFile& entries = crtTb.indexFile();
  for (;;) {
    DbCertRecord record;
    uint32_t position = 0;
    if (!crtTb.currentPosition(&position))
      return;
    int r = crtTb.data(nullptr, &record.der, nullptr);  // -1: deleted
    if (r == 0)
      fail("Blad bazy danych");
    if (r == 1) {
      record.id = position;
      list.push_back(std::move(record));
    }
    r = entries.move(1);
    if (r == 0)
      fail("Blad bazy danych");
    if (r != 1 || !wanted.equals(entries.currentKey()))
      return;
  }
}

void DbCrtTal::searchByRecordNumber(DbTable& table, int index, const char* key, DbCertList& list)
{
  ready(table);
  ready(crtTb);
  table.setIndex(index);
  KeyCopy wanted(nullptr);
  if (key) {
    if (!found(table.find(key)))
      return;
    wanted = KeyCopy(table.currentKey());
  } else if (!found(table.first())) {
    return;
  }
  for (;;) {
    uint32_t entry = 0;
    if (!table.currentPosition(&entry) || (key && !wanted.equals(table.currentKey())))
      return;
    const char* number = table.dataFile().key(entry, 0);
    if (!number) {
      if (table.dataFile().error() != 0)
        fail("Blad bazy danych");
      return;
    }
    uint32_t position = 0;
    if (!parseRecordNumber(number, position))
      fail("Blad bazy danych");
    DbCertRecord record;
    record.id = position;
    // A certificate deleted after its entry was written (a crash between the
    // two) is skipped, as its entry would have been deleted with it.
    int r = crtTb.dataFile().read(position, nullptr, &record.der, nullptr);
    if (r == 0)
      fail("Blad bazy danych");
    if (r == 1)
      list.push_back(std::move(record));
    if (!found(table.skip(1)))
      return;
  }
}

void DbCrtTal::findBySerNumHash(DbCertList& list, const DbHash& hash)
{
  Session session(*this, InterProcessLock::SHARED);
  char text[DB_HASH_TEXT + 1];
  searchCertificates(CRT_SERIAL, hashText(hash, text), list);
}

void DbCrtTal::findBySbjDnHash(DbCertList& list, const DbHash& hash)
{
  Session session(*this, InterProcessLock::SHARED);
  char text[DB_HASH_TEXT + 1];
  searchCertificates(CRT_SUBJECT, hashText(hash, text), list);
}

void DbCrtTal::findBySbjDnFld(DbCertList& list, char tag, const std::string& value)
{
  Session session(*this, InterProcessLock::SHARED);
  searchByRecordNumber(dnTb, 1, dbFieldKey(tag, value).c_str(), list);
}

void DbCrtTal::findByKeyIdHash(DbCertList& list, const DbHash& hash)
{
  Session session(*this, InterProcessLock::SHARED);
  searchByRecordNumber(addIdxTb, ADD_KEY_ID, rawHashKey(hash).c_str(), list);
}

void DbCrtTal::findByCertHash(DbCertList& list, const DbHash& hash)
{
  Session session(*this, InterProcessLock::SHARED);
  searchByRecordNumber(addIdxTb, ADD_CERT, rawHashKey(hash).c_str(), list);
}

void DbCrtTal::listCa(DbCertList& list)
{
  Session session(*this, InterProcessLock::SHARED);
  searchByRecordNumber(caTb, 0, nullptr, list);
}

bool DbCrtTal::insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash, const DbHash& certHash,
                          const DbHash& keyIdHash, const std::string& email, const DbBytes& der,
                          const DbDnFieldList& fields, bool isCa)
{
  // Refused before the session, so a refusal inside a batch leaves it whole.
  if (email.size() > DB_EMAIL_MAX)
    fail("DbCrtTal::insertCert. Za dlugie pole email w certyfikacie");
  Session session(*this, InterProcessLock::EXCLUSIVE);
  for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb})
    ready(*t);
  std::string serial = dbHashText(serNumHash);
  DbCertList same;
  searchCertificates(CRT_SERIAL, serial.c_str(), same);
  for (const DbCertRecord& r : same)
    if (r.der == der) {
      if (isWhole(r.id, certHash))
        return false;
      // A crash cut this insert short: the record goes and is stored anew.
      removeRecord(r.id);
    }
  if (der.size() > UINT32_MAX)
    fail("DbCrtTal::insertCert. Blad zapisu do crtTb");
  uint32_t position = 0;
  if (!insertRecord(crtTb, {serial.c_str(), email.c_str(), dbHashText(sbjDnHash).c_str()}, der.data(),
                    static_cast<uint32_t>(der.size()), &position))
    fail("DbCrtTal::insertCert. Blad zapisu do crtTb");
  try {
    if (batch)
      uncommitted.push_back(position);
    std::string number = recordNumber(position);
    uint32_t ignored;
    for (const DbDnField& f : fields)
      if (!insertRecord(dnTb, {number.c_str(), dbFieldKey(f.tag, f.value).c_str()}, nullptr, 0, &ignored))
        fail("DbCrtTal::insertIntoDnTb. Blad wstawienie do dnTb");
    if (isCa && !insertRecord(caTb, {number.c_str()}, nullptr, 0, &ignored))
      fail("DbCrtTal::insertIntoCaTb. Blad wstawienie do caTb");
    // The certificate hash is written last: a record with it is whole.
    if (!insertRecord(addIdxTb, {number.c_str(), rawHashKey(keyIdHash).c_str(), rawHashKey(certHash).c_str()},
                      nullptr, 0, &ignored))
      fail("DbCrtTal::insertIntoCaTb. Blad wstawienie do addIdxTb");
  } catch (...) {
    // The certificate's record committed, its other entries did not: it goes,
    // so the failure leaves it unstored. In a batch the rest of the batch stays;
    // the mark is synced there too, as the entries committed with the batch so
    // far may name a record written before.
    crtTb.dataFile().markDeleted(position);
    crtTb.dataFile().syncWritten();
    throw;
  }
  return true;
}

void DbCrtTal::dropUncommitted()
{
  DataFile& records = crtTb.dataFile();
  if (!uncommitted.empty() && records.isOpen()) {
    for (uint32_t position : uncommitted)
      records.markDeleted(position);
    records.syncWritten();
  }
  uncommitted.clear();
}

bool DbCrtTal::step(int direction)
{
  ready(crtTb);
  crtTb.setIndex(CRT_SERIAL);
  if (direction == 0 ? !found(crtTb.first())
                     : crtTb.setRec(current) != 1 || !found(crtTb.skip(direction)))
    return false;
  int64_t position = crtTb.recNo();
  if (position < 0)
    return false;
  current = static_cast<DbRecId>(position);
  return true;
}

bool DbCrtTal::first()
{
  Session session(*this, InterProcessLock::SHARED);
  return step(0);
}

bool DbCrtTal::next()
{
  Session session(*this, InterProcessLock::SHARED);
  return step(1);
}

bool DbCrtTal::prev()
{
  Session session(*this, InterProcessLock::SHARED);
  return step(-1);
}

void DbCrtTal::get(DbBytes& der)
{
  Session session(*this, InterProcessLock::SHARED);
  ready(crtTb);
  crtTb.setIndex(CRT_SERIAL);
  if (crtTb.setRec(current) != 1)
    fail("DbCrtTal::get: blad funkcji crtTb.setRec");
  der.clear();
  if (crtTb.data(nullptr, &der, nullptr) != 1)
    fail("DbCrtTal::get: blad funkcji crtTb.data");
}

bool DbCrtTal::isWhole(DbRecId position, const DbHash& certHash)
{
  DbCertList list;
  searchByRecordNumber(addIdxTb, ADD_CERT, rawHashKey(certHash).c_str(), list);
  for (const DbCertRecord& r : list)
    if (r.id == position)
      return true;
  return false;
}

void DbCrtTal::removeRecord(DbRecId position)
{
  crtTb.setIndex(CRT_SERIAL);
  if (crtTb.setRec(position) != 1)
    fail("DbCrtTal::deleteCert. Blad wywolania setRec");
  if (crtTb.deleteRec() != 1)
    fail("DbCrtTal::deleteCert. Blad usuniecia crtTb");
  std::string number = recordNumber(position);
  for (DbTable* t : {&dnTb, &caTb, &addIdxTb}) {
    t->setIndex(0);
    // find answers live records only, so each round deletes one more.
    while (found(t->find(number.c_str())))
      if (!found(t->deleteRec()))
        break;
  }
}

void DbCrtTal::deleteCert()
{
  Session session(*this, InterProcessLock::EXCLUSIVE);
  for (DbTable* t : {&crtTb, &dnTb, &caTb, &addIdxTb})
    ready(*t);
  crtTb.setIndex(CRT_SERIAL);
  DbRecId following = current;
  if (crtTb.setRec(current) != 1)
    fail("DbCrtTal::deleteCert. Blad wywolania setRec");
  if (crtTb.skip(1) == 1 && crtTb.recNo() >= 0)
    following = static_cast<DbRecId>(crtTb.recNo());
  removeRecord(current);
  current = following;
}

void DbCrtTal::setNetCertTime(const std::string& key)
{
  Session session(*this, InterProcessLock::EXCLUSIVE);
  if (!timeTable(InterProcessLock::EXCLUSIVE))
    fail("Blad bazy danych");
  std::string k = slotKey(key, TEXT_KEY);
  uint8_t bytes[8];
  uint64_t now = static_cast<uint64_t>(platform::currentTime());
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(now >> (8 * i));
  timeTb.setIndex(0);
  if (found(timeTb.find(k.c_str()))) {
    if (timeTb.update(bytes, sizeof bytes) != 1)
      fail("Blad bazy danych");
    return;
  }
  uint32_t ignored;
  if (!insertRecord(timeTb, {k.c_str()}, bytes, sizeof bytes, &ignored))
    fail("Blad bazy danych");
}

int64_t DbCrtTal::getNetCertTime(const std::string& key)
{
  Session session(*this, InterProcessLock::SHARED);
  if (!timeTable(InterProcessLock::SHARED))
    return 0;
  std::string k = slotKey(key, TEXT_KEY);
  timeTb.setIndex(0);
  if (!found(timeTb.find(k.c_str())))
    return 0;
  DbBytes data;
  if (!found(timeTb.data(nullptr, &data, nullptr)) || data.size() != 8)
    return 0;
  uint64_t t = 0;
  for (int i = 0; i < 8; ++i)
    t |= static_cast<uint64_t>(data[i]) << (8 * i);
  return static_cast<int64_t>(t);
}
