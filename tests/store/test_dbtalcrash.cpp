// The file-backed database between processes: two writers at once, and a
// writer killed with SIGKILL at random points while it stores certificates
// and CRLs. After each kill the database opens, verifies, and gives back
// every record committed before the kill, whole. Rounds: 30 here, more with
// TALVORIN_CRASH_ROUNDS (1000 for the long run).
#include "dbtaltestutil.h"
#include "base/file.h"
#include "platform/fileio.h"
#include "store/dbcrltal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>

namespace {

// One committed step as the writer reports it through a pipe.
struct Report {
  char kind;  // 'C' certificate, 'R' CRL
  int32_t id;
};

void send(int fd, char kind, int32_t id)
{
  Report r{kind, id};
  if (::write(fd, &r, sizeof r) != sizeof r) _exit(3);
}

// Stores certificates from firstId on and, after every crlEvery-th one, a CRL;
// reports each step once it returned. With batch above 1 the certificates go
// in batches of that many, reported once the batch is committed.
[[noreturn]] void writer(const std::string& dir, uint32_t firstId, uint32_t count, uint32_t crlEvery, int fd,
                         uint32_t batch = 1)
{
  try {
    auto db = openDb(dir);
    for (uint32_t id = firstId; id < firstId + count; ++id) {
      if (batch > 1) {
        DbCrtBatch together(db->crt());
        for (uint32_t n = 0; n < batch; ++n) insertNumbered(*db->crt(), id + n, (id + n) % 3 == 0);
        together.commit();
        for (uint32_t n = 0; n + 1 < batch; ++n) send(fd, 'C', static_cast<int32_t>(id++));
      } else {
        insertNumbered(*db->crt(), id, id % 3 == 0);
      }
      send(fd, 'C', static_cast<int32_t>(id));
      if (id % crlEvery != 0) continue;
      DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
      DbBytes index;
      db->crl()->getCrlIndex(index, guard);
      int32_t newest = -1;
      if (!crlIndexNewestNumber(index, newest)) _exit(4);
      std::vector<int> numbers;
      for (int n = 0; n <= newest + 1; ++n) numbers.push_back(n);
      db->crl()->insertCrl(indexOf(numbers), crlOf(newest + 1), newest + 1, -1);
      guard.release();
      send(fd, 'R', newest + 1);
    }
  } catch (...) {
    _exit(2);
  }
  _exit(0);
}

pid_t startWriter(const std::string& dir, uint32_t firstId, uint32_t count, uint32_t crlEvery, int& readEnd,
                  uint32_t batch = 1)
{
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    writer(dir, firstId, count, crlEvery, fds[1], batch);
  }
  ::close(fds[1]);
  readEnd = fds[0];
  return pid;
}

std::vector<Report> drain(int fd)
{
  std::vector<Report> out;
  Report r;
  while (::read(fd, &r, sizeof r) == sizeof r) out.push_back(r);
  ::close(fd);
  return out;
}

void expectCertificate(DbCrtBase& crt, uint32_t id)
{
  DbCertList list;
  crt.findByCertHash(list, hashOf(id, 3));
  ASSERT_EQ(1u, list.size()) << id;
  EXPECT_EQ(derOf(id), list[0].der) << id;
  list.clear();
  crt.findBySbjDnFld(list, 'n', "NAME " + std::to_string(id));
  EXPECT_EQ(1u, list.size()) << id;
}

TEST(DbTalProcesses, TwoWritersAtOnceLoseNothing)
{
  std::string dir = scratchDbDir("two");
  openDb(dir, true);
  int ends[2];
  pid_t pids[2] = {startWriter(dir, 0, 150, 4, ends[0]), startWriter(dir, 1000, 150, 4, ends[1])};
  for (int i = 0; i < 2; ++i) {
    int status = 0;
    ASSERT_EQ(pids[i], ::waitpid(pids[i], &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(150u + 38u, drain(ends[i]).size()) << "150 certificates, a CRL at each multiple of 4";
  }
  auto db = openDb(dir);
  EXPECT_EQ(DB_VERIFY_VALID, db->verify());
  for (uint32_t base : {0u, 1000u})
    for (uint32_t id = base; id < base + 150; ++id) expectCertificate(*db->crt(), id);
  DbCrlGuard guard(InterProcessLock::SHARED);
  DbBytes index;
  db->crl()->getCrlIndex(index, guard);
  int32_t newest = 0;
  ASSERT_TRUE(crlIndexNewestNumber(index, newest));
  EXPECT_EQ(2 * 38 - 1, newest) << "every CRL of both writers has its own number";
}

TEST(DbTalProcesses, TwoProcessesUpdatingTheServerTableLoseNoUpdate)
{
  std::string dir = scratchDbDir("servers");
  openDb(dir, true);
  pid_t pids[2];
  for (int w = 0; w < 2; ++w) {
    pids[w] = ::fork();
    if (pids[w] == 0) {
      auto db = openDb(dir);
      for (uint32_t i = 0; i < 60; ++i) db->srv()->setImportNumber(1, "srv" + std::to_string(w * 100 + i), i);
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto db = openDb(dir);
  for (uint32_t w = 0; w < 2; ++w)
    for (uint32_t i = 0; i < 60; ++i) {
      uint32_t n = 99;
      db->srv()->getImportNumber(1, "SRV" + std::to_string(w * 100 + i), n);
      EXPECT_EQ(i, n);
    }
}

// The microseconds fn takes.
long microsecondsOf(const std::function<void()>& fn)
{
  auto start = std::chrono::steady_clock::now();
  fn();
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

// Forks a child that runs body with the write end of a pipe (exit 0 when it
// returns, 2 on an exception); returns the read end once body wrote its first
// byte there (it is ready), -1 when none came.
int forkReady(const std::function<void(int fd)>& body, pid_t& pid)
{
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    try {
      body(fds[1]);
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  ::close(fds[1]);
  char started = 0;
  if (pid < 0 || ::read(fds[0], &started, 1) != 1) {
    ::close(fds[0]);
    return -1;
  }
  return fds[0];
}

// Kills the child at a random moment within window microseconds; its wait status.
int killWithin(pid_t pid, std::mt19937& random, long window)
{
  std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// A writer killed while it makes "netCertTime" on first use: the next writer
// makes the table and stores times, and a time reported stored stays.
TEST(DbTalProcesses, AWriterKilledWhileMakingTheTimeTableLeavesItUsable)
{
  const char* env = std::getenv("TALVORIN_CRASH_ROUNDS");
  int rounds = env ? std::max(40, std::atoi(env) / 10) : 40;
  unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::string dir = scratchDbDir("timecrash");
  openDb(dir, true);
  // Kills fall within twice the time making the table and storing a time
  // takes on this machine's disk.
  const long window =
      std::max(3000L, 2 * microsecondsOf([&] { openDb(dir)->crt()->setNetCertTime("ldap://measured"); }));
  int stored = 0;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    for (const char* half : {"netCertTime.idx", "netCertTime.dta"}) std::remove((dir + "/" + half).c_str());
    pid_t pid;
    int fd = forkReady(
        [&](int out) {
          auto db = openDb(dir);
          if (::write(out, "s", 1) != 1) _exit(3);
          db->crt()->setNetCertTime("ldap://killed");
          if (::write(out, "d", 1) != 1) _exit(3);
        },
        pid);
    ASSERT_GE(fd, 0);
    int status = killWithin(pid, random, window);
    char done = 0;
    bool reported = ::read(fd, &done, 1) == 1;
    ::close(fd);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    auto db = openDb(dir);
    if (reported) {
      ++stored;
      EXPECT_NE(0, db->crt()->getNetCertTime("ldap://killed")) << "round " << round;
    }
    db->crt()->setNetCertTime("ldap://after");
    EXPECT_NE(0, db->crt()->getNetCertTime("ldap://after")) << "round " << round;
    EXPECT_EQ(DB_VERIFY_VALID, db->verify()) << "round " << round;
  }
  std::printf("%d rounds, %d of them stored before the kill\n", rounds, stored);
}

// The CRL files of the store's naming in the folder, by number.
std::set<int32_t> crlFilesIn(const std::string& dir)
{
  std::vector<std::string> names;
  listDirectory(dir + "/", names, ".crl");
  std::set<int32_t> numbers;
  for (const std::string& name : names) {
    int32_t n;
    if (crlFileNumber(name, n)) numbers.insert(n);
  }
  return numbers;
}

// One update: adds a CRL and replaces the oldest once two are kept; the
// numbers the new index lists.
std::vector<int32_t> replaceCrl(DbTal& db)
{
  DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
  DbBytes index;
  db.crl()->getCrlIndex(index, guard);
  std::vector<int32_t> listed;
  if (!crlIndexNumbers(index, listed)) throw std::runtime_error("no index");
  int32_t n = listed.empty() ? 0 : listed.back() + 1, removed = -1;
  if (listed.size() >= 2) {
    removed = listed.front();
    listed.erase(listed.begin());
  }
  listed.push_back(n);
  db.crl()->insertCrl(indexOf(std::vector<int>(listed.begin(), listed.end())), crlOf(n), n, removed);
  return listed;
}

// The numbers an index file lists as it lies, without the store; none when it is no index.
std::set<int32_t> listedIn(const std::string& indexPath)
{
  DbBytes bytes;
  if (std::FILE* f = std::fopen(indexPath.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
  }
  std::vector<int32_t> listed;
  crlIndexNumbers(bytes, listed);
  return std::set<int32_t>(listed.begin(), listed.end());
}

// A writer killed while it replaces CRLs may leave the replaced file behind;
// the next open or update deletes it, keeps every listed CRL readable and
// leaves files of other names alone.
TEST(DbTalProcesses, AWriterKilledWhileReplacingCrlsLeavesNoUnlistedCrl)
{
  const char* env = std::getenv("TALVORIN_CRASH_ROUNDS");
  int rounds = env ? std::max(40, std::atoi(env) / 5) : 40;
  unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::string dir = scratchDbDir("crlreplace");
  openDb(dir, true);
  const char* const foreign[] = {"notes.crl", "01.crl", "3.crl.old"};
  for (const char* name : foreign) std::fclose(std::fopen((dir + "/" + name).c_str(), "wb"));
  // Kills fall within a few updates' time (each waits for the disk).
  auto measured = openDb(dir);
  const long window = std::max(3000L, 3 * microsecondsOf([&] { replaceCrl(*measured); }));
  measured.reset();
  int leftBehind = 0;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    pid_t pid;
    int fd = forkReady(
        [&](int out) {
          auto db = openDb(dir);
          if (::write(out, "s", 1) != 1) _exit(3);
          for (;;) replaceCrl(*db);
        },
        pid);
    ASSERT_GE(fd, 0);
    ::close(fd);
    int status = killWithin(pid, random, window);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    std::set<int32_t> unlisted = crlFilesIn(dir);
    for (int32_t n : listedIn(dir + "/crl_idx.asn")) unlisted.erase(n);
    if (!unlisted.empty()) ++leftBehind;
    // Every other round an open comes first, else an update.
    auto db = openDb(dir);
    std::vector<int32_t> listed;
    if (round % 2) {
      listed = replaceCrl(*db);
    } else {
      DbCrlGuard guard(InterProcessLock::SHARED);
      DbBytes index;
      db->crl()->getCrlIndex(index, guard);
      ASSERT_TRUE(crlIndexNumbers(index, listed)) << "round " << round;
    }
    EXPECT_EQ(std::set<int32_t>(listed.begin(), listed.end()), crlFilesIn(dir)) << "round " << round;
    for (int32_t n : listed) {
      DbBytes crl;
      db->crl()->getCrlByFileNum(n, crl);
      EXPECT_EQ(crlOf(n), crl) << "round " << round << ", CRL " << n;
    }
    for (const char* name : foreign) EXPECT_TRUE(platform::pathExists((dir + "/" + name).c_str())) << name;
  }
  std::printf("%d rounds (kills within %ld us), %d left a replaced CRL behind\n", rounds, window, leftBehind);
}

TEST(DbTalProcesses, AWriterKilledAnywhereLosesNothingCommitted)
{
  const char* env = std::getenv("TALVORIN_CRASH_ROUNDS");
  int rounds = env ? std::atoi(env) : 30;
  unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::string dir = scratchDbDir("crash");
  openDb(dir, true);
  std::set<uint32_t> certificates;
  std::set<int32_t> crls;
  uint32_t next = 1;
  uint32_t tried = 0;  // the highest certificate a writer may have stored
  // Kills fall anywhere within a few certificates' time: a committed
  // certificate waits for the disk, and disks differ.
  long window = 40000;
  {
    auto start = std::chrono::steady_clock::now();
    insertNumbered(*openDb(dir)->crt(), 0);
    long one = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    window = std::max(window, 5 * one);
  }
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    int fd;
    // Every other round the certificates go in batches of five.
    pid_t pid = startWriter(dir, next, 100000, 2, fd, round % 2 ? 5 : 1);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    for (const Report& r : drain(fd)) {
      if (r.kind == 'C') certificates.insert(static_cast<uint32_t>(r.id));
      else crls.insert(r.id);
    }
    // The next writer starts again at the first uncommitted certificate, which
    // may be half there.
    if (!certificates.empty()) next = *certificates.rbegin() + 1;
    // A batch of five may have been committed, not yet reported.
    tried = std::max(tried, next + (round % 2 ? 4 : 0));

    auto db = openDb(dir);
    ASSERT_EQ(DB_VERIFY_VALID, db->verify()) << "round " << round;
    DbCrlGuard guard(InterProcessLock::SHARED);
    DbBytes index;
    db->crl()->getCrlIndex(index, guard);
    int32_t newest = -1;
    ASSERT_TRUE(crlIndexNewestNumber(index, newest)) << "round " << round;
    for (int32_t n : crls) {
      ASSERT_LE(n, newest) << "round " << round;
      DbBytes crl;
      db->crl()->getCrlByFileNum(n, crl);
      EXPECT_EQ(crlOf(n), crl) << n;
    }
    guard.release();
    // Only the newest certificates are looked up each round; all at the end.
    for (auto it = certificates.lower_bound(next > 50 ? next - 50 : 0); it != certificates.end(); ++it)
      expectCertificate(*db->crt(), *it);
    // Every record a walk meets is whole: some certificate's exact bytes
    // (every tenth round and the last: a walk connects once per record).
    if (round % 10 != 0 && round + 1 != rounds) continue;
    size_t walked = 0;
    for (bool on = db->crt()->first(); on; on = db->crt()->next()) {
      DbBytes der;
      db->crt()->get(der);
      uint32_t id = static_cast<uint32_t>(std::atoi(reinterpret_cast<const char*>(der.data()) + 5));
      EXPECT_EQ(derOf(id), der);
      EXPECT_LE(id, tried) << "no record of a certificate never attempted";
      ++walked;
    }
    EXPECT_GE(walked, certificates.size());
  }
  auto db = openDb(dir);
  for (uint32_t id : certificates) expectCertificate(*db->crt(), id);
  std::printf("%d rounds (kills within %ld us): %zu certificates and %zu CRLs committed\n", rounds, window,
              certificates.size(), crls.size());
}

}  // namespace
