// Message protection through the C API over a PKCS#12 profile (tests/data/keys/p12, made by
// openssl pkcs12 -export): the messages openssl cms verifies and decrypts, option 20's rule,
// the streams and PIN a C caller has, the configured servers a real context searches, and a
// signed time-stamp request under the default configuration answered by a local TSA that
// verifies it (openssl cms -verify, then openssl ts -reply). The signer's issuers travel with
// its signature, for keys in a PKCS#12 file and on a SoftHSM2 token (tests/data/smime).
#include "talvorin.h"

#include "api/ctxtimestamp.h"
#include "api/talctx.h"
#include "api/talstream.h"
#include "base/b64file.h"
#include "base/reportstream.h"
#include "keys/talprofile.h"
#include "net/localtsa.h"
#include "platform/registrysandbox.h"
#include "store/dbbase.h"
#include "hangguard.h"
#include "../keys/softhsm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string P12 = std::string(TAL_TEST_DATA_DIR) + "/keys/p12/";
const std::string NET = std::string(TAL_TEST_DATA_DIR) + "/net/";
const std::string UPO = std::string(TAL_TEST_DATA_DIR) + "/upo/pki/";
const std::string SMIME = std::string(TAL_TEST_DATA_DIR) + "/smime/";

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool run(std::vector<const char*> argv) {
  argv.push_back(nullptr);
  return runQuiet(argv.data(), true, nullptr) == 0;
}

class Protect : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    char pattern[] = "/tmp/talprotXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir = pattern;
    // The signer's certificate as openssl takes a trust anchor; the recipient's key out of its
    // PKCS#12 file.
    const std::string signerPem = dir + "/both.pem", decPem = dir + "/dec.pem", decKey = dir + "/dec.key";
    ASSERT_TRUE(run({"openssl", "x509", "-inform", "DER", "-in", (P12 + "both.der").c_str(), "-out",
                     signerPem.c_str()}));
    ASSERT_TRUE(run({"openssl", "x509", "-inform", "DER", "-in", (P12 + "dec.der").c_str(), "-out",
                     decPem.c_str()}));
    ASSERT_TRUE(run({"openssl", "pkcs12", "-in", (P12 + "dec.p12").c_str(), "-legacy", "-nocerts", "-nodes", "-passin",
                     "pass:vorin-PIN", "-out", decKey.c_str()}));
  }
  void TearDown() override {
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    std::filesystem::remove_all(dir);
    RegistrySandbox::TearDown();
  }

  // A context over a PKCS#12 file, the PIN given through the C API, the default configuration.
  void open(const char* file = "both-aes.p12", const char* pin = "vorin-PIN", int32_t expected = 0) {
    openProfile(TAL_PROFILE_PKCS12, 9, P12 + file, nullptr, pin, expected);
  }
  // A context of a profile type over its key file (attribute 9) or PKCS#11 module (3), a token's
  // key chosen by label for signing only; each with a database of its own.
  void openProfile(int32_t type, int32_t attribute, const std::string& path, const char* keyLabel,
                   const char* pin, int32_t expected = 0) {
    static int serial = 0;
    talProfile* p = talCreateProfile(type);
    const std::string name = "protect-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    ASSERT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    ASSERT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    ASSERT_EQ(0, talSetProfileAttr(p, attribute, path.c_str(), static_cast<int32_t>(path.size() + 1)));
    if (keyLabel) {
      const int32_t one = 1;
      ASSERT_EQ(0, talSetProfileAttr(p, 6, keyLabel, static_cast<int32_t>(strlen(keyLabel) + 1)));
      ASSERT_EQ(0, talSetProfileAttr(p, 27, &one, 4));
    }
    profile = reinterpret_cast<TalProfile*>(p);
    ASSERT_EQ(type == TAL_PROFILE_PKCS11 ? TAL_OK_NEED_CRYPTO_CARD : 0, talInitEx(&ctx, p));
    if (ProfileParameters* parameters = ctx->configuration.getProfileParameters())
      parameters->set("dbname", name);
    if (pin) { ASSERT_EQ(0, talSetPin(ctx, 1, pin)); }
    ASSERT_EQ(expected, talAuthenticateEx(ctx, 0));
  }

  // Protects `content` into a file: the answer; the file at `out`.
  int32_t protect(const std::string& content, int32_t flags, talCert** recipients, const std::string& out) {
    talStream* in = nullptr;
    talStream* output = nullptr;
    EXPECT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>(content.data()),
                                    static_cast<int32_t>(content.size()), &in));
    EXPECT_EQ(0, talCreateFileStream(out.c_str(), 1, &output));
    const int32_t r = talProtectMessageGF(ctx, recipients, in, output, flags);
    EXPECT_EQ(0, talDeleteStream(in));
    EXPECT_EQ(0, talDeleteStream(output));
    return r;
  }

  // The subjects of the certificates a message carries, as openssl prints them (a SET: in no
  // order; one a certificate, so a certificate carried twice shows twice).
  std::multiset<std::string> carried(const std::string& message) {
    const std::string der = message + ".der", certs = message + ".certs";
    EXPECT_TRUE(run({"openssl", "cms", "-cmsout", "-in", message.c_str(), "-outform", "DER", "-out",
                     der.c_str()}));
    EXPECT_TRUE(run({"openssl", "pkcs7", "-inform", "DER", "-in", der.c_str(), "-print_certs",
                     "-noout", "-out", certs.c_str()}));
    std::multiset<std::string> subjects;
    std::istringstream lines(readAll(certs));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("subject=", 0) == 0) subjects.insert(line.substr(8));
    return subjects;
  }

  // openssl verifies the message; what it signed is the content, as it is (the bare DER form)
  // or as the body of a MIME entity.
  bool verifies(const std::string& message, const std::string& content, const char* form = "SMIME") {
    const std::string out = message + ".content", ca = dir + "/both.pem";
    // A detached signature is checked over the signed part in canonical (CR LF) form; the others
    // over their octets as they are.
    const bool detached = readAll(message).find("multipart/signed") != std::string::npos;
    std::vector<const char*> argv = {"openssl", "cms", "-verify", "-inform", form, "-in", message.c_str(), "-CAfile",
                                     ca.c_str(), "-purpose", "any", "-out", out.c_str()};
    if (!detached) argv.push_back("-binary");
    if (!run(argv)) return false;
    // A detached signature signs the content in base64, to pass mail relays unchanged.
    char base64[256] = {};
    const int32_t n = encodeBase64Buffer(reinterpret_cast<const uint8_t*>(content.data()),
                                         static_cast<int32_t>(content.size()), base64);
    const std::string signedContent = readAll(out), body = "\r\n\r\n" + content;
    return signedContent == content ||
           (signedContent.size() > body.size() &&
            signedContent.compare(signedContent.size() - body.size(), body.size(), body) == 0) ||
           signedContent.find(std::string(base64, static_cast<size_t>(n))) != std::string::npos;
  }
  bool decrypts(const std::string& message, const std::string& plain) {
    return run({"openssl", "cms", "-decrypt", "-in", message.c_str(), "-recip", (dir + "/dec.pem").c_str(),
                "-inkey", (dir + "/dec.key").c_str(), "-out", plain.c_str()});
  }

  talCtx* ctx = nullptr;
  TalProfile* profile = nullptr;
  std::string dir;
};

TEST_F(Protect, StreamsAndThePinOfACCaller) {
  talStream* s = nullptr;
  EXPECT_EQ(20, talCreateMemStream(nullptr, 3, &s));
  EXPECT_EQ(20, talCreateMemStream(reinterpret_cast<const uint8_t*>("abc"), -1, &s));
  EXPECT_EQ(56, talCreateFileStream((dir + "/missing").c_str(), 0, &s));
  EXPECT_EQ(57, talCreateFileStream((dir + "/no/such/folder").c_str(), 1, &s));
  EXPECT_EQ(20, talCreateFileStream((dir + "/x").c_str(), 2, &s));
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("abc"), 3, &s));
  uint8_t* data = nullptr;
  int32_t length = 0;
  ASSERT_EQ(0, talGetMemStreamData(s, &data, &length));
  EXPECT_EQ("abc", std::string(reinterpret_cast<char*>(data), static_cast<size_t>(length)));
  EXPECT_EQ(0, talDeleteBuffer(data, length));
  EXPECT_EQ(0, talDeleteStream(s));
  EXPECT_EQ(20, talDeleteStream(s)) << "a deleted stream is no stream";
  EXPECT_EQ(20, talGetMemStreamData(s, &data, &length));
  talStream* file = nullptr;
  ASSERT_EQ(0, talCreateFileStream((dir + "/f").c_str(), 1, &file));
  EXPECT_EQ(20, talGetMemStreamData(file, &data, &length));
  EXPECT_EQ(0, talDeleteStream(file));

  // The PIN: refused without a context or for an unknown usage; a wrong one answers 46 and is
  // not kept; without one the key cannot be read (35).
  EXPECT_EQ(20, talSetPin(nullptr, 1, "x"));
  open("both-aes.p12", "vorin-pin", 46);
  EXPECT_EQ(20, talSetPin(ctx, 3, "x"));
  EXPECT_EQ(20, talSetPin(ctx, 1, nullptr));
  EXPECT_EQ(nullptr, ctx->pins[0].pin);
  EXPECT_EQ(0, talDeinit(ctx));
  ctx = nullptr;
  open("both-aes.p12", nullptr, 35);
}

// Only regular files make file streams: a FIFO would hold the call until someone writes to it,
// and /dev/zero would be read (or a directory written) without end.
TEST_F(Protect, FileStreamsTakeRegularFilesOnlyWithoutWaiting) {
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  struct Row {
    std::string path;
    int32_t mode, result;
  };
  const Row rows[] = {{fifo, 0, 56}, {fifo, 1, 57}, {"/dev/zero", 0, 56}, {"/dev/null", 1, 57},
                      {dir, 0, 56},  {dir, 1, 57}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + " mode " + std::to_string(row.mode));
    talStream* s = nullptr;
    auto made = std::async(std::launch::async, [&] { return talCreateFileStream(row.path.c_str(), row.mode, &s); });
    // A call that does not wait answers at once; one that waits for a writer
    // never would: the guard need not be tight, and is not, for a busy machine.
    if (made.wait_for(std::chrono::seconds(HANG_GUARD_SECONDS)) != std::future_status::ready) {
      // Let the blocked open go (a writer arrives) before failing.
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
      ADD_FAILURE() << "the stream waited";
    }
    EXPECT_EQ(row.result, made.get());
    if (s) talDeleteStream(s);
  }
}

// The recipients are a list of certificate handles: anything else in it answers 20 and leaves
// no output, and a handle is freed once.
TEST_F(Protect, RecipientsThatAreNotCertificatesAreRefused) {
  open();
  talCert* recipient = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((P12 + "dec.der").c_str(), &recipient));
  talCert* deleted = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((P12 + "dec.der").c_str(), &deleted));
  ASSERT_EQ(0, talDeleteCertificate(deleted));
  EXPECT_EQ(20, talDeleteCertificate(deleted)) << "deleted twice";
  talStream* stream = nullptr;
  ASSERT_EQ(0, talCreateMemStream(nullptr, 0, &stream));
  const std::string noise(64, '\x30');
  const std::string out = dir + "/message";
  struct Row {
    const char* what;
    std::vector<const void*> list;
  };
  const Row rows[] = {
      {"a stream handle", {stream, nullptr}},
      {"bytes that are no handle", {noise.data(), nullptr}},
      {"a deleted certificate", {deleted, nullptr}},
      {"a good certificate, then a stream", {recipient, stream, nullptr}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(20, protect("content\r\n", 1, reinterpret_cast<talCert**>(const_cast<void**>(row.list.data())), out));
  }
  talCert* good[] = {recipient, nullptr};
  EXPECT_EQ(0, protect("content\r\n", 1, good, out));
  EXPECT_EQ(0, talDeleteStream(stream));
  EXPECT_EQ(0, talDeleteCertificate(recipient));
}

// A stream held by one call is neither used by another nor freed under it.
TEST_F(Protect, AStreamHeldByACallIsRefusedToOthers) {
  open();
  talStream* in = nullptr;
  talStream* out = nullptr;
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("x"), 1, &in));
  ASSERT_EQ(0, talCreateMemStream(nullptr, 0, &out));
  uint8_t* data = nullptr;
  int32_t length = 0;
  {
    StreamUse held(in);
    ASSERT_NE(nullptr, held.get());
    EXPECT_EQ(nullptr, StreamUse(in).get());
    EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, in, out, 2));
    EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, out, in, 2));
    EXPECT_EQ(20, talGetMemStreamData(in, &data, &length));
    EXPECT_EQ(20, talDeleteStream(in));
  }
  EXPECT_EQ(0, talProtectMessageGF(ctx, nullptr, in, out, 2));
  // Two threads handing in one input: each call either protects it or is refused, never both
  // at once; the stream outlives them.
  int32_t first = -1, second = -1;
  std::thread a([&] { first = talProtectMessageGF(ctx, nullptr, in, out, 2); });
  std::thread b([&] { second = talGetMemStreamData(in, &data, &length); });
  a.join();
  b.join();
  // Whichever call takes the stream first goes on; the other may come after it (both 0) or
  // meet it held (20), never both refused.
  EXPECT_TRUE(first == 0 || first == 20) << first;
  EXPECT_TRUE(second == 0 || second == 20) << second;
  EXPECT_TRUE(first == 0 || second == 0) << first << " " << second;
  if (second == 0) talDeleteBuffer(data, length);
  EXPECT_EQ(0, talDeleteStream(in));
  EXPECT_EQ(0, talDeleteStream(out));
}

TEST_F(Protect, MessagesOpensslVerifiesAndDecrypts) {
  open();
  talCert* recipient = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((P12 + "dec.der").c_str(), &recipient));
  std::unique_ptr<talCert, int32_t (*)(talCert*)> owned(recipient, talDeleteCertificate);
  talCert* recipients[] = {recipient, nullptr};
  const std::string content = "Zawartość wiadomości\r\nline two\r\n";
  struct Row {
    const char* what;
    int32_t option;  // an option set for the row (0: none)
    int32_t flags;
    bool encrypted, signedMessage;
    const char* form;  // how openssl reads the signed message
  };
  const Row rows[] = {
      {"opaque signed", 0, 2, false, true, "SMIME"},
      {"detached signed", 8, 2, false, true, "SMIME"},
      {"signed as option 3 asks", 0, 64, false, true, "SMIME"},
      {"flag 64 with option 3 off", -3, 64, false, false, ""},
      {"bare DER signed", 7, 2, false, true, "DER"},
      {"enveloped", 0, 1, true, false, ""},
      {"signed then enveloped", 0, 3, true, true, "SMIME"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // A negative option is set to 0, a positive one to 1, for the row.
    if (row.option) { ASSERT_EQ(1, ctx->configuration.setOption(std::abs(row.option), row.option > 0, true)); }
    const std::string out = dir + "/message";
    ASSERT_EQ(0, protect(content, row.flags, recipients, out)) << talReportText(ctx);
    std::string message = out;
    if (row.encrypted) {
      message = out + ".inner";
      ASSERT_TRUE(decrypts(out, message));
      if (!row.signedMessage) {
        // What was enveloped is the content as a MIME entity.
        EXPECT_NE(std::string::npos, readAll(message).find("Content-Type:"));
      }
    }
    if (row.signedMessage) { EXPECT_TRUE(verifies(message, content, row.form)) << readAll(message).substr(0, 400); }
    if (!row.signedMessage && !row.encrypted) {
      EXPECT_EQ(std::string::npos, readAll(message).find("pkcs7")) << "option 3 off: flag 64 does not sign";
    }
    if (row.option) { ASSERT_EQ(1, ctx->configuration.setOption(std::abs(row.option), row.option < 0, true)); }
  }
}

// A recipient who trusts only the root verifies the messages of RSA and EC signers whose keys are
// in a PKCS#12 file (the intermediate and the root beside them in the file) or on a token (the
// intermediate stored in the context's database): the message carries the signer's certificate
// and the intermediate, never the root, though the context knows it (installed). Text signed in
// multipart/signed (options 8 and 10) passes a relay that re-encodes 8-bit text. With option 2
// off no certificate travels.
TEST_F(Protect, TheSignersIssuersTravelToARecipientWhoTrustsOnlyTheRoot) {
  softhsm::Token token;
  ASSERT_TRUE(token.make({{SMIME + "signer-rsa.key", SMIME + "signer-rsa.der", "rsa", "01"},
                          {SMIME + "signer-ec.key", SMIME + "signer-ec.der", "ec", "02"}}));
  const std::string root = SMIME + "root.pem", inter = readAll(SMIME + "inter.der");
  struct Row {
    const char* what;
    const char* p12;    // the key file, or NULL for the token
    const char* label;  // the token's key
    const char* signer;  // the signer's subject as openssl prints it
  };
  const Row rows[] = {
      {"RSA in a PKCS#12 file", "signer-rsa.p12", nullptr, "CN = Signer RSA, O = TAL-VORIN"},
      {"EC in a PKCS#12 file", "signer-ec.p12", nullptr, "CN = Signer EC, O = TAL-VORIN"},
      {"RSA on a token", nullptr, "rsa", "CN = Signer RSA, O = TAL-VORIN"},
      {"EC on a token", nullptr, "ec", "CN = Signer EC, O = TAL-VORIN"},
  };
  // Zażółć gęślą jaźń in Windows-1250, and a lone CR.
  const std::string content = "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1\rkoniec\r\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.p12) {
      openProfile(TAL_PROFILE_PKCS12, 9, SMIME + row.p12, nullptr, "1234");
    } else {
      openProfile(TAL_PROFILE_PKCS11, 3, token.module, row.label, softhsm::USER_PIN);
      int32_t stored = 0;
      ASSERT_EQ(0, talInstallMemCrt(ctx, reinterpret_cast<const uint8_t*>(inter.data()),
                                    static_cast<int32_t>(inter.size()), 1, &stored));
      EXPECT_EQ(1, stored);
    }
    ASSERT_NE(nullptr, ctx);
    talCert* rootCert = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile(root.c_str(), &rootCert));
    EXPECT_EQ(0, talInstallRoot(ctx, rootCert, 1, 1));
    EXPECT_EQ(0, talDeleteCertificate(rootCert));
    for (bool detachedText : {false, true}) {
      SCOPED_TRACE(detachedText ? "detached text" : "opaque");
      ASSERT_EQ(1, ctx->configuration.setOption(8, detachedText, true));
      ASSERT_EQ(1, ctx->configuration.setOption(10, detachedText, true));
      std::string message = dir + "/message";
      ASSERT_EQ(0, protect(content, 2, nullptr, message)) << talReportText(ctx);
      if (detachedText) {
        const std::string relay = "python3 '" + SMIME + "mail_relay.py' relay '" + message + "' '" +
                                  message + ".relayed' 7bit";
        ASSERT_EQ(0, std::system(relay.c_str()));
        message += ".relayed";
      }
      EXPECT_TRUE(run({"openssl", "cms", "-verify", "-in", message.c_str(), "-CAfile", root.c_str(),
                       "-out", (dir + "/content").c_str()}));
      EXPECT_EQ(std::multiset<std::string>({row.signer, "CN = SMIME Intermediate, O = TAL-VORIN"}),
                carried(message));
    }
    ASSERT_EQ(1, ctx->configuration.setOption(2, 0, true));
    ASSERT_EQ(0, protect(content, 2, nullptr, dir + "/bare"));
    EXPECT_TRUE(carried(dir + "/bare").empty());
    EXPECT_EQ(0, talDeinit(ctx));
    ctx = nullptr;
  }
}

// Two CAs that certify each other, beside the signer in its PKCS#12 file, with no root: the walk
// up from the signer carries each once and stops where the loop closes.
TEST_F(Protect, CrossCertificatesThatLoopAreCarriedOnce) {
  openProfile(TAL_PROFILE_PKCS12, 9, SMIME + "cross/signer.p12", nullptr, "1234");
  ASSERT_NE(nullptr, ctx);
  const std::string message = dir + "/message";
  ASSERT_EQ(0, protect("Deklaracja\r\n", 2, nullptr, message)) << talReportText(ctx);
  EXPECT_EQ(std::multiset<std::string>({"CN = Signer Cross, O = TAL-VORIN",
                                        "CN = Cross X, O = TAL-VORIN", "CN = Cross Y, O = TAL-VORIN"}),
            carried(message));
  EXPECT_TRUE(run({"openssl", "cms", "-verify", "-noverify", "-in", message.c_str(), "-out",
                   (dir + "/content").c_str()}));
}

TEST_F(Protect, BadRecipientsStreamsAndOptionTwentyGiveClearCodes) {
  open();
  const std::string out = dir + "/message";
  const std::string content = "content\r\n";
  struct Row {
    const char* what;
    std::string recipient;  // a certificate file, "" for no recipient list
    int32_t result;
  };
  const Row rows[] = {
      {"no recipients", "", 20},
      {"an EC key", P12 + "ec.der", 66},
      {"a signing-only certificate", P12 + "sign.der", 74},
      {"an expired certificate", UPO + "signer-expired.der", 64},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    talCert* cert = nullptr;
    if (!row.recipient.empty()) { ASSERT_EQ(0, talAllocateCertFromFile(row.recipient.c_str(), &cert)); }
    std::unique_ptr<talCert, int32_t (*)(talCert*)> owned(cert, talDeleteCertificate);
    talCert* list[] = {cert, nullptr};
    EXPECT_EQ(row.result, protect(content, 1, cert ? list : nullptr, out));
    EXPECT_EQ(0u, std::filesystem::file_size(out)) << "nothing left that could pass for a message";
  }

  // Streams: a deleted one, the same for both ends, a file open for reading as the output.
  talStream* in = nullptr;
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>("x"), 1, &in));
  talStream* gone = nullptr;
  ASSERT_EQ(0, talCreateMemStream(nullptr, 0, &gone));
  ASSERT_EQ(0, talDeleteStream(gone));
  EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, in, gone, 2));
  EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, in, in, 2));
  { std::ofstream(dir + "/readonly") << "old"; }
  talStream* readOnly = nullptr;
  ASSERT_EQ(0, talCreateFileStream((dir + "/readonly").c_str(), 0, &readOnly));
  EXPECT_EQ(62, talProtectMessageGF(ctx, nullptr, in, readOnly, 2));
  // A write stream over a file another stream reads would empty it before any call: refused.
  talStream* sameFile = nullptr;
  EXPECT_EQ(20, talCreateFileStream((dir + "/./readonly").c_str(), 1, &sameFile));
  EXPECT_EQ("old", readAll(dir + "/readonly"));
  EXPECT_EQ(0, talDeleteStream(readOnly));
  // Made the other way round (the output first), the two still meet only to be refused.
  ASSERT_EQ(0, talCreateFileStream((dir + "/./readonly").c_str(), 1, &sameFile));
  { std::ofstream(dir + "/readonly") << "old"; }
  ASSERT_EQ(0, talCreateFileStream((dir + "/readonly").c_str(), 0, &readOnly));
  EXPECT_EQ(20, talProtectMessageGF(ctx, nullptr, readOnly, sameFile, 2)) << "one file behind both";
  EXPECT_EQ("old", readAll(dir + "/readonly"));
  EXPECT_EQ(0, talDeleteStream(sameFile));
  EXPECT_EQ(0, talDeleteStream(readOnly));
  // An output named by a relative path, after a change of folder: the file of that name in the
  // new folder is not the stream's, and is neither emptied nor written.
  {
    std::filesystem::create_directory(dir + "/a");
    std::filesystem::create_directory(dir + "/b");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir + "/a");
    talStream* relative = nullptr;
    ASSERT_EQ(0, talCreateFileStream("out.msg", 1, &relative));
    std::filesystem::current_path(dir + "/b");
    { std::ofstream("out.msg") << "keep"; }
    EXPECT_NE(0, talProtectMessageGF(ctx, nullptr, in, relative, 2));
    EXPECT_EQ(0, talDeleteStream(relative));
    std::filesystem::current_path(before);
    EXPECT_EQ("keep", readAll(dir + "/b/out.msg"));
  }
  // An output that held more than the message: nothing of it trails the message.
  const std::string filler(20000, '#');
  talStream* used = nullptr;
  ASSERT_EQ(0, talCreateMemStream(reinterpret_cast<const uint8_t*>(filler.data()), 20000, &used));
  EXPECT_EQ(0, talProtectMessageGF(ctx, nullptr, in, used, 2));
  uint8_t* data = nullptr;
  int32_t length = 0;
  ASSERT_EQ(0, talGetMemStreamData(used, &data, &length));
  EXPECT_EQ(std::string::npos, std::string(reinterpret_cast<char*>(data), static_cast<size_t>(length)).find('#'));
  EXPECT_EQ(0, talDeleteBuffer(data, length));
  EXPECT_EQ(0, talDeleteStream(used));

  // Option 20: encryption alone takes only a signed message of this library, and never option 7.
  talCert* recipient = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((P12 + "dec.der").c_str(), &recipient));
  std::unique_ptr<talCert, int32_t (*)(talCert*)> owned(recipient, talDeleteCertificate);
  talCert* recipients[] = {recipient, nullptr};
  ASSERT_EQ(1, ctx->configuration.setOption(20, 1, true));
  EXPECT_EQ(89, protect(content, 1, recipients, out));
  // The recipients are set up after the input is checked: no list still answers 89 first.
  EXPECT_EQ(89, protect(content, 1, nullptr, out));
  ASSERT_EQ(0, protect(content, 2, nullptr, dir + "/signed"));
  talStream* signedIn = nullptr;
  talStream* output = nullptr;
  ASSERT_EQ(0, talCreateFileStream((dir + "/signed").c_str(), 0, &signedIn));
  ASSERT_EQ(0, talCreateFileStream(out.c_str(), 1, &output));
  EXPECT_EQ(0, talProtectMessageGF(ctx, recipients, signedIn, output, 1));
  ASSERT_EQ(1, ctx->configuration.setOption(7, 1, true));
  EXPECT_EQ(20, talProtectMessageGF(ctx, recipients, signedIn, output, 1));
  EXPECT_EQ(0, talDeleteStream(signedIn));
  EXPECT_EQ(0, talDeleteStream(output));
  EXPECT_TRUE(decrypts(out, dir + "/inner"));
  EXPECT_TRUE(verifies(dir + "/inner", content));
  EXPECT_EQ(0, talDeleteStream(in));
}

TEST_F(Protect, ConfiguredServersAreFound) {
  open();
  profile->addServer(3, "http://127.0.0.1:1/tsa");
  profile->addServer(4, "http://127.0.0.1:2/ocsp");
  profile->addServer(3, "http://127.0.0.1:1/tsa");
  std::unique_ptr<DbBase> db(ctx->database.getConnection());
  ASSERT_NE(nullptr, db);
  db->srv()->setImportNumber(1, "ldap://127.0.0.1:3/o=Test", 5);
  db->srv()->setImportNumber(1, "a-name-only", 6);
  DistinguishedName issuer;
  ASSERT_TRUE(issuer.fromText("CN=Wystawca,C=PL", -1, 0x800));
  struct Row {
    int32_t kind;
    const DistinguishedName* issuer;
    std::vector<std::string> urls;
  };
  const Row rows[] = {
      {3, nullptr, {"http://127.0.0.1:1/tsa"}},
      {4, &issuer, {"http://127.0.0.1:2/ocsp"}},
      {1, nullptr, {"ldap://127.0.0.1:3/o=test"}},
      {2, &issuer, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    ServerSearch search;
    std::string url;
    std::vector<std::string> found;
    for (int32_t r = ctx->configuration.findFirstServer(search, row.kind, row.issuer, url); r == 0;
         r = ctx->configuration.findNextServer(search, url))
      found.push_back(url);
    EXPECT_EQ(row.urls, found);
  }
  EXPECT_TRUE(ctx->network.canQueryNetwork(4, &issuer)) << "the network sees the configured server";
}

TEST_F(Protect, SignedTimeStampRequestUnderTheDefaultConfiguration) {
  open();
  ASSERT_EQ(1, ctx->configuration.getIntOption(3)) << "the default: requests are signed";
  OpensslTsaFiles files{NET + "tsa.pem", NET + "tsa.key", NET + "ca.pem"};
  files.requestSignersCa = dir + "/both.pem";
  LocalHttpServer tsa(opensslTsaOf(files));
  ASSERT_NE(0, tsa.port);
  profile->addServer(3, tsa.url("/tsa"));
  ASSERT_EQ(0, talSetOption(ctx, 18, 0));
  ASSERT_EQ(0, talSetOption(ctx, 16, 1));  // no revocation data from the network
  talCert* root = nullptr;
  ASSERT_EQ(0, talAllocateCertFromFile((NET + "ca.der").c_str(), &root));
  EXPECT_EQ(0, talInstallRoot(ctx, root, 1, 1));
  EXPECT_EQ(0, talDeleteCertificate(root));
  const std::string digest(32, '\x5a');

  // Without a signing key the request cannot be signed: the report gives the code's message.
  ctx->keyManager.flags &= ~KM_FLAG_SIGNING_LOADED;
  ArchiveTimeStampTokens none;
  EXPECT_EQ(124, requestContextTimeStamp(ctx, nullptr, digest, 3, none));
  // The expected line goes through a report stream too: the report is in the output's code page.
  MemFile expected;
  ReportStream line(&expected);
  line << (std::string("talProtectMessageGF zwróciła: ") + talErrorText(ctx, 30) + "\r\n").c_str();
  EXPECT_NE(std::string::npos,
            std::string(talReportText(ctx)).find(std::string(reinterpret_cast<const char*>(expected.at(0)),
                                                             expected.size())))
      << talReportText(ctx);
  ctx->keyManager.flags |= KM_FLAG_SIGNING_LOADED;

  ArchiveTimeStampTokens out;
  EXPECT_EQ(0, requestContextTimeStamp(ctx, nullptr, digest, 3, out)) << talReportText(ctx);
  EXPECT_EQ(1u, out.items.size());
  EXPECT_EQ(1, *files.signedAccepted) << "the TSA verified the signed request";
}

}  // namespace
