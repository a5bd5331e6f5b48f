// The ".dta" file of a table: a 48-byte header naming the indexes' key
// lengths, then records appended one after another and never moved. A record
// is {deleted flag, magic, length, capacity}, its keys over their full key
// lengths, then capacity bytes of data; its position is its byte offset.
// The file is untrusted: sizes are checked against the file before anything
// is read or allocated, and a record that fails its check answers error 4.
//
// Between beginBatch and endBatch appended records gather in memory and go to
// the file in large writes (reads see them); sync puts them on the disk. An
// update in place goes through a journal ("<data>.jnl": the bytes, where they
// go and a checksum, synced first), so a crash or power loss never leaves a
// value half written: the next open, or a refresh, writes a whole one again.
#pragma once

#include "base/file.h"
#include "store/db/indexfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t DTA_HEADER_SIZE = 48;
constexpr uint32_t DTA_RECORD_HEADER = 16;

// The data file answers the index file's error codes.
constexpr int DTA_ERR_IO = IDX_ERR_IO;
constexpr int DTA_ERR_MEMORY = IDX_ERR_MEMORY;
constexpr int DTA_ERR_NOT_OPEN = IDX_ERR_NOT_OPEN;
constexpr int DTA_ERR_DAMAGED = IDX_ERR_DAMAGED;

// Owns n key buffers, all null at first; each is freed with the array.
class KeyBufferArray {
 public:
  explicit KeyBufferArray(int n);
  int size() const { return static_cast<int>(buffers.size()); }
  char* operator[](int i) const;
  void set(int i, std::unique_ptr<char[]> buffer);

 private:
  std::vector<std::unique_ptr<char[]>> buffers;
};

class DataFile {
 public:
  DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  bool create(const char* path, int n, const IndexDescriptor* descriptors);
  bool open(const char* path);
  bool close();

  // The new record's position, 0 on error.
  uint32_t append(const char* const* keys, const uint8_t* data, uint32_t length);
  void beginBatch();
  // Writes what the batch appended (the index's commit syncs it).
  bool endBatch();
  // Writes what waits in memory and syncs the file.
  bool sync();
  // Syncs what the file holds, leaving what waits in memory: takes no new
  // space, so a change undone on a full disk (markDeleted) still reaches it.
  bool syncWritten();
  // Finishes an update a crash cut short (see above) when the table asked for
  // it with watchJournal (open always does); false when one is armed and
  // cannot be read or written back.
  bool refresh();
  void watchJournal() { watchJournal_ = true; }
  // 1 live, 2 deleted (nothing read unless acceptDeleted), 0 error. keys,
  // data and length may each be null.
  int read(uint32_t position, KeyBufferArray* keys, std::vector<uint8_t>* data, uint32_t* length,
           bool acceptDeleted = false);
  // Key i of a live record, NUL-terminated within its key length, in a buffer
  // of this object that the next read reuses; null when the record is deleted
  // (error 0) or cannot be read (the error set).
  const char* key(uint32_t position, int i);
  // 1 written, 2 deleted, 4 longer than the capacity (nothing written), 0 error.
  int update(uint32_t position, const uint8_t* data, uint32_t length);
  // Changes the flag where the record lies (in memory while it waits there),
  // so it takes no new space.
  bool markDeleted(uint32_t position);
  // 1 with the position of the first / following record, -1 at the end, 0 error.
  int firstPosition(uint32_t* position);
  int nextPosition(uint32_t position, uint32_t* next);

  // Forgets the record header kept from the last read (another process may
  // have changed the record since): called when a table is brought up to date.
  void forget() { known_ = false; }

  int indexCount() const { return count_; }
  uint16_t keyLength(int i) const { return keyLength_[i]; }
  bool isOpen() const { return open_; }
  int error() const { return error_; }

 private:
  struct RecordHeader {
    uint32_t deleted, length, capacity;
  };
  bool fail(int code);
  bool readRecordHeader(uint32_t position, RecordHeader& h);
  // Reads from the file or from the records waiting in memory.
  bool readBytes(uint32_t offset, uint32_t length, uint8_t* out);
  bool flushPending();
  // Cuts the file back to end after a failed write past it.
  void cutBack(uint32_t end);
  // Writes two ranges in place through the journal.
  bool writeJournaled(uint32_t offset1, uint32_t length1, const uint8_t* data1, uint32_t offset2,
                      uint32_t length2, const uint8_t* data2);
  // Writes back the ranges of an armed journal, then disarms it.
  bool refreshJournal();
  // True when length bytes from position lie inside the file.
  bool covers(uint32_t position, uint32_t length);

  File file_;
  std::string journalPath_;
  bool open_ = false;
  bool batch_ = false;
  bool watchJournal_ = false;
  std::vector<uint8_t> pending_;  // records appended in the batch, not yet written
  uint32_t pendingAt_ = 0;        // where the first of them goes
  int count_ = 0;
  uint16_t keyLength_[IDX_MAX_INDEX] = {};
  uint32_t keysTotal_ = 0;
  uint32_t size_ = 0;  // the file's size when last measured
  std::vector<uint8_t> keyBytes_;
  std::vector<uint8_t> recordBytes_;  // a record being appended
  // The header of the record read last, so that reading its data after its
  // state reads it once.
  bool known_ = false;
  uint32_t knownPosition_ = 0;
  RecordHeader knownHeader_{};
  int error_ = 0;
};
