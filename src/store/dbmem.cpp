#include "store/dbmem.h"

#include "base/commonerror.h"
#include "base/talexception.h"

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

const char* const SRC_CRT = "db_sql/db_crt_mem";

typedef std::lock_guard<std::recursive_mutex> Lock;

// One named memory database.
struct MemDatabase {
  DbCrtMem crt;
  DbCrlMem crl;
  DbSrvMem srv;
};

// The process-wide table; never destroyed, so a DbMem alive during the
// process's exit still points at live stores.
struct MemTable {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<MemDatabase>> databases;
};

MemTable& memTable()
{
  static MemTable* table = new MemTable;
  return *table;
}

// The DER of a CRL index with nextNumber 0 and no items.
const uint8_t EMPTY_CRL_INDEX[] = {0x30, 0x05, 0x02, 0x01, 0x00, 0x30, 0x00};

}  // namespace

std::string dbLowerCase(const std::string& text)
{
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + ('a' - 'A'));
  return lower;
}

void DbMem::connect(const std::string& name)
{
  MemTable& table = memTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::unique_ptr<MemDatabase>& entry = table.databases[dbLowerCase(name)];
  if (!entry)
    entry.reset(new MemDatabase);
  crtStore = &entry->crt;
  crlStore = &entry->crl;
  srvStore = &entry->srv;
}

// ---- certificates ----

namespace {

// A seed of this process for the index hashes, so no one can choose keys that
// all fall into one run of buckets.
uint64_t processSeed()
{
  static const uint64_t seed = [] {
    std::random_device source;
    return (static_cast<uint64_t>(source()) << 32) ^ source();
  }();
  return seed;
}

std::string_view keyView(const DbHash& hash)
{
  return std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size());
}

}  // namespace

std::string_view DbCrtMem::keyOf(int index, uint32_t item) const
{
  if (index < HASH_INDEXES)
    return keyView(records[item].keys[index]);
  const FieldEntry& entry = fieldEntries[item];
  const Record& record = records[entry.slot];
  const uint8_t* at = record.data.get() + record.derLength + entry.offset;
  return std::string_view(reinterpret_cast<const char*>(at + 1), at[0]);
}

uint32_t& DbCrtMem::nextOf(int index, uint32_t item)
{
  return index < HASH_INDEXES ? records[item].next[index] : fieldEntries[item].next;
}

uint64_t DbCrtMem::hashOf(std::string_view key) const
{
  uint64_t h = 14695981039346656037ull ^ processSeed();
  for (char c : key)
    h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  // The final mix of splitmix64: every input bit reaches the low bits.
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

uint32_t& DbCrtMem::bucket(int index, std::string_view key)
{
  std::vector<uint32_t>& heads = indexes[index].heads;
  size_t mask = heads.size() - 1;
  // The load bound keeps empty buckets, so the probe ends.
  for (size_t i = hashOf(key) & mask;; i = (i + 1) & mask)
    if (heads[i] == NONE || keyOf(index, heads[i]) == key)
      return heads[i];
}

void DbCrtMem::reserve(int index, size_t more)
{
  Index& ix = indexes[index];
  size_t need = ix.used + more;
  // At most four fifths of the buckets in use.
  size_t size = ix.heads.empty() ? 16 : ix.heads.size();
  while (need * 5 > size * 4)
    size *= 2;
  if (size == ix.heads.size())
    return;
  std::vector<uint32_t> old(size, NONE);
  old.swap(ix.heads);
  for (uint32_t head : old)
    if (head != NONE)
      bucket(index, keyOf(index, head)) = head;
}

void DbCrtMem::link(int index, uint32_t item)
{
  uint32_t& head = bucket(index, keyOf(index, item));
  if (head == NONE)
    ++indexes[index].used;
  nextOf(index, item) = head;
  head = item;
}

void DbCrtMem::appendRecord(DbCertList& list, uint32_t slot) const
{
  const Record& record = records[slot];
  DbCertRecord found;
  found.id = record.id;
  found.der.assign(record.data.get(), record.data.get() + record.derLength);
  list.push_back(std::move(found));
}

void DbCrtMem::findByKey(int index, DbCertList& list, std::string_view key)
{
  Lock lock(mutex);
  if (indexes[index].heads.empty())
    return;
  size_t first = list.size();
  for (uint32_t item = bucket(index, key); item != NONE; item = nextOf(index, item))
    appendRecord(list, index < HASH_INDEXES ? item : fieldEntries[item].slot);
  // Chains run newest first.
  std::reverse(list.begin() + static_cast<std::ptrdiff_t>(first), list.end());
}

void DbCrtMem::findBySerNumHash(DbCertList& list, const DbHash& hash)
{
  findByKey(SER_NUM, list, keyView(hash));
}

void DbCrtMem::findBySbjDnHash(DbCertList& list, const DbHash& hash)
{
  findByKey(SBJ_DN, list, keyView(hash));
}

void DbCrtMem::findByKeyIdHash(DbCertList& list, const DbHash& hash)
{
  findByKey(KEY_ID, list, keyView(hash));
}

void DbCrtMem::findByCertHash(DbCertList& list, const DbHash& hash)
{
  findByKey(CERT, list, keyView(hash));
}

void DbCrtMem::findBySbjDnFld(DbCertList& list, char tag, const std::string& value)
{
  findByKey(FIELDS, list, dbFieldKey(tag, value));
}

void DbCrtMem::listCa(DbCertList& list)
{
  Lock lock(mutex);
  for (DbRecId id : caList)
    appendRecord(list, slotOf(id));
}

bool DbCrtMem::insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash,
                          const DbHash& certHash, const DbHash& keyIdHash, const std::string&,
                          const DbBytes& der, const DbDnFieldList& fieldList, bool isCa)
{
  Lock lock(mutex);
  if (!indexes[CERT].heads.empty() && bucket(CERT, keyView(certHash)) != NONE)
    return false;
  // Slots, DER lengths and field offsets are 32-bit.
  if (records.size() >= NONE || der.size() > NONE / 2 || fieldList.size() > NONE / 1024)
    throw std::length_error("DbCrtMem::insertCert");
  // Everything that allocates comes before the first change that could not be
  // undone: a failed allocation leaves the store as it was.
  std::vector<std::string> fieldKeys;
  fieldKeys.reserve(fieldList.size());
  size_t length = der.size() + 1;
  for (const DbDnField& field : fieldList) {
    fieldKeys.push_back(dbFieldKey(field.tag, field.value));
    length += 1 + fieldKeys.back().size();
  }
  Record record;
  record.keys[SER_NUM] = serNumHash;
  record.keys[SBJ_DN] = sbjDnHash;
  record.keys[KEY_ID] = keyIdHash;
  record.keys[CERT] = certHash;
  record.id = nextId;
  record.derLength = static_cast<uint32_t>(der.size());
  record.data.reset(new uint8_t[length]);
  uint8_t* at = std::copy(der.begin(), der.end(), record.data.get());
  std::vector<uint32_t> offsets;
  offsets.reserve(fieldKeys.size());
  for (const std::string& key : fieldKeys) {
    offsets.push_back(static_cast<uint32_t>(at - record.data.get()) - record.derLength);
    *at++ = static_cast<uint8_t>(key.size());  // at most 1 + DB_FIELD_VALUE_MAX
    at = std::copy(key.begin(), key.end(), at);
  }
  *at = 0;
  for (int index = 0; index < HASH_INDEXES; ++index)
    reserve(index, 1);
  reserve(FIELDS, offsets.size());

  const uint32_t slot = static_cast<uint32_t>(records.size());
  records.push_back(std::move(record));
  const size_t firstEntry = fieldEntries.size();
  try {
    for (uint32_t offset : offsets)
      fieldEntries.push_back(FieldEntry{slot, offset, NONE});
    if (isCa)
      caList.push_back(nextId);
  } catch (...) {
    fieldEntries.resize(firstEntry);
    records.pop_back();
    throw;
  }
  for (int index = 0; index < HASH_INDEXES; ++index)
    link(index, slot);
  for (size_t entry = firstEntry; entry < fieldEntries.size(); ++entry)
    link(FIELDS, static_cast<uint32_t>(entry));
  ++nextId;
  return true;
}

uint32_t DbCrtMem::slotOf(DbRecId id) const
{
  auto it = std::lower_bound(records.begin(), records.end(), id,
                             [](const Record& r, DbRecId wanted) { return r.id < wanted; });
  return it != records.end() && it->id == id ? static_cast<uint32_t>(it - records.begin()) : NONE;
}

bool DbCrtMem::first()
{
  Lock lock(mutex);
  cursorAtEnd = records.empty();
  if (!cursorAtEnd)
    cursor = records.front().id;
  return !cursorAtEnd;
}

bool DbCrtMem::next()
{
  Lock lock(mutex);
  if (!cursorAtEnd) {
    auto it = std::upper_bound(records.begin(), records.end(), cursor,
                               [](DbRecId wanted, const Record& r) { return wanted < r.id; });
    cursorAtEnd = it == records.end();
    if (!cursorAtEnd)
      cursor = it->id;
  }
  return !cursorAtEnd;
}

bool DbCrtMem::prev()
{
  Lock lock(mutex);
  if (!cursorAtEnd) {
    auto it = std::lower_bound(records.begin(), records.end(), cursor,
                               [](const Record& r, DbRecId wanted) { return r.id < wanted; });
    cursorAtEnd = it == records.begin();
    if (!cursorAtEnd)
      cursor = std::prev(it)->id;
  }
  return !cursorAtEnd;
}

uint32_t DbCrtMem::cursorSlot(const char* operation)
{
  uint32_t slot = cursorAtEnd ? NONE : slotOf(cursor);
  checkInvariant(slot != NONE, SRC_CRT, __LINE__, "cursor on a record", operation);
  return slot;
}

DbRecId DbCrtMem::getCurrentRec()
{
  Lock lock(mutex);
  return records[cursorSlot("getCurrentRec")].id;
}

void DbCrtMem::setCurrentRec(DbRecId id)
{
  Lock lock(mutex);
  cursor = id;
  cursorAtEnd = slotOf(id) == NONE;
}

void DbCrtMem::get(DbBytes& der)
{
  Lock lock(mutex);
  const Record& record = records[cursorSlot("get")];
  der.assign(record.data.get(), record.data.get() + record.derLength);
}

void DbCrtMem::deleteCert()
{
  Lock lock(mutex);
  uint32_t slot = cursorSlot("deleteCert");
  DbRecId id = records[slot].id;
  records.erase(records.begin() + slot);
  cursorAtEnd = slot == records.size();
  if (!cursorAtEnd)
    cursor = records[slot].id;
  caList.erase(std::remove(caList.begin(), caList.end(), id), caList.end());
  rebuildIndexes();
}

void DbCrtMem::rebuildIndexes()
{
  // Fewer keys than before: the buckets and entries in place suffice, so
  // nothing here allocates and a delete cannot fail half done.
  for (Index& ix : indexes) {
    std::fill(ix.heads.begin(), ix.heads.end(), NONE);
    ix.used = 0;
  }
  size_t entry = 0;
  for (uint32_t slot = 0; slot < records.size(); ++slot) {
    const Record& record = records[slot];
    const uint8_t* fields = record.data.get() + record.derLength;
    for (uint32_t offset = 0; fields[offset] != 0; offset += 1 + fields[offset])
      fieldEntries[entry++] = FieldEntry{slot, offset, NONE};
    for (int index = 0; index < HASH_INDEXES; ++index)
      link(index, slot);
  }
  fieldEntries.resize(entry);
  for (size_t e = 0; e < entry; ++e)
    link(FIELDS, static_cast<uint32_t>(e));
}

size_t DbCrtMem::size()
{
  Lock lock(mutex);
  return records.size();
}

// ---- CRLs ----

DbCrlMem::DbCrlMem() : index(EMPTY_CRL_INDEX, EMPTY_CRL_INDEX + sizeof EMPTY_CRL_INDEX) {}

void DbCrlMem::readAll(std::vector<DbBytes>& out)
{
  Lock lock(mutex);
  for (const auto& crl : crls)
    out.push_back(crl.second);
}

void DbCrlMem::insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n,
                         int32_t removeNumber)
{
  Lock lock(mutex);
  // Copies first: a failed allocation leaves the store as it was.
  DbBytes newIndex = indexDer;
  DbBytes newCrl = crlDer;
  crls[n].swap(newCrl);
  index.swap(newIndex);
  if (removeNumber != n)
    crls.erase(removeNumber);
}

void DbCrlMem::getCrlIndex(DbBytes& out, DbCrlGuard& guard)
{
  mutex.lock();
  DbBytes copy;
  try {
    copy = index;
  } catch (...) {
    mutex.unlock();
    throw;
  }
  indexHolder = std::this_thread::get_id();
  ++indexDepth;
  guard.attach(this);
  out.swap(copy);
}

void DbCrlMem::getCrlByFileNum(int32_t n, DbBytes& out)
{
  Lock lock(mutex);
  auto crl = crls.find(n);
  if (crl == crls.end())
    out.clear();
  else
    out = crl->second;
}

void DbCrlMem::unlock()
{
  // Only the holding thread sees its own id here; for any other thread the
  // test is false whatever the holder does meanwhile.
  if (indexHolder.load() != std::this_thread::get_id() || indexDepth == 0)
    return;
  if (--indexDepth == 0)
    indexHolder = std::thread::id();
  mutex.unlock();
}

// ---- servers ----

void DbSrvMem::removeServer(int32_t type, const std::string& name)
{
  if (type != DB_SERVER_CERTIFICATES)
    return;
  Lock lock(mutex);
  numbers.erase(dbLowerCase(name));
}

void DbSrvMem::getImportNumber(int32_t type, const std::string& name, uint32_t& number)
{
  if (type != DB_SERVER_CERTIFICATES)
    throw TalApiException("Odczyt numeru importu dozwolony jest tylko dla serwera certyfikatów",
                          20);
  std::string lower = dbLowerCase(name);
  Lock lock(mutex);
  auto found = numbers.find(lower);
  if (found == numbers.end())
    throw std::runtime_error("Serwer nie znaleziony: " + lower);
  number = found->second;
}

void DbSrvMem::listServers(int32_t type, std::vector<std::string>& names)
{
  if (type != DB_SERVER_CERTIFICATES)
    return;
  Lock lock(mutex);
  for (const auto& entry : numbers)
    names.push_back(entry.first);
}

void DbSrvMem::setImportNumber(int32_t type, const std::string& name, uint32_t number)
{
  if (type != DB_SERVER_CERTIFICATES)
    throw TalApiException("Zmiana numeru importu dozwolona jest tylko dla serwera certyfikatów",
                          20);
  std::string lower = dbLowerCase(name);
  Lock lock(mutex);
  numbers[lower] = number;
}
