// The file-backed database on a disk that fills up: an import answers
// success exactly when a fresh open of the database finds the certificate
// (and a CRL update exactly when the store then holds it). Every write and
// sync of one import fails in turn through the file layer's fault hook; then
// a small tmpfs is mounted and a filler file keeps a set amount of it free
// before each import (skipped where mounting is not allowed).
#include "dbtaltestutil.h"
#include "platform/fileio.h"
#include "store/dbcrltal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

// An 8 MiB tmpfs of its own, unmounted at the end whatever happens; in a
// mount namespace of the test's own where the system allows one, so even a
// crash leaves nothing mounted.
class SmallDisk {
 public:
  SmallDisk()
  {
    char templ[] = "/tmp/talvorin-fulldisk-XXXXXX";
    if (!::mkdtemp(templ)) {
      why = std::string("no scratch folder: ") + std::strerror(errno);
      return;
    }
    dir = templ;
    if (::unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8m") != 0) {
      why = std::string("mounting a tmpfs is not allowed here (") + std::strerror(errno) +
            "); run as root or with CAP_SYS_ADMIN";
      return;
    }
    mounted = true;
    filler = ::open((dir + "/filler").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  ~SmallDisk()
  {
    if (filler >= 0) ::close(filler);
    if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
    if (!dir.empty()) ::rmdir(dir.c_str());
  }
  bool ready() const { return mounted && filler >= 0; }
  const std::string& skipReason() const { return why; }
  std::string path(const std::string& name) const { return dir + "/" + name; }

  // Grows or shrinks the filler so that `bytes` (whole pages) stay free.
  bool leave(uint64_t bytes)
  {
    struct statvfs s;
    struct stat f;
    if (::fstatvfs(filler, &s) != 0 || ::fstat(filler, &f) != 0) return false;
    int64_t free = static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
    int64_t size = f.st_size + free - static_cast<int64_t>(bytes);
    if (size < 0) size = 0;
    if (size <= f.st_size) return ::ftruncate(filler, size) == 0;
    return ::fallocate(filler, 0, 0, size) == 0;
  }

 private:
  std::string dir, why;
  bool mounted = false;
  int filler = -1;
};

// A record of the size of a real certificate, with every key of its own.
bool importOne(DbCrtBase& crt, uint32_t id, bool batch)
{
  DbDnFieldList fields{{'c', "PL"}, {'o', "ORG " + std::to_string(id % 13)}, {'n', "NAME " + std::to_string(id)}};
  try {
    std::unique_ptr<DbCrtBatch> together(batch ? new DbCrtBatch(&crt) : nullptr);
    crt.insertCert(hashOf(id, 1), hashOf(id, 2), hashOf(id, 3), hashOf(id, 4),
                   "user" + std::to_string(id) + "@example.com", derOf(id, 900 + id % 700), fields, id % 5 == 0);
    if (together) together->commit();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// CRLs of a few pages each.
DbBytes crlBytes(int n) { return derOf(1000000 + static_cast<uint32_t>(n), 2000 + 3000 * (n % 4)); }

// How many ways a fresh open finds certificate id, once: by serial, subject,
// key identifier and certificate hash, and by a subject field.
int timesFound(const std::string& dir, uint32_t id)
{
  auto db = openDb(dir);
  DbCrtBase& crt = *db->crt();
  DbCertList lists[5];
  crt.findBySerNumHash(lists[0], hashOf(id, 1));
  crt.findBySbjDnHash(lists[1], hashOf(id, 2));
  crt.findByKeyIdHash(lists[2], hashOf(id, 4));
  crt.findByCertHash(lists[3], hashOf(id, 3));
  crt.findBySbjDnFld(lists[4], 'n', "NAME " + std::to_string(id));
  int n = 0;
  for (const DbCertList& l : lists) n += l.size() == 1 && l[0].der == derOf(id, 900 + id % 700);
  return n;
}

// Fails the write or sync numbered failAt (counted from when it is armed),
// or with g_onwards that one and every later one, as a disk that stays full.
long g_step = 0, g_failAt = 0;
bool g_onwards = false;
bool failNth() { return g_failAt != 0 && (++g_step == g_failAt || (g_onwards && g_step > g_failAt)); }

// A scratch database folder where syncs cost nothing when the system has a
// memory file system (they are many here), else under /tmp; removed with its
// "-start" copy at the end of the test, however it ends.
struct FastScratch {
  explicit FastScratch(const std::string& what)
  {
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir = base + "/talvorin-fulldisk-" + std::to_string(::getpid()) + "-" + what;
    clear();
  }
  ~FastScratch() { clear(); }
  void clear() const { std::system(("rm -rf '" + dir + "' '" + dir + "-start'").c_str()); }
  std::string dir;
};

struct FailNth {
  explicit FailNth(long n, bool onwards = false)
  {
    g_step = 0;
    g_failAt = n;
    g_onwards = onwards;
    platform::setFileFault(failNth);
  }
  ~FailNth() { platform::setFileFault(nullptr); }
  bool hit() const { return g_step >= g_failAt; }
};

// Every write and sync of an import fails in turn, on both roads and into
// tables that hold records already: the answer matches what a fresh open
// finds, and the database takes the certificate once the disk works again.
TEST(DbFullDisk, EachFailedWriteOfAnImportLeavesTheAnswerTrue)
{
  const FastScratch scratch("faults");
  const std::string dir = scratch.dir, start = dir + "-start";
  {
    auto db = openDb(start, true);
    for (uint32_t id = 0; id < 3; ++id) ASSERT_TRUE(importOne(*db->crt(), id, false));
  }
  for (int batch = 0; batch < 2; ++batch) {
    bool hit = true;
    int refused = 0;
    for (long n = 1; hit; ++n) {
      std::system(("rm -rf '" + dir + "' && cp -r '" + start + "' '" + dir + "'").c_str());
      bool answered;
      {
        auto db = openDb(dir);
        FailNth fault(n);
        answered = importOne(*db->crt(), 10, batch == 1);
        hit = fault.hit();
      }
      refused += !answered;
      SCOPED_TRACE("write " + std::to_string(n) + (batch ? " of a batch" : " of a single insert"));
      ASSERT_EQ(answered ? 5 : 0, timesFound(dir, 10));
      for (uint32_t id = 0; id < 3; ++id) ASSERT_EQ(5, timesFound(dir, id));
      if (!answered) {
        auto db = openDb(dir);
        ASSERT_TRUE(importOne(*db->crt(), 10, batch == 1));
        ASSERT_EQ(5, timesFound(dir, 10));
      }
    }
    EXPECT_GT(refused, 5);
  }
}

// A batch of certificates large enough that their records go to the disk before its end (as a
// large import through the C API does): the imports stop at the first failure, and those before
// it are stored exactly when the batch then ends without an error (what the C API counts); the
// failed one and the rest never are. Answers how many were imported and kept.
const uint32_t BATCH = 6;

void importBatch(const std::string& dir, uint32_t& imported, uint32_t& kept)
{
  auto db = openDb(dir);
  DbCrtBatch together(db->crt());
  imported = 0;
  try {
    for (; imported < BATCH; ++imported) {
      DbDnFieldList fields{{'c', "PL"}, {'n', "NAME " + std::to_string(imported)}};
      db->crt()->insertCert(hashOf(imported, 1), hashOf(imported, 2), hashOf(imported, 3), hashOf(imported, 4), "",
                            derOf(imported, 300000 + imported), fields, false);
    }
  } catch (const std::exception&) {
  }
  try {
    together.commit();
    kept = imported;
  } catch (const std::exception&) {
    kept = 0;
  }
}

void expectKept(const std::string& dir, uint32_t imported, uint32_t kept)
{
  auto db = openDb(dir);
  for (uint32_t id = 0; id < BATCH; ++id) {
    DbCertList list;
    db->crt()->findBySerNumHash(list, hashOf(id, 1));
    db->crt()->findByCertHash(list, hashOf(id, 3));
    EXPECT_EQ(id < kept ? 2u : 0u, list.size()) << "certificate " << id << ", " << imported << " imported";
  }
}

TEST(DbFullDisk, AFailedImportInABatchKeepsThoseBeforeItExactlyWhenTheBatchEnds)
{
  const FastScratch scratch("batch");
  const std::string& dir = scratch.dir;
  int partly = 0;
  for (long n = 1, hit = 1; hit; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    std::system(("rm -rf '" + dir + "'").c_str());
    openDb(dir, true);
    uint32_t imported, kept;
    {
      FailNth fault(n);
      importBatch(dir, imported, kept);
      hit = fault.hit();
    }
    partly += kept > 0 && kept < BATCH;
    expectKept(dir, imported, kept);
  }
  EXPECT_GT(partly, 0);
}

// The same for a CRL update: the index and the new CRL as the answer says.
TEST(DbFullDisk, EachFailedWriteOfACrlUpdateLeavesTheAnswerTrue)
{
  const FastScratch scratch("crlfaults");
  const std::string& dir = scratch.dir;
  bool hit = true;
  int refused = 0;
  for (long n = 1; hit; ++n) {
    std::system(("rm -rf '" + dir + "'").c_str());
    auto db = openDb(dir, true);
    DbBytes before;
    for (int k = 0; k < 3; ++k) {
      DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
      db->crl()->getCrlIndex(before, guard);
      std::vector<int> numbers;
      for (int i = 0; i <= k; ++i) numbers.push_back(i);
      db->crl()->insertCrl(indexOf(numbers), crlBytes(k), k, -1);
    }
    const DbBytes index = indexOf({0, 1, 2, 3});
    bool answered = true;
    // The disk stays full, through the fresh open that looks too.
    FailNth fault(n, true);
    {
      DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
      db->crl()->getCrlIndex(before, guard);
      g_step = 0;
      try {
        db->crl()->insertCrl(index, crlBytes(3), 3, 0);
      } catch (const std::exception&) {
        answered = false;
      }
      hit = fault.hit();
    }
    refused += !answered;
    SCOPED_TRACE("write " + std::to_string(n));
    auto fresh = openDb(dir);
    DbBytes now;
    DbCrlGuard guard(InterProcessLock::SHARED);
    fresh->crl()->getCrlIndex(now, guard);
    guard.release();
    ASSERT_EQ(answered ? index : before, now);
    std::vector<DbBytes> all;
    fresh->crl()->readAll(all);
    EXPECT_EQ(3u, all.size());
    EXPECT_EQ(answered, std::find(all.begin(), all.end(), crlBytes(3)) != all.end());
    EXPECT_EQ(!answered, std::find(all.begin(), all.end(), crlBytes(0)) != all.end());
  }
  EXPECT_GT(refused, 3);
}

// An update cut short by a crash while it wrote its new files leaves them under temporary
// names: the next update removes the store's own, and no other file of the folder.
TEST(DbFullDisk, ACrlUpdateRemovesTheTemporaryFilesOfOneCutShort)
{
  const FastScratch scratch("crltemps");
  const std::string& dir = scratch.dir;
  auto db = openDb(dir, true);
  const char* const left[] = {"crl_idx.asn.tmp-1-1", "crl_idx.chk.tmp-1-2", "0.crl.tmp-1-3", "0.chk.tmp-1-4"};
  for (const char* name : left) ASSERT_TRUE(platform::replaceFileContent((dir + "/" + name).c_str(), "x", 1));
  const std::string other = dir + "/notes.txt.tmp-1-5";
  ASSERT_TRUE(platform::replaceFileContent(other.c_str(), "x", 1));
  {
    DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
    DbBytes index;
    db->crl()->getCrlIndex(index, guard);
    db->crl()->insertCrl(indexOf({0}), crlBytes(0), 0, -1);
  }
  for (const char* name : left) EXPECT_FALSE(platform::pathExists((dir + "/" + name).c_str())) << name;
  EXPECT_TRUE(platform::pathExists(other.c_str()));
}

TEST(DbFullDisk, AnImportAnswersSuccessExactlyWhenTheCertificateIsStored)
{
  SmallDisk disk;
  if (!disk.ready()) GTEST_SKIP() << disk.skipReason();
  const std::string dir = disk.path("db");
  openDb(dir, true);
  int stored = 0, refused = 0, wrong = 0;
  // Free space from none to six pages, so the disk fills at every write of an
  // import by turns; both roads: one certificate in a batch (as the C API
  // imports) and a single insert.
  const uint32_t imports = 900;
  for (uint32_t id = 0; id < imports; ++id) {
    ASSERT_TRUE(disk.leave(4096u * (id % 7))) << id;
    bool answered;
    {
      auto db = openDb(dir);
      answered = importOne(*db->crt(), id, id % 2 == 0);
    }
    int found = -1;
    std::string search;
    try {
      found = timesFound(dir, id);
    } catch (const std::exception& e) {
      search = e.what();
    }
    if (found != (answered ? 5 : 0) && ++wrong <= 3)
      ADD_FAILURE() << "certificate " << id << (answered ? " stored" : " refused") << ", found " << found
                    << " ways " << search;
    answered ? ++stored : ++refused;
  }
  EXPECT_EQ(0, wrong) << "answers that differ from the disk, of " << imports;
  // Both outcomes were met many times.
  EXPECT_GT(stored, 50);
  EXPECT_GT(refused, 50);
  // With room again, a certificate refused before goes in whole.
  ASSERT_TRUE(disk.leave(2u << 20));
  for (uint32_t id = 0; id < 900; ++id) {
    if (timesFound(dir, id) != 0) continue;
    auto db = openDb(dir);
    ASSERT_TRUE(importOne(*db->crt(), id, true));
    EXPECT_EQ(5, timesFound(dir, id));
    EXPECT_EQ(0, db->verify());
    break;
  }
}

TEST(DbFullDisk, ACrlUpdateAnswersSuccessExactlyWhenTheStoreHoldsIt)
{
  SmallDisk disk;
  if (!disk.ready()) GTEST_SKIP() << disk.skipReason();
  const std::string dir = disk.path("db");
  openDb(dir, true);
  int stored = 0, refused = 0, wrong = 0;
  const int rounds = 300;
  for (int round = 0; round < rounds; ++round) {
    ASSERT_TRUE(disk.leave(4096u * (round % 8))) << round;
    auto db = openDb(dir);
    int32_t newest = -1;
    bool answered = true;
    DbBytes before, index;
    try {
      DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
      db->crl()->getCrlIndex(before, guard);
      ASSERT_TRUE(crlIndexNewestNumber(before, newest));
      std::vector<int> numbers;
      for (int n = 0; n <= newest + 1; ++n) numbers.push_back(n);
      index = indexOf(numbers);
      try {
        db->crl()->insertCrl(index, crlBytes(newest + 1), newest + 1, newest >= 2 ? newest - 2 : -1);
      } catch (const std::exception&) {
        answered = false;
      }
      guard.release();
    } catch (const std::exception& e) {
      FAIL() << "round " << round << ": " << e.what();
    }
    // A fresh open: the index as the answer says, and the new CRL there or not.
    bool right = false;
    try {
      auto fresh = openDb(dir);
      DbBytes now, crl;
      DbCrlGuard guard(InterProcessLock::SHARED);
      fresh->crl()->getCrlIndex(now, guard);
      guard.release();
      std::vector<DbBytes> all;
      fresh->crl()->readAll(all);
      bool held = std::find(all.begin(), all.end(), crlBytes(newest + 1)) != all.end();
      right = now == (answered ? index : before) && held == answered;
      if (right && answered) {
        fresh->crl()->getCrlByFileNum(newest + 1, crl);
        right = crl == crlBytes(newest + 1);
      }
    } catch (const std::exception&) {
    }
    if (!right && ++wrong <= 3) ADD_FAILURE() << "round " << round << (answered ? " stored" : " refused");
    answered ? ++stored : ++refused;
  }
  EXPECT_EQ(0, wrong) << "answers that differ from the disk, of " << rounds;
  EXPECT_GT(stored, 20) << refused << " refused";
  EXPECT_GT(refused, 20) << stored << " stored";
}

// The same batches on a disk that fills up part-way through them, from 64 KiB to 2 MiB free.
TEST(DbFullDisk, ABatchOnAFullDiskKeepsThoseBeforeTheFailureExactlyWhenItEnds)
{
  SmallDisk disk;
  if (!disk.ready()) GTEST_SKIP() << disk.skipReason();
  const std::string dir = disk.path("db");
  int none = 0, whole = 0;
  for (uint32_t free = 64u << 10; free <= 2u << 20; free += 64u << 10) {
    SCOPED_TRACE(std::to_string(free >> 10) + " KiB free");
    std::system(("rm -rf '" + dir + "'").c_str());
    openDb(dir, true);
    ASSERT_TRUE(disk.leave(free));
    uint32_t imported, kept;
    importBatch(dir, imported, kept);
    ASSERT_TRUE(disk.leave(4u << 20));
    none += kept == 0;
    whole += kept == BATCH;
    expectKept(dir, imported, kept);
  }
  EXPECT_GT(none, 0);
  EXPECT_GT(whole, 0);
}

}  // namespace
