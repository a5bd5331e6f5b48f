// The library context behind the C API's opaque handle: the managers every service reaches the
// configuration and its siblings through, the report of the current operation, the cached PINs,
// the certificates and CRLs collected while verifying and the trust-point descriptions. The
// members are built in the order they are declared and destroyed in reverse.
#pragma once

#include <cstddef>

#include "api/cfgmgr.h"
#include "api/ctxservers.h"
#include "api/dbsettings.h"
#include "asn1/asngent.h"
#include "base/livehandles.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "keys/keymanager.h"
#include "net/netmanager.h"
#include "store/certmgr.h"
#include "store/lcrtstore.h"
#include "store/pathclock.h"
#include "store/revcache.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SignedCertRevList;

// What a context remembers of the certificates it meets while verifying (talvorin.h says it to
// callers): one operation (a document's verification) adds at most 64 certificates of 256 KiB in
// all, the context holds at most 1,024 of 4 MiB (each counted by IndexedCertificateStore::
// heldSize) until it stores them (talDeinit, talCloneCtx); past either bound a certificate is not
// remembered. Enough for the chains of many signers, and
// the context's look-ups over them are indexed.
constexpr IndexedCertificateStore::Bounds TAL_REMEMBERED_BOUNDS = {1024, 4u << 20, 64, 256u << 10};

// 16 printable ASCII characters and a zero; the first bytes of every context.
extern const char TAL_CTX_MARKER[17];

// What the context needs of the revocation layer: the CRL database import of the CRLs met while
// verifying, and the copy of its data into a clone. The context makes its own (ContextRevocation)
// at construction.
class RevocationLink {
 public:
  virtual ~RevocationLink() = default;
  // 0 stored, 4 and 6 nothing to store, 1 out of memory, 2 database failure.
  virtual int32_t importCrl(const SignedCertRevList& crl) = 0;
  virtual RevocationLink* cloneFor(talCtx* clone) const = 0;
};

// The certificate store of the connected database, for the certificate manager: one connection
// made on first use and kept for the context's life.
class ContextCertificateDb : public CertificateDbSource {
 public:
  explicit ContextCertificateDb(DbManager& database) : database(database) {}
  DbCrtBase* certificateDb() override;

 private:
  DbManager& database;
  std::unique_ptr<DbBase> connection;
};

// The network manager's view of the configuration and of the profile's proxy.
class ContextNetworkSettings : public NetworkSettings {
 public:
  explicit ContextNetworkSettings(const ConfigurationManager& configuration)
      : configuration(configuration) {}
  int32_t option(int32_t number) const override;
  void servers(int32_t kind, const DistinguishedName* issuer,
               std::vector<std::string>& urls) const override;
  NetProxy proxy() const override;
  int64_t certificateCachePeriod() const override { return configuration.cachePeriod(); }

 private:
  const ConfigurationManager& configuration;
};

struct CADescription {
  DistinguishedName name;
  uint32_t words[2] = {0, 0};
};

struct RootDescription {
  SignedCertificate certificate;
  uint32_t word = 0;
  uint8_t byte = 0;
};

// A cached PIN of one key usage: an owned NUL-terminated string and when it was given.
struct CachedPin {
  char* pin = nullptr;
  uint32_t stamp[2] = {0, 0};
};

// The PIN usages in cache order.
const int32_t TAL_PIN_USAGES[4] = {1, 2, 8, 16};

struct talCtx {
  // First member: a handle is a context when its first bytes are the marker. Written last by the
  // constructor, so a context under construction never passes.
  char marker[17];
  ConfigurationManager configuration;
  // The one clock of paths, revocation and the verified cache (platform::setTestTime fixes it).
  SystemPathClock clock;
  KeyManager keyManager;
  CertificateManager certificates;
  // The revocation manager with path building and verification (ContextRevocation), made by
  // the constructor.
  std::unique_ptr<RevocationLink> revocation;
  ContextNetworkSettings networkSettings;
  NetworkManager network;
  // The database door, reading its settings from the configuration's profile.
  ContextDbSettings dbSettings;
  DbManager database;
  ContextCertificateDb certificateDb;
  // The servers the configuration's server search walks: the profile's, then the database's.
  ContextServers servers;
  // The report of the operation under way (bounded while a document is verified).
  ReportBuffer reportBuffer;
  ReportStream report;
  uint32_t deviceError = 0;
  // Code 39: the device failed; its error number is kept for the code's text.
  int32_t deviceFailure() {
    deviceError = keyManager.deviceAnswer;
    return 39;
  }
  char errorText[256];
  std::unique_ptr<SignedCertificate> signerCertificate;
  bool initialised = false;
  bool ready = false;
  bool completeKeys = false;
  uint32_t stateWords[2] = {0, 0};
  uint32_t operationMask = 0;
  CachedPin pins[4];
  bool keepPins = false;
  bool option31 = false;
  // The certificates met while verifying, indexed, until the flush (within
  // TAL_REMEMBERED_BOUNDS; each operation on the context is one batch).
  IndexedCertificateStore collectedStore{TAL_REMEMBERED_BOUNDS};
  bool nothingCollected = true;
  std::vector<std::unique_ptr<SignedCertRevList>> collectedCrls;
  // The collected CRLs' digests (SHA-256 of the encoding), each CRL's in its order.
  std::set<std::array<unsigned char, 32>> collectedCrlKeys;
  std::vector<std::set<std::array<unsigned char, 32>>::iterator> collectedCrlOrder;
  int32_t warnings = 0;
  // Warning bits (WARN_* of pki/sig/sigrecords.h) a caller reads after the warning code 10.
  uint32_t warningFlags = 0;
  std::vector<std::unique_ptr<CADescription>> caDescriptions;
  std::vector<std::unique_ptr<RootDescription>> rootDescriptions;
  std::vector<std::vector<uint8_t>> records;
  std::unique_ptr<ASNgenTime> timeMark;
  uint32_t verificationTime = 0;
  std::map<std::string, int32_t> stylesheets;
  // Verified paths and revocation results; answers while option 23 is on.
  VerifiedRevocationCache verifiedCache;
  talCtx* self = nullptr;
  // Held by every operation on the context: a clone taken on another thread waits for the
  // operation under way instead of reading (and flushing) what it changes.
  std::recursive_mutex inUse;

  // With a source configuration (a clone), a copy of it with a clone of its profile.
  explicit talCtx(const ConfigurationManager* source = nullptr);
  ~talCtx();
  talCtx(const talCtx&) = delete;
  // A freed context's storage is held back for the next few frees: a context opened soon after
  // never takes a closed one's address, so a stale handle still finds nothing live there.
  static void* operator new(std::size_t size);
  static void operator delete(void* storage) noexcept;
  // Placement in storage the caller owns stays as it is.
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}
  talCtx& operator=(const talCtx&) = delete;

  // Zeros over each cached PIN, then freed; the time stamps cleared.
  void wipePins();
  // The cached PIN of a usage (1, 2, 8, 16). 0 with the PIN copied; 41 none cached; 34 the
  // buffer is NULL or too short (the length needed stored); 0 with externalEntry 1 when the
  // profile enters that PIN outside the library.
  int32_t getPin(int32_t usage, char* buffer, size_t* length, int32_t* externalEntry, bool keep);
  // Stores a copy of the PIN of a usage (replacing a cached one).
  void setPin(int32_t usage, const char* pin);
  // 0 with a copy of the key manager's current certificate, 72 without one.
  int32_t loadSignerCertificate();
  // Collects a certificate met while verifying unless the context's store has it or its bounds
  // are reached (TAL_REMEMBERED_BOUNDS): the work of the document under verification, paid from
  // its account first (nothing is collected once that is over, and the document is then
  // refused). A read-only body (a signature's KeyInfo keeps its certificates so) is shared, not
  // decoded again.
  void rememberCertificate(const SignedCertificate& certificate);
  // Collects a CRL met while verifying unless an equal one is collected (found
  // by its digest), and while fewer than MAX_CRLS_HELD are.
  void rememberCrl(const SignedCertRevList& crl);
  // Keeps the first `count` collected CRLs.
  void truncateCollectedCrls(size_t count) noexcept;
  // Stores what was collected: 0, 100 out of memory, 158 database failure.
  int32_t flushNewCertificates();
  // A numbered option in the C API's numbering (see taloptions.cpp).
  int32_t getOption(int32_t option, int32_t* value);
};

// 20 for NULL; 21 for a handle that is no live context (never read) or whose first bytes are not
// the marker (compared byte by byte up to and including its zero, stopping at the first
// difference); 0 otherwise.
int32_t checkCtx(const void* handle);
// A context held for one operation: live (talDeinit on another thread waits until the operation
// is done) and locked (talCtx::inUse), in one step with checkCtx.
class CtxUse {
 public:
  CtxUse() = default;
  explicit CtxUse(void* handle);
  // checkCtx's answer: 0 when the context is held.
  int32_t code() const { return result; }
  // The context when it is held, else null.
  talCtx* get() const { return result == 0 ? hold.as<talCtx>() : nullptr; }

 private:
  int32_t result = 20;
  HandleHold hold;
  std::unique_lock<std::recursive_mutex> lock;
};
// CtxUse, throwing TalApiException with checkCtx's code.
CtxUse useCtx(void* handle);
// The context of a use, throwing TalApiException with its code when none is held; then an empty
// report and no warnings. Asks for no second hold: a close begun on another thread meanwhile
// waits for this call instead of turning it into a failure.
talCtx* checkCtxAndResetReport(const CtxUse& use);
// 10 when the operation wrote warnings, else 0: how a body that reached its end answers.
int32_t endOfOperation(const talCtx* ctx);
// The clone of a context for another thread: 0 or 10 (the source's warnings) and the clone;
// 31, 39, 100 or a flush failure otherwise. Exceptions pass. The source is held meanwhile.
int32_t cloneContext(talCtx* source, talCtx** out);
