// One database folder shared by two Unix users importing at once: the lock
// beside the database excludes both, the files one user makes the other may
// write, and nothing stored is lost or found twice.
#include "dbtaltestutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

constexpr uint32_t PER_USER = 60;

// Inserts PER_USER certificates from `first` on and writes the id of every one
// the database reports stored into fd.
[[noreturn]] void importAll(const std::string& dir, uint32_t first, int fd)
{
  int code = 0;
  try {
    auto db = openDb(dir);
    for (uint32_t id = first; id < first + PER_USER; ++id) {
      if (!insertNumbered(*db->crt(), id, id % 9 == 0)) {
        code = 2;
        continue;
      }
      if (::write(fd, &id, sizeof id) != static_cast<ssize_t>(sizeof id)) code = 3;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "import from %u: %s\n", first, e.what());
    code = 4;
  }
  ::close(fd);
  _exit(code);
}

class SecondUser {
 public:
  SecondUser() : name("tvsh" + std::to_string(::getpid() % 1000000))
  {
    if (::geteuid() != 0) {
      reason = "needs root to make a second user";
      return;
    }
    std::string cmd = "useradd -M -N -s /bin/false " + name + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      reason = "useradd failed or is missing";
      return;
    }
    made = true;
    struct passwd* pw = ::getpwnam(name.c_str());
    if (!pw) {
      reason = "the new user cannot be looked up";
      return;
    }
    uid = pw->pw_uid;
    gid = pw->pw_gid;
  }
  ~SecondUser()
  {
    if (made) std::system(("userdel " + name + " >/dev/null 2>&1").c_str());
  }
  bool ready() const { return reason.empty(); }

  std::string name, reason;
  bool made = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

}  // namespace

TEST(SharedDatabase, TwoUsersImportingAtOnceLoseNothing)
{
  SecondUser other;
  if (!other.ready()) GTEST_SKIP() << "two-user test skipped: " << other.reason;
  char folder[] = "/tmp/talvorin-shared-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(folder));
  ASSERT_EQ(0, ::chmod(folder, 0777)) << "a folder both users may write";
  const std::string dir = std::string(folder) + "/db";
  const mode_t oldMask = ::umask(022);  // the usual mask: it must not lock the other user out
  {
    ASSERT_EQ(0, ::mkdir(dir.c_str(), 0777));
    ASSERT_EQ(0, ::chmod(dir.c_str(), 0777));
    openDb(dir, true);
  }
  int pipes[2];
  ASSERT_EQ(0, ::pipe(pipes));
  pid_t children[2];
  for (int i = 0; i < 2; ++i) {
    children[i] = ::fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) {
      ::close(pipes[0]);
      if (i == 1) {
        // The second user's own session: no path of the first user's.
        ::unsetenv("XDG_RUNTIME_DIR");
        ::setenv("HOME", "/tmp", 1);
        if (::setgroups(0, nullptr) != 0 || ::setgid(other.gid) != 0 || ::setuid(other.uid) != 0) _exit(5);
      }
      importAll(dir, i == 0 ? 0 : 100000, pipes[1]);
    }
  }
  ::close(pipes[1]);
  std::vector<uint32_t> reported;
  uint32_t id;
  while (::read(pipes[0], &id, sizeof id) == static_cast<ssize_t>(sizeof id)) reported.push_back(id);
  ::close(pipes[0]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  ::umask(oldMask);
  EXPECT_EQ(2 * PER_USER, reported.size()) << "every import of both users is stored";

  auto db = openDb(dir);
  EXPECT_EQ(DB_VERIFY_VALID, db->verify());
  for (uint32_t got : reported) {
    DbCertList list;
    db->crt()->findByCertHash(list, hashOf(got, 3));
    ASSERT_EQ(1u, list.size()) << got;
    EXPECT_EQ(derOf(got), list[0].der) << got;
  }
  std::set<DbBytes> walked;
  size_t steps = 0;
  for (bool on = db->crt()->first(); on && steps <= 4 * PER_USER; on = db->crt()->next(), ++steps) {
    DbBytes der;
    db->crt()->get(der);
    EXPECT_TRUE(walked.insert(der).second) << "met twice on the walk";
  }
  EXPECT_EQ(reported.size(), walked.size());
  std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
