// S/MIME messages written by the library and read by openssl: signed (opaque, detached, bare
// DER; RSA PKCS#1 v1.5, RSA-PSS and EC-DSA keys from PKCS#12 files made by openssl and from a
// SoftHSM2 token) verified by `openssl cms -verify` with the signer's chain, enveloped ones
// decrypted by `openssl cms -decrypt` with each recipient's key, signed then enveloped both
// ways; recipients and keys that must be refused; a content of several hundred megabytes in
// flat memory; isSMimeMessage on our messages and openssl's (tests/data/smime/make_smime.sh).
#include "api/cfgmgr.h"
#include "api/ctxsmime.h"
#include "asn1/asnseql.h"
#include "base/memfile.h"
#include "cms/smime.h"
#include "keys/keyconfig.h"
#include "keys/keyholder.h"
#include "keys/keymanager.h"
#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/x509/cert.h"
#include "platform/registrysandbox.h"
#include "../keys/softhsm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const char* const PIN = "1234";

std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/smime/" + name;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SignedCertificate* readCert(const std::string& path) {
  auto* cert = new SignedCertificate;
  Bytes der = readFile(path);
  EXPECT_EQ(static_cast<int>(der.size()), cert->decodeVector(der)) << path;
  return cert;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The configuration of a PKCS#12 profile over one of the files, with its PIN.
class Pkcs12Config : public KeyConfigAccess {
 public:
  int32_t deviceType() const override { return 1; }
  const TalProfile* activeProfile() const override { return &profile; }
  void writeDefaults() override {}
  bool encodeConfiguration(std::vector<uint8_t>&) const override { return false; }
  int loadConfiguration(const uint8_t*, size_t) override { return 0; }
  int storeRootList(bool, const ASNobject&) override { return 1; }
  int loadRootList(bool, ASNobject&) const override { return 1; }
  int32_t getPin(int32_t, char* buffer, size_t* length) override {
    if (!buffer || *length < pin.size() + 1) {
      *length = pin.size() + 1;
      return 34;
    }
    std::memcpy(buffer, pin.c_str(), pin.size() + 1);
    *length = pin.size();
    return 0;
  }
  Pkcs12Profile profile;
  std::string pin = PIN;
};

// A stream whose writes fail once `limit` octets have been written (a closed output).
class ClosingFile : public MemFile {
 public:
  explicit ClosingFile(uint32_t limit) : limit(limit) {}
  int32_t write(uint32_t length, const uint8_t* buffer) override {
    if (static_cast<uint64_t>(this->length()) + length > limit) return -1;
    return MemFile::write(length, buffer);
  }
  uint32_t limit;
};

// Input made up as it is read, and output counted, not kept: nothing of a large content held.
class PatternInput : public GenericFile {
 public:
  explicit PatternInput(uint32_t total) : total(total) {}
  int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override {
    const uint32_t n = std::min(length, total - position);
    for (uint32_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>((position + i) * 131u >> 3);
    position += n;
    *count = n;
    return 0;
  }
  int32_t write(uint32_t, const uint8_t*) override { return -1; }
  int32_t seek(int32_t p) override {
    position = static_cast<uint32_t>(p);
    return 0;
  }
  uint32_t tell() override { return position; }
  uint32_t size() override { return total; }
  uint32_t total;
  uint32_t position = 0;
};

// A stream read once from its start, as a pipe: it cannot seek.
class PipeInput : public MemFile {
 public:
  explicit PipeInput(Bytes& bytes) : MemFile(bytes.data(), static_cast<int32_t>(bytes.size()), false) {}
  int32_t seek(int32_t) override { return -1; }
};

// A seekable input that fails: its reads from an offset on, or its seeks after the first few.
class FailingInput : public MemFile {
 public:
  FailingInput(Bytes& bytes, uint32_t readsFailFrom, int seeksAllowed)
      : MemFile(bytes.data(), static_cast<int32_t>(bytes.size()), false),
        readsFailFrom(readsFailFrom),
        seeksAllowed(seeksAllowed) {}
  int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override {
    if (tell() + length > readsFailFrom) return -1;
    return MemFile::read(length, buffer, count);
  }
  int32_t seek(int32_t position) override {
    return --seeksAllowed < 0 ? -1 : MemFile::seek(position);
  }
  uint32_t readsFailFrom;
  int seeksAllowed;
};

class CountingOutput : public GenericFile {
 public:
  int32_t read(uint32_t, uint8_t*, uint32_t* count) override {
    *count = 0;
    return 0;
  }
  int32_t write(uint32_t length, const uint8_t*) override {
    written += length;
    return 0;
  }
  int32_t seek(int32_t) override { return 0; }
  uint32_t tell() override { return static_cast<uint32_t>(written); }
  uint32_t size() override { return static_cast<uint32_t>(written); }
  uint64_t written = 0;
};

// The peak resident set of the process (VmHWM), in KiB.
long peakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

class Smime : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    char pattern[] = "/tmp/tal-smime-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir = pattern;
    recipients[0].reset(readCert(dataPath("recipient1.der")));
    recipients[1].reset(readCert(dataPath("recipient2.der")));
  }
  void TearDown() override {
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    RegistrySandbox::TearDown();
  }

  // Opens a PKCS#12 signer: the key manager's answer.
  static int32_t openSigner(KeyManager& m, Pkcs12Config& c, const std::string& file,
                            const std::string& pin = PIN) {
    const std::string path = dataPath(file);
    c.profile.setAttribute(9, path.c_str(), path.size() + 1);
    c.pin = pin;
    EXPECT_EQ(KM_OK, m.init(&c));
    return m.initProfile(1, 0);
  }
  int32_t openSigner(const std::string& file, const std::string& pin = PIN) {
    return openSigner(km, config, file, pin);
  }

  // The message protection's sequence: encrypt (flag 1), sign, copy, close; the first answer
  // above 10 ends it.
  int32_t protect(SmimeKeys* keys, const SmimeSettings& settings, uint32_t flags,
                  std::vector<const SignedCertificate*> to, GenericFile& in, GenericFile& out) {
    SMIMEctx ctx(nullptr, keys, settings);
    if (flags & SMIME_FLAG_ENCRYPT) {
      const int32_t r = ctx.encrypt(to);
      if (r > 10) return r;
    }
    int32_t r = ctx.sign(flags, &out);
    if (r > 10) return r;
    r = ctx.copyStream(&in, &out);
    if (r > 10) return r;
    return ctx.encryptMimeBody(&out);
  }

  int32_t protect(SmimeKeys* keys, const SmimeSettings& settings, uint32_t flags,
                  const Bytes& input, Bytes& output,
                  std::vector<const SignedCertificate*> to = {}) {
    Bytes copy = input;
    MemFile in(copy.data(), static_cast<int32_t>(copy.size()), false);
    MemFile out;
    const int32_t r = protect(keys, settings, flags, to, in, out);
    output.assign(out.data(), out.data() + out.length());
    return r;
  }

  std::vector<const SignedCertificate*> both() {
    return {recipients[0].get(), recipients[1].get()};
  }

  // Runs openssl; true when it succeeds.
  bool openssl(const std::string& arguments) {
    const std::string log = dir + "/openssl.log";
    if (std::system(("openssl " + arguments + " > '" + log + "' 2>&1").c_str()) == 0) return true;
    Bytes text = readFile(log);
    lastOpensslOutput.assign(text.begin(), text.end());
    return false;
  }

  // The root and the intermediate in one file.
  std::string chainFile() {
    Bytes chain = readFile(dataPath("root.pem"));
    const Bytes inter = readFile(dataPath("inter.pem"));
    chain.insert(chain.end(), inter.begin(), inter.end());
    writeFile(dir + "/chain.pem", chain);
    return dir + "/chain.pem";
  }

  // openssl cms -verify with the signer's chain (the root and the intermediate); the content
  // it gives, or an empty vector (and a failure) when it does not verify.
  Bytes verified(const Bytes& message, bool der) {
    writeFile(dir + "/signed", message);
    std::remove((dir + "/content").c_str());
    EXPECT_TRUE(openssl("cms -verify -in '" + dir + "/signed' " + (der ? "-inform DER " : "") +
                        "-CAfile '" + chainFile() + "' -out '" + dir + "/content'"))
        << lastOpensslOutput;
    return readFile(dir + "/content");
  }

  Bytes decrypted(const Bytes& message, int recipient, bool der) {
    writeFile(dir + "/enveloped", message);
    const std::string name = recipient == 0 ? "recipient1" : "recipient2";
    std::remove((dir + "/plain").c_str());
    EXPECT_TRUE(openssl("cms -decrypt -in '" + dir + "/enveloped' " + (der ? "-inform DER " : "") +
                        "-recip '" + dataPath(name + ".pem") + "' -inkey '" +
                        dataPath(name + ".key") + "' -out '" + dir + "/plain'"))
        << lastOpensslOutput;
    return readFile(dir + "/plain");
  }

  std::string dir;
  std::string lastOpensslOutput;
  Pkcs12Config config;
  KeyManager km;
  std::unique_ptr<SignedCertificate> recipients[2];
};

const char* const BINARY_ENTITY =
    "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n";

Bytes sampleContent() {
  Bytes content = bytesOf("Deklaracja\nz\xB3\xF3\xBFna linia\r\n");
  for (int i = 0; i < 3000; ++i) content.push_back(static_cast<uint8_t>(i * 7));
  return content;
}

TEST_F(Smime, SignedMessagesVerifiedByOpenssl) {
  struct Row {
    const char* what;
    const char* p12;
    int32_t scheme;  // -1 the key's own, 3 RSA-PSS
    int32_t digest;
    uint32_t modes;
    const char* expectedAlgorithm;  // in openssl's print of the signer info
  };
  const Row rows[] = {
      {"RSA opaque", "signer-rsa.p12", -1, 3, 0, "sha256WithRSAEncryption"},
      {"RSA detached", "signer-rsa.p12", 0, 5, SMIME_MODE_DETACHED, "sha512WithRSAEncryption"},
      {"RSA-PSS opaque", "signer-rsa.p12", 3, 3, 0, "rsassaPss"},
      {"RSA-PSS detached", "signer-rsa.p12", 3, 4, SMIME_MODE_DETACHED, "rsassaPss"},
      {"EC opaque", "signer-ec.p12", -1, 3, 0, "ecdsa-with-SHA256"},
      {"EC detached", "signer-ec.p12", 2, 4, SMIME_MODE_DETACHED, "ecdsa-with-SHA384"},
      {"EC bare DER", "signer-ec.p12", -1, 3, SMIME_MODE_DER, "ecdsa-with-SHA256"},
      {"RSA bare DER", "signer-rsa.p12", -1, 1, SMIME_MODE_DER, "sha1WithRSAEncryption"},
      {"text detached", "signer-rsa.p12", -1, 3, SMIME_MODE_DETACHED | SMIME_MODE_TEXT,
       "sha256WithRSAEncryption"},
      {"entity opaque", "signer-ec.p12", -1, 3, SMIME_MODE_ENTITY, "ecdsa-with-SHA256"},
      {"text entity detached", "signer-rsa.p12", -1, 3, SMIME_MODE_DETACHED | SMIME_MODE_ENTITY,
       "sha256WithRSAEncryption"},
  };
  const Bytes content = sampleContent();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Pkcs12Config c;
    KeyManager m;
    ASSERT_EQ(KM_OK, openSigner(m, c, row.p12));
    KeyManagerSmimeKeys keys(m);
    SmimeSettings settings;
    settings.signatureScheme = row.scheme;
    settings.digestId = row.digest;
    settings.modes = row.modes;
    Bytes input = content;
    if ((row.modes & SMIME_MODE_ENTITY) && (row.modes & SMIME_MODE_DETACHED)) {
      // A text entity as written on this system: lines end with LF alone.
      input = bytesOf("Content-Type: text/plain\n\nDeklaracja\nz\xB3\xF3\xBFna linia\r\nkoniec\n");
    } else if (row.modes & SMIME_MODE_ENTITY) {
      const Bytes header = bytesOf("Content-Type: application/pdf\r\n\r\n");
      input.insert(input.begin(), header.begin(), header.end());
    }
    Bytes message;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, input, message));
    const bool der = row.modes & SMIME_MODE_DER;
    const Bytes got = verified(message, der);
    if (row.modes & SMIME_MODE_DETACHED) {
      // The signed part is the entity openssl hands out: base64 or text in CR LF lines.
      const std::string text(got.begin(), got.end());
      if (row.modes & SMIME_MODE_ENTITY)
        // Signed and sent in the canonical form: every line ends with CR LF.
        EXPECT_EQ("Content-Type: text/plain\r\n\r\nDeklaracja\r\nz\xB3\xF3\xBFna linia\r\n"
                  "koniec\r\n",
                  text);
      else if (row.modes & SMIME_MODE_TEXT)
        // 8-bit text: quoted-printable, which relays do not re-encode.
        EXPECT_EQ(0u, text.find("Content-Type: text/plain; charset=windows-1250\r\n"
                                "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                                "Deklaracja\r\nz=B3=F3=BFna linia\r\n"));
      else
        EXPECT_EQ(0u, text.find("Content-Type: application/octet-stream\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\nRGVrbGFyYWNqYQp6s/O/"));
    } else if (der || (row.modes & SMIME_MODE_ENTITY)) {
      EXPECT_EQ(input, got);
    } else {
      Bytes expected = bytesOf(BINARY_ENTITY);
      expected.insert(expected.end(), input.begin(), input.end());
      EXPECT_EQ(expected, got);
    }
    int32_t type = 0;
    MemFile view(message.data(), static_cast<int32_t>(message.size()), false);
    EXPECT_TRUE(isSMimeMessage(&view, &type));
    EXPECT_EQ(2, type);
    EXPECT_EQ(0u, view.tell());
    // The signed attributes and the algorithm as openssl reads them.
    writeFile(dir + "/signed", message);
    ASSERT_TRUE(openssl(std::string("cms -cmsout -print -in '") + dir + "/signed' " +
                        (der ? "-inform DER " : "") + "-out '" + dir + "/print'"));
    const Bytes printed = readFile(dir + "/print");
    const std::string print(printed.begin(), printed.end());
    for (const char* name : {"contentType", "signingTime", "messageDigest",
                             "id-smime-aa-signingCertificateV2", row.expectedAlgorithm})
      EXPECT_NE(std::string::npos, print.find(name)) << name;
  }
}

TEST_F(Smime, TheChainTravelsWithTheSignatureUnlessOptionTwoIsOff) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  std::unique_ptr<SignedCertificate> inter(readCert(dataPath("inter.der")));
  KeyManagerSmimeKeys keys(km, {inter.get()});
  writeFile(dir + "/root.pem", readFile(dataPath("root.pem")));
  for (bool include : {true, false}) {
    SCOPED_TRACE(include);
    SmimeSettings settings;
    settings.includeCertificates = include;
    Bytes message;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, sampleContent(), message));
    writeFile(dir + "/signed", message);
    // The root alone is trusted: the intermediate must come from the message.
    EXPECT_EQ(include, openssl("cms -verify -in '" + dir + "/signed' -CAfile '" + dir +
                               "/root.pem' -out /dev/null"));
    // Without certificates the signer's is handed to openssl beside the message.
    if (!include) {
      EXPECT_TRUE(openssl("cms -verify -in '" + dir + "/signed' -CAfile '" + chainFile() +
                          "' -certfile '" + dataPath("signer-rsa.pem") +
                          "' -out /dev/null"))
          << lastOpensslOutput;
    }
  }
}

TEST_F(Smime, TextLinesEndWithCrLfAcrossReads) {
  ASSERT_EQ(KM_OK, openSigner("signer-ec.p12"));
  KeyManagerSmimeKeys keys(km);
  // A CR at the end of one 64 KiB read and its LF at the start of the next stay one line end;
  // lone LFs get their CR.
  std::string text(65535, 'a');
  text += "\r\nb\nc\r\n\nd";
  std::string expected = "Content-Type: text/plain; charset=windows-1250\r\n\r\n";
  expected += std::string(65535, 'a') + "\r\nb\r\nc\r\n\r\nd";
  SmimeSettings settings;
  settings.modes = SMIME_MODE_TEXT;
  Bytes message;
  ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, bytesOf(text), message));
  EXPECT_EQ(bytesOf(expected), verified(message, false));
}

// Text in multipart/signed as mail relays pass it: Python's email package parses the message and
// writes it again (mail_relay.py) under the SMTP policy, and as a relay that takes 7-bit text
// only; openssl still verifies it, and the body, its transfer encoding undone, is the text with
// CR LF line ends. 7-bit text is sent as it is, any other quoted-printable.
TEST_F(Smime, TextInMultipartSignedSurvivesMailRelays) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  KeyManagerSmimeKeys keys(km);
  // 7-bit lines past the first 64 KiB read, to be judged by a second pass.
  std::string lines, words;
  while (lines.size() < 200000) lines += std::string(900, 'l') + "\n";
  while (words.size() < 1000) words += "za\xBF ";
  struct Row {
    const char* what;
    std::string text;
    bool encoded;  // sent quoted-printable
    bool pipe;     // from an input that cannot seek
  };
  const Row rows[] = {
      {"7-bit", "Deklaracja VAT-7\nkwota = 100 \r\n\tkoniec\n", false, false},
      {"7-bit, a line of 998", std::string(998, 'x') + "\r\nb", false, false},
      {"7-bit past the first read", lines, false, false},
      {"7-bit that cannot be read twice, all in the first read", "Deklaracja\n", false, true},
      {"7-bit that cannot be read twice, within the first 64 KiB", lines.substr(0, 9010), false,
       true},
      {"7-bit that cannot be read twice", lines, true, true},
      {"Windows-1250", "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1\r\n", true, false},
      {"NUL, lone CRs, a space before a line end",
       std::string("a\0b\rc \r\n=\r\r\n", 11) + "d\r", true, false},
      {"a line of 999", std::string(999, 'y') + "\n", true, false},
      {"8-bit, spaces at soft line breaks", words + "\r\n" + words, true, false},
      {"8-bit past the first read", lines + "\xB9 \t", true, false},
  };
  SmimeSettings settings;
  settings.modes = SMIME_MODE_DETACHED | SMIME_MODE_TEXT;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes input = bytesOf(row.text), message;
    if (row.pipe) {
      PipeInput in(input);
      MemFile out;
      ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, {}, in, out));
      message.assign(out.data(), out.data() + out.length());
    } else {
      ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, input, message));
    }
    const std::string text(message.begin(), message.end());
    const size_t qp = text.find("Content-Transfer-Encoding: quoted-printable\r\n\r\n");
    EXPECT_EQ(row.encoded, qp != std::string::npos);
    if (qp != std::string::npos) {
      // Lines of at most 76 printable characters (RFC 2045 6.7), none ending in white space.
      std::istringstream body(text.substr(qp, text.find("\r\n--", qp) - qp));
      for (std::string line; std::getline(body, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_LE(line.size(), 76u) << line;
        EXPECT_TRUE(line.empty() || (line.back() != ' ' && line.back() != '\t')) << line;
        for (char c : line) EXPECT_TRUE((c >= 32 && c <= 126) || c == '\t') << line;
      }
    }
    // The text as signed: every line end CR LF.
    std::string expected;
    for (size_t i = 0; i < row.text.size(); ++i) {
      if (row.text[i] == '\n' && (i == 0 || row.text[i - 1] != '\r')) expected += '\r';
      expected += row.text[i];
    }
    for (const char* policy : {"smtp", "7bit"}) {
      SCOPED_TRACE(policy);
      writeFile(dir + "/sent", message);
      const std::string relay = "python3 '" + dataPath("mail_relay.py") + "' ";
      ASSERT_EQ(0, std::system((relay + "relay '" + dir + "/sent' '" + dir + "/relayed' " +
                                policy).c_str()));
      const Bytes entity = verified(readFile(dir + "/relayed"), false);
      ASSERT_EQ(0, std::system((relay + "body '" + dir + "/content' '" + dir + "/body'").c_str()));
      EXPECT_EQ(bytesOf(expected), readFile(dir + "/body"));
    }
  }
}

// The second read that judges a long text fails, or the input cannot be put back after it:
// the message fails as a read of the input does, whatever was written.
TEST_F(Smime, TextJudgedByASecondReadThatFailsIsAReadFailure) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  KeyManagerSmimeKeys keys(km);
  SmimeSettings settings;
  settings.modes = SMIME_MODE_DETACHED | SMIME_MODE_TEXT;
  Bytes text;
  while (text.size() < 200000) text.insert(text.end(), 80, 'x'), text.push_back('\n');
  struct Row {
    const char* what;
    uint32_t readsFailFrom;
    int seeksAllowed;
  } const rows[] = {{"a read past the first block", 100000, 10}, {"the seek back", ~0u, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FailingInput in(text, row.readsFailFrom, row.seeksAllowed);
    MemFile out;
    EXPECT_EQ(59, protect(&keys, settings, SMIME_FLAG_SIGN, {}, in, out));
  }
}

TEST_F(Smime, EnvelopedMessagesDecryptedByEachRecipient) {
  struct Row {
    int32_t cipher;
    uint32_t modes;
    const char* oidName;
  };
  const Row rows[] = {
      {SMIME_CIPHER_AES128, 0, "aes-128-cbc"},
      {SMIME_CIPHER_AES192, SMIME_MODE_DER, "aes-192-cbc"},
      {SMIME_CIPHER_AES256, 0, "aes-256-cbc"},
      {SMIME_CIPHER_TDES, SMIME_MODE_DER, "des-ede3-cbc"},
  };
  Bytes content = sampleContent();
  content.resize(200000, 0x5A);  // more than one segment
  for (const Row& row : rows) {
    SCOPED_TRACE(row.oidName);
    SmimeSettings settings;
    settings.cipher = row.cipher;
    settings.modes = row.modes;
    Bytes message;
    // No key manager: the session key comes from the system.
    ASSERT_EQ(0, protect(nullptr, settings, SMIME_FLAG_ENCRYPT, content, message, both()));
    const bool der = row.modes & SMIME_MODE_DER;
    Bytes expected = content;
    if (!der) {
      Bytes header = bytesOf(BINARY_ENTITY);
      expected.insert(expected.begin(), header.begin(), header.end());
    }
    for (int recipient = 0; recipient < 2; ++recipient)
      EXPECT_EQ(expected, decrypted(message, recipient, der)) << recipient;
    int32_t type = 0;
    MemFile view(message.data(), static_cast<int32_t>(message.size()), false);
    EXPECT_TRUE(isSMimeMessage(&view, &type));
    EXPECT_EQ(1, type);
    writeFile(dir + "/enveloped", message);
    ASSERT_TRUE(openssl(std::string("cms -cmsout -print -in '") + dir + "/enveloped' " +
                        (der ? "-inform DER " : "") + "-out '" + dir + "/print'"));
    const Bytes printed = readFile(dir + "/print");
    EXPECT_NE(std::string::npos, std::string(printed.begin(), printed.end()).find(row.oidName));
  }
}

TEST_F(Smime, SignedThenEnvelopedBothWays) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  KeyManagerSmimeKeys keys(km);
  const Bytes content = sampleContent();
  Bytes entity = bytesOf(BINARY_ENTITY);
  entity.insert(entity.end(), content.begin(), content.end());
  for (uint32_t modes : {0u, SMIME_MODE_DER}) {
    SCOPED_TRACE(modes);
    SmimeSettings settings;
    settings.modes = modes;
    const bool der = modes != 0;
    // In one call: flags 1 and 2.
    Bytes message;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_ENCRYPT | SMIME_FLAG_SIGN, content, message,
                         both()));
    const Bytes inner = decrypted(message, 1, der);
    EXPECT_EQ(der ? content : entity, verified(inner, der));
    // In two: a signed message of this library enveloped as it is (option 20's road).
    Bytes signedMessage, enveloped;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, content, signedMessage));
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_ENCRYPT, signedMessage, enveloped, both()));
    EXPECT_EQ(signedMessage, decrypted(enveloped, 0, der));
    EXPECT_EQ(der ? content : entity, verified(decrypted(enveloped, 0, der), der));
  }
}

TEST_F(Smime, RefusedRecipientsKeysAndStreams) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  KeyManagerSmimeKeys keys(km);
  std::unique_ptr<SignedCertificate> ec(readCert(dataPath("recipient-ec.der")));
  std::unique_ptr<SignedCertificate> signOnly(readCert(dataPath("recipient-signonly.der")));
  const time_t year2100 = 4102444800;
  const time_t year1990 = 631152000;
  struct Row {
    const char* what;
    const SignedCertificate* recipient;
    time_t now;
    int32_t cipher;
    int32_t code;
  };
  const Row rows[] = {
      {"an EC key", ec.get(), 0, SMIME_CIPHER_AES128, 66},
      {"keyUsage without keyEncipherment", signOnly.get(), 0, SMIME_CIPHER_AES128, 74},
      {"expired", recipients[0].get(), year2100, SMIME_CIPHER_AES128, 64},
      {"not valid yet", recipients[0].get(), year1990, SMIME_CIPHER_AES128, 65},
      {"a cipher not supported", recipients[0].get(), 0, 0, 93},
      {"no certificate", nullptr, 0, SMIME_CIPHER_AES128, 20},
  };
  const Bytes content = sampleContent();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SmimeSettings settings;
    settings.now = row.now;
    settings.cipher = row.cipher;
    Bytes message;
    EXPECT_EQ(row.code, protect(&keys, settings, SMIME_FLAG_ENCRYPT | SMIME_FLAG_SIGN, content,
                                message, {recipients[1].get(), row.recipient}));
    EXPECT_TRUE(message.empty());
  }
  SmimeSettings settings;
  Bytes message;
  EXPECT_EQ(20, protect(&keys, settings, SMIME_FLAG_ENCRYPT, content, message, {}));
  // The list form takes the same recipients and refuses the same ones.
  {
    ASNsequenceList<SignedCertificate> list;
    ASSERT_EQ(1, list.append(new SignedCertificate(*recipients[0])));
    SMIMEctx ctx(nullptr, &keys, settings);
    EXPECT_EQ(0, ctx.encrypt(&list));
    ASSERT_EQ(1, list.append(new SignedCertificate(*ec)));
    SMIMEctx refused(nullptr, &keys, settings);
    EXPECT_EQ(66, refused.encrypt(&list));
    EXPECT_EQ(20, refused.encrypt(nullptr));
  }
  // Without a key manager, or with one without a signing key, nothing is signed.
  EXPECT_EQ(30, protect(nullptr, settings, SMIME_FLAG_SIGN, content, message));
  EXPECT_TRUE(message.empty());
  KeyManager empty;
  KeyManagerSmimeKeys none(empty);
  EXPECT_EQ(30, protect(&none, settings, SMIME_FLAG_SIGN_REQUIRED, content, message));
  settings.digestId = 8;  // MD5
  EXPECT_EQ(92, protect(&keys, settings, SMIME_FLAG_SIGN, content, message));

  // A closed output: each stage of the message cut off gives 62, and what was written is no
  // message openssl takes.
  Bytes whole;
  settings = SmimeSettings();
  ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN | SMIME_FLAG_ENCRYPT, content, whole,
                       both()));
  for (uint32_t limit : {0u, 100u, 2000u, static_cast<uint32_t>(whole.size() - 10)}) {
    SCOPED_TRACE(limit);
    Bytes copy = content;
    MemFile in(copy.data(), static_cast<int32_t>(copy.size()), false);
    ClosingFile out(limit);
    EXPECT_EQ(62, protect(&keys, settings, SMIME_FLAG_SIGN | SMIME_FLAG_ENCRYPT, both(), in, out));
    writeFile(dir + "/cut", Bytes(out.data(), out.data() + out.length()));
    EXPECT_FALSE(openssl("cms -decrypt -in '" + dir + "/cut' -recip '" +
                         dataPath("recipient1.pem") + "' -inkey '" +
                         dataPath("recipient1.key") + "' -out '" + dir + "/plain'"));
  }
  // A step after a failure answers the failure again; steps out of order are refused.
  SMIMEctx ctx(nullptr, &keys, settings);
  MemFile out;
  EXPECT_EQ(20, ctx.encryptMimeBody(&out));
  EXPECT_EQ(20, ctx.encryptMimeBody(&out));
  SMIMEctx second(nullptr, &keys, settings);
  EXPECT_EQ(0, second.sign(SMIME_FLAG_SIGN, &out));
  EXPECT_EQ(20, second.encryptMimeBody(&out));
}

// A key whose device fails as it signs: the certificate of the RSA signer, each failure the
// key manager's status.
class FailingKey : public KeyHolder {
 public:
  FailingKey(const SignedCertificate* cert, int32_t status) : cert(cert), status(status) {}
  const SignedCertificate* certificate() const override { return cert; }
  int32_t scheme() const override { return 0; }
  uint32_t keyBits() const override { return 2048; }
  bool supportsDigest(int32_t) const override { return true; }
  int32_t sign(int32_t, int32_t, const uint8_t*, size_t, std::vector<uint8_t>&) override {
    return status;
  }
  int32_t decryptSessionKey(const uint8_t*, size_t, std::unique_ptr<SecretBlock>&) override {
    return KM_NO_KEY;
  }
  const SignedCertificate* cert;
  int32_t status;
};

TEST_F(Smime, AKeyThatFailsAsItSignsLeavesNoCompleteMessage) {
  std::unique_ptr<SignedCertificate> signer(readCert(dataPath("signer-rsa.der")));
  struct Row {
    int32_t status;  // the key manager's
    int32_t code;
  };
  // PIN refused, device blocked, RSA failure, device error, no answer, memory, no key,
  // a digest or scheme the key does not take.
  const Row rows[] = {{13, 46}, {27, 45}, {14, 80}, {KM_DEVICE_ERROR, 44}, {25, 44},
                      {KM_NO_MEMORY, 100}, {KM_NO_KEY, 30}, {KM_BAD_ARGUMENTS, 159}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    Pkcs12Config c;
    KeyManager m;
    ASSERT_EQ(KM_OK, m.init(&c));  // its random generator
    m.setKeyHolders(std::make_shared<FailingKey>(signer.get(), row.status), nullptr);
    KeyManagerSmimeKeys keys(m);
    for (uint32_t flags : {SMIME_FLAG_SIGN, SMIME_FLAG_SIGN | SMIME_FLAG_ENCRYPT}) {
      Bytes message;
      EXPECT_EQ(row.code, protect(&keys, SmimeSettings(), flags, sampleContent(), message, both()));
      // The content went out before the signature failed: no reader takes what is there.
      writeFile(dir + "/cut", message);
      EXPECT_FALSE(openssl("cms -verify -noverify -in '" + dir + "/cut' -out /dev/null"));
      EXPECT_FALSE(openssl("cms -decrypt -in '" + dir + "/cut' -recip '" +
                           dataPath("recipient1.pem") + "' -inkey '" +
                           dataPath("recipient1.key") + "' -out /dev/null"));
    }
  }
}

// A signer whose key goes away between the opening of the message and its signature (a token
// taken out while the content streams).
class VanishingKeys : public SmimeKeys {
 public:
  explicit VanishingKeys(const SignedCertificate* cert) : cert(cert) {}
  const SignedCertificate* signingCertificate() const override { return cert; }
  int32_t keyScheme() const override { return 0; }
  int32_t sign(int32_t, int32_t, const uint8_t*, size_t, std::vector<uint8_t>& signature) override {
    signature.assign(256, 1);
    return 0;
  }
  int32_t randomBytes(uint8_t* buffer, size_t length) override {
    std::memset(buffer, 7, length);
    return 0;
  }
  const SignedCertificate* cert;
};

TEST_F(Smime, AKeyGoneBeforeTheSignatureSignsNothing) {
  std::unique_ptr<SignedCertificate> signer(readCert(dataPath("signer-rsa.der")));
  for (uint32_t modes : {0u, SMIME_MODE_DETACHED}) {
    SCOPED_TRACE(modes);
    VanishingKeys keys(signer.get());
    SmimeSettings settings;
    settings.modes = modes;
    SMIMEctx ctx(nullptr, &keys, settings);
    Bytes content = sampleContent();
    MemFile in(content.data(), static_cast<int32_t>(content.size()), false);
    MemFile out;
    ASSERT_EQ(0, ctx.sign(SMIME_FLAG_SIGN, &out));
    ASSERT_EQ(0, ctx.copyStream(&in, &out));
    keys.cert = nullptr;
    EXPECT_EQ(30, ctx.encryptMimeBody(&out));
    EXPECT_EQ(30, ctx.encryptMimeBody(&out));
  }
}

TEST_F(Smime, APkcs12FileWithAWrongPinSignsNothing) {
  EXPECT_EQ(13, openSigner("signer-rsa.p12", "4321"));
  KeyManagerSmimeKeys keys(km);
  Bytes message;
  EXPECT_EQ(30, protect(&keys, SmimeSettings(), SMIME_FLAG_SIGN, sampleContent(), message));
  EXPECT_TRUE(message.empty());
}

// The configuration of a PKCS#11 profile over the test token.
class TokenConfig : public Pkcs12Config {
 public:
  int32_t deviceType() const override { return 4; }
  const TalProfile* activeProfile() const override { return &token; }
  Pkcs11Profile token;
};

TEST_F(Smime, SignedOnASoftHsmToken) {
  softhsm::Token token;
  ASSERT_TRUE(token.make());
  for (const char* label : {"rsa", "ec"}) {
    SCOPED_TRACE(label);
    TokenConfig c;
    const std::string module = token.module;
    ASSERT_EQ(0, c.token.setAttribute(3, module.c_str(), module.size() + 1));
    ASSERT_EQ(0, c.token.setAttribute(6, label, std::strlen(label) + 1));
    int32_t one = 1;
    ASSERT_EQ(0, c.token.setAttribute(27, &one, 4));  // signing only
    KeyManager m;
    ASSERT_EQ(KM_OK, m.init(&c));
    ASSERT_EQ(KM_OK, m.initDevice());
    ASSERT_EQ(KM_OK, m.initProfile(1, 1));
    KeyManagerSmimeKeys keys(m);
    SmimeSettings settings;
    settings.modes = SMIME_MODE_DETACHED;
    Bytes message;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN, sampleContent(), message));
    // The token's certificates are their own trust anchors.
    const std::string anchor = dir + "/anchor.pem";
    ASSERT_TRUE(openssl("x509 -inform DER -in '" + softhsm::dataPath(std::string(label) +
                                                                     ".crt.der") +
                        "' -out '" + anchor + "'"));
    writeFile(dir + "/signed", message);
    EXPECT_TRUE(openssl("cms -verify -purpose any -in '" + dir + "/signed' -CAfile '" + anchor +
                        "' -out /dev/null"))
        << lastOpensslOutput;
    // The token let go: its key is gone, and nothing is signed.
    m.releaseTokenLibrary();
    message.clear();
    EXPECT_EQ(30, protect(&keys, settings, SMIME_FLAG_SIGN, sampleContent(), message));
    EXPECT_TRUE(message.empty());
  }
  // A wrong PIN: the token refuses the login and no key is loaded.
  TokenConfig c;
  const std::string module = token.module;
  ASSERT_EQ(0, c.token.setAttribute(3, module.c_str(), module.size() + 1));
  c.pin = "9999";
  KeyManager m;
  ASSERT_EQ(KM_OK, m.init(&c));
  ASSERT_EQ(KM_OK, m.initDevice());
  EXPECT_EQ(13, m.initProfile(1, 1));
  KeyManagerSmimeKeys keys(m);
  Bytes message;
  EXPECT_EQ(30, protect(&keys, SmimeSettings(), SMIME_FLAG_SIGN, sampleContent(), message));
}

TEST_F(Smime, AnInputThatCannotSeekIsEnvelopedWhole) {
  ASSERT_EQ(KM_OK, openSigner("signer-rsa.p12"));
  KeyManagerSmimeKeys keys(km);
  Bytes signedMessage;
  ASSERT_EQ(0, protect(&keys, SmimeSettings(), SMIME_FLAG_SIGN, sampleContent(), signedMessage));
  Bytes entity = bytesOf(BINARY_ENTITY);
  const Bytes content = sampleContent();
  entity.insert(entity.end(), content.begin(), content.end());
  // Our signed message is enveloped as it is, anything else as an entity; not an octet lost.
  for (const Bytes* input : {static_cast<const Bytes*>(&signedMessage), &content}) {
    Bytes copy = *input;
    PipeInput in(copy);
    MemFile out;
    ASSERT_EQ(0, protect(nullptr, SmimeSettings(), SMIME_FLAG_ENCRYPT, both(), in, out));
    EXPECT_EQ(input == &content ? entity : signedMessage,
              decrypted(Bytes(out.data(), out.data() + out.length()), 0, false));
    // Read it cannot put back: not taken for a message.
    Bytes again = *input;
    PipeInput head(again);
    EXPECT_FALSE(isSMimeMessage(&head, nullptr));
  }
}

TEST_F(Smime, RecognisesOnlyItsOwnMessages) {
  const Bytes content = sampleContent();
  writeFile(dir + "/content", content);
  const std::string sign = "cms -sign -in '" + dir + "/content' -signer '" +
                           dataPath("recipient1.pem") + "' -inkey '" +
                           dataPath("recipient1.key") + "' ";
  ASSERT_TRUE(openssl(sign + "-nodetach -out '" + dir + "/opaque'"));
  ASSERT_TRUE(openssl(sign + "-out '" + dir + "/detached'"));
  ASSERT_TRUE(openssl(sign + "-nodetach -crlfeol -out '" + dir + "/crlf'"));
  ASSERT_TRUE(openssl("cms -encrypt -in '" + dir + "/content' -aes256 -out '" + dir +
                      "/enveloped' '" + dataPath("recipient1.pem") + "'"));
  for (const char* name : {"opaque", "detached", "crlf", "enveloped", "content"}) {
    SCOPED_TRACE(name);
    Bytes bytes = readFile(dir + "/" + name);
    MemFile view(bytes.data(), static_cast<int32_t>(bytes.size()), false);
    int32_t type = 7;
    EXPECT_FALSE(isSMimeMessage(&view, &type));
    EXPECT_EQ(0, type);
  }
  // Our own headers over something else are not our message either.
  for (const char* text :
       {"MIME-Version: 1.0\r\nContent-Type: application/pkcs7-mime; smime-type=signed-data; "
        "name=\"smime.p7m\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: "
        "attachment; filename=\"smime.p7m\"\r\n\r\nMIAGCSqGSIb3DQEHA6CAMIACAQA=\r\n",
        "", "0", "MIME-Version: 1.0\r\n"}) {
    Bytes bytes = bytesOf(text);
    MemFile view(bytes.data(), static_cast<int32_t>(bytes.size()), false);
    EXPECT_FALSE(isSMimeMessage(&view, nullptr)) << text;
  }
  EXPECT_FALSE(isSMimeMessage(nullptr, nullptr));
}

TEST_F(Smime, AContentOfHundredsOfMegabytesStreamsInFlatMemory) {
  ASSERT_EQ(KM_OK, openSigner("signer-ec.p12"));
  KeyManagerSmimeKeys keys(km);
  SmimeSettings settings;
  // A small message first, so that every buffer of the road has been made once.
  {
    PatternInput in(1 << 20);
    CountingOutput out;
    ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN | SMIME_FLAG_ENCRYPT, both(), in, out));
  }
  // Memory is what this checks: a speed belongs to a benchmark, which a busy machine
  // cannot fail.
  const long before = peakKiB();
  const uint32_t total = 300u << 20;
  PatternInput in(total);
  CountingOutput out;
  ASSERT_EQ(0, protect(&keys, settings, SMIME_FLAG_SIGN | SMIME_FLAG_ENCRYPT, both(), in, out));
  const long growth = peakKiB() - before;
  std::printf("300 MiB signed and enveloped, peak memory grew %ld KiB\n", growth);
  // Two base64 layers over the content: about 16/9 of it.
  EXPECT_GT(out.written, uint64_t(total) * 16 / 9);
  EXPECT_LT(growth, 16 * 1024);
}

TEST(SmimeSettingsOfTheConfiguration, AlgorithmsAndOptionTwo) {
  struct Row {
    int32_t scheme;  // of the configured signature algorithm; -1 none configured
    int32_t digest;
    const ASNobjectId* symmetric;  // NULL: none stored
    int32_t option2;
    SmimeSettings expected;
  };
  auto settings = [](int32_t scheme, int32_t digest, int32_t cipher, bool certificates) {
    SmimeSettings s;
    s.signatureScheme = scheme;
    s.digestId = digest;
    s.cipher = cipher;
    s.includeCertificates = certificates;
    return s;
  };
  const Row rows[] = {
      {-1, 0, nullptr, 1, settings(-1, 1, SMIME_CIPHER_AES128, true)},
      {0, 3, &id_aes256_CBC, 1, settings(0, 3, SMIME_CIPHER_AES256, true)},
      {3, 4, &id_aes192_CBC, 0, settings(3, 4, SMIME_CIPHER_AES192, false)},
      {2, 5, &des_ede3_cbc, 1, settings(2, 5, SMIME_CIPHER_TDES, true)},
      {0, 1, &desCBC, 1, settings(0, 1, 0, true)},  // single DES: not offered
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.scheme * 100 + row.digest);
    ConfigurationManager cfg;
    if (row.scheme >= 0) {
      AlgorithmIdentifier algorithm;
      ASSERT_TRUE(cfgSignatureAlgorithm(row.scheme, row.digest, algorithm));
      ASSERT_TRUE(cfg.setSignatureAlgorithm(algorithm, true, false));
    }
    if (row.symmetric) { ASSERT_EQ(1, cfg.file().setSymmetricAlgorithm(*row.symmetric)); }
    ASSERT_EQ(1, cfg.setOption(2, row.option2, true));
    const SmimeSettings got = smimeSettingsFromConfiguration(cfg);
    EXPECT_EQ(row.expected.signatureScheme, got.signatureScheme);
    EXPECT_EQ(row.expected.digestId, got.digestId);
    EXPECT_EQ(row.expected.cipher, got.cipher);
    EXPECT_EQ(row.expected.includeCertificates, got.includeCertificates);
    EXPECT_EQ(0u, got.modes);
  }
}

}  // namespace
