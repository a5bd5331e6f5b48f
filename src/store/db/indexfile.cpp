#include "store/db/indexfile.h"

#include "base/commonerror.h"
#include "platform/fileio.h"

#include <algorithm>
#include <cstring>

namespace {

const char* const UNIT = "DB/indxuser";
constexpr int MAX_DEPTH = 40;  // far beyond any tree a 2 GiB file can hold
constexpr size_t CACHED_PAGES = 1024;  // internal pages kept per index
constexpr size_t HELD_PAGES = 8192;    // new pages a batch keeps in memory before writing them

// The first entry whose key is not smaller than key (count + 1 when none):
// where the scan of the keys in order stops, found by halving. In a damaged
// page whose keys are out of order it is still an entry of the page.
int firstNotSmaller(const IndexPage& page, const char* key)
{
  int low = 1, high = page.count + 1;
  while (low < high) {
    int middle = low + (high - low) / 2;
    if (std::strcmp(key, page.key(middle)) > 0)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

}  // namespace

using namespace dbbytes;

// Chained over a journal record's page list first, so a damaged page number
// never sends a sound image over another page.
uint64_t dbChecksum(const uint8_t* p, size_t n, uint64_t seed)
{
  uint64_t h = seed ^ n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w = 0;
    for (int b = 7; b >= 0; --b) w = w << 8 | p[i + b];
    h = (h ^ w) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  for (; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

uint16_t indexOrder(uint16_t keyLength, uint16_t pageSize)
{
  if (pageSize <= IDX_PAGE_HEADER) return 0;
  uint32_t order = (pageSize - IDX_PAGE_HEADER) / (keyLength + 8u);
  return static_cast<uint16_t>(order & ~1u);
}

void storeKey(char* slot, const char* key, uint16_t keyLength)
{
  size_t n = key ? strnlen(key, keyLength - 1u) : 0;
  std::memcpy(slot, key, n);
  std::memset(slot + n, 0, keyLength - n);
}

void IndexPage::copyFrom(const IndexPage& other)
{
  count = other.count;
  next = other.next;
  prev = other.prev;
  std::copy(other.entries.begin(), other.entries.begin() + other.count + 1, entries.begin());
  std::memcpy(keys.data(), other.keys.data(), static_cast<size_t>(other.count) * keyLength);
}

void IndexPage::reset(uint16_t keyLen, uint16_t order)
{
  keyLength = keyLen;
  count = 0;
  next = prev = IDX_NO_PAGE;
  entries.assign(order + 2u, Entry{0, IDX_NO_PAGE});
  keys.assign(static_cast<size_t>(order + 2u) * keyLen, 0);
}

IndexFile::IndexFile() : file_(true), journal_(false) {}

IndexFile::~IndexFile() { close(); }

bool IndexFile::fail(int code)
{
  error_ = code;
  return false;
}

bool IndexFile::create(const char* path, int n, const IndexDescriptor* descriptors)
{
  checkInvariant(n <= IDX_MAX_INDEX, UNIT, __LINE__, "idxNumb <= MAX_INDEX");
  error_ = 0;
  if (n < 1) return fail(IDX_ERR_DAMAGED);
  for (int i = 0; i < n; ++i)
    if (descriptors[i].keyLength < 1 || indexOrder(descriptors[i].keyLength, descriptors[i].pageSize) < 2)
      return fail(IDX_ERR_DAMAGED);
  File f(true);
  // Every user who may write the database's folder may write its tables.
  if (f.create(path) != 0 || !platform::shareLikeFolder(path) || f.grow(IDX_HEADER_AREA) != 0)
    return fail(IDX_ERR_IO);
  uint8_t h[IDX_HEADER_SIZE] = {};
  put16(h, static_cast<uint16_t>(n));
  for (int i = 0; i < n; ++i) {
    uint8_t* s = h + 8 + 24 * i;
    put32(s, IDX_MAGIC);
    put32(s + 4, IDX_NO_PAGE);
    put32(s + 8, IDX_NO_PAGE);
    put32(s + 12, IDX_NO_PAGE);
    put16(s + 16, descriptors[i].pageSize);
    put16(s + 18, descriptors[i].keyLength);
    put16(s + 20, indexOrder(descriptors[i].keyLength, descriptors[i].pageSize));
  }
  bool ok = f.seek(0) == 0 && f.write(IDX_HEADER_SIZE, h) == 0 && f.flush() == 0;
  ok = f.close() == 0 && ok && syncFolder(path);
  return ok ? true : fail(IDX_ERR_IO);
}

bool IndexFile::open(const char* path)
{
  close();
  error_ = 0;
  if (file_.open(path, "rb+") != 0) return fail(IDX_ERR_IO);
  journalPath_ = std::string(path) + ".jnl";
  if (!readHeader()) {
    int e = error_;
    close();
    error_ = e;
    return false;
  }
  open_ = true;
  current_ = 0;
  return true;
}

bool IndexFile::readHeader()
{
  fileSize_ = file_.size();
  if (fileSize_ == 0xFFFFFFFFu || fileSize_ > 0x7FFFFFFFu || fileSize_ < IDX_HEADER_AREA)
    return fail(IDX_ERR_DAMAGED);
  freshFrom_ = fileSize_;
  uint8_t h[IDX_HEADER_AREA];
  uint32_t got = 0;
  if (file_.readAt(0, IDX_HEADER_AREA, h, &got) != 0 || got != IDX_HEADER_AREA) return fail(IDX_ERR_IO);
  if (get32(h + IDX_PENDING_AT) != 0 && !recover(h)) return false;
  return takeHeader(h, true);
}

bool IndexFile::takeHeader(const uint8_t* h, bool fresh)
{
  int count = get16(h);
  if (count < 1 || count > IDX_MAX_INDEX || (!fresh && count != count_)) return fail(IDX_ERR_DAMAGED);
  count_ = count;
  // Another writer since the last look: no kept page can be trusted.
  bool unchanged = !fresh && records_ == get32(h + 4) && generation_ == get16(h + 2);
  records_ = get32(h + 4);
  generation_ = get16(h + 2);
  try {
    if (fresh) trees_.assign(count_, Tree());
    for (int i = 0; i < count_; ++i) {
      const uint8_t* s = h + 8 + 24 * i;
      Tree& t = trees_[i];
      uint16_t pageSize = get16(s + 16), keyLength = get16(s + 18), order = get16(s + 20);
      if (get32(s) != IDX_MAGIC || keyLength < 1 || order < 2 || order != indexOrder(keyLength, pageSize))
        return fail(IDX_ERR_DAMAGED);
      if (!fresh && (pageSize != t.pageSize || keyLength != t.keyLength)) return fail(IDX_ERR_DAMAGED);
      t.root = get32(s + 4);
      t.firstLeaf = get32(s + 8);
      t.lastLeaf = get32(s + 12);
      bool empty = t.root == IDX_NO_PAGE;
      if (empty != (t.firstLeaf == IDX_NO_PAGE) || empty != (t.lastLeaf == IDX_NO_PAGE))
        return fail(IDX_ERR_DAMAGED);
      // Pages may have changed under the cursor.
      t.cursorPos = 0;
      t.walked = 0;
      if (!unchanged) t.cache.clear();
      if (!fresh) continue;
      t.pageSize = pageSize;
      t.keyLength = keyLength;
      t.order = order;
      t.half = t.order / 2;
      t.cursorPage.reset(t.keyLength, t.order);
      t.spare.reset(t.keyLength, t.order);
      t.neighbour.reset(t.keyLength, t.order);
      t.levels.assign(MAX_DEPTH + 1, IndexPage());
      t.io.assign(t.pageSize, 0);
      t.key.assign(t.keyLength, 0);
      if (!empty) {
        // The root and the first leaf must read back as pages; the rest is
        // checked as it is met.
        if (!readPage(t, t.root, t.spare) || !readPage(t, t.firstLeaf, t.spare)) return false;
        if (!t.spare.isLeaf()) return fail(IDX_ERR_DAMAGED);
      }
    }
  } catch (const std::bad_alloc&) {
    return fail(IDX_ERR_MEMORY);
  }
  return true;
}

bool IndexFile::refresh()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  uint8_t h[IDX_HEADER_SIZE + 4];
  uint32_t got = 0;
  if (file_.readAt(0, sizeof h, h, &got) != 0 || got != sizeof h) return fail(IDX_ERR_IO);
  if (get32(h + IDX_PENDING_AT) != 0) {
    // A writer died inside an insert: finish it, as an open would.
    open_ = false;
    bool ok = readHeader();
    open_ = ok;
    return ok;
  }
  return takeHeader(h, false);
}

bool IndexFile::recover(const uint8_t* area)
{
  // Only a record of the expected shape naming pages inside the file is
  // trusted; any other is disarmed (the images never went in place then).
  int n = get32(area + IDX_PENDING_AT) == IDX_PENDING_MAGIC ? get16(area + IDX_PENDING_AT + 4) : 0;
  uint64_t total = 0;
  bool valid = n >= 1 && n <= IDX_PENDING_MAX;
  for (int j = 0; valid && j < n; ++j) {
    uint32_t page = get32(area + IDX_PENDING_ENTRIES + 8 * j), size = get32(area + IDX_PENDING_ENTRIES + 8 * j + 4);
    valid = page >= IDX_HEADER_AREA && size > IDX_PAGE_HEADER && size <= 0xFFFFu && page <= fileSize_ &&
            fileSize_ - page >= size;
    total += size;
  }
  if (valid) {
    uint64_t sum = 0;
    for (int b = 7; b >= 0; --b) sum = sum << 8 | area[IDX_PENDING_AT + 8 + b];
    File journal(false);
    // The journal reached the disk before the record was armed: a record
    // without one cannot be finished, and dropping it could leave a torn page.
    if (journal.open(journalPath_.c_str(), "rb") != 0) return fail(IDX_ERR_DAMAGED);
    std::vector<uint8_t> images(static_cast<size_t>(total));
    uint32_t got = 0;
    if (journal.readAt(0, static_cast<uint32_t>(total), images.data(), &got) != 0) return fail(IDX_ERR_IO);
    valid = got == total &&
            dbChecksum(images.data(), images.size(),
                       dbChecksum(area + IDX_PENDING_ENTRIES, 8u * static_cast<size_t>(n))) == sum;
    for (uint32_t j = 0, at = 0; valid && j < static_cast<uint32_t>(n); ++j) {
      uint32_t page = get32(area + IDX_PENDING_ENTRIES + 8 * j), size = get32(area + IDX_PENDING_ENTRIES + 8 * j + 4);
      if (file_.writeAt(page, size, images.data() + at) != 0) return fail(IDX_ERR_IO);
      at += size;
    }
  }
  const uint8_t none[4] = {};
  return file_.writeAt(IDX_PENDING_AT, 4, none) == 0 ? true : fail(IDX_ERR_IO);
}

bool IndexFile::openJournal()
{
  if (journal_.isOpen()) return true;
  // Writers alone make it, one at a time under the table's lock.
  if (journal_.open(journalPath_.c_str(), "rb+") == 0) return true;
  // A new journal's name reaches the disk before a record relies on it.
  if (((journal_.create(journalPath_.c_str()) == 0 && platform::shareLikeFolder(journalPath_.c_str())) ||
       journal_.open(journalPath_.c_str(), "rb+") == 0) &&
      syncFolder(journalPath_.c_str()))
    return true;
  journal_.close();
  return fail(IDX_ERR_IO);
}

bool IndexFile::commit()
{
  bool ok = (!beforeCommit_ || beforeCommit_()) && writeHeld();
  // The new pages reach the disk before anything on it can name them, the
  // armed record included: its images would.
  if (ok && grew_) ok = file_.flushData() == 0;
  bool armed = false;
  if (ok && !dirty_.empty()) {
    ok = openJournal() &&
         journal_.writeAt(0, static_cast<uint32_t>(images_.size()), images_.data()) == 0 &&
         journal_.flushData() == 0;
    if (ok) {
      uint8_t record[IDX_HEADER_AREA - IDX_PENDING_AT] = {};
      put32(record, IDX_PENDING_MAGIC);
      put16(record + 4, static_cast<uint16_t>(dirty_.size()));
      uint8_t* const entries = record + (IDX_PENDING_ENTRIES - IDX_PENDING_AT);
      uint8_t* entry = entries;
      for (const Dirty& d : dirty_) {
        put32(entry, d.pageNo);
        put32(entry + 4, d.size);
        entry += 8;
      }
      uint64_t sum = dbChecksum(images_.data(), images_.size(),
                                dbChecksum(entries, static_cast<size_t>(entry - entries)));
      for (int b = 0; b < 8; ++b) record[8 + b] = static_cast<uint8_t>(sum >> (8 * b));
      ok = file_.writeAt(IDX_PENDING_AT, static_cast<uint32_t>(entry - record), record) == 0;
      armed = ok;
    }
  }
  // The armed record reaches the disk before any page changes in place.
  if (ok && armed) ok = file_.flushData() == 0;
  // Nothing was changed in place: the header stays as it is on the disk, and
  // the roots held here are taken back from it.
  if (!ok) return abandon();
  for (size_t j = 0; ok && j < dirty_.size(); ++j)
    ok = file_.writeAt(dirty_[j].pageNo, dirty_[j].size, images_.data() + dirty_[j].offset) == 0;
  // The armed record stays: the refresh finishes it.
  if (!ok) return abandon();
  dirty_.clear();
  images_.clear();
  // The images in place and the header on the disk: the commit point. Only
  // then is the record disarmed (a disarming lost to a power loss makes the
  // next open write the same images again).
  ok = writeHeader() && file_.flushData() == 0;
  const uint8_t none[4] = {};
  if (ok && armed) ok = file_.writeAt(IDX_PENDING_AT, 4, none) == 0;
  grew_ = false;
  freshFrom_ = fileSize_;
  return ok ? true : fail(IDX_ERR_IO);
}

void IndexFile::dropHeld()
{
  for (Tree& t : trees_) t.held.clear();
  heldCount_ = 0;
}

bool IndexFile::abandon()
{
  dirty_.clear();
  images_.clear();
  dropHeld();
  grew_ = false;
  batch_ = false;
  refresh();
  return fail(IDX_ERR_IO);
}

bool IndexFile::writeHeader()
{
  uint8_t h[IDX_HEADER_SIZE] = {};
  put16(h, static_cast<uint16_t>(count_));
  // Bytes 2 and 3 (free in the layout) count the writes of the header, so a
  // refresh knows whether the pages it keeps may have changed.
  put16(h + 2, ++generation_);
  put32(h + 4, records_);
  for (int i = 0; i < count_; ++i) {
    const Tree& t = trees_[i];
    uint8_t* s = h + 8 + 24 * i;
    put32(s, IDX_MAGIC);
    put32(s + 4, t.root);
    put32(s + 8, t.firstLeaf);
    put32(s + 12, t.lastLeaf);
    put16(s + 16, t.pageSize);
    put16(s + 18, t.keyLength);
    put16(s + 20, t.order);
  }
  // The header area lies within the first page of the file cache: one write is whole.
  if (file_.writeAt(0, sizeof h, h) != 0) return fail(IDX_ERR_IO);
  return true;
}

bool IndexFile::close()
{
  bool ok = file_.close() == 0;
  journal_.close();
  dropHeld();
  dirty_.clear();
  images_.clear();
  grew_ = false;
  batch_ = false;
  open_ = false;
  trees_.clear();
  count_ = 0;
  return ok ? true : fail(IDX_ERR_IO);
}

void IndexFile::setIndex(int i)
{
  checkInvariant(i >= 0 && i < count_, UNIT, __LINE__, "idx < numIdx");
  current_ = i;
}

uint32_t IndexFile::maxPages(const Tree& t) const
{
  return (fileSize_ - IDX_HEADER_AREA) / t.pageSize + 1;
}

bool IndexFile::stepLimit(Tree& t, int direction)
{
  if ((t.walked > 0) != (direction > 0)) t.walked = 0;
  t.walked += direction > 0 ? 1 : -1;
  uint32_t steps = static_cast<uint32_t>(t.walked < 0 ? -t.walked : t.walked);
  return steps <= maxPages(t) ? true : fail(IDX_ERR_DAMAGED);
}

bool IndexFile::readPage(Tree& t, uint32_t pageNo, IndexPage& page)
{
  const uint8_t* p = t.io.data();
  const Dirty* changed = nullptr;
  for (const Dirty& d : dirty_)
    if (d.pageNo == pageNo) changed = &d;
  if (page.entries.size() != t.order + 2u || page.keyLength != t.keyLength) page.reset(t.keyLength, t.order);
  if (!changed) {
    auto held = t.held.find(pageNo);
    if (held != t.held.end()) {
      page.copyFrom(held->second);
      return true;
    }
    auto cached = t.cache.find(pageNo);
    if (cached != t.cache.end()) {
      page.copyFrom(cached->second);
      return true;
    }
  }
  if (changed) {
    // A damaged file can name one page from two trees.
    if (changed->size != t.pageSize) return fail(IDX_ERR_DAMAGED);
    p = images_.data() + changed->offset;
  } else {
    if (pageNo < IDX_HEADER_AREA || pageNo > fileSize_ || fileSize_ - pageNo < t.pageSize) {
      // Another process may have grown the file since it was measured.
      uint32_t size = file_.size();
      if (size != 0xFFFFFFFFu && size <= 0x7FFFFFFFu) fileSize_ = size;
      if (pageNo < IDX_HEADER_AREA || pageNo > fileSize_ || fileSize_ - pageNo < t.pageSize)
        return fail(IDX_ERR_DAMAGED);
    }
    uint32_t got = 0;
    if (file_.readAt(pageNo, t.pageSize, t.io.data(), &got) != 0 || got != t.pageSize) return fail(IDX_ERR_IO);
  }
  uint16_t c = get16(p);
  if (c < 1 || c > t.order) return fail(IDX_ERR_DAMAGED);
  page.count = c;
  page.next = get32(p + 4);
  page.prev = get32(p + 8);
  page.entries[0].child = get32(p + 12);
  bool leaf = page.entries[0].child == IDX_NO_PAGE;
  for (int k = 1; k <= c; ++k) {
    page.entries[k].position = get32(p + 16 + 8 * (k - 1));
    page.entries[k].child = get32(p + 20 + 8 * (k - 1));
    if ((page.entries[k].child == IDX_NO_PAGE) != leaf) return fail(IDX_ERR_DAMAGED);
  }
  std::memcpy(page.keys.data(), p + 16 + 8 * c, static_cast<size_t>(c) * t.keyLength);
  for (int k = 1; k <= c; ++k) page.key(k)[t.keyLength - 1] = 0;
  // Internal pages are few and met by every descent: they are kept.
  if (!leaf && !changed && t.cache.size() < CACHED_PAGES) {
    IndexPage& kept = t.cache[pageNo];
    kept.reset(t.keyLength, t.order);
    kept.copyFrom(page);
  }
  return true;
}

const uint8_t* IndexFile::encodePage(Tree& t, const IndexPage& page)
{
  uint8_t* p = t.io.data();
  std::memset(p, 0, t.pageSize);
  put16(p, page.count);
  put32(p + 4, page.next);
  put32(p + 8, page.prev);
  put32(p + 12, page.entries[0].child);
  for (int k = 1; k <= page.count; ++k) {
    put32(p + 16 + 8 * (k - 1), page.entries[k].position);
    put32(p + 20 + 8 * (k - 1), page.entries[k].child);
  }
  std::memcpy(p + 16 + 8 * page.count, page.keys.data(), static_cast<size_t>(page.count) * t.keyLength);
  return p;
}

bool IndexFile::writeHeld()
{
  std::vector<uint32_t>& order = heldOrder_;
  for (Tree& t : trees_) {
    order.clear();
    for (const auto& h : t.held) order.push_back(h.first);
    // In file order, so the writes run along the file.
    std::sort(order.begin(), order.end());
    for (uint32_t pageNo : order)
      if (file_.writeAt(pageNo, t.pageSize, encodePage(t, t.held[pageNo])) != 0) return fail(IDX_ERR_IO);
    t.held.clear();
  }
  heldCount_ = 0;
  return true;
}

bool IndexFile::writePage(Tree& t, uint32_t pageNo, const IndexPage& page)
{
  t.cache.erase(pageNo);
  if (pageNo >= freshFrom_ && batch_) {
    // A batch keeps its new pages until its commit (or until they are many).
    grew_ = true;
    IndexPage& kept = t.held[pageNo];
    if (kept.entries.size() != t.order + 2u) {
      kept.reset(t.keyLength, t.order);
      ++heldCount_;
    }
    kept.copyFrom(page);
    return heldCount_ < HELD_PAGES || writeHeld();
  }
  const uint8_t* p = encodePage(t, page);
  if (pageNo >= freshFrom_) {
    grew_ = true;
    return file_.writeAt(pageNo, t.pageSize, p) == 0 ? true : fail(IDX_ERR_IO);
  }
  for (const Dirty& d : dirty_)
    if (d.pageNo == pageNo) {
      if (d.size != t.pageSize) return fail(IDX_ERR_DAMAGED);
      std::memcpy(images_.data() + d.offset, p, t.pageSize);
      return true;
    }
  if (dirty_.size() == static_cast<size_t>(IDX_PENDING_MAX) && !commit()) return false;
  dirty_.push_back({pageNo, t.pageSize, static_cast<uint32_t>(images_.size())});
  images_.insert(images_.end(), p, p + t.pageSize);
  return true;
}

bool IndexFile::appendPage(Tree& t, uint32_t* pageNo)
{
  int32_t old = file_.grow(t.pageSize);
  if (old < static_cast<int32_t>(IDX_HEADER_AREA)) return fail(IDX_ERR_IO);
  *pageNo = static_cast<uint32_t>(old);
  fileSize_ = static_cast<uint32_t>(old) + t.pageSize;
  return true;
}

bool IndexFile::placeCursor(Tree& t, uint32_t pageNo, const IndexPage& page, int pos)
{
  if (&page != &t.cursorPage) t.cursorPage.copyFrom(page);
  t.cursorPageNo = pageNo;
  t.cursorPos = pos;
  return true;
}

bool IndexFile::insertAt(Tree& t, IndexPage& page, uint32_t pageNo, int at, uint32_t position,
                         uint32_t child, const char* key, bool leaf, Promotion& up)
{
  const size_t kl = t.keyLength;
  int c = page.count;
  for (int k = c; k >= at; --k) page.entries[k + 1] = page.entries[k];
  std::memmove(page.key(at + 1), page.key(at), (c - at + 1) * kl);
  page.entries[at] = {position, child};
  std::memcpy(page.key(at), key, kl);
  page.count = static_cast<uint16_t>(++c);
  up.split = false;
  if (c <= t.order) {
    if (!writePage(t, pageNo, page)) return false;
    if (leaf) placeCursor(t, pageNo, page, at);
    return true;
  }
  const int m = t.half + 1;  // the promoted entry
  uint32_t newNo;
  if (!appendPage(t, &newNo)) return false;
  IndexPage& right = t.spare;
  right.count = static_cast<uint16_t>(c - m);
  right.entries[0].child = leaf ? IDX_NO_PAGE : page.entries[m].child;
  for (int j = 1; j <= right.count; ++j) right.entries[j] = page.entries[m + j];
  std::memcpy(right.key(1), page.key(m + 1), right.count * kl);
  up.split = true;
  up.position = page.entries[m].position;
  up.child = newNo;
  up.key.assign(page.key(m), page.key(m) + kl);
  uint32_t oldNext = page.next;
  if (leaf) {
    right.next = oldNext;
    right.prev = pageNo;
    page.next = newNo;
  } else {
    right.next = right.prev = IDX_NO_PAGE;
  }
  page.count = static_cast<uint16_t>(leaf ? m : m - 1);
  if (!writePage(t, newNo, right)) return false;
  if (!writePage(t, pageNo, page)) return false;
  if (leaf) {
    if (oldNext != IDX_NO_PAGE) {
      if (!readPage(t, oldNext, t.neighbour)) return false;
      t.neighbour.prev = newNo;
      if (!writePage(t, oldNext, t.neighbour)) return false;
    } else {
      t.lastLeaf = newNo;
    }
    if (at <= m)
      placeCursor(t, pageNo, page, at);
    else
      placeCursor(t, newNo, right, at - m);
  }
  return true;
}

int IndexFile::searchLeaf(Tree& t, IndexPage& page, uint32_t pageNo, bool insert, const char* key,
                          uint32_t position, Promotion& up)
{
  uint32_t steps = 0;
  int b, k;
  for (;;) {
    k = firstNotSmaller(page, key);
    b = k - 1;
    // Off the right end with a next leaf: a split whose parent was never
    // written left these keys there.
    if (k <= page.count || page.next == IDX_NO_PAGE) break;
    if (++steps > maxPages(t)) return fail(IDX_ERR_DAMAGED), 0;
    pageNo = page.next;
    if (!readPage(t, pageNo, page)) return 0;
    if (!page.isLeaf()) return fail(IDX_ERR_DAMAGED), 0;
  }
  if (insert) return insertAt(t, page, pageNo, b + 1, position, IDX_NO_PAGE, key, true, up) ? 1 : 0;
  t.walked = 0;
  if (k <= page.count) {
    placeCursor(t, pageNo, page, k);
    return std::strcmp(key, page.key(k)) == 0 ? 3 : 4;
  }
  placeCursor(t, pageNo, page, page.count);
  return 5;
}

int IndexFile::descend(Tree& t, uint32_t pageNo, int depth, bool insert, const char* key,
                       uint32_t position, Promotion& up)
{
  if (pageNo == IDX_NO_PAGE) {
    if (!insert) return 5;
    up.split = true;
    up.position = position;
    up.child = IDX_NO_PAGE;
    up.key.assign(key, key + t.keyLength);
    return 1;
  }
  if (depth > MAX_DEPTH) return fail(IDX_ERR_DAMAGED), 0;
  IndexPage& page = t.levels[depth];
  if (!readPage(t, pageNo, page)) return 0;
  if (page.isLeaf()) return searchLeaf(t, page, pageNo, insert, key, position, up);
  int b = firstNotSmaller(page, key) - 1;
  int r = descend(t, page.entries[b].child, depth + 1, insert, key, position, up);
  if (!insert || r == 0 || !up.split) return r;
  Promotion child = std::move(up);
  return insertAt(t, page, pageNo, b + 1, child.position, child.child, child.key.data(), false, up) ? 1 : 0;
}

bool IndexFile::insert(const char* const* keys, uint32_t position)
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  if (batch_) {
    // Room in the record for what one more insert can change in place.
    if (dirty_.size() + static_cast<size_t>(count_) * 8 > static_cast<size_t>(IDX_PENDING_MAX) && !commit())
      return false;
  } else {
    // Another writer may have added pages since this one last looked.
    uint32_t size = file_.size();
    if (size == 0xFFFFFFFFu || size > 0x7FFFFFFFu || size < IDX_HEADER_AREA) return fail(IDX_ERR_IO);
    fileSize_ = freshFrom_ = size;
  }
  bool ok = true;
  try {
    for (int i = 0; ok && i < count_; ++i) {
      Tree& t = trees_[i];
      storeKey(t.key.data(), keys[i], t.keyLength);
      Promotion& up = t.up;
      up.split = false;
      if (descend(t, t.root, 0, true, t.key.data(), position, up) == 0) {
        ok = false;
        break;
      }
      if (!up.split) continue;
      uint32_t newRoot;
      if (!appendPage(t, &newRoot)) {
        ok = false;
        break;
      }
      IndexPage& root = t.levels[0];
      root.reset(t.keyLength, t.order);
      root.count = 1;
      root.entries[0].child = t.root;
      root.entries[1] = {up.position, t.root == IDX_NO_PAGE ? IDX_NO_PAGE : up.child};
      std::memcpy(root.key(1), up.key.data(), t.keyLength);
      if (!writePage(t, newRoot, root)) {
        ok = false;
        break;
      }
      if (t.root == IDX_NO_PAGE) {
        t.firstLeaf = t.lastLeaf = newRoot;
        placeCursor(t, newRoot, root, 1);
      }
      t.root = newRoot;
    }
  } catch (const std::bad_alloc&) {
    error_ = IDX_ERR_MEMORY;
    ok = false;
  }
  if (ok) {
    ++records_;
    return batch_ || commit();
  }
  int failure = error_ ? error_ : IDX_ERR_IO;
  if (!batch_) {
    // Alone, a failed insert leaves the file as the last commit did (the
    // pages it added are named by nothing), so it needs no room to undo.
    abandon();
  } else {
    // In a batch what the failed index changed waits with the rest, as the
    // indexes before it do, and its record is marked deleted. It counts, so an
    // index holding entries never counts none.
    ++records_;
  }
  return fail(failure);
}

bool IndexFile::beginBatch()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  uint32_t size = file_.size();
  if (size == 0xFFFFFFFFu || size > 0x7FFFFFFFu || size < IDX_HEADER_AREA) return fail(IDX_ERR_IO);
  fileSize_ = freshFrom_ = size;
  batch_ = true;
  return true;
}

bool IndexFile::commitPending()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  return (dirty_.empty() && !grew_) || commit();
}

bool IndexFile::endBatch()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  batch_ = false;
  // Nothing changed since the last commit (one in steps, or after a failed
  // insert): nothing to write, so nothing that can fail.
  return (dirty_.empty() && !grew_) || commit();
}

int IndexFile::seek(const char* key)
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN), 0;
  Tree& t = trees_[current_];
  storeKey(t.key.data(), key, t.keyLength);
  switch (descend(t, t.root, 0, false, t.key.data(), 0, t.up)) {
  case 3: return 1;
  case 4: return 3;
  case 5: return -1;
  default: return 0;
  }
}

int IndexFile::first()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN), 0;
  Tree& t = trees_[current_];
  if (records_ == 0 || t.firstLeaf == IDX_NO_PAGE) return -1;
  if (!readPage(t, t.firstLeaf, t.cursorPage)) return 0;
  if (!t.cursorPage.isLeaf()) return fail(IDX_ERR_DAMAGED), 0;
  t.walked = 0;
  placeCursor(t, t.firstLeaf, t.cursorPage, 1);
  return 1;
}

int IndexFile::last()
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN), 0;
  Tree& t = trees_[current_];
  if (records_ == 0 || t.lastLeaf == IDX_NO_PAGE) return -1;
  uint32_t pageNo = t.lastLeaf;
  t.walked = 0;
  t.cursorPos = 0;
  for (;;) {
    if (!readPage(t, pageNo, t.cursorPage)) return 0;
    if (!t.cursorPage.isLeaf()) return fail(IDX_ERR_DAMAGED), 0;
    // A split of the last leaf whose header was never written.
    if (t.cursorPage.next == IDX_NO_PAGE) break;
    if (!stepLimit(t, 1)) return 0;
    pageNo = t.cursorPage.next;
  }
  t.walked = 0;
  placeCursor(t, pageNo, t.cursorPage, t.cursorPage.count);
  return 1;
}

int IndexFile::move(int direction)
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN), 0;
  Tree& t = trees_[current_];
  if (t.cursorPos == 0) return -1;
  IndexPage& cur = t.cursorPage;
  // Keys never fall along the walk: a chain damaged into a ring (by writers
  // that did not exclude each other) falls somewhere, and ends with an error
  // there instead of going round for ever.
  if (direction > 0) {
    if (t.cursorPos < cur.count) {
      if (std::strcmp(cur.key(t.cursorPos + 1), cur.key(t.cursorPos)) < 0) return fail(IDX_ERR_DAMAGED), 0;
      return ++t.cursorPos, 1;
    }
    if (cur.next == IDX_NO_PAGE) return -1;
    if (!stepLimit(t, 1)) return 0;
    uint32_t nextNo = cur.next;
    if (!readPage(t, nextNo, t.spare)) return 0;
    if (!t.spare.isLeaf()) return fail(IDX_ERR_DAMAGED), 0;
    if (t.spare.count > 0 && cur.count > 0 && std::strcmp(t.spare.key(1), cur.key(cur.count)) < 0)
      return fail(IDX_ERR_DAMAGED), 0;
    std::swap(t.cursorPage, t.spare);
    t.cursorPageNo = nextNo;
    t.cursorPos = 1;
    return 1;
  }
  if (t.cursorPos > 1) {
    if (std::strcmp(cur.key(t.cursorPos - 1), cur.key(t.cursorPos)) > 0) return fail(IDX_ERR_DAMAGED), 0;
    return --t.cursorPos, 1;
  }
  if (cur.prev == IDX_NO_PAGE) return -1;
  if (!stepLimit(t, -1)) return 0;
  uint32_t prevNo = cur.prev;
  if (!readPage(t, prevNo, t.spare) || !t.spare.isLeaf()) return error_ ? 0 : (fail(IDX_ERR_DAMAGED), 0);
  // A split whose writer died before it rewrote this page's back link leaves
  // the link on the page the new pages were split from, and later splits of
  // those pages can add more: the page before this one is the last of the
  // forward chain from there that names this page.
  for (uint32_t hops = 0; t.spare.next != t.cursorPageNo; ++hops) {
    const uint32_t between = t.spare.next;
    if (between == IDX_NO_PAGE || hops >= maxPages(t) || !readPage(t, between, t.neighbour))
      return error_ ? 0 : (fail(IDX_ERR_DAMAGED), 0);
    if (!t.neighbour.isLeaf()) return fail(IDX_ERR_DAMAGED), 0;
    std::swap(t.spare, t.neighbour);
    prevNo = between;
  }
  if (t.spare.count > 0 && cur.count > 0 && std::strcmp(t.spare.key(t.spare.count), cur.key(1)) > 0)
    return fail(IDX_ERR_DAMAGED), 0;
  std::swap(t.cursorPage, t.spare);
  t.cursorPageNo = prevNo;
  t.cursorPos = t.cursorPage.count;
  return 1;
}

const char* IndexFile::currentKey() const
{
  if (!open_) return nullptr;
  const Tree& t = trees_[current_];
  return t.cursorPos == 0 || records_ == 0 ? nullptr : t.cursorPage.key(t.cursorPos);
}

int IndexFile::current(char* key, uint32_t* position)
{
  if (!open_) return fail(IDX_ERR_NOT_OPEN), 0;
  Tree& t = trees_[current_];
  if (t.cursorPos == 0 || records_ == 0) return -1;
  if (key) std::memcpy(key, t.cursorPage.key(t.cursorPos), t.keyLength);
  if (position) *position = t.cursorPage.entries[t.cursorPos].position;
  return 1;
}

void IndexFile::cursor(uint32_t* page, int* pos) const
{
  const Tree& t = trees_[current_];
  *page = t.cursorPageNo;
  *pos = t.cursorPos;
}

bool IndexFile::setCursor(uint32_t page, int pos)
{
  error_ = 0;
  if (!open_) return fail(IDX_ERR_NOT_OPEN);
  Tree& t = trees_[current_];
  t.walked = 0;
  if (pos == 0 || page == IDX_NO_PAGE) {
    t.cursorPos = 0;
    return true;
  }
  if (!readPage(t, page, t.cursorPage)) return false;
  if (!t.cursorPage.isLeaf() || pos > t.cursorPage.count) return fail(IDX_ERR_DAMAGED);
  t.cursorPageNo = page;
  t.cursorPos = pos;
  return true;
}
