#include "store/dbmem.h"

#include "base/commonerror.h"
#include "base/talexception.h"

#include <algorithm>
#include <memory>
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

void DbCrtMem::appendRecord(DbCertList& list, DbRecId id) const
{
  auto record = records.find(id);
  if (record == records.end())
    return;
  DbCertRecord found;
  found.id = id;
  found.der = record->second;
  list.push_back(std::move(found));
}

void DbCrtMem::findByHash(int index, DbCertList& list, const DbHash& hash)
{
  Lock lock(mutex);
  auto range = hashes[index].equal_range(hash);
  for (auto it = range.first; it != range.second; ++it)
    appendRecord(list, it->second);
}

void DbCrtMem::findBySerNumHash(DbCertList& list, const DbHash& hash)
{
  findByHash(SER_NUM, list, hash);
}

void DbCrtMem::findBySbjDnHash(DbCertList& list, const DbHash& hash)
{
  findByHash(SBJ_DN, list, hash);
}

void DbCrtMem::findByKeyIdHash(DbCertList& list, const DbHash& hash)
{
  findByHash(KEY_ID, list, hash);
}

void DbCrtMem::findByCertHash(DbCertList& list, const DbHash& hash)
{
  findByHash(CERT, list, hash);
}

void DbCrtMem::findBySbjDnFld(DbCertList& list, char tag, const std::string& value)
{
  Lock lock(mutex);
  auto range = fields.equal_range(dbFieldKey(tag, value));
  for (auto it = range.first; it != range.second; ++it)
    appendRecord(list, it->second);
}

void DbCrtMem::listCa(DbCertList& list)
{
  Lock lock(mutex);
  for (DbRecId id : caList)
    appendRecord(list, id);
}

bool DbCrtMem::insertCert(const DbHash& serNumHash, const DbHash& sbjDnHash,
                          const DbHash& certHash, const DbHash& keyIdHash, const std::string&,
                          const DbBytes& der, const DbDnFieldList& fieldList, bool isCa)
{
  Lock lock(mutex);
  if (hashes[CERT].count(certHash))
    return false;
  // Build every key first: an allocation failure then leaves the store as it was.
  std::vector<std::string> fieldKeys;
  fieldKeys.reserve(fieldList.size());
  for (const DbDnField& field : fieldList)
    fieldKeys.push_back(dbFieldKey(field.tag, field.value));
  DbRecId id = nextId;
  auto stored = records.emplace(id, der).first;
  try {
    hashes[SER_NUM].emplace(serNumHash, id);
    hashes[SBJ_DN].emplace(sbjDnHash, id);
    hashes[KEY_ID].emplace(keyIdHash, id);
    hashes[CERT].emplace(certHash, id);
    for (std::string& key : fieldKeys)
      fields.emplace(std::move(key), id);
    if (isCa)
      caList.push_back(id);
  } catch (...) {
    records.erase(stored);
    eraseFromIndexes(id);
    throw;
  }
  ++nextId;
  return true;
}

bool DbCrtMem::first()
{
  Lock lock(mutex);
  cursorAtEnd = records.empty();
  if (!cursorAtEnd)
    cursor = records.begin()->first;
  return !cursorAtEnd;
}

bool DbCrtMem::next()
{
  Lock lock(mutex);
  if (!cursorAtEnd) {
    auto it = records.upper_bound(cursor);
    cursorAtEnd = it == records.end();
    if (!cursorAtEnd)
      cursor = it->first;
  }
  return !cursorAtEnd;
}

bool DbCrtMem::prev()
{
  Lock lock(mutex);
  if (!cursorAtEnd) {
    auto it = records.lower_bound(cursor);
    cursorAtEnd = it == records.begin();
    if (!cursorAtEnd)
      cursor = std::prev(it)->first;
  }
  return !cursorAtEnd;
}

std::map<DbRecId, DbBytes>::iterator DbCrtMem::cursorRecord(const char* operation)
{
  auto it = cursorAtEnd ? records.end() : records.find(cursor);
  checkInvariant(it != records.end(), SRC_CRT, __LINE__, "cursor on a record", operation);
  return it;
}

DbRecId DbCrtMem::getCurrentRec()
{
  Lock lock(mutex);
  return cursorRecord("getCurrentRec")->first;
}

void DbCrtMem::setCurrentRec(DbRecId id)
{
  Lock lock(mutex);
  cursor = id;
  cursorAtEnd = records.count(id) == 0;
}

void DbCrtMem::get(DbBytes& der)
{
  Lock lock(mutex);
  der = cursorRecord("get")->second;
}

void DbCrtMem::deleteCert()
{
  Lock lock(mutex);
  auto it = cursorRecord("deleteCert");
  DbRecId id = it->first;
  it = records.erase(it);
  cursorAtEnd = it == records.end();
  if (!cursorAtEnd)
    cursor = it->first;
  eraseFromIndexes(id);
}

void DbCrtMem::eraseFromIndexes(DbRecId id)
{
  for (HashIndex& index : hashes)
    for (auto entry = index.begin(); entry != index.end();)
      entry = entry->second == id ? index.erase(entry) : std::next(entry);
  for (auto entry = fields.begin(); entry != fields.end();)
    entry = entry->second == id ? fields.erase(entry) : std::next(entry);
  caList.erase(std::remove(caList.begin(), caList.end(), id), caList.end());
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

void DbSrvMem::setImportNumber(int32_t type, const std::string& name, uint32_t number)
{
  if (type != DB_SERVER_CERTIFICATES)
    throw TalApiException("Zmiana numeru importu dozwolona jest tylko dla serwera certyfikatów",
                          20);
  std::string lower = dbLowerCase(name);
  Lock lock(mutex);
  numbers[lower] = number;
}
