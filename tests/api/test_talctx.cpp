// The library context and its C entry points: handle checks, opening and closing, the answer
// maps, options with their refusal texts, certificates and roots made by openssl, file digests
// against `openssl dgst`, profiles and proxies, and clones used from two threads.
#include "talvorin.h"

#include "api/talapi.h"
#include "api/talctx.h"
#include "base/file.h"
#include "base/no_oop.h"
#include "keys/talprofile.h"
#include "platform/fileio.h"
#include "platform/registrysandbox.h"
#include "pki/sig/sigrecords.h"
#include "store/dbtal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string DATA = std::string(TAL_TEST_DATA_DIR) + "/api/ctx/";

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string report(talCtx* ctx) { return talReportText(ctx); }

// Every test keeps its registry and databases under a fresh temporary folder.
class Ctx : public RegistrySandbox {
 protected:
  talProfile* memoryProfile() {
    static int serial = 0;
    talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
    std::string name = "ctx-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    return p;
  }

  talCtx* open() {
    talCtx* ctx = nullptr;
    EXPECT_EQ(0, talInitEx(&ctx, memoryProfile()));
    EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
    return ctx;
  }

  talCert* cert(const char* name) {
    talCert* c = nullptr;
    EXPECT_EQ(0, talAllocateCertFromFile((DATA + name).c_str(), &c)) << name;
    return c;
  }

};

TEST_F(Ctx, EveryEntryPointRefusesANullOrForeignContextBeforeReadingIt) {
  // A block with a near-miss marker (the last character differs), a zeroed block and a context
  // that was destroyed in place.
  alignas(talCtx) unsigned char foreign[sizeof(talCtx)];
  std::memset(foreign, 0, sizeof foreign);
  std::memcpy(foreign, TAL_CTX_MARKER, 15);
  alignas(talCtx) unsigned char destroyed[sizeof(talCtx)];
  (new (destroyed) talCtx())->~talCtx();
  talCtx* bad[] = {reinterpret_cast<talCtx*>(foreign), reinterpret_cast<talCtx*>(destroyed)};
  int32_t count = 0;
  uint8_t byte = 0;
  for (talCtx* handle : {static_cast<talCtx*>(nullptr), bad[0], bad[1]}) {
    int32_t expected = handle ? 21 : 20;
    EXPECT_EQ(expected, talAuthenticateEx(handle, 0));
    EXPECT_EQ(expected, talDeinit(handle));
    EXPECT_EQ(expected, talSetOption(handle, 12, 0));
    EXPECT_EQ(expected, talInstallRoot(handle, nullptr, 1, 1));
    EXPECT_EQ(expected, talInstallMemCrt(handle, &byte, 1, 1, &count));
    EXPECT_EQ(expected, talProtectMessageGF(handle, nullptr, nullptr, nullptr, 2));
    talCtx* clone = nullptr;
    EXPECT_EQ(expected, talCloneCtx(handle, &clone));
    EXPECT_EQ(handle ? 21 : 20, talRbgFill(handle, &byte, 1));
  }
}

TEST_F(Ctx, InitAnswersByProfileTypeAndTakesTheProfileOnEveryPath) {
  struct Row {
    int32_t type;
    int32_t expected;
  };
  // The hardware device's library is absent here: its profile stops at the device (37).
  const Row rows[] = {{TAL_PROFILE_MEMORY, 0}, {TAL_PROFILE_PKCS12, 0}, {TAL_PROFILE_PKCS11, 2},
                      {TAL_PROFILE_OSTRA, 37}};
  for (const Row& row : rows) {
    talCtx* ctx = nullptr;
    EXPECT_EQ(row.expected, talInitEx(&ctx, talCreateProfile(row.type))) << row.type;
    EXPECT_EQ(row.expected <= 10, ctx != nullptr) << row.type;
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
  }
  EXPECT_EQ(20, talInitEx(nullptr, talCreateProfile(TAL_PROFILE_MEMORY)));  // profile freed
  talCtx* ctx = nullptr;
  EXPECT_EQ(20, talInitEx(&ctx, nullptr));
}

TEST_F(Ctx, InitRefusesAPointerThatIsNoProfileAndFreesNothing) {
  // A zeroed block and a live context handed over by mistake: neither may be deleted.
  alignas(16) unsigned char zeros[256] = {0};
  talCtx* other = open();
  struct Row {
    const char* what;
    void* handle;
  };
  const Row rows[] = {{"zeros", zeros}, {"context", other}};
  for (const Row& row : rows) {
    talProfile* handle = static_cast<talProfile*>(row.handle);
    talCtx* ctx = nullptr;
    EXPECT_EQ(20, talInitEx(&ctx, handle)) << row.what;
    EXPECT_EQ(nullptr, ctx) << row.what;
    EXPECT_EQ(20, talInitEx(nullptr, handle)) << row.what;
    EXPECT_EQ(20, talDeleteProfile(handle)) << row.what;
  }
  EXPECT_EQ(0, checkCtx(other));
  EXPECT_EQ(0, talDeinit(other));
}

TEST_F(Ctx, FailedSelfTestsAnswer174UntilTheyPass) {
  talReplaceSelfTest([] { return false; });
  talCtx* ctx = nullptr;
  EXPECT_EQ(174, talInitEx(&ctx, memoryProfile()));
  EXPECT_EQ(174, talInitEx(&ctx, memoryProfile()));
  EXPECT_EQ(nullptr, ctx);
  static int runs = 0;
  talReplaceSelfTest([] { return ++runs > 0; });
  EXPECT_EQ(0, talInitEx(&ctx, memoryProfile()));
  EXPECT_EQ(0, talDeinit(ctx));
  EXPECT_EQ(0, talInitEx(&ctx, memoryProfile()));
  EXPECT_EQ(0, talDeinit(ctx));
  EXPECT_EQ(1, runs);  // once per process after they passed
  talReplaceSelfTest(nullptr);
}

TEST_F(Ctx, AuthenticateWritesTheReportAndRefusesFlagsAndUninitialisedContexts) {
  talCtx* ctx = nullptr;
  ASSERT_EQ(0, talInitEx(&ctx, memoryProfile()));
  EXPECT_EQ(137, talAuthenticateEx(ctx, 1));
  std::string text = report(ctx);
  EXPECT_EQ(0u, text.find("---- RAPORT Z OPERACJI INICJOWANIA PAKIETU: ")) << text;
  EXPECT_NE(std::string::npos, text.find(" UTC ----\r\n")) << text;
  EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(0, talDeinit(ctx));

  talCtx* bare = new talCtx();
  EXPECT_EQ(22, talAuthenticateEx(bare, 0));
  EXPECT_EQ(22, talInstallMemCrt(bare, reinterpret_cast<const uint8_t*>("x"), 1, 1, nullptr));
  EXPECT_EQ(0, talDeinit(bare));
}

TEST(AnswerMaps, EveryAnswerOfTheKeyManagerHasItsResult) {
  struct Row {
    // -1: no row (an invariant failure). openSession's answers 4, 20, 27, 42 and 43 (a token
    // opened again) map as initProfile's; its own rows give 31 and 50 other results.
    int32_t answer, initProfile, saveConf, loadRoots, openSession;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0}, {4, 100, 100, 100, 100}, {6, 83, 83, 83, -1},
      {7, 86, 86, 86, -1}, {8, 85, 85, 85, -1}, {12, 84, 84, 84, -1},
      {19, 84, -1, -1, -1}, {45, 84, 84, 84, -1}, {48, 84, 84, 84, -1},
      {13, 46, 46, 46, 46}, {20, 39, 39, 39, 39}, {21, 39, 39, 39, -1},
      {23, 40, 40, 40, 40}, {24, 43, 43, 43, 43}, {25, 44, 44, 44, 44},
      {26, -1, 44, 44, -1}, {27, 45, 45, 45, 45}, {31, 130, 130, 130, 42},
      {35, 41, 41, 41, -1}, {36, 42, 42, 42, 42}, {37, 131, 131, 131, 131},
      {41, 129, 129, 129, -1}, {42, 33, 33, 33, 33}, {43, 147, -1, -1, 147},
      {44, 34, 34, 34, -1}, {47, 31, 31, 31, -1}, {49, 35, 35, 35, 35},
      {50, 36, 36, 36, 35}, {51, 144, 144, 144, 144}, {52, -1, 150, -1, -1},
      {53, 146, -1, 146, -1}, {54, -1, 151, -1, -1}, {59, 154, -1, -1, -1},
      {61, 165, 165, 165, 165}, {63, 182, -1, -1, -1}, {1, -1, -1, -1, -1},
  };
  struct Map {
    const AnswerRow* rows;
    size_t count;
  };
  const Map maps[] = {{INIT_PROFILE_ANSWERS, INIT_PROFILE_ANSWER_COUNT},
                      {SAVE_CONF_ANSWERS, SAVE_CONF_ANSWER_COUNT},
                      {LOAD_ROOTS_ANSWERS, LOAD_ROOTS_ANSWER_COUNT},
                      {OPEN_SESSION_ANSWERS, OPEN_SESSION_ANSWER_COUNT}};
  for (const Row& row : rows) {
    const int32_t expected[] = {row.initProfile, row.saveConf, row.loadRoots, row.openSession};
    for (int m = 0; m < 4; ++m) {
      talCtx ctx;
      ctx.setPin(1, "1234");
      if (expected[m] < 0) {
        EXPECT_ANY_THROW(mapAnswer(&ctx, maps[m].rows, maps[m].count, row.answer, "t", 1))
            << row.answer << " map " << m;
        continue;
      }
      EXPECT_EQ(expected[m], mapAnswer(&ctx, maps[m].rows, maps[m].count, row.answer, "t", 1))
          << row.answer << " map " << m;
      // A wrong password (13) and wrong roots password (53) wipe the cached PINs.
      bool wiped = row.answer == 13 || row.answer == 53;
      EXPECT_EQ(wiped, ctx.pins[0].pin == nullptr) << row.answer << " map " << m;
    }
  }
}

TEST(ContextPins, APinIsHandedOutOnceUnlessKept) {
  talCtx ctx;
  char buffer[16];
  size_t length = 0;
  int32_t external = 7;
  EXPECT_EQ(41, ctx.getPin(1, buffer, &length, &external, false));
  EXPECT_EQ(0, external);
  ctx.setPin(1, "12345");
  length = 5;  // no room for the zero
  EXPECT_EQ(34, ctx.getPin(1, buffer, &length, nullptr, false));
  EXPECT_EQ(6u, length);
  length = sizeof buffer;
  EXPECT_EQ(0, ctx.getPin(1, buffer, &length, nullptr, true));  // kept
  EXPECT_STREQ("12345", buffer);
  EXPECT_EQ(5u, length);
  length = sizeof buffer;
  EXPECT_EQ(0, ctx.getPin(1, buffer, &length, nullptr, false));
  length = sizeof buffer;
  EXPECT_EQ(41, ctx.getPin(1, buffer, &length, nullptr, false));  // gone
  ctx.keepPins = true;
  ctx.setPin(16, "9");
  for (int i = 0; i < 2; ++i) {
    length = sizeof buffer;
    EXPECT_EQ(0, ctx.getPin(16, buffer, &length, nullptr, false));
  }
  EXPECT_ANY_THROW(ctx.getPin(3, buffer, &length, nullptr, false));
}

TEST_F(Ctx, OptionsAreSetAndReadBackOrRefused) {
  talCtx* ctx = open();
  struct Row {
    int32_t option, value, expected, readBack;  // readBack -1: not read
  };
  const Row rows[] = {
      {1, 0, 20, -1},      {2, 2, 20, -1},      {2, 4, 0, 4},        {2, 3, 0, 3},
      {15, 2, 20, -1},     {15, 7, 20, -1},     {15, 9, 20, -1},     {15, 4, 0, 4},
      {15, 6, 0, 6},       {21, 3, 20, -1},     {21, 6, 0, -1},      {21, 2, 0, -1},
      {25, 0x206, 159, -1}, {25, 0x500, 20, -1}, {25, 0x102, 20, -1}, {25, 0x106, 0, 0x106},
      {25, 0x404, 0, 0x404}, {25, 0x308, 159, -1}, {25, 0x306, 0, 0x306}, {31, 1, 0, -1},   {12, 0, 0, 0},
      {27, 0, 0, 0},       {23, 0, 0, 0},       {99, 0, 20, -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, talSetOption(ctx, row.option, row.value))
        << row.option << " " << row.value;
    if (row.readBack < 0) continue;
    int32_t value = -1;
    EXPECT_EQ(0, ctx->getOption(row.option, &value)) << row.option;
    EXPECT_EQ(row.readBack, value) << row.option << " " << row.value;
  }
  int32_t value = 0;
  EXPECT_EQ(20, ctx->getOption(1, &value));
  EXPECT_EQ(20, ctx->getOption(99, &value));
  EXPECT_EQ(20, ctx->getOption(12, nullptr));
  EXPECT_EQ(1, ctx->option31);
  EXPECT_EQ(0, talDeinit(ctx));
}

TEST_F(Ctx, SignatureAlgorithmChecksAgainstTheSignerCertificateWriteTheirReasons) {
  struct Row {
    const char* certificate;
    int32_t value, expected;
    const char* text;
  };
  const Row rows[] = {
      {"rsa1024.der", 0x406, 159,
       "Podane parametry podpisu RSA PSS sha512 s\xb9 zbyt d\xb3ugie dla aktualnego klucza do "
       "podpisywania.\r\n"},
      {"rsa1024.der", 0x404, 0, ""},
      {"rsa1024.der", 0x106, 0, ""},
      {"ec.der", 0x104, 159,
       "Podany schemat podpisu rsaEncryption nie mo\xbf" "e by\xe6 u\xbfyty z aktualnym kluczem do "
       "podpisywania (kt\xf3ry jest typu ecdsa).\r\n"},
      {"ec.der", 0x304, 0, ""},
  };
  for (const Row& row : rows) {
    talCtx* ctx = open();
    std::vector<uint8_t> der = readFile(DATA + row.certificate);
    ctx->signerCertificate.reset(new SignedCertificate());
    ASSERT_LT(0, ctx->signerCertificate->decodeVector(der));
    EXPECT_EQ(row.expected, talSetOption(ctx, 25, row.value)) << row.certificate << row.value;
    EXPECT_EQ(convertForOutput(row.text), report(ctx)) << row.certificate << row.value;
    EXPECT_EQ(0, talDeinit(ctx));
  }
}

TEST_F(Ctx, CertificateFilesAndTheSelfSignedCaTest) {
  talCert* c = nullptr;
  EXPECT_EQ(20, talAllocateCertFromFile(nullptr, &c));
  EXPECT_EQ(20, talAllocateCertFromFile((DATA + "root.der").c_str(), nullptr));
  EXPECT_EQ(56, talAllocateCertFromFile((root + "/missing.der").c_str(), &c));
  EXPECT_EQ(73, talAllocateCertFromFile((DATA + "digests.txt").c_str(), &c));
  std::string half = root + "/half.der";
  std::vector<uint8_t> der = readFile(DATA + "root.der");
  std::ofstream(half, std::ios::binary).write(reinterpret_cast<const char*>(der.data()), 300);
  EXPECT_EQ(73, talAllocateCertFromFile(half.c_str(), &c));
  EXPECT_EQ(nullptr, c);

  struct Row {
    const char* file;
    int32_t flag;
  };
  const Row rows[] = {{"root.der", 1}, {"root.pem", 1}, {"leaf.der", 0},
                      {"selfsigned-v3-nobc.der", 0}, {"selfsigned-v1.der", 1}};
  for (const Row& row : rows) {
    talCert* certificate = cert(row.file);
    int32_t flag = -1;
    EXPECT_EQ(0, talIsCAAutoCert(certificate, &flag)) << row.file;
    EXPECT_EQ(row.flag, flag) << row.file;
    EXPECT_EQ(0, talDeleteCertificate(certificate));
  }
  int32_t flag = 0;
  EXPECT_EQ(20, talIsCAAutoCert(nullptr, &flag));
  EXPECT_EQ(20, talDeleteCertificate(nullptr));

  talCert* root = cert("root.der");
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  EXPECT_EQ(20, talGetCrtMem(root, nullptr, &length));
  ASSERT_EQ(0, talGetCrtMem(root, &bytes, &length));
  EXPECT_EQ(der, std::vector<uint8_t>(bytes, bytes + length));
  EXPECT_EQ(20, talDeleteBuffer(bytes, -1));
  EXPECT_EQ(0, talDeleteBuffer(bytes, length));
  EXPECT_EQ(20, talDeleteBuffer(nullptr, 0));
  // Only what the library handed out, once: a stranger's buffer and a second delete are refused
  // and nothing is freed (the sanitizer sees a double free).
  EXPECT_EQ(20, talDeleteBuffer(bytes, length));
  void* foreign = std::malloc(4);
  EXPECT_EQ(20, talDeleteBuffer(foreign, 0));
  std::free(foreign);
  // A length past the buffer's end (a caller's mistake) wipes up to the end, never beyond: the
  // sanitizer catches any write past it.
  ASSERT_EQ(0, talGetCrtMem(root, &bytes, &length));
  EXPECT_EQ(0, talDeleteBuffer(bytes, length + 4096));
  EXPECT_EQ(0, talDeleteCertificate(root));
}

TEST_F(Ctx, InstallRootAnswersAndTheOperationMask) {
  talCtx* ctx = open();
  talCert* root = cert("root.der");
  talCert* leaf = cert("leaf.der");
  EXPECT_EQ(0u, ctx->operationMask);
  struct Row {
    talCert* certificate;
    int32_t kind, group, expected;
  };
  const Row rows[] = {{root, 0, 1, 20}, {root, 5, 1, 20}, {leaf, 1, 1, 63}, {root, 3, 1, 137},
                      {root, 1, 1, 0},   {root, 1, 1, 0},   {root, 1, 0, 132}};
  for (const Row& row : rows)
    EXPECT_EQ(row.expected, talInstallRoot(ctx, row.certificate, row.kind, row.group))
        << row.kind << " " << row.group;
  EXPECT_EQ(5u, ctx->operationMask);
  EXPECT_EQ(0, talDeleteCertificate(root));
  EXPECT_EQ(0, talDeleteCertificate(leaf));
  EXPECT_EQ(0, talDeinit(ctx));
}

TEST_F(Ctx, InstallMemCrtStopsAtBytesThatAreNoCertificate) {
  talCtx* ctx = open();
  std::vector<uint8_t> leaf = readFile(DATA + "leaf.der");
  std::vector<uint8_t> leaf2 = readFile(DATA + "leaf2.der");
  std::vector<uint8_t> both = leaf;
  both.insert(both.end(), leaf2.begin(), leaf2.end());
  std::vector<uint8_t> trailing = leaf;
  trailing.insert(trailing.end(), {0x30, 0x03, 0x02, 0x01});
  std::vector<uint8_t> cut = leaf2;  // a format error (-3) half-way: nothing imported
  cut[1] ^= 0x01;
  struct Row {
    const std::vector<uint8_t>* bytes;
    int32_t flag, expected, count;
  };
  // Certificates already in the database count as stored and answer 0: the
  // database keeps one copy without an error, and the application installs
  // the same certificates into the same named in-memory database at every
  // verification of a session.
  const Row rows[] = {{&both, 0, 25, -1}, {&both, 1, 0, 2}, {&both, 1, 0, 2},
                      {&trailing, 1, 0, 1}, {&cut, 1, 0, 0}};
  for (const Row& row : rows) {
    int32_t count = -1;
    EXPECT_EQ(row.expected, talInstallMemCrt(ctx, row.bytes->data(),
                                             static_cast<int32_t>(row.bytes->size()), row.flag,
                                             &count));
    EXPECT_EQ(row.count, count);
  }
  EXPECT_EQ(20, talInstallMemCrt(ctx, nullptr, 4, 1, nullptr));
  EXPECT_EQ(20, talInstallMemCrt(ctx, leaf.data(), 0, 1, nullptr));
  EXPECT_EQ(0, talDeinit(ctx));
}

// A file database whose disk fails the n-th write or sync of an import of two certificates,
// for every n in turn: the answer and the count say what a fresh look at the database finds.
long faultStep = 0, faultAt = 0;
bool failNth() { return ++faultStep == faultAt; }

TEST_F(Ctx, InstallMemCrtCountsWhatAFailedImportLeftStored) {
  std::vector<uint8_t> both = readFile(DATA + "leaf.der");
  const std::vector<uint8_t> leaf2 = readFile(DATA + "leaf2.der");
  both.insert(both.end(), leaf2.begin(), leaf2.end());
  const std::string db = root + "/db";
  int refused = 0;
  for (long n = 1, hit = 1; hit; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    std::filesystem::remove_all(db);
    {
      DbTal made;
      made.connect(db);
      made.create();
    }
    talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, "fulldisk", 9));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "talvorin", 9));
    EXPECT_EQ(0, talSetProfileAttr(p, 16, db.c_str(), static_cast<int32_t>(db.size() + 1)));
    talCtx* ctx = nullptr;
    ASSERT_EQ(0, talInitEx(&ctx, p));
    ASSERT_EQ(0, talAuthenticateEx(ctx, 0));
    int32_t count = -1;
    faultStep = 0;
    faultAt = n;
    platform::setFileFault(failNth);
    int32_t r = talInstallMemCrt(ctx, both.data(), static_cast<int32_t>(both.size()), 1, &count);
    platform::setFileFault(nullptr);
    hit = faultStep >= n;
    EXPECT_EQ(0, talDeinit(ctx));
    DbTal fresh;
    fresh.connect(db);
    int found = 0;
    for (bool at = fresh.crt()->first(); at; at = fresh.crt()->next()) ++found;
    ASSERT_TRUE(r == 0 || r == 158) << r;
    EXPECT_EQ(found, count) << r;
    if (r == 0) {
      EXPECT_EQ(2, count);
    }
    refused += r == 158;
  }
  EXPECT_GT(refused, 3);
}

// Certificates signed over a TBS that is not DER (openssl verifies them:
// tests/data/pki/certs/gen_explicit.sh, gen_nonder_chain.sh) read from files
// and buffers: the buffer's certificates are stored as received and verify
// under their issuers when the database gives them back; the root file is a
// self-signed CA, installs, and verifies again once the roots are reloaded
// from the saved configuration.
TEST_F(Ctx, CertificatesSignedOverNonDerKeepTheirOctets) {
  const std::string certs = std::string(TAL_TEST_DATA_DIR) + "/pki/certs/";
  {
    talCtx* ctx = open();
    const std::vector<uint8_t> v1 = readFile(certs + "v1_explicit.der"),
                               ee = readFile(certs + "nonder_ee.der"),
                               cf = readFile(certs + "critical_false.der");
    std::vector<uint8_t> all = v1;
    all.insert(all.end(), ee.begin(), ee.end());
    all.insert(all.end(), cf.begin(), cf.end());
    int32_t count = 0;
    ASSERT_EQ(0, talInstallMemCrt(ctx, all.data(), static_cast<int32_t>(all.size()), 1, &count));
    EXPECT_EQ(3, count);
    const struct {
      const std::vector<uint8_t>* octets;
      const char* issuer;
    } rows[] = {{&v1, "rsa_ca.der"}, {&ee, "nonder_ca.der"}, {&cf, "critical_false.der"}};
    for (const auto& row : rows) {
      SCOPED_TRACE(row.issuer);
      SignedCertificate sent, issuer;
      ASSERT_EQ(static_cast<int>(row.octets->size()),
                sent.decodeVector(*row.octets, ASN_FLAG_CONST | ASN_FLAG_COPY));
      const std::vector<uint8_t> i = readFile(certs + row.issuer);
      ASSERT_EQ(static_cast<int>(i.size()), issuer.decodeVector(i, ASN_FLAG_CONST | ASN_FLAG_COPY));
      SharedCertificateList stored;
      ASSERT_EQ(0,
                ctx->certificates.findSharedInStores(stored, sent.tbsCertificate.subject, false));
      ASSERT_EQ(1u, stored.size());
      std::vector<uint8_t> back;
      ASSERT_LT(0, stored[0]->encodeVector(back));
      EXPECT_EQ(*row.octets, back);
      EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, stored[0]->verifySignature(issuer));
    }
    EXPECT_EQ(0, talDeinit(ctx));
  }
  for (const char* file : {"nonder_ca.der", "nonder_ca.pem"}) {
    SCOPED_TRACE(file);
    talCtx* ctx = open();
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((certs + file).c_str(), &root));
    int32_t flag = -1;
    EXPECT_EQ(0, talIsCAAutoCert(root, &flag));
    EXPECT_EQ(1, flag);
    uint8_t* bytes = nullptr;
    int32_t length = 0;
    ASSERT_EQ(0, talGetCrtMem(root, &bytes, &length));
    EXPECT_EQ(readFile(certs + "nonder_ca.der"), std::vector<uint8_t>(bytes, bytes + length));
    EXPECT_EQ(0, talDeleteBuffer(bytes, length));
    ASSERT_EQ(0, talInstallRoot(ctx, root, 1, 1));
    ASSERT_EQ(0, ctx->keyManager.loadRoots(0));
    ASSERT_EQ(1, ctx->keyManager.rootList(true).GetCount());
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID,
              ctx->keyManager.rootList(true).elementAt(0)->certificate->verifySelfSigned());
    EXPECT_EQ(0, talDeleteCertificate(root));
    EXPECT_EQ(0, talDeinit(ctx));
  }
}

TEST_F(Ctx, FileDigestsMatchOpenssl) {
  const std::map<std::string, int32_t> numbers = {{"sha1", 1}, {"md5", 2}, {"sha224", 3},
                                                   {"sha256", 4}, {"sha384", 5}, {"sha512", 6},
                                                   {"ripemd160", 8}};
  std::ifstream expected(DATA + "digests.txt");
  std::string line;
  std::map<long, std::string> files;
  int checked = 0;
  while (std::getline(expected, line)) {
    std::istringstream fields(line);
    long size;
    std::string hash, hex;
    fields >> size >> hash >> hex;
    if (!files.count(size)) {
      std::string path = root + "/" + std::to_string(size) + ".bin";
      std::ofstream out(path, std::ios::binary);
      std::vector<char> block(251 * 4096);
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 251);
      for (long left = size; left > 0;) {
        long n = left < static_cast<long>(block.size()) ? left : static_cast<long>(block.size());
        out.write(block.data(), n);
        left -= n;
      }
      files[size] = path;
    }
    uint8_t digest[64];
    ASSERT_EQ(0, talHashFile(files[size].c_str(), numbers.at(hash), digest, sizeof digest));
    std::string got;
    char two[3];
    for (size_t i = 0; i < hex.size() / 2; ++i) {
      std::snprintf(two, sizeof two, "%02x", digest[i]);
      got += two;
    }
    EXPECT_EQ(hex, got) << size << " " << hash;
    ++checked;
  }
  EXPECT_EQ(35, checked);
  uint8_t buffer[64];
  std::memset(buffer, 0xAA, sizeof buffer);
  const char* path = files[1].c_str();
  EXPECT_EQ(20, talHashFile(path, 6, buffer, 32));
  EXPECT_EQ(0, talHashFile(path, 4, buffer, 64));
  EXPECT_EQ(0xAA, buffer[32]);  // only the digest's 32 bytes written
  EXPECT_EQ(20, talHashFile(nullptr, 4, buffer, 64));
  EXPECT_EQ(56, talHashFile((root + "/none").c_str(), 4, buffer, 64));
  EXPECT_EQ(20, talHashFile(path, 4, nullptr, 64));
  EXPECT_EQ(20, talHashFile(path, 0, buffer, 64));
  EXPECT_EQ(20, talHashFile(path, 9, buffer, 64));
  EXPECT_EQ(0, talHashFile(path, 7, buffer, 16));  // RIPEMD-128, which openssl lacks
}

TEST_F(Ctx, FileDigestsReadToTheEndInOneChunkOrSeveral) {
  std::map<std::pair<long, std::string>, std::string> expected;
  std::ifstream lines(DATA + "digests.txt");
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    long size;
    std::string hash, hex;
    fields >> size >> hash >> hex;
    expected[{size, hash}] = hex;
  }
  struct Row {
    long size;
    const char* hash;
    int32_t number;
  };
  const Row rows[] = {{1, "sha256", 4}, {40960, "sha1", 1}, {40961, "sha512", 6}, {0, "md5", 2}};
  for (const Row& row : rows) {
    std::string path = root + "/file" + std::to_string(row.size);
    {
      std::ofstream out(path, std::ios::binary);
      for (long i = 0; i < row.size; ++i) out.put(static_cast<char>(i % 251));
    }
    uint8_t digest[64];
    ASSERT_EQ(0, talHashFile(path.c_str(), row.number, digest, sizeof digest)) << row.size;
    const std::string& hex = expected.at({row.size, row.hash});
    std::string got;
    char two[3];
    for (size_t i = 0; i < hex.size() / 2; ++i) {
      std::snprintf(two, sizeof two, "%02x", digest[i]);
      got += two;
    }
    EXPECT_EQ(hex, got) << row.size << " " << row.hash;
  }
}

TEST_F(Ctx, ProfilesAndProxies) {
  for (int32_t type : {0, 2, 4, 6, 8}) EXPECT_EQ(nullptr, talCreateProfile(type)) << type;
  int notProfile[16] = {0};
  EXPECT_EQ(20, talDeleteProfile(reinterpret_cast<talProfile*>(notProfile)));
  EXPECT_EQ(20, talAddProxy(nullptr, "h", 1, nullptr, nullptr));
  talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
  EXPECT_EQ(0, talGetProxy(p, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, talAddProxy(p, "proxy.local", 3128, "user", nullptr));
  char *address = nullptr, *login = nullptr, *password = nullptr;
  int32_t port = 0;
  ASSERT_EQ(0, talGetProxy(p, &address, &port, &login, &password));
  EXPECT_STREQ("proxy.local", address);
  EXPECT_EQ(3128, port);
  EXPECT_STREQ("user", login);
  EXPECT_STREQ("", password);
  for (char* text : {address, login, password})
    EXPECT_EQ(0, talDeleteBuffer(text, static_cast<int32_t>(std::strlen(text))));

  struct Row {
    int32_t number;
    int32_t bufferLength, expected;
  };
  EXPECT_EQ(0, talSetProfileAttr(p, 0, "abc", 4));
  EXPECT_EQ(20, talSetProfileAttr(p, 1, "abcd", 4));  // read-only
  const Row rows[] = {{0, 16, 0}, {0, 2, 120}, {999, 16, 20}, {21, 16, 133}, {16, 16, 134}};
  for (const Row& row : rows) {
    char buffer[16];
    int32_t length = row.bufferLength;
    EXPECT_EQ(row.expected, talGetProfileAttr(p, row.number, buffer, &length)) << row.number;
  }
  EXPECT_EQ(0, talDeleteProfile(p));
  EXPECT_EQ(0, talDeleteServerIterator(nullptr));
  // A deleted profile's handle is refused without reading the freed object.
  EXPECT_EQ(20, talDeleteProfile(p));
  EXPECT_EQ(20, talSetProfileAttr(p, 0, "abc", 4));
}

// talInitEx takes the profile: the caller's handle can neither delete it under the context nor
// give it to a second context; once the context is gone the handle is refused.
TEST_F(Ctx, AProfileHeldByAContextIsNotTheCallersToDelete) {
  talProfile* p = memoryProfile();
  talCtx* ctx = nullptr;
  ASSERT_EQ(0, talInitEx(&ctx, p));
  EXPECT_EQ(20, talDeleteProfile(p));
  talCtx* second = nullptr;
  EXPECT_EQ(20, talInitEx(&second, p));
  EXPECT_EQ(nullptr, second);
  EXPECT_EQ(0, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(0, talDeinit(ctx));
  EXPECT_EQ(20, talDeleteProfile(p));
}

TEST(Results, MessageAndSignatureGetters) {
  MsgInfo message;
  SigInfo* first = new SigInfo();
  first->status = SIG_STATUS_INCOMPLETE;
  first->qualification = 2;
  first->reason = 7;
  first->form = 3;
  ASSERT_TRUE(message.addSignature(first));
  const talMsgInfo* m = reinterpret_cast<const talMsgInfo*>(&message);
  int32_t value = -1, q = -1, r = -1;
  EXPECT_EQ(0, talMsgStatus(m, &value));
  EXPECT_EQ(SIG_STATUS_INCOMPLETE, value);
  EXPECT_EQ(0, talGetMessageSignatureCount(m, &value));
  EXPECT_EQ(1, value);
  talSigInfo* s = nullptr;
  EXPECT_EQ(20, talGetMessageSignature(m, 1, &s));
  EXPECT_EQ(20, talGetMessageSignature(m, -1, &s));
  EXPECT_EQ(0, talGetMessageSignature(m, 0, &s));
  EXPECT_EQ(reinterpret_cast<talSigInfo*>(first), s);
  EXPECT_EQ(0, talSignatureStatus(s, &value, &q, &r));
  EXPECT_EQ(3, value);
  EXPECT_EQ(2, q);
  EXPECT_EQ(7, r);
  EXPECT_EQ(0, talGetSignatureTimeStampCount(s, &value));
  EXPECT_EQ(0, value);
  value = -1;
  EXPECT_EQ(0, talGetCounterSignatureCount(s, &value));  // form 3: a plain signature
  EXPECT_EQ(0, value);
  EXPECT_EQ(20, talMsgStatus(nullptr, &value));
  EXPECT_EQ(20, talGetMessageSignatureCount(m, nullptr));
  EXPECT_EQ(20, talSignatureStatus(s, &value, nullptr, &r));
  EXPECT_EQ(20, talGetSignatureTimeStampCount(nullptr, &value));
  EXPECT_EQ(20, talGetCounterSignatureCount(s, nullptr));
}

TEST_F(Ctx, ProtectMessageChecksTheContextTheKeysAndTheStreams) {
  talCtx* bare = new talCtx();
  EXPECT_EQ(22, talProtectMessageGF(bare, nullptr, nullptr, nullptr, 2));
  EXPECT_EQ(0, talDeinit(bare));
  talCtx* ctx = open();
  EXPECT_EQ(25, talProtectMessageGF(ctx, nullptr, nullptr, nullptr, 2));  // no roots yet
  talCert* root = cert("root.der");
  ASSERT_EQ(0, talInstallRoot(ctx, root, 1, 1));
  EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, nullptr, nullptr, 256));
  EXPECT_EQ(30, talProtectMessageGF(ctx, nullptr, nullptr, nullptr, 2));  // no signing key
  // Encryption needs no key of its own, but streams and recipients.
  EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, nullptr, nullptr, 1));
  EXPECT_EQ(0, talDeleteCertificate(root));
  EXPECT_EQ(0, talDeinit(ctx));
}

// The road installs roots between talInitEx and talAuthenticateEx; the configuration it saves
// then and loads back keeps the defaults (option 37 at 0: paths are built and checked).
TEST_F(Ctx, RootsInstalledBeforeAuthenticationKeepTheDefaults) {
  talCtx* ctx = nullptr;
  ASSERT_EQ(0, talInitEx(&ctx, memoryProfile()));
  talCert* root = cert("root.der");
  ASSERT_EQ(0, talInstallRoot(ctx, root, 1, 1));
  ASSERT_EQ(0, talAuthenticateEx(ctx, 0));
  EXPECT_EQ(0, ctx->configuration.getIntOption(37));
  EXPECT_EQ(0, ctx->configuration.getIntOption(35));
  EXPECT_EQ(30, ctx->configuration.getIntOption(17));
  EXPECT_EQ(0, talDeleteCertificate(root));
  EXPECT_EQ(0, talDeinit(ctx));
}

TEST_F(Ctx, CloneStoresCollectedCertificatesAndWorksOnAnotherThread) {
  talCtx* ctx = open();
  std::vector<uint8_t> der = readFile(DATA + "leaf.der");
  SignedCertificate leaf;
  ASSERT_LT(0, leaf.decodeVector(der));
  ctx->rememberCertificate(leaf);
  ctx->rememberCertificate(leaf);  // met twice, kept once
  EXPECT_EQ(1, ctx->collectedStore.size());
  ctx->setPin(2, "secret");
  ctx->warnings = 1;
  talCtx* clone = nullptr;
  ASSERT_EQ(10, talCloneCtx(ctx, &clone));
  EXPECT_EQ(0, ctx->collectedStore.size());
  EXPECT_STREQ("secret", clone->pins[1].pin);
  EXPECT_NE(ctx->pins[1].pin, clone->pins[1].pin);
  EXPECT_EQ(20, talCloneCtx(ctx, nullptr));

  auto work = [](talCtx* c, int32_t* result) {
    uint8_t random[64];
    int32_t r = 0;
    for (int i = 0; i < 50 && r == 0; ++i) {
      r = talRbgFill(c, random, sizeof random);
      if (r == 0) r = talSetOption(c, 12, i & 1);
    }
    *result = r;
  };
  int32_t first = -1, second = -1;
  std::thread a(work, ctx, &first), b(work, clone, &second);
  a.join();
  b.join();
  EXPECT_EQ(0, first);
  EXPECT_EQ(0, second);
  uint8_t byte;
  EXPECT_EQ(20, talRbgFill(ctx, &byte, 0));
  EXPECT_EQ(0, talDeinit(clone));
  EXPECT_EQ(0, talDeinit(ctx));
}

}  // namespace

namespace {

// A database door without a certificate store: every import fails.
class NoCertificateDb : public CertificateDbSource {
 public:
  DbCrtBase* certificateDb() override { return nullptr; }
};

TEST_F(Ctx, DeinitKeepsTheContextWhileTheDatabaseFailsAndTriesAgain) {
  talCtx* ctx = open();
  SignedCertificate leaf;
  ASSERT_LT(0, leaf.decodeVector(readFile(DATA + "leaf.der")));
  ctx->rememberCertificate(leaf);
  NoCertificateDb broken;
  ctx->certificates.setContext(&broken);
  EXPECT_EQ(158, talDeinit(ctx));
  talCtx* clone = nullptr;
  EXPECT_EQ(158, talCloneCtx(ctx, &clone));
  EXPECT_EQ(nullptr, clone);
  EXPECT_EQ(0, checkCtx(ctx));
  EXPECT_EQ(1, ctx->collectedStore.size());
  ctx->certificates.setContext(&ctx->certificateDb);
  EXPECT_EQ(0, talDeinit(ctx));
}

}  // namespace
