// The CRL files of the file-backed database: check bytes, the files each
// update leaves, restores after a damaged file or a cut-short update (on the
// next update and on the next open), and damaged index bytes.
#include "dbtaltestutil.h"
#include "platform/fileio.h"
#include "store/dbcrltal.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <climits>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

DbBytes readFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return DbBytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const DbBytes& bytes)
{
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

struct Store {
  Store() : Store(scratchDbDir("crl"), true) {}
  Store(const std::string& dir, bool create) : dir(dir), db(openDb(dir, create)), crl(*db->crl()) {}
  std::string dir;
  std::unique_ptr<DbTal> db;
  DbCrlBase& crl;
  std::vector<int> numbers;

  DbBytes index()
  {
    DbCrlGuard guard(InterProcessLock::SHARED);
    DbBytes out;
    crl.getCrlIndex(out, guard);
    return out;
  }
  void add(int removed = -1)
  {
    int n = numbers.empty() ? 0 : numbers.back() + 1;
    std::vector<int> next;
    for (int k : numbers)
      if (k != removed) next.push_back(k);
    next.push_back(n);
    DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
    DbBytes old;
    crl.getCrlIndex(old, guard);
    crl.insertCrl(indexOf(next), crlOf(n), n, removed);
    numbers = next;
  }
  std::string path(const std::string& name) { return dir + "/" + name; }
};

TEST(DbCrlTal, CheckBytesHoldTheLengthAndTheLastFourBytes)
{
  const struct {
    DbBytes data;
    std::array<uint8_t, 8> check;
  } cases[] = {
      {{'A', 'B', 'C', 'D', 'E', 'F', 'G'}, {0, 0, 0, 7, 'D', 'E', 'F', 'G'}},
      {DbBytes(300, 0x5A), {0, 0, 0, 44, 0x5A, 0x5A, 0x5A, 0x5A}},
      {{1, 2}, {0, 0, 0, 2, 0, 0, 1, 2}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.check, crlCheckBytes(c.data.data(), c.data.size()));
}

TEST(DbCrlTal, UpdatesLeaveCheckFilesAndBackups)
{
  Store s;
  EXPECT_EQ(indexOf({}), s.index());
  s.add();
  s.add(0);
  EXPECT_EQ(indexOf({1}), s.index());
  EXPECT_EQ(crlOf(1), readFile(s.path("1.crl")));
  std::array<uint8_t, 8> check = crlCheckBytes(crlOf(1).data(), crlOf(1).size());
  EXPECT_EQ(DbBytes(check.begin(), check.end()), readFile(s.path("1.chk")));
  EXPECT_FALSE(exists(s.path("0.crl"))) << "the replaced CRL is removed";
  EXPECT_TRUE(exists(s.path("0.crl.bak")));
  EXPECT_TRUE(exists(s.path("0.chk.bak")));
  EXPECT_EQ(indexOf({0}), readFile(s.path("crl_idx.asn.bak")));
  DbBytes out;
  s.crl.getCrlByFileNum(1, out);
  EXPECT_EQ(crlOf(1), out);
  try {
    s.crl.getCrlByFileNum(0, out);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ("readFile(): Blad otwarcia bliku: " + s.path("0.crl"), e.what());
  }
  std::vector<DbBytes> all;
  s.crl.readAll(all);
  EXPECT_EQ(std::vector<DbBytes>{crlOf(1)}, all);
}

TEST(DbCrlTal, ADamagedFileIsRestoredByTheNextUpdate)
{
  const struct {
    const char* damaged;
    const char* text;
  } cases[] = {
      {"1.crl", "Naruszona integralność bazy CRL (plik CRL). Wykonano operację restore"},
      {"crl_idx.asn", "Naruszona integralność bazy CRL (plik indeksu CRL-i). Wykonano operację restore"},
  };
  for (const auto& c : cases) {
    Store s;
    s.add();
    s.add();
    // The CRL's last byte changes; the index grows by a byte (its last one
    // holds the newest item's number, which must stay).
    DbBytes bytes = readFile(s.path(c.damaged));
    if (std::string(c.damaged) == "1.crl")
      bytes.back() ^= 1;
    else
      bytes.push_back(0);
    writeFile(s.path(c.damaged), bytes);
    DbCrlGuard guard(InterProcessLock::EXCLUSIVE);
    DbBytes index;
    s.crl.getCrlIndex(index, guard);
    try {
      s.crl.insertCrl(indexOf({0, 1, 2}), crlOf(2), 2, -1);
      ADD_FAILURE() << c.damaged;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(c.text, e.what());
    }
    guard.release();
    EXPECT_EQ(indexOf({0}), s.index()) << c.damaged;
    EXPECT_FALSE(exists(s.path("1.crl")));
    EXPECT_EQ(crlOf(0), readFile(s.path("0.crl")));
    std::string log(reinterpret_cast<const char*>(readFile(s.path("crl_rollback_log.txt")).data()),
                    readFile(s.path("crl_rollback_log.txt")).size());
    EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d   rollback crlNUm = 1\n)")))
        << log;
  }
}

// A crash leaves the store as one of the steps of an update left it; the
// next reader goes back to the state before that update.
TEST(DbCrlTal, ACutShortUpdateIsRestoredOnOpen)
{
  const struct {
    const char* name;
    std::function<void(Store&)> cut;
  } cases[] = {
      {"index moved away",
       [](Store& s) {
         std::remove(s.path("crl_idx.asn.bak").c_str());
         std::rename(s.path("crl_idx.asn").c_str(), s.path("crl_idx.asn.bak").c_str());
       }},
      {"newest CRL missing", [](Store& s) { std::remove(s.path("2.crl").c_str()); }},
      {"newest check missing", [](Store& s) { std::remove(s.path("2.chk").c_str()); }},
      {"index check missing", [](Store& s) { std::remove(s.path("crl_idx.chk").c_str()); }},
  };
  for (const auto& c : cases) {
    Store s;
    s.add();
    s.add();
    bool cutBeforeIndex = std::string(c.name) == "index moved away";
    if (!cutBeforeIndex) s.add();
    c.cut(s);
    Store reopened(s.dir, false);
    EXPECT_EQ(indexOf({0, 1}), reopened.index()) << c.name;
  }
}

// A replaced CRL that a writer died before deleting is listed nowhere: the
// next open or update deletes every such file of the store's naming, and
// nothing else. An index that fails its check decides nothing. A connection
// looks once: its later reads (every revocation check) leave them to the next
// update.
TEST(DbCrlTal, UnlistedCrlFilesGoOnOpenAndUpdate)
{
  const char* const ours[] = {"0.crl", "7.crl", "2147483647.crl"};
  const char* const foreign[] = {"notes.crl", "007.crl", "-3.crl", "2147483648.crl", "1.crl.old",
                                 "5.CRL",     "x5.crl",  ".crl",   "0.chk"};
  const struct {
    const char* how;
    std::function<void(Store&)> open;
    bool damagedIndex, stay;
  } cases[] = {
      {"open", [](Store& s) { Store(s.dir, false).index(); }, false, false},
      {"update", [](Store& s) { s.add(); }, false, false},
      {"verify", [](Store& s) { EXPECT_EQ(DB_VERIFY_VALID, openDb(s.dir)->verify()); }, false, false},
      {"open, index fails its check", [](Store& s) { Store(s.dir, false).index(); }, true, true},
      {"a later read of a connection", [](Store& s) { s.index(); }, false, true},
  };
  for (const auto& c : cases) {
    Store s;
    s.add();
    s.add();
    s.add(0);
    for (const char* name : ours) writeFile(s.path(name), crlOf(0));
    for (const char* name : foreign) writeFile(s.path(name), crlOf(0));
    if (c.damagedIndex) writeFile(s.path("crl_idx.asn"), indexOf({2}));
    c.open(s);
    for (const char* name : ours) EXPECT_EQ(c.stay, exists(s.path(name))) << c.how << ": " << name;
    for (const char* name : foreign) EXPECT_TRUE(exists(s.path(name))) << c.how << ": " << name;
    for (int n : {1, 2}) EXPECT_EQ(crlOf(n), readFile(s.path(std::to_string(n) + ".crl"))) << c.how;
  }
}

// Leaves each file's new content under its temporary name, as a writer
// killed between writing and renaming does: a child holding the lock
// exclusively, killed there. Each name left is "<file>.tmp-<its pid>-<n>".
void killedWriterLeaves(const std::string& dir, const std::vector<std::string>& files)
{
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    InterProcessLock lock("left", false, dir + "/db.lck");
    if (!lock.lock(true)) _exit(2);
    for (const std::string& file : files) {
      std::string temp;
      if (!platform::writeReplacement((dir + "/" + file).c_str(),
                                      [](int fd) { return platform::writeFile(fd, "new", 3) == 3; }, 0600, temp))
        _exit(3);
    }
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
}

std::vector<std::string> namesHolding(const std::string& dir, const std::string& part)
{
  std::vector<std::string> names, found;
  platform::listDirectoryEntries(dir.c_str(), names);
  for (const std::string& name : names)
    if (name.find(part) != std::string::npos) found.push_back(name);
  return found;
}

// The temporaries of the files the database replaces whole go at the next
// open, whatever the store's state; other names, and the lock file's (made
// by openers that hold no lock), stay. As for unlisted CRL files, a
// connection looks once.
TEST(DbCrlTal, TemporariesAKilledWriterLeftGoOnOpen)
{
  const std::vector<std::string> written = {"crl_idx.asn", "crl_idx.chk", "2.crl",       "2.chk",
                                            "1.crl.bak",   "1.chk.bak",   "crl_idx.asn.bak", "imports.dat",
                                            "version.txt"};
  const char* const foreign[] = {"db.lck.tmp-1-1",     "notes.txt.tmp-1-1", "crl_idx.asn.tmp-x",
                                 "crl_idx.asn.tmp-1-", "007.crl.tmp-1-1",   "2.crl.tmp-1-1.old",
                                 "ca.dta.tmp-1-1",     "2.crl.tmp--1"};
  const struct {
    const char* how;
    std::function<void(Store&)> open;
    bool stay;
  } cases[] = {
      {"open", [](Store& s) { Store(s.dir, false).index(); }, false},
      {"verify", [](Store& s) { EXPECT_EQ(DB_VERIFY_VALID, openDb(s.dir)->verify()); }, false},
      {"update", [](Store& s) { s.add(); }, false},
      {"open of a torn store",
       [](Store& s) {
         std::remove(s.path("2.crl").c_str());
         EXPECT_EQ(indexOf({0, 1}), Store(s.dir, false).index());
       },
       false},
      {"a later read of a connection", [](Store& s) { s.index(); }, true},
  };
  for (const auto& c : cases) {
    Store s;
    s.add();
    s.add();
    s.add();
    killedWriterLeaves(s.dir, written);
    for (const char* name : foreign) writeFile(s.path(name), crlOf(0));
    ASSERT_EQ(written.size(), namesHolding(s.dir, ".tmp-").size() - std::size(foreign)) << c.how;
    c.open(s);
    EXPECT_EQ(c.stay ? written.size() : 0u, namesHolding(s.dir, ".tmp-").size() - std::size(foreign)) << c.how;
    for (const char* name : foreign) EXPECT_TRUE(exists(s.path(name))) << c.how << ": " << name;
    EXPECT_EQ(DB_VERIFY_VALID, openDb(s.dir)->verify()) << c.how;
  }
}

// A live writer's temporary is never an opener's to delete: the opener waits
// for the writer's lock, and the writer's rename finds its file.
TEST(DbCrlTal, AnOpenerLeavesALiveWritersTemporary)
{
  Store s;
  s.add();
  const DbBytes index = s.index();
  int written[2], opened[2];
  ASSERT_EQ(0, ::pipe(written));
  ASSERT_EQ(0, ::pipe(opened));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    InterProcessLock lock("writer", false, s.path("db.lck"));
    std::string temp;
    const std::string path = s.path("crl_idx.asn");
    char go = 0;
    if (!lock.lock(true) ||
        !platform::writeReplacement(path.c_str(),
                                    [&](int fd) { return platform::writeFile(fd, index.data(), index.size()) ==
                                                         index.size(); },
                                    0600, temp) ||
        ::write(written[1], "w", 1) != 1 || ::read(opened[0], &go, 1) != 1)
      _exit(2);
    // Time for the opener to reach the lock; the outcome does not depend on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    _exit(platform::takeReplacement(temp.c_str(), path.c_str()) ? 0 : 1);
  }
  char w = 0;
  ASSERT_EQ(1, ::read(written[0], &w, 1));
  ASSERT_EQ(1u, namesHolding(s.dir, "crl_idx.asn.tmp-").size());
  std::thread opener([&] {
    Store(s.dir, false).index();
    EXPECT_EQ(DB_VERIFY_VALID, openDb(s.dir)->verify());
  });
  ASSERT_EQ(1, ::write(opened[1], "o", 1));
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  opener.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer's rename failed: " << status;
  EXPECT_EQ(index, s.index());
  for (int fd : {written[0], written[1], opened[0], opened[1]}) ::close(fd);
}

TEST(DbCrlTal, CrlFileNames)
{
  const struct {
    const char* name;
    int32_t number;  // -1: not the store's
  } cases[] = {
      {"0.crl", 0},      {"12.crl", 12},    {"2147483647.crl", INT32_MAX}, {"2147483648.crl", -1},
      {"012.crl", -1},   {"-1.crl", -1},    {"+1.crl", -1},                {".crl", -1},
      {"1.crl.bak", -1}, {"1.chk", -1},     {"1a.crl", -1},                {"99999999999.crl", -1},
      {"1 .crl", -1},    {"crl_idx.asn", -1},
  };
  for (const auto& c : cases) {
    int32_t n = -1;
    EXPECT_EQ(c.number >= 0, crlFileNumber(c.name, n)) << c.name;
    EXPECT_EQ(c.number, n) << c.name;
  }
  std::vector<int32_t> numbers;
  ASSERT_TRUE(crlIndexNumbers(indexOf({3, 40, 500}), numbers));
  EXPECT_EQ((std::vector<int32_t>{3, 40, 500}), numbers);
}

TEST(DbCrlTal, TruncatedOrAlteredIndexBytesAreNoIndex)
{
  DbBytes good = indexOf({3, 4, 5});
  int32_t newest = 0;
  ASSERT_TRUE(crlIndexNewestNumber(good, newest));
  EXPECT_EQ(5, newest);
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_FALSE(crlIndexNewestNumber(DbBytes(good.begin(), good.begin() + cut), newest)) << cut;
  DbBytes wrongTag = good;
  wrongTag[7] = 0x31;
  EXPECT_FALSE(crlIndexNewestNumber(wrongTag, newest));
  DbBytes longLength = {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(crlIndexNewestNumber(longLength, newest));
}

}  // namespace

// A write the system cuts short (here at the file-size limit) throws the
// write text; a file that cannot be made at all throws the open text with
// its path. Run in a child: the limit is the process's.
TEST(DbCrlTal, FailedWritesThrowTheirTexts)
{
  Store s;
  s.add();
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{4, 4};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(9);
    int code = 1;
    try {
      s.add();
    } catch (const std::runtime_error& e) {
      code = std::string(e.what()) == "writeFile: blad zapisy pliku" ? 0 : 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  if (::geteuid() != 0) {
    ASSERT_EQ(0, ::chmod(s.dir.c_str(), 0500));
    try {
      s.add();
      ADD_FAILURE() << "written into a folder that may not be written";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(0u, std::string(e.what()).find("writeFile: blad otwarcia pliku: " + s.dir + "/")) << e.what();
    }
    ::chmod(s.dir.c_str(), 0700);
  }
}
