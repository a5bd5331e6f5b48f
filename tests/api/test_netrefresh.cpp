// The background refresh of a file-backed database as a C caller meets it: servers on
// 127.0.0.1 (HTTP for the CRL and the bundle, the test slapd for LDAP), the intervals shortened
// through the registry, the fetched files imported at the next talAuthenticateEx and at
// talDeinit; a fetch that fails keeps the files; a writer killed with SIGKILL leaves nothing
// half written to import; a process that exits, or closes its last context, with a fetch in
// flight ends at once and cleanly.
#include "api/netrefresh.h"
#include "api/talctx.h"
#include "keys/talprofile.h"
#include "net/netmanager.h"
#include "net/localhttp.h"
#include "net/localslapd.h"
#include "hangguard.h"
#include "platform/registry.h"
#include "store/crldb.h"
#include "store/dbtal.h"
#include "talvorin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kNet = std::string(TAL_TEST_DATA_DIR) + "/net/";

std::string fileText(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> namesIn(const std::string& folder, const std::string& suffix)
{
  std::vector<std::string> out;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(n);
    }
    ::closedir(d);
  }
  return out;
}

// Waits for the condition, up to the hang guard.
template <class F>
bool eventually(F done)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(HANG_GUARD_SECONDS);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The servers the test configures in the profile, as a user configures them: kind 1 the
// certificate bundles, kind 2 the CRLs.
struct Servers {
  std::vector<std::string> certificates, crls;
};

void setSeconds(const char* name, uint32_t seconds)
{
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryStatus::Ok, key.create(platform::RegistryRoot::CurrentUser, NET_REGISTRY_KEY));
  const uint8_t le[4] = {static_cast<uint8_t>(seconds), static_cast<uint8_t>(seconds >> 8),
                         static_cast<uint8_t>(seconds >> 16), static_cast<uint8_t>(seconds >> 24)};
  ASSERT_EQ(platform::RegistryStatus::Ok, key.setValue(name, platform::REGISTRY_DWORD, le, sizeof le));
}

class Refresh : public ::testing::Test {
 public:
  void SetUp() override
  {
    char dir[] = "/tmp/talrefreshXXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(dir));
    folder = dir;
    registry = folder + "/registry";
    ASSERT_EQ(0, ::mkdir(registry.c_str(), 0700));
    ::setenv(platform::REGISTRY_ROOT_VARIABLE, registry.c_str(), 1);
    db = folder + "/db";
    cache = db + "/cache/";
    DbTal made;  // the database the profile names, made as its installer makes it
    made.connect(db);
    made.create();
  }
  void TearDown() override
  {
    ::unsetenv(platform::REGISTRY_ROOT_VARIABLE);
    EXPECT_EQ(0, std::system(("rm -rf '" + folder + "'").c_str()));
  }

  // A context of the file-backed database in `db`, named through the profile's attributes as a
  // C caller names them, with the CA as its root and `servers` as its configured servers.
  talCtx* open(int32_t expected = 0)
  {
    talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, "refresh", 8));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "talvorin", 9));
    EXPECT_EQ(0, talSetProfileAttr(p, 16, db.c_str(), static_cast<int32_t>(db.size() + 1)));
    TalProfile* profile = reinterpret_cast<TalProfile*>(p);
    for (const std::string& url : servers.certificates) profile->addServer(1, url);
    for (const std::string& url : servers.crls) profile->addServer(2, url);
    talCtx* ctx = nullptr;
    EXPECT_EQ(0, talInitEx(&ctx, p));
    if (!ctx) return nullptr;
    talCert* root = nullptr;
    EXPECT_EQ(0, talAllocateCertFromFile((kNet + "ca.der").c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(ctx, root, 1, 1));
    talDeleteCertificate(root);
    EXPECT_EQ(expected, talAuthenticateEx(ctx, 0));
    return ctx;
  }

  // The CRLs of the test CA in the database, and the certificates found by subject.
  size_t storedCrls(talCtx* ctx)
  {
    auto ca = std::make_unique<SignedCertificate>();
    std::vector<uint8_t> der;
    const std::string text = fileText(kNet + "ca.der");
    der.assign(text.begin(), text.end());
    EXPECT_GT(ca->decodeVector(der, 0), 0);
    CrlDatabase crls(ctx->database);
    std::vector<std::unique_ptr<SignedCertRevList>> out;
    EXPECT_EQ(CRLDB_OK, crls.listDatabaseCrls(ca->tbsCertificate.subject, out));
    return out.size();
  }
  size_t storedBySubject(talCtx* ctx, const std::string& file)
  {
    SignedCertificate c;
    const std::string text = fileText(kNet + file);
    std::vector<uint8_t> der(text.begin(), text.end());
    EXPECT_GT(c.decodeVector(der, 0), 0);
    CertificateList out;
    ctx->certificates.findInStores(out, c.tbsCertificate.subject, nullptr, false, false);
    return static_cast<size_t>(out.GetCount());
  }

  std::string folder, registry, db, cache;
  Servers servers;
};

TEST_F(Refresh, HttpFetchesAreImportedOnceAndAFailedFetchKeepsTheFiles)
{
  const std::string crl = fileText(kNet + "ca.crl");
  const std::string bundle = fileText(kNet + "ca.der") + fileText(kNet + "end.der");
  std::atomic<bool> failing{false};
  std::atomic<int> failedCrl{0}, failedBundle{0};
  LocalHttpServer http([&](const LocalRequest& r) {
    const bool forCrl = r.path() == "/crl";
    LocalAnswer a;
    if (failing) {
      ++(forCrl ? failedCrl : failedBundle);
      a.bytes = httpAnswer(404, "text/plain", "gone");
    } else {
      a.bytes = httpAnswer(200, "application/octet-stream", forCrl ? crl : bundle);
    }
    return a;
  });
  servers.crls = {http.url("/crl")};
  servers.certificates = {http.url("/bundle")};
  // An hour: each thread fetches once at its start and not again until the interval is
  // shortened below, however long a busy machine takes over the steps between.
  setSeconds(REFRESH_CRL_VALUE, 3600);
  setSeconds(REFRESH_CERT_VALUE, 3600);

  talCtx* first = open();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(1u, networkThreadCount());
  ASSERT_TRUE(eventually([&] {
    return exists(cache + REFRESH_CRL_TIME_FILE) && exists(cache + REFRESH_FETCH_TIME_FILE);
  }));
  EXPECT_EQ(crl, fileText(cache + REFRESH_CRL_FILE));
  EXPECT_EQ(bundle, fileText(cache + REFRESH_BUNDLE_FILE));
  EXPECT_EQ(2u, namesIn(cache, ".crt").size());
  EXPECT_FALSE(exists(cache + REFRESH_IMPORT_TIME_FILE)) << "nothing imported yet";
  EXPECT_EQ(0u, storedCrls(first));

  // The next context of the directory imports (and starts no threads of its own).
  talCtx* second = open();
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(1u, networkThreadCount());
  EXPECT_EQ(1u, storedCrls(second));
  EXPECT_EQ(1u, storedBySubject(second, "end.der"));
  EXPECT_EQ(1u, storedBySubject(second, "ca.der"));
  EXPECT_EQ(fileText(cache + REFRESH_FETCH_TIME_FILE), fileText(cache + REFRESH_IMPORT_TIME_FILE));
  // A second import of the same files adds nothing.
  importRefreshedData(second);
  EXPECT_EQ(1u, storedCrls(second));
  EXPECT_EQ(1u, storedBySubject(second, "end.der"));
  EXPECT_EQ(0, talDeinit(second));
  EXPECT_EQ(1u, networkThreadCount()) << "the first context still uses them";

  // The servers fail, then the interval becomes a second (the poll is five): every fetch from
  // here on fails, and each thread makes one.
  const std::string crlTime = fileText(cache + REFRESH_CRL_TIME_FILE);
  failing = true;
  setSeconds(REFRESH_CRL_VALUE, 1);
  setSeconds(REFRESH_CERT_VALUE, 1);
  ASSERT_TRUE(eventually([&] { return failedCrl > 0 && failedBundle > 0; }))
      << "no fetch after the interval";
  // The last context closes: the threads stop, and once they are joined whatever a failed
  // fetch did to the files is done (that they stop at once, a fetch in flight too,
  // ExitOrLastCloseWithAFetchInFlightEndsAtOnce shows).
  EXPECT_EQ(0, talDeinit(first));
  EXPECT_EQ(0u, networkThreadCount());
  EXPECT_EQ(crl, fileText(cache + REFRESH_CRL_FILE));
  EXPECT_EQ(crlTime, fileText(cache + REFRESH_CRL_TIME_FILE));
  EXPECT_EQ(bundle, fileText(cache + REFRESH_BUNDLE_FILE));
  EXPECT_EQ(2u, namesIn(cache, ".crt").size());
}

TEST_F(Refresh, LdapServersAndHalfWrittenLeftovers)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  servers.crls = {slapd.url("cn=Test CA,o=Siec testowa,c=PL")};
  servers.certificates = {slapd.url("o=Siec testowa,c=PL")};
  // What a writer killed half-way leaves: temporary names, never imported, cleared by the
  // next writer.
  ASSERT_EQ(0, std::system(("mkdir -p '" + cache + "'").c_str()));
  std::ofstream(cache + "ab.crt.tmp-1-1") << "half";
  std::ofstream(cache + std::string(REFRESH_CRL_FILE) + ".tmp-1-2") << "half";
  talCtx* ctx = open();
  ASSERT_NE(nullptr, ctx);
  ASSERT_TRUE(eventually([&] {
    return exists(cache + REFRESH_CRL_TIME_FILE) && exists(cache + REFRESH_FETCH_TIME_FILE);
  }));
  EXPECT_EQ(fileText(kNet + "ca.crl"), fileText(cache + REFRESH_CRL_FILE));
  // The distinct certificates under the base: the test CA, the mail CA and six of Jan
  // Kowalski's (the broken CA's entry holds the test CA's again; o=Inna lies outside), as
  // `grep` and `sort -u` count them in the LDIF.
  EXPECT_EQ(8u, namesIn(cache, ".crt").size());
  EXPECT_TRUE(namesIn(cache, "-1").empty() && namesIn(cache, "-2").empty()) << "leftovers cleared";
  importRefreshedData(ctx);
  EXPECT_EQ(1u, storedCrls(ctx));
  EXPECT_EQ(1u, storedBySubject(ctx, "ca.der"));
  EXPECT_EQ(0, talDeinit(ctx));
}

// A test server in a process of its own. The tests below fork children that start threads; a
// process with a thread of its own (a server's) cannot fork them safely under the sanitizers,
// whose allocator does not guard fork: a lock a thread holds at the fork stays held in the child.
class ServerProcess {
 public:
  template <class Make>
  explicit ServerProcess(Make make)
  {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      ::alarm(2 * HANG_GUARD_SECONDS);  // never outlives the test
      auto server = make();
      const std::string base = server->url("");
      if (::write(fds[1], base.data(), base.size()) != static_cast<ssize_t>(base.size())) _exit(1);
      ::close(fds[1]);
      for (;;) ::pause();
    }
    ::close(fds[1]);
    char buffer[128];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) base.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
  }
  ~ServerProcess()
  {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  std::string url(const std::string& path) const { return base + path; }

 private:
  pid_t pid = -1;
  std::string base;
};

// A child that opens a context whose servers never answer (or answer at once), starts its
// threads and then runs `end`; its wait status.
template <class End>
int runChild(Refresh* fixture, talCtx* (Refresh::*open)(int32_t), End end)
{
  pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(HANG_GUARD_SECONDS);  // a child that hangs dies, and the test fails instead of hanging
    talCtx* ctx = (fixture->*open)(0);
    if (!ctx || networkThreadCount() != 1) _exit(7);
    end(ctx);
    _exit(8);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST_F(Refresh, ExitOrLastCloseWithAFetchInFlightEndsAtOnce)
{
  // A server that never answers, for one child, in a process of its own; it marks each request
  // in a file. Both threads connect at once (the server takes one connection at a time, the
  // other waits in its queue): once it has a request, both are inside their transfers.
  auto stalling = [](const std::string& marker) {
    return ServerProcess([marker] {
      auto asked = std::make_shared<std::atomic<int>>(0);
      return std::make_unique<LocalHttpServer>([marker, asked](const LocalRequest&) {
        std::ofstream(marker) << ++*asked;
        LocalAnswer a;
        a.mode = LocalAnswer::Stall;
        return a;
      });
    });
  };
  auto inFlight = [](const std::string& marker) {
    if (!eventually([&] { return exists(marker); })) _exit(11);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  };
  // The transfers' time-out an hour: a stop that waited for a transfer to end would hang until
  // the child's alarm, so no clock is read.
  setSeconds(NET_TIMEOUT_VALUE, 3600);
  // exit() with both threads inside their transfers: the handler cancels and waits for them,
  // and nothing leaks (the sanitizer's leak check runs at this exit).
  const std::string firstMarker = folder + "/asked-first";
  int byExit = -1;
  {
    ServerProcess first = stalling(firstMarker);
    servers.crls = {first.url("/crl")};
    servers.certificates = {first.url("/bundle")};
    byExit = runChild(this, &Refresh::open, [&](talCtx*) {
      inFlight(firstMarker);
      std::exit(0);
    });
  }
  EXPECT_TRUE(WIFEXITED(byExit) && WEXITSTATUS(byExit) == 0) << byExit;
  EXPECT_TRUE(exists(firstMarker)) << "the server was asked";
  // The last context closed with both threads inside their transfers: cancelled within about
  // a second (curl looks at the flag once a second).
  const std::string secondMarker = folder + "/asked-second";
  int byClose = -1;
  {
    ServerProcess second = stalling(secondMarker);
    servers.crls = {second.url("/crl")};
    servers.certificates = {second.url("/bundle")};
    byClose = runChild(this, &Refresh::open, [&](talCtx* ctx) {
      inFlight(secondMarker);
      _exit(talDeinit(ctx) != 0 || networkThreadCount() != 0 ? 9 : 0);
    });
  }
  EXPECT_TRUE(WIFEXITED(byClose) && WEXITSTATUS(byClose) == 0) << byClose;
  EXPECT_TRUE(exists(secondMarker)) << "the server was asked";
  EXPECT_FALSE(exists(cache + REFRESH_CRL_FILE)) << "nothing was fetched";
}

// Writers killed with SIGKILL at random moments of their work: whatever they leave, the next
// import reads only whole files and the database stays sound.
TEST_F(Refresh, AWriterKilledAnywhereLeavesNothingHalfWritten)
{
  const std::string crl = fileText(kNet + "ca.crl");
  std::string bundle;
  for (const char* f : {"ca.der", "end.der", "mail-enc.der", "mail-sign.der", "mail-other.der",
                        "mail-data.der", "mail-authority.der", "ocsp.der"})
    bundle += fileText(kNet + f);
  // In a process of its own, so this one forks its writers with no thread of its own.
  ServerProcess http([&] {
    return std::make_unique<LocalHttpServer>([crl, bundle](const LocalRequest& r) {
      LocalAnswer a;
      a.bytes = httpAnswer(200, "application/octet-stream", r.path() == "/crl" ? crl : bundle);
      return a;
    });
  });
  servers.crls = {http.url("/crl")};
  servers.certificates = {http.url("/bundle")};
  setSeconds(REFRESH_CRL_VALUE, 1);
  setSeconds(REFRESH_CERT_VALUE, 1);
  unsigned seed = 46;
  for (int round = 0; round < 6; ++round) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::alarm(HANG_GUARD_SECONDS);
      talCtx* ctx = open();
      (void)ctx;
      for (;;) ::pause();
    }
    // Killed once the cache folder is there, a random moment later.
    const bool started = eventually([&] { return exists(cache); });
    std::this_thread::sleep_for(std::chrono::microseconds(rand_r(&seed) % 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(started);
    // Every file under a final name is whole.
    for (const std::string& name : namesIn(cache, ".crt")) {
      SignedCertificate c;
      const std::string text = fileText(cache + name);
      std::vector<uint8_t> der(text.begin(), text.end());
      EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der, 0)) << name;
    }
    if (exists(cache + REFRESH_CRL_FILE)) { EXPECT_EQ(crl, fileText(cache + REFRESH_CRL_FILE)); }
  }
  // What the import below reads, whichever writer left it: the CRL under its name (written
  // whole or not at all) and the bundle's fetch time (written after its certificates). A killed
  // round may have left either without the other, so the wait is for both, not for one file
  // that a thread writes.
  talCtx* ctx = open();
  ASSERT_NE(nullptr, ctx);
  ASSERT_TRUE(eventually([&] {
    return fileText(cache + REFRESH_CRL_FILE) == crl && exists(cache + REFRESH_FETCH_TIME_FILE);
  }));
  importRefreshedData(ctx);
  EXPECT_EQ(1u, storedCrls(ctx));
  EXPECT_EQ(1u, storedBySubject(ctx, "end.der"));
  EXPECT_EQ(0, talDeinit(ctx));
}

}  // namespace
