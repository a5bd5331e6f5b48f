#include "api/talctx.h"

#include "api/ctxrevocation.h"
#include "api/logserviceclient.h"
#include "base/commonerror.h"
#include "base/livehandles.h"
#include "base/workaccount.h"
#include "base/talexception.h"
#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "pki/x509/crl.h"

#include <cstring>
#include <deque>
#include <mutex>

const char TAL_CTX_MARKER[17] = "TalVorinCtx3.9#A";

#define CTX_UNIT "API/talctx"
#define AUTH_UNIT "API/talauth"

// ---- adapters ----

DbCrtBase* ContextCertificateDb::certificateDb() {
  if (!connection) connection.reset(database.getConnection());
  return connection ? connection->crt() : nullptr;
}

int32_t ContextNetworkSettings::option(int32_t number) const {
  return configuration.getIntOption(number);
}

void ContextNetworkSettings::servers(int32_t kind, const DistinguishedName* issuer,
                                     std::vector<std::string>& urls) const {
  ServerSearch search;
  std::string url;
  for (int32_t r = configuration.findFirstServer(search, kind, issuer, url); r == 0;
       r = configuration.findNextServer(search, url))
    urls.push_back(url);
}

NetProxy ContextNetworkSettings::proxy() const {
  NetProxy proxy;
  const TalProfile* profile = configuration.activeProfile();
  if (!profile) return proxy;
  int32_t port = 0;
  profile->getProxy(proxy.host, port, proxy.user, proxy.password);
  proxy.port = port > 0 ? static_cast<uint32_t>(port) : 0;
  return proxy;
}

// ---- the context ----

talCtx::talCtx(const ConfigurationManager* source)
    : configuration(source ? ConfigurationManager(*source) : ConfigurationManager()),
      networkSettings(configuration),
      network(&networkSettings),
      dbSettings(configuration),
      certificateDb(database),
      servers(*this),
      report(&reportBuffer),
      verifiedCache([this] { return configuration.getIntOption(23) != 0; }, clock) {
  std::memset(marker, 0, sizeof marker);
  std::memset(errorText, 0, sizeof errorText);
  configuration.setContext(this);
  database.setContext(&dbSettings);
  configuration.setServerDirectory(&servers);
  certificates.setContext(&certificateDb);
  certificates.addPermanentStore(&collectedStore);
  revocation.reset(new ContextRevocation(*this));
  self = this;
  enlistHandle(this, HandleKind::Context);
  std::memcpy(marker, TAL_CTX_MARKER, sizeof marker);
}

namespace {
// How many closed contexts' storage is held back before the oldest goes to the allocator.
const size_t CONTEXT_QUARANTINE = 16;

std::mutex& quarantineLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: contexts may close at exit
  return *lock;
}
std::deque<void*>& quarantine() {
  static std::deque<void*>* held = new std::deque<void*>;
  return *held;
}
}  // namespace

void* talCtx::operator new(std::size_t size) { return ::operator new(size); }

void talCtx::operator delete(void* storage) noexcept {
  if (!storage) return;
  void* oldest = storage;
  try {
    std::lock_guard<std::mutex> guard(quarantineLock());
    quarantine().push_back(storage);
    oldest = nullptr;
    if (quarantine().size() > CONTEXT_QUARANTINE) {
      oldest = quarantine().front();
      quarantine().pop_front();
    }
  } catch (...) {
    // No room to hold it back: it goes at once.
  }
  ::operator delete(oldest);
}

talCtx::~talCtx() {
  // A freed context must not pass the handle check.
  dropHandle(this);
  std::memset(marker, 0, sizeof marker);
  signerCertificate.reset();
  wipePins();
}

void talCtx::wipePins() {
  for (CachedPin& cached : pins) {
    if (!cached.pin) continue;
    SecretBlock::wipe(cached.pin, std::strlen(cached.pin));
    delete[] cached.pin;
    cached.pin = nullptr;
    cached.stamp[0] = cached.stamp[1] = 0;
  }
}

static CachedPin* pinOfUsage(CachedPin* pins, int32_t usage) {
  for (int i = 0; i < 4; ++i)
    if (TAL_PIN_USAGES[i] == usage) return &pins[i];
  return nullptr;
}

void talCtx::setPin(int32_t usage, const char* pin) {
  CachedPin* cached = pinOfUsage(pins, usage);
  checkInvariant(cached != nullptr && pin != nullptr, AUTH_UNIT, __LINE__, "cached && pin");
  size_t length = std::strlen(pin);
  char* copy = new char[length + 1];
  std::memcpy(copy, pin, length + 1);
  if (cached->pin) {
    SecretBlock::wipe(cached->pin, std::strlen(cached->pin));
    delete[] cached->pin;
  }
  cached->pin = copy;
}

int32_t talCtx::getPin(int32_t usage, char* buffer, size_t* length, int32_t* externalEntry,
                       bool keep) {
  CachedPin* cached = pinOfUsage(pins, usage);
  checkInvariant(cached != nullptr, AUTH_UNIT, __LINE__,
                 "usage == 1 || usage == 2 || usage == 8 || usage == 16");
  checkInvariant(length != nullptr, AUTH_UNIT, __LINE__, "len != NULL");
  if (externalEntry) *externalEntry = 0;
  const TalProfile* profile = configuration.activeProfile();
  if (profile && usage != 8) {
    int32_t externPinL = 0;
    size_t valLen = sizeof externPinL;
    int32_t attribute = usage == 2 ? 22 : 21;
    int32_t r = profile->getAttribute(attribute, &externPinL, &valLen);
    if (r == PROFILE_ATTR_OK || r == PROFILE_ATTR_DEFAULT) {
      checkInvariant(valLen == sizeof(externPinL), AUTH_UNIT, __LINE__,
                     "valLen == sizeof(externPinL)");
      if (externPinL != 0) {
        if (externalEntry) *externalEntry = 1;
        *length = 0;
        return 0;
      }
    }
  }
  if (!cached->pin) return 41;
  size_t pinLength = std::strlen(cached->pin);
  if (!buffer || *length < pinLength + 1) {
    *length = pinLength + 1;
    return 34;
  }
  std::memcpy(buffer, cached->pin, pinLength + 1);
  *length = pinLength;
  if (!keep && configuration.getIntOption(5) == 0 && !keepPins) {
    // Handed out once.
    SecretBlock::wipe(cached->pin, pinLength);
    delete[] cached->pin;
    cached->pin = nullptr;
    cached->stamp[0] = cached->stamp[1] = 0;
  }
  return 0;
}

int32_t talCtx::loadSignerCertificate() {
  const SignedCertificate* current = keyManager.currentCertificate();
  if (!current) return 72;
  signerCertificate.reset(new SignedCertificate(*current));
  return 0;
}

void talCtx::rememberCertificate(const SignedCertificate& certificate) {
  if (configuration.getIntOption(18) == 2) return;
  // Past the bounds it costs nothing: an OCSP response may carry thousands.
  if (!collectedStore.admits(IndexedCertificateStore::heldSize(certificate))) return;
  // Its keys take some work per octet.
  const int octets = certificate.contentLength();
  if (!workCharge(WORK_DER_OCTET * static_cast<uint64_t>(octets > 0 ? octets : 0))) return;
  if (collectedStore.add(certificate) == IndexedCertificateStore::ADDED) nothingCollected = false;
}

void talCtx::rememberCrl(const SignedCertRevList& crl) {
  // One that does not encode has no digest, and equals no other.
  const CrlDigest digest = crlDigest(crl);
  const bool keyed = digest != CrlDigest{};
  if ((keyed && collectedCrlKeys.count(digest)) || collectedCrls.size() >= MAX_CRLS_HELD) return;
  std::unique_ptr<SignedCertRevList> copy(new SignedCertRevList(crl));
  collectedCrls.reserve(collectedCrls.size() + 1);
  collectedCrlOrder.reserve(collectedCrls.size() + 1);
  collectedCrlOrder.push_back(keyed ? collectedCrlKeys.insert(digest).first : collectedCrlKeys.end());
  collectedCrls.push_back(std::move(copy));
}

void talCtx::truncateCollectedCrls(size_t count) noexcept {
  while (collectedCrls.size() > count) {
    if (collectedCrlOrder.back() != collectedCrlKeys.end()) collectedCrlKeys.erase(collectedCrlOrder.back());
    collectedCrlOrder.pop_back();
    collectedCrls.pop_back();
  }
}

int32_t talCtx::flushNewCertificates() {
  if (collectedStore.size() == 0 && collectedCrls.empty()) return 0;
  CertificateManager::ImportBatch batch(certificates);
  for (const SharedCertificate& certificate : collectedStore.list()) {
    int r = certificates.importCertificate(certificate);
    if (r == 2) return 158;
    if (r == 13) {
      // Refused for its content (an e-mail address longer than the database keeps): dropped,
      // so the context can still close.
      LogServiceClient* log = LogServiceClient::instance();
      if (log)
        log->log(LOG_LEVEL_WARNING, "Certyfikat odrzucony przez baz\xea danych",
                 "flushNewCertificates", nullptr, nullptr, nullptr, 0);
      continue;
    }
    checkInvariant(r == 0, CTX_UNIT, __LINE__, "r == 0 || r == 13");
  }
  if (batch.finish() != 0) return 158;
  collectedStore.clear();
  nothingCollected = true;
  for (const std::unique_ptr<SignedCertRevList>& crl : collectedCrls) {
    int32_t r = revocation->importCrl(*crl);
    if (r == 1) return 100;
    if (r == 2) return 158;
    checkInvariant(r == 0 || r == 4 || r == 6, CTX_UNIT, __LINE__, "r == 0 || r == 4 || r == 6");
  }
  truncateCollectedCrls(0);
  return 0;
}

namespace {

// Read only under a hold: a freed context or a stranger's pointer may be unmapped memory.
bool hasCtxMarker(const void* handle) {
  const char* bytes = static_cast<const char*>(handle);
  for (size_t i = 0; i < sizeof TAL_CTX_MARKER; ++i)
    if (bytes[i] != TAL_CTX_MARKER[i]) return false;
  return true;
}

}  // namespace

int32_t checkCtx(const void* handle) {
  if (!handle) return 20;
  HandleHold hold(handle, HandleKind::Context);
  return hold && hasCtxMarker(handle) ? 0 : 21;
}

CtxUse::CtxUse(void* handle) : hold(handle, HandleKind::Context) {
  // Held before it is checked, and checked before it is locked: a context closed on another
  // thread meanwhile is never locked nor read.
  result = !handle ? 20 : hold && hasCtxMarker(handle) ? 0 : 21;
  if (result == 0)
    lock = std::unique_lock<std::recursive_mutex>(static_cast<talCtx*>(handle)->inUse);
}

CtxUse useCtx(void* handle) {
  CtxUse use(handle);
  if (use.code() != 0) throw TalApiException(use.code());
  return use;
}

talCtx* checkCtxAndResetReport(const CtxUse& use) {
  talCtx* ctx = use.get();
  if (!ctx) throw TalApiException(use.code());
  ctx->reportBuffer.clear();
  ctx->report.sink = &ctx->reportBuffer;
  ctx->warnings = 0;
  // What one operation may add to the remembered certificates counts from here.
  ctx->collectedStore.beginBatch();
  return ctx;
}

int32_t endOfOperation(const talCtx* ctx) { return ctx->warnings > 0 ? 10 : 0; }

int32_t cloneContext(talCtx* source, talCtx** out) {
  CtxUse use(source);
  if (use.code() != 0) return use.code();
  int32_t flushed = source->flushNewCertificates();
  if (flushed > 10) return flushed;
  std::unique_ptr<talCtx> clone;
  try {
    clone.reset(new talCtx(&source->configuration));
  } catch (const std::bad_alloc&) {
    return 100;
  }
  clone->initialised = clone->ready = clone->completeKeys = true;
  clone->stateWords[0] = source->stateWords[0];
  clone->stateWords[1] = source->stateWords[1];
  clone->operationMask = source->operationMask;
  if (source->signerCertificate)
    clone->signerCertificate.reset(new SignedCertificate(*source->signerCertificate));
  clone->keepPins = source->keepPins;
  clone->deviceError = source->deviceError;
  std::memcpy(clone->errorText, source->errorText, sizeof clone->errorText);
  for (const auto& description : source->caDescriptions)
    clone->caDescriptions.emplace_back(new CADescription(*description));
  for (const auto& description : source->rootDescriptions)
    clone->rootDescriptions.emplace_back(new RootDescription(*description));
  for (int i = 0; i < 4; ++i) {
    if (source->pins[i].pin) clone->setPin(TAL_PIN_USAGES[i], source->pins[i].pin);
    clone->pins[i].stamp[0] = source->pins[i].stamp[0];
    clone->pins[i].stamp[1] = source->pins[i].stamp[1];
  }
  if (source->timeMark) clone->timeMark.reset(new ASNgenTime(*source->timeMark));
  clone->verificationTime = source->verificationTime;

  if (clone->keyManager.init(&clone->configuration) == KM_NO_MEMORY) return 100;
  clone->keyManager.copyFrom(source->keyManager);

  if (source->keyManager.flags & KM_FLAG_OWN_RANDOM) {
    SecretBlock seed(40);
    int32_t drawn = source->keyManager.getRandomBytes(seed.data(), seed.size());
    if (drawn == 20) return source->deviceFailure();
    if (drawn == 47) return 31;
    checkInvariant(drawn == 0, CTX_UNIT, __LINE__, "r == 0");
    if (clone->keyManager.seedRandom(seed.data(), seed.size()) != 0) return 100;
  }

  if (source->revocation) clone->revocation.reset(source->revocation->cloneFor(clone.get()));
  clone->certificates.reapplyContext();
  clone->network.init();  // a clone works without the network when it cannot start
  clone->network.setTimeoutMs(source->network.timeoutMs());
  clone->self = clone.get();
  *out = clone.release();
  return endOfOperation(source);
}
