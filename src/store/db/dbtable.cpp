#include "store/db/dbtable.h"

#include "base/commonerror.h"
#include "platform/fileio.h"

#include <cstdio>
#include <cstring>

DbTable::DbTable()
{
  index_.setBeforeCommit([this] { return (!before_ || before_()) && data_.sync(); });
}

bool DbTable::create(const char* name, int n, const IndexDescriptor* descriptors)
{
  clearErrors();
  idxPath_ = std::string(name) + ".idx";
  dtaPath_ = std::string(name) + ".dta";
  if (!index_.create(idxPath_.c_str(), n, descriptors)) return error_ = TBL_ERR_INDEX, false;
  if (!data_.create(dtaPath_.c_str(), n, descriptors)) return error_ = TBL_ERR_DATA, false;
  return true;
}

bool DbTable::open(const char* name)
{
  clearErrors();
  if (index_.isOpen() && data_.isOpen()) return true;
  idxPath_ = std::string(name) + ".idx";
  dtaPath_ = std::string(name) + ".dta";
  if (!index_.open(idxPath_.c_str())) return error_ = TBL_ERR_INDEX, false;
  if (!data_.open(dtaPath_.c_str())) {
    index_.close();
    return error_ = TBL_ERR_DATA, false;
  }
  // The two halves must describe the same indexes.
  bool same = data_.indexCount() == index_.indexCount();
  for (int i = 0; same && i < index_.indexCount(); ++i) same = data_.keyLength(i) == index_.keyLength(i);
  if (!same) {
    close();
    return error_ = TBL_ERR_DATA, false;
  }
  for (int i = index_.indexCount() - 1; i >= 0; --i) {
    index_.setIndex(i);
    if (first() == 0) {
      close();
      return false;
    }
  }
  return true;
}

bool DbTable::openOrCreate(const char* name, int n, const IndexDescriptor* descriptors)
{
  if (open(name)) return true;
  const std::string base(name);
  // An index without a page and a data file without a record hold nothing;
  // anything larger is left alone, damaged or not.
  int64_t idxSize = platform::pathFileSize((base + ".idx").c_str());
  int64_t dtaSize = platform::pathFileSize((base + ".dta").c_str());
  if (idxSize > int64_t{IDX_HEADER_AREA} || dtaSize > int64_t{DTA_HEADER_SIZE}) return false;
  const std::string fresh = base + ".new";
  std::remove((fresh + ".idx").c_str());
  std::remove((fresh + ".dta").c_str());
  DbTable made;
  if (!made.create(fresh.c_str(), n, descriptors)) {
    error_ = made.error();
    return false;
  }
  // The new names reach the disk before anything is stored under them.
  if (std::rename((fresh + ".dta").c_str(), (base + ".dta").c_str()) != 0 ||
      std::rename((fresh + ".idx").c_str(), (base + ".idx").c_str()) != 0 ||
      !syncFolder((base + ".idx").c_str()))
    return error_ = TBL_ERR_INDEX, false;
  return open(name);
}

bool DbTable::close()
{
  clearErrors();
  bool ok = index_.close();
  if (!ok) error_ = TBL_ERR_INDEX;
  if (!data_.close()) ok = false, error_ = TBL_ERR_DATA;
  return ok;
}

void DbTable::setIndex(int i) { index_.setIndex(i); }

bool DbTable::refresh()
{
  clearErrors();
  data_.forget();
  if (!data_.refresh()) return error_ = TBL_ERR_DATA, false;
  return index_.refresh() ? true : (error_ = TBL_ERR_INDEX, false);
}

int DbTable::fromIndex(int r)
{
  if (r == 0) error_ = TBL_ERR_INDEX;
  return r;
}

int DbTable::entryState(uint32_t* position)
{
  if (index_.current(nullptr, position) != 1) return 0;
  int r = data_.read(*position, nullptr, nullptr, nullptr);
  if (r == 0) error_ = TBL_ERR_DATA;
  return r;
}

int DbTable::liveFrom(int r, int direction)
{
  // Every step meets a new entry, and the index holds no more entries than
  // inserts, so the walk ends even over a damaged chain (the index checks that).
  while (r == 1) {
    uint32_t position;
    int state = entryState(&position);
    if (state == 1) return 1;
    if (state == 0) return error_ ? 0 : (error_ = TBL_ERR_INDEX, 0);
    r = fromIndex(index_.move(direction));
  }
  return r;
}

bool DbTable::insert(const char* const* keys, const uint8_t* data, uint32_t length, uint32_t* position)
{
  clearErrors();
  uint32_t pos = data_.append(keys, data, length);
  if (pos == 0) return error_ = TBL_ERR_DATA, false;
  if (!index_.insert(keys, pos)) {
    // A commit that failed past its commit point left entries naming it.
    data_.markDeleted(pos);
    if (!index_.inBatch()) data_.syncWritten();
    return error_ = TBL_ERR_INDEX, false;
  }
  if (position) *position = pos;
  return true;
}

bool DbTable::beginBatch()
{
  clearErrors();
  if (!index_.beginBatch()) return error_ = TBL_ERR_INDEX, false;
  data_.beginBatch();
  return true;
}

bool DbTable::endBatch()
{
  clearErrors();
  // The index's commit syncs the records first.
  bool ok = index_.endBatch();
  if (!ok) error_ = data_.error() ? TBL_ERR_DATA : TBL_ERR_INDEX;
  if (!data_.endBatch() && ok) ok = false, error_ = TBL_ERR_DATA;
  return ok;
}

bool DbTable::commitPending()
{
  clearErrors();
  if (index_.commitPending()) return true;
  error_ = data_.error() ? TBL_ERR_DATA : TBL_ERR_INDEX;
  return false;
}

int DbTable::first()
{
  clearErrors();
  return liveFrom(fromIndex(index_.first()), 1);
}

int DbTable::last()
{
  clearErrors();
  return liveFrom(fromIndex(index_.last()), -1);
}

int DbTable::skip(int n)
{
  clearErrors();
  uint32_t page;
  int pos;
  index_.cursor(&page, &pos);
  int direction = n > 0 ? 1 : -1;
  for (int64_t left = n > 0 ? int64_t{n} : -int64_t{n}; left > 0; --left) {
    int r = liveFrom(fromIndex(index_.move(direction)), direction);
    if (r == 1) continue;
    if (r == -1 && !index_.setCursor(page, pos)) return error_ = TBL_ERR_INDEX, 0;
    return r;
  }
  return 1;
}

int DbTable::find(const char* key)
{
  clearErrors();
  int r = fromIndex(index_.seek(key));
  if (r == 0) return 0;
  if (r == -1) return last() == 0 ? 0 : -1;
  uint16_t keyLength = index_.keyLength(index_.index());
  if (key_.size() < keyLength) key_.resize(keyLength);
  storeKey(key_.data(), key, keyLength);
  for (;;) {
    const char* found = index_.currentKey();
    if (!found) return error_ = TBL_ERR_INDEX, 0;
    uint32_t position;
    int state = entryState(&position);
    if (state == 0) return 0;
    if (state == 1) return std::strcmp(key_.data(), found) == 0 ? 1 : 3;
    int m = fromIndex(index_.move(1));
    if (m == 0) return 0;
    if (m == -1) return last() == 0 ? 0 : -1;
  }
}

int DbTable::data(KeyBufferArray* keys, std::vector<uint8_t>* out, uint32_t* length)
{
  clearErrors();
  uint32_t position;
  if (index_.current(nullptr, &position) != 1) return -1;
  int r = data_.read(position, keys, out, length);
  if (r == 0) return error_ = TBL_ERR_DATA, 0;
  return r == 2 ? -1 : 1;
}

int DbTable::update(const uint8_t* data, uint32_t length)
{
  clearErrors();
  uint32_t position;
  if (index_.current(nullptr, &position) != 1) return -1;
  int r = data_.update(position, data, length);
  if (r == 0) return error_ = TBL_ERR_DATA, 0;
  return r == 2 ? -1 : r;
}

int DbTable::deleteRec()
{
  clearErrors();
  uint32_t position;
  if (index_.current(nullptr, &position) != 1) return -1;
  if (!data_.markDeleted(position)) return error_ = TBL_ERR_DATA, 0;
  return 1;
}

int64_t DbTable::recNo()
{
  clearErrors();
  uint32_t position;
  if (index_.current(nullptr, &position) != 1) return -1;
  int state = entryState(&position);
  return state == 1 ? int64_t{position} : -1;
}

int DbTable::setRec(uint32_t position)
{
  clearErrors();
  KeyBufferArray keys(data_.indexCount());
  int r = data_.read(position, &keys, nullptr, nullptr);
  if (r != 1) return r == 0 ? (error_ = TBL_ERR_DATA, 0) : 0;
  const char* key = keys[index_.index()];
  if (fromIndex(index_.seek(key)) != 1) return 0;
  std::vector<char> found(index_.keyLength(index_.index()));
  for (;;) {
    uint32_t at;
    if (index_.current(found.data(), &at) != 1) return 0;
    if (std::strcmp(found.data(), key) != 0) return 0;
    if (at == position) return 1;
    if (fromIndex(index_.move(1)) != 1) return 0;
  }
}
