// Opening, cloning and closing a library context, and drawing random bytes from it.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/netrefresh.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "base/commonerror.h"
#include "base/no_oop.h"
#include "crypto/basic/lvexception.h"
#include "crypto/selftest/lvselftest.h"
#include "keys/talprofile.h"
#include "store/dblock.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <sstream>

#define AUTH_UNIT "API/talauth"

namespace {

bool runLibrarySelfTest() {
  std::ostringstream report;
  return lvSelfTest(report);
}

std::atomic<bool (*)()> selfTest{runLibrarySelfTest};
// Set once the self-tests passed; a failure leaves it clear, so the next call tries again.
std::atomic<bool> selfTestPassed{false};

void ignoreXmlError(void*, xmlError*) {}

// The profile lock of talAuthenticateEx, released on every way out.
class ProfileLock {
 public:
  ProfileLock(const char* name, bool disabled) : lock(name, disabled) {}
  ~ProfileLock() {
    if (held) lock.unlock();
  }
  bool take() { return held = lock.lock(true); }
  bool release() {
    held = false;
    return lock.unlock();
  }

 private:
  InterProcessLock lock;
  bool held = false;
};

const AnswerRow CREATE_DB_ANSWERS[] = {
    {0, 0, false}, {2, 158, false}, {47, 158, false}, {46, 160, false}, {49, 167, false}};

// Once per process, by the first opening: libxml2's global state, before any thread sets its
// error handler (its lazy set-up is not safe when threads open their first contexts at once), and
// the reports' character set from the environment (chosen again at every opening, it would change
// under threads that are writing reports).
std::once_flag processSetUp;

int32_t initBody(talCtx** out, talProfile* handle) {
  std::call_once(processSetUp, [] {
    xmlInitParser();
    selectOutputCharset(nullptr);
  });
  // A pointer that is no profile (or one already freed) is refused, never deleted; held while
  // it is taken, so a delete on another thread waits.
  HandleHold hold = TalProfile::holdHandle(handle);
  if (!hold) return 20;
  TalProfile* profile = hold.as<TalProfile>();
  // A profile another context holds cannot be taken a second time (nor by two at once).
  if (!profile->markHeldByContext()) return 20;
  TalProfilePtr owned(profile);
  if (!out) return 20;
  if (!selfTestPassed.load()) {
    bool passed = false;
    try {
      passed = selfTest.load()();
    } catch (const std::bad_alloc&) {
      return 100;  // memory ran out: nothing was found wrong with the library
    } catch (const LvMemException&) {
      return 100;
    }
    if (!passed) return 174;
    selfTestPassed.store(true);
  }
  std::unique_ptr<talCtx> ctx;
  try {
    ctx.reset(new talCtx());
  } catch (const std::bad_alloc&) {
    return 100;
  }
  // From here the calls through the caller's profile handle take turns with the context (see
  // talSetProfileAttr): the opening holds the context's lock as it reads the profile, and lets
  // it go before a failure destroys the context.
  std::unique_lock<std::recursive_mutex> opening(ctx->inUse);
  {
    std::lock_guard<std::mutex> turn(profile->callLock());
    profile->setTakenBy(ctx.get());
  }
  xmlSetStructuredErrorFunc(nullptr, ignoreXmlError);
  ctx->configuration.setContext(ctx.get());
  if (ctx->configuration.setProfile(owned.release()) != 0) return 24;
  if (ctx->keyManager.init(&ctx->configuration) == KM_NO_MEMORY) return 100;
  // The defaults go into the file now, before anything can save it: a root installed before
  // talAuthenticateEx saves the configuration, and authentication loads that copy back, so a
  // copy saved without them would leave option 37 at its empty-file value (no path built).
  try {
    ctx->configuration.writeDefaults();
  } catch (const std::bad_alloc&) {
    return 100;
  }
  ctx->certificates.reapplyContext();
  ctx->self = ctx.get();
  if (ctx->network.init() != 0) return 27;
  ctx->initialised = true;
  int32_t device = ctx->keyManager.initDevice();
  // The loader's text names the module that failed; talErrorText hands it out.
  if (device != 0 && !ctx->keyManager.loaderText.empty())
    lastErrorText.set(ctx->keyManager.loaderText.c_str());
  switch (device) {
    case 0: break;
    case 28: return 38;
    case 29: return 37;
    case 30: return 145;
    case 31: return 130;
    default: checkInvariant(false, AUTH_UNIT, __LINE__, "false");
  }
  if (ctx->keyManager.hasRoots()) ctx->operationMask = 5;
  int32_t result;
  switch (ctx->configuration.deviceType()) {
    case 1:
    case 6: result = 0; break;
    case 2: result = 3; break;
    case 4: result = 2; break;
    default: return 24;
  }
  *out = ctx.release();
  return result;
}

void writeReportHeader(talCtx* ctx) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d UTC", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  ctx->report.writeFormatted("---- RAPORT Z OPERACJI INICJOWANIA PAKIETU: %s ----\r\n", stamp);
}

int32_t authenticateBody(talCtx* handle, int32_t flags) {
  CtxUse use(handle);
  if (use.code() != 0) return use.code();
  talCtx* ctx = handle;
  if (!ctx->initialised) return 22;
  ctx->reportBuffer.clear();
  ctx->report.sink = &ctx->reportBuffer;
  writeReportHeader(ctx);
  if (flags != 0) return 137;
  ctx->warnings = 0;

  char lockName[CFG_LOCK_NAME_SIZE];
  try {
    ctx->configuration.getProfileLockName(lockName, 0);
  } catch (const TalApiException& e) {
    return e.getCode();  // 99: a lock that cannot be named cannot be taken
  }
  int32_t device = ctx->configuration.deviceType();
  ProfileLock lock(lockName, device == 4 || device == 5);
  if (!lock.take()) return 99;
  int32_t db = mapAnswer(ctx, CREATE_DB_ANSWERS, sizeof CREATE_DB_ANSWERS / sizeof(AnswerRow),
                         ctx->database.createDb(), AUTH_UNIT, __LINE__);
  if (db != 0) return db;
  int32_t keys = mapAnswer(ctx, INIT_PROFILE_ANSWERS, INIT_PROFILE_ANSWER_COUNT,
                           ctx->keyManager.initProfile(1, 1), AUTH_UNIT, __LINE__);
  if (keys != 0) return keys;
  uint32_t kmFlags = ctx->keyManager.flags;
  if ((kmFlags & KM_FLAG_SIGNING_REQUIRED) && !(kmFlags & KM_FLAG_SIGNING_LOADED)) return 30;
  if ((kmFlags & KM_FLAG_DECRYPTION_REQUIRED) && !(kmFlags & KM_FLAG_DECRYPTION_LOADED)) return 29;
  if (!lock.release()) return 99;

  int32_t signer = ctx->loadSignerCertificate();
  if (signer != 0 && signer != 72) return signer;

  if (ctx->keyManager.hasRoots()) ctx->operationMask = 5;
  uint32_t usage = ctx->keyManager.keyUsage;
  bool signingSerial = ctx->keyManager.getSgnCrtSerial() != nullptr;
  bool decryptionSerial = ctx->keyManager.getEncCrtSerial() != nullptr;
  if ((usage & 4) && signingSerial) {
    ctx->operationMask |= 10;
  } else {
    if ((usage & 2) && decryptionSerial) ctx->operationMask |= 8;
    if ((usage & 1) && signingSerial) ctx->operationMask |= 2;
  }
  if (ctx->operationMask == 15) ctx->completeKeys = true;
  ctx->ready = true;

  if (!(ctx->keyManager.flags & KM_FLAG_CONFIGURATION)) return 32;
  int32_t digest = ctx->configuration.getDigestAlgorithm(false, true);
  if (!ctx->keyManager.supportsDigest(digest)) {
    reportUnsupportedDigest(ctx, digest);
    return 159;
  }
  int32_t flushed = ctx->flushNewCertificates();
  if (flushed >= 11) return flushed;
  importRefreshedData(ctx);
  startNetworkThread(ctx->configuration.activeProfile(), ctx);
  return endOfOperation(ctx);
}

int32_t deinitBody(talCtx* ctx) {
  const int32_t check = checkCtx(ctx);
  if (check != 0) return check;
  // Closed in one step once no call of another thread uses it (none begins meanwhile), the
  // work of closing done first: of two closes one frees it, and a failure leaves it open.
  int32_t failed = 0;
  const bool closed = takeHandle(ctx, HandleKind::Context, nullptr, [&] {
    std::lock_guard<std::recursive_mutex> use(ctx->inUse);  // a held mutex is not destroyed
    ctx->warnings = 0;
    int32_t flushed = ctx->flushNewCertificates();
    if (flushed >= 11) {
      failed = flushed;
      return false;
    }
    importRefreshedData(ctx);
    leaveNetworkThreads(ctx);
    ctx->keyManager.releaseTokenLibrary();
    return true;
  });
  if (failed) return failed;
  // Closed by another thread meanwhile, or in use by a call of this one.
  if (!closed) return 21;
  delete ctx;
  return 0;
}

int32_t rbgFillBody(talCtx* ctx, uint8_t* buffer, int32_t length) {
  if (!ctx || !buffer || length < 1) return 20;
  CtxUse use(ctx);
  if (use.code() != 0) return use.code();
  ctx->warnings = 0;
  if (!ctx->ready) return 22;
  if (!(ctx->keyManager.flags & KM_FLAG_OWN_RANDOM)) return 31;
  int32_t r = ctx->keyManager.getRandomBytes(buffer, static_cast<size_t>(length));
  if (r == 20) return ctx->deviceFailure();
  if (r == 47) return 31;
  checkInvariant(r == 0, AUTH_UNIT, __LINE__, "r == 0");
  return endOfOperation(ctx);
}

}  // namespace

void talReplaceSelfTest(bool (*test)()) {
  selfTest.store(test ? test : runLibrarySelfTest);
  selfTestPassed.store(false);
}

// Rows the three maps share; the one-sided rows follow in each.
#define KEY_ANSWERS_COMMON                                                                     \
  {0, 0, false}, {4, 100, false}, {6, 83, false}, {7, 86, false}, {8, 85, false},              \
      {12, 84, false}, {45, 84, false}, {48, 84, false}, {13, 46, true}, {20, 39, false},      \
      {21, 39, false}, {23, 40, false}, {24, 43, false}, {25, 44, false}, {27, 45, false},     \
      {31, 130, false}, {35, 41, false}, {36, 42, false}, {37, 131, false}, {41, 129, false},  \
      {42, 33, false}, {44, 34, false}, {47, 31, false}, {49, 35, false}, {50, 36, false},     \
      {51, 144, false}, {61, 165, false}

const AnswerRow INIT_PROFILE_ANSWERS[] = {KEY_ANSWERS_COMMON, {19, 84, false}, {43, 147, false},
                                          {53, 146, true},    {59, 154, false}, {63, 182, false}};
const size_t INIT_PROFILE_ANSWER_COUNT = sizeof INIT_PROFILE_ANSWERS / sizeof(AnswerRow);
const AnswerRow SAVE_CONF_ANSWERS[] = {KEY_ANSWERS_COMMON, {26, 44, false}, {52, 150, false},
                                       {54, 151, false}};
const size_t SAVE_CONF_ANSWER_COUNT = sizeof SAVE_CONF_ANSWERS / sizeof(AnswerRow);
const AnswerRow LOAD_ROOTS_ANSWERS[] = {KEY_ANSWERS_COMMON, {26, 44, false}, {53, 146, true}};
const size_t LOAD_ROOTS_ANSWER_COUNT = sizeof LOAD_ROOTS_ANSWERS / sizeof(AnswerRow);

int32_t mapAnswer(talCtx* ctx, const AnswerRow* rows, size_t count, int32_t answer,
                  const char* unit, int line) {
  for (size_t i = 0; i < count; ++i) {
    if (rows[i].answer != answer) continue;
    if (rows[i].wipePins) ctx->wipePins();
    if (rows[i].result == 39) return ctx->deviceFailure();
    return rows[i].result;
  }
  checkInvariant(false, unit, line, "false");
  return 161;
}

extern "C" {

int32_t talInitEx(talCtx** ctx, talProfile* profile) {
  return traceCode("talInitEx", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] { return initBody(ctx, profile); });
  });
}

int32_t talAuthenticateEx(talCtx* ctx, int32_t flags) {
  return traceCode("talAuthenticateEx", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] { return authenticateBody(ctx, flags); });
  });
}

int32_t talDeinit(talCtx* ctx) {
  return traceCode("talDeinit", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] { return deinitBody(ctx); });
  });
}

// talRbgFill and talCloneCtx are entry points without the trace.
int32_t talRbgFill(talCtx* ctx, uint8_t* buffer, int32_t length) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] { return rbgFillBody(ctx, buffer, length); });
}

int32_t talCloneCtx(talCtx* source, talCtx** clone) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
    const int32_t check = checkCtx(source);
    if (check != 0) return check;
    if (!clone) return 20;
    return cloneContext(source, clone);
  });
}

}  // extern "C"
