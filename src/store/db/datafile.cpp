#include "store/db/datafile.h"

#include "base/commonerror.h"

#include <cstring>

namespace {

const char* const UNIT = "DB/datafile";

}  // namespace

using namespace dbbytes;

KeyBufferArray::KeyBufferArray(int n) : buffers(n > 0 ? n : 0) {}

char* KeyBufferArray::operator[](int i) const
{
  checkInvariant(i >= 0 && i < size(), "SRC/guards", __LINE__, "i >= 0 && i < count");
  return buffers[i].get();
}

void KeyBufferArray::set(int i, std::unique_ptr<char[]> buffer)
{
  checkInvariant(i >= 0 && i < size(), "SRC/guards", __LINE__, "i >= 0 && i < count");
  buffers[i] = std::move(buffer);
}

DataFile::DataFile() : file_(true) {}

bool DataFile::fail(int code)
{
  error_ = code;
  return false;
}

bool DataFile::create(const char* path, int n, const IndexDescriptor* descriptors)
{
  checkInvariant(n <= IDX_MAX_INDEX, UNIT, __LINE__, "idxNumb <= MAX_INDEX");
  error_ = 0;
  uint8_t h[DTA_HEADER_SIZE] = {};
  put32(h, IDX_MAGIC);
  h[4] = static_cast<uint8_t>(n);
  for (int i = 0; i < n; ++i)
    put32(h + 6 + 4 * i, descriptors[i].keyLength | static_cast<uint32_t>(descriptors[i].pageSize) << 16);
  File f(true);
  if (f.create(path) != 0) return fail(DTA_ERR_IO);
  bool ok = f.write(DTA_HEADER_SIZE, h) == 0 && f.flush() == 0;
  ok = f.close() == 0 && ok;
  return ok ? true : fail(DTA_ERR_IO);
}

bool DataFile::open(const char* path)
{
  close();
  error_ = 0;
  if (file_.open(path, "rb+") != 0) return fail(DTA_ERR_IO);
  uint8_t h[DTA_HEADER_SIZE];
  uint32_t got = 0;
  if (file_.read(DTA_HEADER_SIZE, h, &got) != 0 || got != DTA_HEADER_SIZE) {
    file_.close();
    return fail(DTA_ERR_IO);
  }
  count_ = h[4] | h[5] << 8;
  if (get32(h) != IDX_MAGIC || count_ > IDX_MAX_INDEX) {
    file_.close();
    return fail(DTA_ERR_DAMAGED);
  }
  keysTotal_ = 0;
  for (int i = 0; i < count_; ++i) {
    keyLength_[i] = static_cast<uint16_t>(get32(h + 6 + 4 * i));
    keysTotal_ += keyLength_[i];
  }
  size_ = file_.size();
  open_ = true;
  return true;
}

bool DataFile::covers(uint32_t position, uint32_t length)
{
  // Records are only ever appended: another process may have added some
  // since the size was last measured.
  for (bool measured = false;; measured = true) {
    if (size_ != 0xFFFFFFFFu && position <= size_ && size_ - position >= length) return true;
    if (measured) return false;
    size_ = file_.size();
  }
}

bool DataFile::close()
{
  open_ = false;
  known_ = false;
  return file_.close() == 0 ? true : fail(DTA_ERR_IO);
}

uint32_t DataFile::append(const char* const* keys, const uint8_t* data, uint32_t length)
{
  error_ = 0;
  if (!open_) return fail(DTA_ERR_NOT_OPEN), 0;
  uint64_t total = uint64_t{DTA_RECORD_HEADER} + keysTotal_ + length;
  if (total > 0x7FFFFFFFu) return fail(DTA_ERR_IO), 0;
  try {
    std::vector<uint8_t>& record = recordBytes_;
    record.assign(static_cast<size_t>(total), 0);
    put32(record.data() + 4, IDX_MAGIC);
    put32(record.data() + 8, length);
    put32(record.data() + 12, length);
    uint8_t* p = record.data() + DTA_RECORD_HEADER;
    for (int i = 0; i < count_; ++i) {
      storeKey(reinterpret_cast<char*>(p), keys[i], keyLength_[i]);
      p += keyLength_[i];
    }
    if (length) std::memcpy(p, data, length);
    // The end as it is now (another process may have appended); the write
    // there extends the file.
    uint32_t position = file_.size();
    if (position > 0x7FFFFFFFu || position < DTA_HEADER_SIZE || total > 0x7FFFFFFFu - position)
      return fail(DTA_ERR_IO), 0;
    if (file_.writeAt(position, static_cast<uint32_t>(total), record.data()) != 0) return fail(DTA_ERR_IO), 0;
    size_ = position + static_cast<uint32_t>(total);
    return position;
  } catch (const std::bad_alloc&) {
    return fail(DTA_ERR_MEMORY), 0;
  }
}

bool DataFile::readRecordHeader(uint32_t position, RecordHeader& h)
{
  if (!open_) return fail(DTA_ERR_NOT_OPEN);
  if (known_ && position == knownPosition_) {
    h = knownHeader_;
    return true;
  }
  if (position < DTA_HEADER_SIZE || !covers(position, DTA_RECORD_HEADER + keysTotal_))
    return fail(DTA_ERR_DAMAGED);
  uint8_t b[DTA_RECORD_HEADER];
  uint32_t got = 0;
  if (file_.readAt(position, DTA_RECORD_HEADER, b, &got) != 0 || got != DTA_RECORD_HEADER)
    return fail(DTA_ERR_IO);
  h.deleted = get32(b);
  h.length = get32(b + 8);
  h.capacity = get32(b + 12);
  if (get32(b + 4) != IDX_MAGIC || h.deleted > 1 || h.length > h.capacity ||
      !covers(position, DTA_RECORD_HEADER + keysTotal_ + h.capacity))
    return fail(DTA_ERR_DAMAGED);
  known_ = true;
  knownPosition_ = position;
  knownHeader_ = h;
  return true;
}

int DataFile::read(uint32_t position, KeyBufferArray* keys, std::vector<uint8_t>* data, uint32_t* length,
                   bool acceptDeleted)
{
  error_ = 0;
  RecordHeader h;
  if (!readRecordHeader(position, h)) return 0;
  int result = h.deleted ? 2 : 1;
  if (h.deleted && !acceptDeleted) return 2;
  try {
    if (keys) {
      keyBytes_.resize(keysTotal_);
      uint32_t got = 0;
      if (file_.readAt(position + DTA_RECORD_HEADER, keysTotal_, keyBytes_.data(), &got) != 0 || got != keysTotal_)
        return fail(DTA_ERR_IO), 0;
      const uint8_t* at = keyBytes_.data();
      for (int i = 0; i < count_ && i < keys->size(); ++i) {
        std::unique_ptr<char[]> key(new char[keyLength_[i]]);
        std::memcpy(key.get(), at, keyLength_[i]);
        if (keyLength_[i]) key[keyLength_[i] - 1] = 0;
        keys->set(i, std::move(key));
        at += keyLength_[i];
      }
    }
    if (data) {
      data->resize(h.length);
      uint32_t got = 0;
      if (file_.readAt(position + DTA_RECORD_HEADER + keysTotal_, h.length, data->data(), &got) != 0 ||
          got != h.length)
        return fail(DTA_ERR_IO), 0;
    }
  } catch (const std::bad_alloc&) {
    return fail(DTA_ERR_MEMORY), 0;
  }
  if (length) *length = h.length;
  return result;
}

const char* DataFile::key(uint32_t position, int i)
{
  error_ = 0;
  RecordHeader h;
  if (i < 0 || i >= count_ || !readRecordHeader(position, h) || h.deleted) return nullptr;
  uint32_t at = 0;
  for (int j = 0; j < i; ++j) at += keyLength_[j];
  keyBytes_.resize(keyLength_[i]);
  uint32_t got = 0;
  if (keyLength_[i] == 0 ||
      file_.readAt(position + DTA_RECORD_HEADER + at, keyLength_[i], keyBytes_.data(), &got) != 0 ||
      got != keyLength_[i])
    return fail(DTA_ERR_IO), nullptr;
  keyBytes_[keyLength_[i] - 1] = 0;
  return reinterpret_cast<const char*>(keyBytes_.data());
}

int DataFile::update(uint32_t position, const uint8_t* data, uint32_t length)
{
  error_ = 0;
  RecordHeader h;
  if (!readRecordHeader(position, h)) return 0;
  if (h.deleted) return 2;
  if (length > h.capacity) return 4;
  known_ = false;
  uint8_t b[4];
  put32(b, length);
  // The data first: a crash in between leaves the old length over valid bytes.
  if (file_.writeAt(position + DTA_RECORD_HEADER + keysTotal_, length, data) != 0 ||
      file_.writeAt(position + 8, 4, b) != 0)
    return fail(DTA_ERR_IO), 0;
  return 1;
}

bool DataFile::markDeleted(uint32_t position)
{
  error_ = 0;
  RecordHeader h;
  if (!readRecordHeader(position, h)) return false;
  known_ = false;
  uint8_t one[4] = {1, 0, 0, 0};
  if (file_.writeAt(position, 4, one) != 0) return fail(DTA_ERR_IO);
  return true;
}

int DataFile::firstPosition(uint32_t* position)
{
  error_ = 0;
  if (!open_) return fail(DTA_ERR_NOT_OPEN), 0;
  if (!covers(DTA_HEADER_SIZE, 1)) return -1;
  *position = DTA_HEADER_SIZE;
  return 1;
}

int DataFile::nextPosition(uint32_t position, uint32_t* next)
{
  error_ = 0;
  RecordHeader h;
  if (!readRecordHeader(position, h)) return 0;
  uint32_t following = position + DTA_RECORD_HEADER + keysTotal_ + h.capacity;  // checked inside the file
  if (!covers(following, 1)) return -1;
  *next = following;
  return 1;
}
