// A table of the file-backed database: "<name>.dta" holds the records,
// "<name>.idx" indexes them. The table keeps a cursor per index and walks
// live records only; deleted records stay indexed and are stepped over.
// Every commit of the index first syncs the records, so an entry on the disk
// always names a record on the disk.
#pragma once

#include "store/db/datafile.h"
#include "store/db/indexfile.h"

#include <functional>
#include <string>

enum : int {
  TBL_ERR_INDEX = 1,
  TBL_ERR_DATA = 2,
};

class DbTable {
 public:
  DbTable();
  DbTable(const DbTable&) = delete;
  DbTable& operator=(const DbTable&) = delete;
  bool create(const char* name, int n, const IndexDescriptor* descriptors);
  bool open(const char* name);
  // Opens the table, making it first when neither half holds anything: a
  // crash while it was being made leaves at most empty halves, and they are
  // made anew. A half that holds records is never touched. The new halves are
  // made under other names and then take theirs, the index last, so a crash
  // here leaves such a state again. The caller holds the database exclusively.
  bool openOrCreate(const char* name, int n, const IndexDescriptor* descriptors);
  bool close();
  // For a table kept open between operations: takes in what other processes
  // wrote (see IndexFile::refresh); false when the index is damaged.
  bool refresh();
  bool isOpen() const { return index_.isOpen() && data_.isOpen(); }
  void setIndex(int i);

  bool insert(const char* const* keys, const uint8_t* data, uint32_t length, uint32_t* position);
  // Inserts from here to endBatch are made durable at once by endBatch (the
  // caller holds the database exclusively in between); closing the table
  // first drops what the batch has not committed.
  bool beginBatch();
  bool endBatch();
  // Commits what the batch holds so far and goes on with it.
  bool commitPending();
  // Runs first in every commit of this table, before its records are synced:
  // a table whose entries name another's records commits that one there.
  void setBeforeCommit(std::function<bool()> hook) { before_ = std::move(hook); }
  // 1 on a live record, -1 none, 0 error.
  int first();
  int last();
  // Over |n| live records; at an end the cursor returns where it was: -1.
  int skip(int n);
  // 1 equal key, 3 first greater key, -1 none as great (cursor on the last), 0 error.
  int find(const char* key);
  int data(KeyBufferArray* keys, std::vector<uint8_t>* out, uint32_t* length);
  int update(const uint8_t* data, uint32_t length);
  int deleteRec();
  // The record position under the cursor; -1 when it is deleted or none.
  int64_t recNo();
  // The key of the current index under the cursor as the index holds it, and
  // the record position, whether live or not; null / false when no position.
  const char* currentKey() const { return index_.currentKey(); }
  bool currentPosition(uint32_t* position) { return index_.current(nullptr, position) == 1; }
  int setRec(uint32_t position);

  int error() const { return error_; }
  int indexError() const { return index_.error(); }
  int dataError() const { return data_.error(); }
  IndexFile& indexFile() { return index_; }
  DataFile& dataFile() { return data_; }

 private:
  void clearErrors() { error_ = 0; }
  int fromIndex(int r);
  // From the index result r, steps in direction over deleted records: 1 on a
  // live one, -1 at an end, 0 error.
  int liveFrom(int r, int direction);
  // 1 live, 2 deleted, 0 error, for the entry under the index cursor.
  int entryState(uint32_t* position);

  std::string idxPath_, dtaPath_;
  std::vector<char> key_;  // the key of a find, cut as the index cuts it
  IndexFile index_;
  DataFile data_;
  std::function<bool()> before_;
  int error_ = 0;
};
