// The CRL store of the file-backed database: each CRL in its own file
// ("<n>.crl"), the DER index of them ("crl_idx.asn") that the CRL logic reads
// and rewrites whole, an 8-byte check file beside each ("<n>.chk",
// "crl_idx.chk") and ".bak" copies of the state before the last update.
// An update cut short (a missing index or check file, or a newest index item
// whose files are missing) is rolled back from the ".bak" copies when the
// index is next read, and bytes that fail their check when the next update
// begins; each rollback is noted in "crl_rollback_log.txt". A CRL file the
// index does not list (one an update replaced, left behind when the writer
// died before deleting it) is deleted by the first index read of each
// connection, by recover and when an update begins; so are the temporary
// files of the folder's replacements a killed writer left (see
// isDatabaseTemporary), under the exclusive lock, which every writer of
// them holds from writing one to renaming it. An update writes every
// new content before it changes a file, so one that fails for want of room
// leaves the store as it was, and a rollback takes no room (the copies go back
// as links). The files are untrusted: sizes are bounded and every decode is
// checked.
#pragma once

#include "store/dbbase.h"
#include "store/dblock.h"

#include <memory>
#include <string>

// The check bytes of data: three zeros, the length modulo 256, the last four
// bytes (zeros stand for missing bytes of data shorter than four).
std::array<uint8_t, 8> crlCheckBytes(const uint8_t* data, size_t length);

class DbCrlTal : public DbCrlBase {
 public:
  // Results of checking a file against its check file.
  enum { CHECK_EQUAL = 0, CHECK_DIFFERS = 1, CHECK_NO_CHECK_FILE = 2 };

  // directory ends with '/'; the lock is the database's and is not owned.
  DbCrlTal(const std::string& directory, InterProcessLock& lock);
  ~DbCrlTal() override;

  // Writes "crl_idx.asn" holding an empty index (no check file).
  void create();

  void readAll(std::vector<DbBytes>& out) override;
  void insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n,
                 int32_t removeNumber) override;
  // Before reading, a store left torn by a crash is restored (see above).
  void getCrlIndex(DbBytes& out, DbCrlGuard& guard) override;
  void getCrlByFileNum(int32_t n, DbBytes& out) override;
  void unlock() override;

  // Rolls back an update cut short and deletes unlisted CRL files (as
  // getCrlIndex does), under the lock.
  void recover();

  int check(const std::string& dataPath, const std::string& checkPath);
  // Logs the rollback of number p, deletes CRL file p and its check file, and
  // puts every ".bak" file back over the file it was made from (a link where
  // the file system has them, else a copy); temporary files of writes a crash
  // cut short go too.
  void restore(int32_t p);
  // Deletes the files of replacements never finished (a writer that died);
  // the caller holds the lock exclusively.
  void removeTemporaries();

  // Files larger than this are refused as damaged.
  static constexpr size_t MAX_FILE = 64u << 20;

 private:
  // recover with the lock held in the mode given; with sweep it also deletes
  // the CRL files the index does not list (see unlistedCrlFiles).
  void recoverHeld(bool exclusive, bool sweep);
  // The names of the folder's CRL files of this store's naming ("<n>.crl",
  // n decimal without leading zeros) whose number the index does not list;
  // none when the index is missing, undecodable or fails its check.
  std::vector<std::string> unlistedCrlFiles();
  // The folder's names that isDatabaseTemporary accepts.
  std::vector<std::string> temporaries();
  std::string crlPath(int32_t n, const char* extension) const;
  // True when an update was cut short: there is a ".bak" index to go back to,
  // and the index, its check file or the newest CRL or its check file is
  // missing; newest is the number of the index's newest item, or -1.
  bool isTorn(int32_t& newest);

  std::string directory;
  std::string indexPath, indexCheckPath;
  InterProcessLock& lock;
  std::unique_ptr<FileSemaphore> semaphore;
  // Whether this connection has looked for unlisted CRL files yet.
  bool swept = false;
};

// The items' file numbers of an encoded CRL index, in index order; false
// when the bytes are no index.
bool crlIndexNumbers(const DbBytes& indexDer, std::vector<int32_t>& numbers);
// The newest item's file number of an encoded CRL index, -1 when it has no
// items; false when the bytes are no index.
bool crlIndexNewestNumber(const DbBytes& indexDer, int32_t& number);
// The number n of a file name of the store's CRL files, "<n>.crl" with n in
// decimal without leading zeros; false for any other name.
bool crlFileNumber(const std::string& name, int32_t& number);
// Whether a file name of the database folder is a replacement's temporary
// ("<file>.tmp-<pid>-<counter>") of a file the database replaces whole under
// its exclusive lock: this store's ("crl_idx.asn", "crl_idx.chk", "<n>.crl",
// "<n>.chk" and their ".bak" copies), "imports.dat" and "version.txt". Not
// the lock file's ("db.lck.tmp-..."): it is made by a process that opens the
// lock and holds none, so a live one cannot be told from a stale one.
bool isDatabaseTemporary(const std::string& name);
