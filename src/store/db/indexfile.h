// The ".idx" file of a table: up to ten B+-trees in one file, each mapping a
// fixed-width NUL-terminated key to a 32-bit record position, leaves chained
// both ways, one cursor per tree. Pages are byte offsets; 0xFFFFFFFF is none.
//
// Internal pages, met by every descent, are kept in memory once read (at most
// 1024 per index); a page this object writes is dropped from them, and all
// are dropped when a refresh finds that another writer changed the header.
//
// The file is untrusted: every page is checked when it is read (inside the
// file, entry count within the order, leaf links), descents and walks are
// bounded, and a file that fails a check answers IDX_ERR_DAMAGED.
//
// Crash safety: pages added since the last commit are written at once, as
// nothing on the disk points at them yet; pages that were there before are
// changed in place only at a commit. Pages of 4096 bytes lie across two pages
// of the system's file cache, and a crash can leave one half new, so a commit
// (1) syncs the new pages, (2) writes the changed pages' images to a journal
// file ("<index>.jnl") and syncs it, (3) arms a record of them (with a
// checksum) in the header area and syncs it, (4) writes the images in place
// and the header (the roots), and syncs again: the commit point, (5) disarms
// the record. Whatever a crash or a power loss cuts, the next open (or refresh)
// finds either no record (nothing changed in place yet, or all of it on the
// disk) or an armed one whose images it writes again. A search that runs off
// the right end of a leaf continues in the next leaf, and a backward step that
// meets a half-linked page takes the page the forward chain names.
//
// An insert commits on its own; between beginBatch and endBatch inserts wait
// for one commit (a batch that changes more pages in place than a record can
// name commits in steps, each whole). An insert that fails alone (a full
// disk) leaves the file as the last commit did; in a batch what it changed
// waits with the rest.
#pragma once

#include "base/file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

constexpr uint32_t IDX_NO_PAGE = 0xFFFFFFFFu;
constexpr uint32_t IDX_MAGIC = 0x12344321u;
constexpr int IDX_MAX_INDEX = 10;
constexpr uint32_t IDX_HEADER_AREA = 2048;
constexpr uint32_t IDX_HEADER_SIZE = 248;
constexpr uint32_t IDX_PAGE_HEADER = 16;
// After the header, in the area the layout leaves free: the record of page
// images about to be written in place {u32 magic, u16 count, u16, u64
// checksum of the page list then the images, count x {u32 page, u32 size}}; magic 0 when none.
constexpr uint32_t IDX_PENDING_AT = IDX_HEADER_SIZE;
constexpr uint32_t IDX_PENDING_MAGIC = 0x4A504731u;
constexpr uint32_t IDX_PENDING_ENTRIES = IDX_PENDING_AT + 16;
constexpr int IDX_PENDING_MAX = static_cast<int>((IDX_HEADER_AREA - IDX_PENDING_ENTRIES) / 8);

// Last error of an index file.
enum : int {
  IDX_ERR_IO = 1,
  IDX_ERR_MEMORY = 2,
  IDX_ERR_NOT_OPEN = 3,
  IDX_ERR_DAMAGED = 4,  // bad magic or a structure that fails its check
};

// Little-endian fields of both files of a table.
namespace dbbytes {
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get32(const uint8_t* p)
{
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline void put16(uint8_t* p, uint16_t v)
{
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v)
{
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace dbbytes

struct IndexDescriptor {
  uint16_t keyLength;  // NUL included
  uint16_t pageSize;
};

// A checksum that tells bytes written whole from bytes a crash cut short;
// seed chains one range onto another.
uint64_t dbChecksum(const uint8_t* p, size_t n, uint64_t seed = 0x9E3779B97F4A7C15ull);

// The order of an index: entries that fit a page, rounded down to even.
uint16_t indexOrder(uint16_t keyLength, uint16_t pageSize);

// Copies a key into a slot of keyLength bytes: at most keyLength - 1 bytes,
// then NULs. Insert and query cut keys with this one bound.
void storeKey(char* slot, const char* key, uint16_t keyLength);

// One page in memory; entry 0 carries child 0, entries 1..count the rest.
struct IndexPage {
  struct Entry {
    uint32_t position;
    uint32_t child;
  };
  uint16_t keyLength = 0;
  uint16_t count = 0;
  uint32_t next = IDX_NO_PAGE;
  uint32_t prev = IDX_NO_PAGE;
  std::vector<Entry> entries;  // order + 2
  std::vector<char> keys;      // (order + 2) x keyLength; key k at (k - 1) x keyLength

  void reset(uint16_t keyLen, uint16_t order);
  // The used part of a page of the same index.
  void copyFrom(const IndexPage& other);
  char* key(int k) { return keys.data() + static_cast<size_t>(k - 1) * keyLength; }
  const char* key(int k) const { return keys.data() + static_cast<size_t>(k - 1) * keyLength; }
  bool isLeaf() const { return entries[0].child == IDX_NO_PAGE; }
};

class IndexFile {
 public:
  IndexFile();
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  bool create(const char* path, int n, const IndexDescriptor* descriptors);
  bool open(const char* path);
  bool close();
  // Takes in what other processes wrote since the last look (the header: roots
  // and record count; an insert a dead writer left armed is finished) and
  // drops the cursors. Called under the database lock before each operation
  // of an index kept open; false when the header changed shape (damaged).
  bool refresh();

  // One key per index, all for the same record position.
  bool insert(const char* const* keys, uint32_t position);
  // Inserts from here to endBatch are made durable together by endBatch; the
  // caller holds the database exclusively in between.
  bool beginBatch();
  bool endBatch();
  bool inBatch() const { return batch_; }
  // Commits what waits without ending a batch; nothing to do when nothing does.
  bool commitPending();
  // Runs first in every commit (the table syncs its records there, so an
  // entry never reaches the disk before the record it names).
  void setBeforeCommit(std::function<bool()> hook) { beforeCommit_ = std::move(hook); }

  void setIndex(int i);
  int index() const { return current_; }
  int indexCount() const { return count_; }
  uint32_t recordCount() const { return records_; }
  uint16_t keyLength(int i) const { return trees_[i].keyLength; }

  // 1 exact (first of equal keys), 3 on the first greater key, -1 every key
  // smaller (cursor on the last entry), 0 error.
  int seek(const char* key);
  int first();
  int last();
  // +1 forward, -1 backward; -1 past either end (cursor unchanged), 0 error.
  int move(int direction);
  // Copies the cursor's key (keyLength bytes) and position; -1 when no position.
  int current(char* key, uint32_t* position);
  // The cursor's key in place (NUL-terminated within the key length); null
  // when there is no position.
  const char* currentKey() const;

  // The cursor of the current index, to come back to it.
  void cursor(uint32_t* page, int* pos) const;
  bool setCursor(uint32_t page, int pos);

  int error() const { return error_; }
  bool isOpen() const { return open_; }

 private:
  // A page changed in place by the insert under way: its image waits in images_.
  struct Dirty {
    uint32_t pageNo, size, offset;
  };
  struct Promotion {
    bool split = false;
    uint32_t position = 0, child = IDX_NO_PAGE;
    std::vector<char> key;
  };

  struct Tree {
    uint32_t root = IDX_NO_PAGE, firstLeaf = IDX_NO_PAGE, lastLeaf = IDX_NO_PAGE;
    uint16_t keyLength = 0, pageSize = 0, order = 0, half = 0;
    IndexPage cursorPage;
    uint32_t cursorPageNo = IDX_NO_PAGE;
    int cursorPos = 0;
    int walked = 0;  // page steps in one direction since the last turn or placement
    std::vector<IndexPage> levels;  // one work page per depth of a descent
    IndexPage spare, neighbour;
    std::vector<uint8_t> io;
    std::vector<char> key;  // the key of the operation under way, cut to the slot
    Promotion up;
    std::unordered_map<uint32_t, IndexPage> cache;  // internal pages as last read
    std::unordered_map<uint32_t, IndexPage> held;   // new pages of a batch, not yet written
  };
  bool fail(int code);
  bool readHeader();
  // The fields of the header h: a fresh open takes the shape, a refresh
  // checks that it is unchanged.
  bool takeHeader(const uint8_t* h, bool fresh);
  // The header; an armed record is left as it is.
  bool writeHeader();
  // Writes again the images an armed record names when the journal holds
  // them whole, then disarms it; a journal that cannot be opened leaves the
  // record armed and answers damaged.
  bool recover(const uint8_t* area);
  bool readPage(Tree& t, uint32_t pageNo, IndexPage& page);
  // A page added since the last commit is written at once; one that was there
  // before waits for the commit.
  bool writePage(Tree& t, uint32_t pageNo, const IndexPage& page);
  // The page in the layout of the file, in t.io.
  const uint8_t* encodePage(Tree& t, const IndexPage& page);
  // Writes the new pages a batch holds; dropHeld forgets them.
  bool writeHeld();
  void dropHeld();
  // The waiting images through the journal, then the header.
  bool commit();
  // After a failed write: drops what waits and takes the header from the disk
  // again (finishing an armed record); false with an input/output error.
  bool abandon();
  bool openJournal();
  bool appendPage(Tree& t, uint32_t* pageNo);
  // Counts one page step of a walk; false (damaged) once a walk in one
  // direction has met more pages than the file can hold.
  bool stepLimit(Tree& t, int direction);
  uint32_t maxPages(const Tree& t) const;
  // Descends from pageNo; mode insert or search. Search results: 3 exact, 4
  // greater, 5 beyond; insert: 1, with a split handed up in up.
  int descend(Tree& t, uint32_t pageNo, int depth, bool insert, const char* key,
              uint32_t position, Promotion& up);
  int searchLeaf(Tree& t, IndexPage& page, uint32_t pageNo, bool insert, const char* key,
                 uint32_t position, Promotion& up);
  bool insertAt(Tree& t, IndexPage& page, uint32_t pageNo, int at, uint32_t position,
                uint32_t child, const char* key, bool leaf, Promotion& up);
  bool placeCursor(Tree& t, uint32_t pageNo, const IndexPage& page, int pos);

  File file_;
  File journal_;
  std::string journalPath_;
  std::vector<Dirty> dirty_;
  std::vector<uint8_t> images_;
  bool grew_ = false;  // new pages were written since the last commit
  uint32_t freshFrom_ = 0;  // the file's end at the last commit: pages from here are new
  bool batch_ = false;
  size_t heldCount_ = 0;
  std::vector<uint32_t> heldOrder_;
  std::function<bool()> beforeCommit_;
  bool open_ = false;
  int error_ = 0;
  int count_ = 0;
  int current_ = 0;
  uint32_t records_ = 0;
  uint16_t generation_ = 0;
  uint32_t fileSize_ = 0;
  std::vector<Tree> trees_;
};
