#include "api/netrefresh.h"

#include "api/ctxrevocation.h"
#include "api/talctx.h"
#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "base/miscutils.h"
#include "crypto/hash/lvsha.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "platform/clock.h"
#include "platform/fileio.h"
#include "store/dbconfig.h"
#include "store/dblock.h"
#include "store/dbmem.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

const char* const REFRESH_CRL_VALUE = "crlrefresh";
const char* const REFRESH_CERT_VALUE = "certrefresh";
const char* const REFRESH_CACHE_FOLDER = "cache";
const char* const REFRESH_LOCK_FILE = "semaphore.lck";
const char* const REFRESH_CRL_FILE = "ostatni.crl";
const char* const REFRESH_CRL_TIME_FILE = "ostatni_crl_czas.txt";
const char* const REFRESH_BUNDLE_FILE = "certific.dta";
const char* const REFRESH_FETCH_TIME_FILE = "certyfikaty_czas0.txt";
const char* const REFRESH_IMPORT_TIME_FILE = "certyfikaty_czas1.txt";

namespace {

constexpr std::chrono::milliseconds POLL_STEP(5000);
const char* const CRT_SUFFIX = ".crt";
// What the import reads of one cache file: the bundle's cap, and a certificate's.
constexpr size_t MAX_CACHE_FILE = NET_BUNDLE_CAP;

bool readWhole(const std::string& path, std::vector<uint8_t>& out)
{
  out.clear();
  int fd = platform::openFile(path.c_str(), true, false, platform::OpenDisposition::OpenExisting);
  if (fd == platform::INVALID_FILE)
    return false;
  const int64_t size = platform::fileSize(fd);
  bool ok = size > 0 && static_cast<uint64_t>(size) <= MAX_CACHE_FILE;
  if (ok) {
    out.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < out.size()) {
      const int64_t n = platform::readFile(fd, out.data() + done, out.size() - done);
      if (n <= 0)
        break;
      done += static_cast<size_t>(n);
    }
    ok = done == out.size();
  }
  platform::closeFile(fd);
  return ok;
}

// A time file: decimal seconds; 0 when missing or not such a number.
int64_t readTime(const std::string& path)
{
  std::vector<uint8_t> bytes;
  if (!readWhole(path, bytes) || bytes.size() > 20)
    return 0;
  int64_t value = 0;
  for (uint8_t c : bytes) {
    if (c < '0' || c > '9')
      return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool writeFile(const std::string& folder, const std::string& name, const void* data, size_t length)
{
  return platform::replaceFileContent((folder + name).c_str(), data, length,
                                      platform::folderShareMode(folder.c_str()));
}

bool writeTime(const std::string& folder, const char* name, int64_t seconds)
{
  const std::string text = std::to_string(seconds);
  return writeFile(folder, name, text.data(), text.size());
}

template <class T>
bool decodeInPlace(T& object, const std::vector<uint8_t>& der)
{
  if (der.empty() || der.size() > static_cast<size_t>(ASN_MAX_LENGTH))
    return false;
  return object.decodeVector(der, static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY)) ==
         static_cast<int>(der.size());
}

// The cache folder, made as open as the database folder it lies in.
bool makeCacheFolder(const std::string& folder)
{
  if (platform::isDirectory(folder.c_str()))
    return true;
  const std::string database = folder.substr(0, folder.size() - std::strlen(REFRESH_CACHE_FOLDER) - 1);
  struct stat st;
  if (::stat(database.c_str(), &st) != 0 || !platform::makeDirectory(folder.c_str()))
    return platform::isDirectory(folder.c_str());
  ::chmod(folder.c_str(), st.st_mode & 07777);
  return true;
}

// Holds the cache folder's lock while it lives.
class CacheLock {
 public:
  CacheLock(const std::string& folder, bool exclusive)
      : lock(folder + REFRESH_LOCK_FILE, false, folder + REFRESH_LOCK_FILE)
  {
    held = lock.lock(exclusive);
  }
  ~CacheLock() { lock.unlock(); }

 private:
  InterProcessLock lock;

 public:
  bool held = false;
};

// Files a writer killed half-way left under their temporary names.
void removeLeftovers(const std::string& folder, const std::set<std::string>& keep)
{
  std::vector<std::string> names;
  if (platform::listDirectoryEntries(folder.c_str(), names) != platform::ListResult::Ok)
    return;
  for (const std::string& name : names) {
    const bool temporary = name.find(".tmp-") != std::string::npos;
    const bool oldCertificate = name.size() > 4 && name.compare(name.size() - 4, 4, CRT_SUFFIX) == 0 &&
                                !keep.count(name);
    if (temporary || oldCertificate)
      platform::removeFile((folder + name).c_str());
  }
}

// ------------------------------------------------------------- fetching

void fetchCrl(talCtx& ctx, const std::string& folder)
{
  std::vector<std::string> urls;
  ctx.networkSettings.servers(NET_SERVER_CRL, nullptr, urls);
  for (const std::string& url : urls) {
    CrlList got;
    if (ctx.network.queryForCRL(url, nullptr, got, 0, nullptr) != NET_OK || got.empty())
      continue;
    const SignedCertRevList* latest = got.front().get();
    for (const auto& crl : got)
      if (latest->tbsCertList.thisUpdate < crl->tbsCertList.thisUpdate)
        latest = crl.get();
    std::vector<uint8_t> der;
    if (latest->encodeVector(der) < 1 || !makeCacheFolder(folder))
      return;
    CacheLock lock(folder, true);
    if (lock.held && writeFile(folder, REFRESH_CRL_FILE, der.data(), der.size()))
      writeTime(folder, REFRESH_CRL_TIME_FILE, platform::currentTime());
    return;
  }
}

void fetchBundle(talCtx& ctx, const std::string& folder)
{
  std::vector<std::string> urls;
  ctx.networkSettings.servers(NET_SERVER_CERTIFICATES, nullptr, urls);
  CertList certificates;
  std::vector<uint8_t> bundle;
  for (const std::string& url : urls) {
    std::vector<uint8_t> raw;
    if (ctx.network.fetchCertificateBundle(url, certificates, raw) == NET_OK)
      bundle.insert(bundle.end(), raw.begin(), raw.end());
  }
  if (certificates.empty() || !makeCacheFolder(folder))
    return;
  // Each certificate under the SHA-1 of its octets: one file per certificate, whatever the
  // servers repeat.
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& certificate : certificates) {
    std::vector<uint8_t> der;
    if (certificate->encodeVector(der) < 1)
      continue;
    LvSha1 sha;
    sha.hash(der.data(), static_cast<unsigned int>(der.size()));
    std::string name;
    bytesToHexString(sha.getHashPtr(), 20, name);
    files[name + CRT_SUFFIX] = std::move(der);
  }
  CacheLock lock(folder, true);
  if (!lock.held)
    return;
  std::set<std::string> keep;
  for (const auto& file : files)
    keep.insert(file.first);
  removeLeftovers(folder, keep);
  for (const auto& file : files)
    if (!writeFile(folder, file.first, file.second.data(), file.second.size()))
      return;
  // The fetch time last: an importer goes by it.
  if (writeFile(folder, REFRESH_BUNDLE_FILE, bundle.data(), bundle.size()))
    writeTime(folder, REFRESH_FETCH_TIME_FILE, platform::currentTime());
}

// ------------------------------------------------------------- the threads

void stopAtExit() { stopNetworkThreads(); }

// Registers the stop at exit again (see Worker::run); a process that opens and closes many
// contexts registers it a bounded number of times.
void registerStopAtExit()
{
  static std::atomic<int> registered{0};
  if (registered.fetch_add(1) < 16)
    std::atexit(stopAtExit);
}

struct Worker {
  explicit Worker(const std::string& folder) : folder(folder) {}

  // Polls, fetches when the interval has passed, until asked to stop.
  void run(talCtx& ctx, bool crl)
  {
    ctx.network.setCancel(&cancel);
    const char* value = crl ? REFRESH_CRL_VALUE : REFRESH_CERT_VALUE;
    const uint64_t fallback = crl ? REFRESH_CRL_DEFAULT_SECONDS : REFRESH_CERT_DEFAULT_SECONDS;
    const std::string timeFile = folder + (crl ? REFRESH_CRL_TIME_FILE : REFRESH_FETCH_TIME_FILE);
    int64_t lastTry = 0;
    bool first = true;
    for (;;) {
      uint64_t interval = 0;
      if (!netRegistrySeconds(value, interval))
        interval = fallback;
      const int64_t now = platform::currentTime();
      const int64_t last = std::max(readTime(timeFile), lastTry);
      if (last == 0 || now < last || static_cast<uint64_t>(now - last) >= interval) {
        lastTry = now;
        try {
          crl ? fetchCrl(ctx, folder) : fetchBundle(ctx, folder);
        } catch (...) {
          // A fetch that failed leaves the files as they were; the next interval tries again.
        }
      }
      if (first && !cancel.load()) {
        // Whatever the first fetch made for the first time (the transfer libraries' state and
        // the like) is destroyed at exit before the handlers registered before it ran: the
        // stop registered now runs first and waits for this thread (not once asked to stop:
        // the process may be exiting already).
        registerStopAtExit();
      }
      first = false;
      std::unique_lock<std::mutex> hold(mutex);
      if (wake.wait_for(hold, POLL_STEP, [this] { return stopping; }))
        return;
    }
  }

  void start()
  {
    crlThread = std::thread([this] { run(*crlContext, true); });
    certThread = std::thread([this] { run(*certContext, false); });
  }

  // Asks both threads to stop, cancelling a fetch in flight, and waits for them.
  void halt()
  {
    {
      std::lock_guard<std::mutex> hold(mutex);
      stopping = true;
    }
    cancel.store(true);
    wake.notify_all();
    if (crlThread.joinable())
      crlThread.join();
    if (certThread.joinable())
      certThread.join();
  }

  const std::string folder;
  std::set<const talCtx*> users;
  std::unique_ptr<talCtx> crlContext, certContext;

 private:
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::atomic<bool> cancel{false};
  std::thread crlThread, certThread;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<Worker>> workers;
  // Set by the stop at exit: no thread starts after it.
  bool closed = false;
};

// Never destroyed: the stop at exit keeps the stopped workers (reachable, so no leak is
// reported) rather than destroy contexts while the process's other objects are going.
Registry& registry()
{
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

bool refreshCacheFolder(talCtx* context, std::string& folder)
{
  try {
    DbConfig* config = context->dbSettings.dbSettings();
    if (!config || !config->current() || dbLowerCase(config->current()->getName()) != DB_TYPE_FILE)
      return false;
    std::string directory;
    config->current()->getParam("db", directory);
    char resolved[4096];
    if (directory.empty() || !buildDBDirectory(directory.c_str(), resolved, sizeof resolved) || !resolved[0])
      return false;
    folder = resolved;
  } catch (const std::exception&) {
    return false;
  }
  if (folder.back() != '/')
    folder += '/';
  folder += std::string(REFRESH_CACHE_FOLDER) + "/";
  return true;
}

void importRefreshedData(talCtx* context)
{
  std::string folder;
  if (!context || !refreshCacheFolder(context, folder) || !platform::isDirectory(folder.c_str()))
    return;
  int64_t fetched = 0;
  {
    CacheLock lock(folder, false);
    if (!lock.held)
      return;
    std::vector<uint8_t> der;
    SignedCertRevList crl;
    if (readWhole(folder + REFRESH_CRL_FILE, der) && decodeInPlace(crl, der)) {
      // Verified as any CRL met is (offline: the issuer's path from what is at hand), with its
      // lines kept out of the caller's report.
      ContextRevocation& services = contextServices(*context);
      MemFile lines;
      GenericFile* sink = context->report.sink;
      context->report.sink = &lines;
      services.refreshSettings();
      RevocationArgs args;
      args.offline = true;
      const int verified = services.manager.verifyCrl(crl, args);
      context->report.sink = sink;
      if (verified == 0)
        context->revocation->importCrl(crl);
    }
    fetched = readTime(folder + REFRESH_FETCH_TIME_FILE);
    if (fetched == 0 || fetched == readTime(folder + REFRESH_IMPORT_TIME_FILE))
      return;  // no bundle, or this one is in the store already
    std::vector<std::string> names;
    if (platform::listDirectoryEntries(folder.c_str(), names) != platform::ListResult::Ok)
      return;
    CertificateManager::ImportBatch batch(context->certificates);
    for (const std::string& name : names) {
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, CRT_SUFFIX) != 0)
        continue;
      SignedCertificate certificate;
      if (!readWhole(folder + name, der) || !decodeInPlace(certificate, der))
        continue;
      if (context->certificates.importCertificate(certificate) == 2)
        return;  // the database failed: the next import tries the bundle again
    }
    if (batch.finish() != 0)
      return;
  }
  // Recorded under the writers' lock, and only for the bundle just imported.
  CacheLock lock(folder, true);
  if (lock.held && readTime(folder + REFRESH_FETCH_TIME_FILE) == fetched)
    writeTime(folder, REFRESH_IMPORT_TIME_FILE, fetched);
}

void startNetworkThread(const TalProfile*, talCtx* context)
{
  std::string folder;
  if (!context || !refreshCacheFolder(context, folder))
    return;
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.mutex);
  if (r.closed)
    return;
  auto found = r.workers.find(folder);
  if (found != r.workers.end()) {
    found->second->users.insert(context);
    return;
  }
  std::unique_ptr<Worker> worker(new Worker(folder));
  try {
    talCtx* clones[2] = {nullptr, nullptr};
    for (talCtx*& clone : clones)
      if (cloneContext(context, &clone) > 10)
        break;
    worker->crlContext.reset(clones[0]);
    worker->certContext.reset(clones[1]);
    if (!clones[0] || !clones[1])
      return;
    worker->users.insert(context);
    worker->start();
  } catch (const std::exception&) {
    return;  // no refresh for this directory yet: the next opening tries again
  }
  registerStopAtExit();
  r.workers[folder] = std::move(worker);
}

void leaveNetworkThreads(const talCtx* context)
{
  std::vector<std::unique_ptr<Worker>> ended;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    if (r.closed)
      return;
    for (auto it = r.workers.begin(); it != r.workers.end();) {
      if (it->second->users.erase(context) && it->second->users.empty()) {
        ended.push_back(std::move(it->second));
        it = r.workers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& worker : ended)
    worker->halt();
}

void stopNetworkThreads()
{
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.mutex);
  r.closed = true;
  for (auto& worker : r.workers)
    worker.second->halt();
}

size_t networkThreadCount()
{
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.mutex);
  return r.closed ? 0 : r.workers.size();
}
