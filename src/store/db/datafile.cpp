#include "store/db/datafile.h"

#include "base/commonerror.h"
#include "platform/fileio.h"

#include <cstring>

namespace {

const char* const UNIT = "DB/datafile";
// The journal of an update in place: {u32 magic, u32 count, u64 checksum},
// then count x {u32 offset, u32 length, the bytes}; magic 0 when disarmed.
constexpr uint32_t JOURNAL_MAGIC = 0x4A445431u;
constexpr uint32_t JOURNAL_HEADER = 16;
constexpr uint32_t MAX_JOURNAL = 1u << 20;
// Appended records go to the file in writes of about this size.
constexpr size_t PENDING_WRITE = 1u << 20;

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
  if (f.create(path) != 0 || !platform::shareLikeFolder(path)) return fail(DTA_ERR_IO);
  bool ok = f.write(DTA_HEADER_SIZE, h) == 0 && f.flush() == 0;
  ok = f.close() == 0 && ok && syncFolder(path);
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
  journalPath_ = std::string(path) + ".jnl";
  open_ = true;
  batch_ = false;
  pending_.clear();
  if (!refreshJournal()) {
    int e = error_;
    close();
    error_ = e;
    return false;
  }
  return true;
}

bool DataFile::refresh()
{
  error_ = 0;
  if (!open_) return fail(DTA_ERR_NOT_OPEN);
  return !watchJournal_ || refreshJournal();
}

bool DataFile::refreshJournal()
{
  File journal(false);
  // No journal: nothing was ever updated in place. One that is there but
  // cannot be opened may hold an update to finish.
  if (journal.open(journalPath_.c_str(), "rb+") != 0)
    return !platform::pathExists(journalPath_.c_str()) || fail(DTA_ERR_DAMAGED);
  uint8_t h[JOURNAL_HEADER];
  uint32_t got = 0;
  if (journal.readAt(0, JOURNAL_HEADER, h, &got) != 0) return fail(DTA_ERR_IO);
  if (got < JOURNAL_HEADER || get32(h) != JOURNAL_MAGIC) return true;
  known_ = false;
  size_ = file_.size();
  // Only a record whose bytes are whole and fall inside the file is written
  // back; any other was cut short before anything changed in place.
  uint32_t total = journal.size();
  std::vector<uint8_t> body;
  bool whole = get32(h + 4) >= 1 && get32(h + 4) <= 2 && total > JOURNAL_HEADER && total <= MAX_JOURNAL;
  if (whole) {
    try {
      body.resize(total - JOURNAL_HEADER);
    } catch (const std::bad_alloc&) {
      return fail(DTA_ERR_MEMORY);
    }
    if (journal.readAt(JOURNAL_HEADER, static_cast<uint32_t>(body.size()), body.data(), &got) != 0)
      return fail(DTA_ERR_IO);
    whole = got == body.size();
  }
  uint64_t sum = 0;
  for (int b = 7; b >= 0; --b) sum = sum << 8 | h[8 + b];
  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // {at in body, length} of each entry
  uint32_t at = 0;
  for (uint32_t j = 0; whole && j < get32(h + 4); ++j) {
    whole = body.size() - at >= 8;
    if (!whole) break;
    uint32_t offset = get32(body.data() + at), length = get32(body.data() + at + 4);
    whole = length <= body.size() - at - 8 && offset >= DTA_HEADER_SIZE && size_ != 0xFFFFFFFFu &&
            offset <= size_ && size_ - offset >= length;
    ranges.emplace_back(at, length);
    at += 8 + length;
  }
  whole = whole && at == body.size() && dbChecksum(body.data(), body.size()) == sum;
  for (size_t j = 0; whole && j < ranges.size(); ++j) {
    const uint8_t* entry = body.data() + ranges[j].first;
    if (file_.writeAt(get32(entry), ranges[j].second, entry + 8) != 0) return fail(DTA_ERR_IO);
  }
  if (whole && file_.flushData() != 0) return fail(DTA_ERR_IO);
  const uint8_t none[4] = {};
  return journal.writeAt(0, 4, none) == 0 ? true : fail(DTA_ERR_IO);
}

bool DataFile::writeJournaled(uint32_t offset1, uint32_t length1, const uint8_t* data1, uint32_t offset2,
                              uint32_t length2, const uint8_t* data2)
{
  if (!flushPending()) return false;
  std::vector<uint8_t>& j = recordBytes_;
  if (uint64_t{JOURNAL_HEADER} + 16 + length1 + length2 > MAX_JOURNAL) return fail(DTA_ERR_IO);
  j.assign(JOURNAL_HEADER, 0);
  const uint32_t offsets[2] = {offset1, offset2}, lengths[2] = {length1, length2};
  const uint8_t* datas[2] = {data1, data2};
  for (int e = 0; e < 2; ++e) {
    uint8_t entry[8];
    put32(entry, offsets[e]);
    put32(entry + 4, lengths[e]);
    j.insert(j.end(), entry, entry + 8);
    j.insert(j.end(), datas[e], datas[e] + lengths[e]);
  }
  put32(j.data(), JOURNAL_MAGIC);
  put32(j.data() + 4, 2);
  uint64_t sum = dbChecksum(j.data() + JOURNAL_HEADER, j.size() - JOURNAL_HEADER);
  for (int b = 0; b < 8; ++b) j[8 + b] = static_cast<uint8_t>(sum >> (8 * b));
  File journal(false);
  bool made = false;
  if (journal.open(journalPath_.c_str(), "rb+") != 0) {
    if (journal.create(journalPath_.c_str()) != 0 || !platform::shareLikeFolder(journalPath_.c_str()))
      return fail(DTA_ERR_IO);
    made = true;
  }
  // The journal whole on the disk (its name too), then the bytes in place and
  // on the disk, and only then is the journal disarmed.
  int32_t old = static_cast<int32_t>(journal.size());
  bool ok = (old <= static_cast<int32_t>(j.size()) || journal.grow(static_cast<int32_t>(j.size()) - old) >= 0) &&
            journal.writeAt(0, static_cast<uint32_t>(j.size()), j.data()) == 0 && journal.flushData() == 0 &&
            (!made || syncFolder(journalPath_.c_str()));
  if (!ok) return fail(DTA_ERR_IO);
  known_ = false;
  ok = file_.writeAt(offset1, length1, data1) == 0 && file_.writeAt(offset2, length2, data2) == 0 &&
       file_.flushData() == 0;
  // Armed still: the next open or refresh writes the bytes again.
  if (!ok) return fail(DTA_ERR_IO);
  const uint8_t none[4] = {};
  return journal.writeAt(0, 4, none) == 0 ? true : fail(DTA_ERR_IO);
}

void DataFile::beginBatch()
{
  if (!open_ || batch_) return;
  flushPending();
  batch_ = true;
  pending_.clear();
  size_ = pendingAt_ = file_.size();
}

bool DataFile::endBatch()
{
  bool ok = flushPending();
  // Unwritten, they are named by no committed entry (the index's commit
  // failed on them): later records take their places.
  pending_.clear();
  batch_ = false;
  return ok;
}

bool DataFile::flushPending()
{
  if (pending_.empty()) return true;
  // A failed write keeps the records waiting: entries already name them, so
  // the commit writes them again or fails.
  if (file_.writeAt(pendingAt_, static_cast<uint32_t>(pending_.size()), pending_.data()) != 0) {
    cutBack(pendingAt_);
    return fail(DTA_ERR_IO);
  }
  pendingAt_ += static_cast<uint32_t>(pending_.size());
  pending_.clear();
  return true;
}

void DataFile::cutBack(uint32_t end)
{
  // A record written in part (a full disk) is named by nothing: its bytes go,
  // giving their space back. The writer holds the table alone.
  uint32_t size = file_.size();
  if (size != 0xFFFFFFFFu && size > end && size - end <= 0x7FFFFFFFu)
    file_.truncate(-static_cast<int32_t>(size - end));
}

bool DataFile::sync()
{
  if (!open_) return fail(DTA_ERR_NOT_OPEN);
  return flushPending() && syncWritten();
}

bool DataFile::syncWritten()
{
  if (!open_) return fail(DTA_ERR_NOT_OPEN);
  return file_.flushData() == 0 ? true : fail(DTA_ERR_IO);
}

bool DataFile::readBytes(uint32_t offset, uint32_t length, uint8_t* out)
{
  if (!pending_.empty() && offset >= pendingAt_) {
    // Records are kept whole, so a read of one lies in memory or in the file.
    size_t from = offset - pendingAt_;
    if (from > pending_.size() || pending_.size() - from < length) return fail(DTA_ERR_DAMAGED);
    std::memcpy(out, pending_.data() + from, length);
    return true;
  }
  uint32_t got = 0;
  if (file_.readAt(offset, length, out, &got) != 0 || got != length) return fail(DTA_ERR_IO);
  return true;
}

bool DataFile::covers(uint32_t position, uint32_t length)
{
  // Records are only ever appended: another process may have added some
  // since the size was last measured.
  for (bool measured = false;; measured = true) {
    if (size_ != 0xFFFFFFFFu && position <= size_ && size_ - position >= length) return true;
    // In a batch the lock is held: nobody else appends.
    if (measured || batch_) return false;
    size_ = file_.size();
  }
}

bool DataFile::close()
{
  // Records of a batch never committed are dropped: no entry names them.
  pending_.clear();
  batch_ = false;
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
    if (batch_ && pending_.size() >= PENDING_WRITE && !flushPending()) return 0;
    uint32_t position = batch_ ? pendingAt_ + static_cast<uint32_t>(pending_.size()) : file_.size();
    if (position > 0x7FFFFFFFu || position < DTA_HEADER_SIZE || total > 0x7FFFFFFFu - position)
      return fail(DTA_ERR_IO), 0;
    // In a batch the record joins those waiting in memory; otherwise it is
    // written at the end as it is now (another process may have appended),
    // extending the file.
    std::vector<uint8_t>& record = batch_ ? pending_ : recordBytes_;
    size_t start = batch_ ? pending_.size() : 0;
    if (!batch_) record.clear();
    record.resize(start + static_cast<size_t>(total), 0);
    uint8_t* r = record.data() + start;
    std::memset(r, 0, DTA_RECORD_HEADER);
    put32(r + 4, IDX_MAGIC);
    put32(r + 8, length);
    put32(r + 12, length);
    uint8_t* p = r + DTA_RECORD_HEADER;
    for (int i = 0; i < count_; ++i) {
      storeKey(reinterpret_cast<char*>(p), keys[i], keyLength_[i]);
      p += keyLength_[i];
    }
    if (length) std::memcpy(p, data, length);
    if (!batch_ && file_.writeAt(position, static_cast<uint32_t>(total), record.data()) != 0) {
      cutBack(position);
      return fail(DTA_ERR_IO), 0;
    }
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
  if (!readBytes(position, DTA_RECORD_HEADER, b)) return false;
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
      if (!readBytes(position + DTA_RECORD_HEADER, keysTotal_, keyBytes_.data())) return 0;
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
      if (!readBytes(position + DTA_RECORD_HEADER + keysTotal_, h.length, data->data())) return 0;
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
  if (keyLength_[i] == 0) return fail(DTA_ERR_IO), nullptr;
  if (!readBytes(position + DTA_RECORD_HEADER + at, keyLength_[i], keyBytes_.data())) return nullptr;
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
  uint8_t b[4];
  put32(b, length);
  return writeJournaled(position + DTA_RECORD_HEADER + keysTotal_, length, data, position + 8, 4, b) ? 1 : 0;
}

bool DataFile::markDeleted(uint32_t position)
{
  error_ = 0;
  RecordHeader h;
  if (!readRecordHeader(position, h)) return false;
  known_ = false;
  if (!pending_.empty() && position >= pendingAt_) {
    pending_[position - pendingAt_] = 1;  // read from there, so it lies inside
    return true;
  }
  // Only the first byte changes: a crash cannot leave it half written.
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
