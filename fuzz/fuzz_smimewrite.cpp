// libFuzzer target over the S/MIME writer. The first four octets choose what the message
// protection chooses (encrypt, sign, sign as option 3 says, flag 128's bare DER, option 20's
// enveloping of a signed message; options 2, 7, 8, 9 and 10), the signer, digest, cipher,
// recipients and time, and how the input is read (pieces, a stream that cannot seek, a content
// repeated past one block) and whether it or the output fails part way; the rest is the
// content. The message is written with the fixed test keys of tests/data/smime
// (smimekeys.inc) and read back here: its MIME frame, the CMS structures through our decoders,
// the session key unwrapped with the recipient's private key, the content decrypted, the
// signed attributes and the signature checked, and what comes out compared with what went in.
// A refusal must be the one the settings or the failing stream call for and leave no output
// that reads as a whole message. Set SMIME_FUZZ_DEBUG to see which check failed.
#include "base/b64file.h"
#include "base/memfile.h"
#include "cms/smime.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "crypto/sym/lvcbc.h"
#include "pki/cms/attribute.h"
#include "pki/cms/esscades.h"
#include "pki/cms/sgndata.h"
#include "pki/common/oids.h"
#include "pki/common/x509time.h"
#include "pki/keys/ecprvkey.h"
#include "pki/keys/rsaprkey.h"
#include "pki/pkcs/encpkinf.h"
#include "pki/pkcs/envdata.h"
#include "pki/sig/sigpropspkcs7.h"
#include "pki/x509/cert.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

#include "smimekeys.inc"

using Bytes = std::vector<uint8_t>;

const uint32_t BLOCK = 64 * 1024;  // the writer's block: text longer than it is judged apart

void require(bool ok) {
  if (!ok) std::abort();
}

// A check of the reader: false (the message refused), told on stderr when debugging.
bool refused(int line) {
  static const bool debug = std::getenv("SMIME_FUZZ_DEBUG") != nullptr;
  if (debug) std::fprintf(stderr, "smimewrite: check at line %d failed\n", line);
  return false;
}
#define CHECK(c)                        \
  do {                                  \
    if (!(c)) return refused(__LINE__); \
  } while (0)

Bytes pemDer(const char* pem) {
  const char* begin = std::strchr(pem, '\n') + 1;
  const char* end = std::strstr(begin, "-----END");
  MemFile out;
  require(decodeBase64Text(begin, static_cast<int32_t>(end - begin), &out, 0) > 0);
  return Bytes(out.data(), out.data() + out.length());
}

void readCertificate(SignedCertificate& c, const char* pem) {
  const Bytes der = pemDer(pem);
  require(c.decodeVector(der) == static_cast<int>(der.size()));
}

void readKeyInfo(PrivateKeyInfo& info, const char* pem) {
  const Bytes der = pemDer(pem);
  require(info.decodeVector(der) == static_cast<int>(der.size()));
}

Bytes encoding(const ASNobject& o) {
  std::vector<unsigned char> out;
  require(o.encodeVector(out) > 0);
  return Bytes(out.begin(), out.end());
}

time_t timeOf(const X509time& t) { return static_cast<time_t>(t.toTime64(true)); }

// The test keys, read once.
struct Keys {
  Keys() {
    readCertificate(signerRsa, signerRsaCert);
    readCertificate(signerEc, signerEcCert);
    readCertificate(inter, interCert);
    readCertificate(recipient1, recipient1Cert);
    readCertificate(recipient2, recipient2Cert);
    readCertificate(recipientEc, recipientEcCert);
    readCertificate(recipientSignOnly, recipientSignOnlyCert);
    PrivateKeyInfo info;
    readKeyInfo(info, signerRsaKey);
    require(rsa.decodeBuffer(info.privateKey.data(), info.privateKey.length) ==
            info.privateKey.length);
    readKeyInfo(info, recipient1Key);
    require(recipientKey.decodeBuffer(info.privateKey.data(), info.privateKey.length) ==
            info.privateKey.length);
    readKeyInfo(info, signerEcKey);
    require(info.getEcKey(ec) == 0);
    validFrom = timeOf(recipient1.tbsCertificate.validity.notBefore);
    validTo = timeOf(recipient1.tbsCertificate.validity.notAfter);
    require(validFrom > 0 && validTo > validFrom + 10 * 86400);
  }
  SignedCertificate signerRsa, signerEc, inter, recipient1, recipient2, recipientEc,
      recipientSignOnly;
  RSAPrivateKey rsa, recipientKey;
  ECPrivateKey ec;
  time_t validFrom = 0, validTo = 0;
};

Keys& keys() {
  static Keys* k = new Keys;
  return *k;
}

enum Signer { SIGNER_RSA, SIGNER_RSA_PSS, SIGNER_EC, SIGNER_NONE };
enum Recipients { ONE, TWO, SIGN_ONLY, EC_KEY };
enum Moment { INSIDE, EXPIRED, NOT_YET, INSIDE_LATE };
enum Fault { NO_FAULT, INPUT_FAILS, OUTPUT_CLOSES, NO_FAULT_EITHER };

// What the first octets choose.
struct Setup {
  explicit Setup(const uint8_t* h) {
    encrypt = h[0] & 1;
    const bool sign = h[0] & 2, byOption3 = h[0] & 4, option3 = h[0] & 8;
    noKeyManager = h[0] & 16;
    option20 = h[0] & 32;
    pieces = h[0] & 64;
    seekable = !(h[0] & 128);
    option7 = h[1] & 1;
    const bool option8 = h[1] & 2, option9 = h[1] & 4, option10 = h[1] & 8;
    settings.includeCertificates = h[1] & 16;
    signer = static_cast<Signer>((h[1] >> 5) & 3);
    keyless = h[1] & 128;
    settings.digestId = h[2] & 7;
    settings.cipher = (h[2] >> 3) & 7;
    recipients = static_cast<Recipients>(h[2] >> 6);
    moment = static_cast<Moment>(h[3] & 3);
    repeat = h[3] & 4;
    fault = static_cast<Fault>((h[3] >> 3) & 3);
    faultAt = h[3] >> 5;
    // As the protection maps them: flag 64 signs when option 3 is set; flag 128 or option 7
    // alone give the bare DER; 8, 9 and 10 each their own.
    signs = sign || (byOption3 && option3);
    if (noKeyManager || option7)
      settings.modes = SMIME_MODE_DER;
    else
      settings.modes = (option8 ? SMIME_MODE_DETACHED : 0) | (option9 ? SMIME_MODE_ENTITY : 0) |
                       (option10 ? SMIME_MODE_TEXT : 0);
    settings.signatureScheme = signer == SIGNER_RSA_PSS ? 3 : -1;
    const Keys& k = keys();
    // Past the certificates' end and in 2050, where the signing time becomes GeneralizedTime.
    const time_t expired = std::max<time_t>(k.validTo, 2524608000) + 2 * 86400;
    settings.now = moment == EXPIRED   ? expired
                   : moment == NOT_YET ? k.validFrom - 2 * 86400
                   : moment == INSIDE  ? k.validFrom + 86400
                                       : k.validTo - 86400;
  }
  bool der() const { return settings.modes & SMIME_MODE_DER; }
  bool detached() const { return (settings.modes & SMIME_MODE_DETACHED) && !der(); }
  bool cipherKnown() const { return settings.cipher >= 1 && settings.cipher <= 4; }
  bool digestKnown() const { return settings.digestId >= 1 && settings.digestId <= 5; }

  SmimeSettings settings;
  bool encrypt, signs, noKeyManager, option7, option20, pieces, seekable, keyless, repeat;
  Fault fault;
  uint32_t faultAt;  // 0..7: where the input or the output fails
  Signer signer;
  Recipients recipients;
  Moment moment;
};

// The signing key and a generator seeded alike for every input, so a run repeats.
class FuzzKeys : public SmimeKeys {
 public:
  explicit FuzzKeys(Signer signer) : signer(signer) {
    const uint8_t seed[32] = {'s', 'm', 'i', 'm', 'e', 'w', 'r', 'i', 't', 'e'};
    rbg.init(seed, sizeof seed);
  }
  const SignedCertificate* signingCertificate() const override {
    return signer == SIGNER_NONE ? nullptr
           : signer == SIGNER_EC ? &keys().signerEc
                                 : &keys().signerRsa;
  }
  std::vector<const SignedCertificate*> chainCertificates() const override {
    return {&keys().inter};
  }
  int32_t keyScheme() const override { return signer == SIGNER_EC ? 2 : 0; }
  int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest, size_t digestLength,
               std::vector<uint8_t>& signature) override {
    const int n = static_cast<int>(digestLength);
    if (signer == SIGNER_EC) {
      DSASignature value;
      if (scheme != 2 || keys().ec.signDigest(digest, n, digestId, &rbg, value) != 1) return 80;
      signature = encoding(value);
      return 0;
    }
    MemFile out;
    const int r = scheme == 0   ? keys().rsa.signDigest(digest, n, digestId, &rbg, out)
                  : scheme == 3 ? keys().rsa.signDigestPss(digest, n, digestId, &rbg, out, 0, 0, 0)
                                : -1;
    if (r != 0) return 80;
    signature.assign(out.data(), out.data() + out.length());
    return 0;
  }
  int32_t randomBytes(uint8_t* buffer, size_t length) override {
    rbg.fillOctets(buffer, static_cast<unsigned int>(length));
    return 0;
  }

 private:
  Signer signer;
  LvRbgHashIso18031 rbg;
};

// The input: in memory, handed out in pieces of 1 to 7 octets, or a stream that cannot seek;
// its reads fail from `failsFrom` on when that is inside it.
class Input : public GenericFile {
 public:
  Input(const Bytes& data, bool pieces, bool seekable, size_t failsFrom)
      : data(data), pieces(pieces), seekable(seekable), failsFrom(failsFrom) {}
  int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override {
    if (failsFrom < data.size() && position >= failsFrom) return -1;
    uint32_t k = pieces ? 1 + (position * 5 + 3) % 7 : length;
    if (k > length) k = length;
    if (k > data.size() - position) k = static_cast<uint32_t>(data.size() - position);
    if (k) std::memcpy(buffer, data.data() + position, k);
    position += k;
    *count = k;
    return 0;
  }
  int32_t write(uint32_t, const uint8_t*) override { return -1; }
  int32_t seek(int32_t p) override {
    if (!seekable || p < 0 || static_cast<size_t>(p) > data.size()) return -1;
    position = static_cast<uint32_t>(p);
    return 0;
  }
  uint32_t tell() override { return position; }
  uint32_t size() override { return static_cast<uint32_t>(data.size()); }

 private:
  const Bytes& data;
  bool pieces, seekable;
  size_t failsFrom;
  uint32_t position = 0;
};

// An output that refuses a write past `limit` octets (a disk full, a closed pipe).
class Output : public MemFile {
 public:
  explicit Output(uint32_t limit) : limit(limit) {}
  int32_t write(uint32_t length, const uint8_t* buffer) override {
    if (static_cast<uint64_t>(this->length()) + length > limit) return -1;
    return MemFile::write(length, buffer);
  }

 private:
  uint32_t limit;
};

size_t inputFailsFrom(const Setup& s, size_t size) {
  return s.fault == INPUT_FAILS ? size * s.faultAt / 8 : SIZE_MAX;
}

uint32_t outputLimit(const Setup& s) {
  return s.fault == OUTPUT_CLOSES ? (s.faultAt + 1) * (s.faultAt + 1) * 97 : UINT32_MAX;
}

// The answer the settings call for: the recipients are checked first (cipher, time, key,
// usage), then the signer (key, digest).
int32_t expectedAnswer(const Setup& s, bool encrypt, bool sign) {
  if (encrypt) {
    if (!s.cipherKnown()) return 93;
    if (s.moment == EXPIRED) return 64;
    if (s.moment == NOT_YET) return 65;
    if (s.recipients == EC_KEY) return 66;
    if (s.recipients == SIGN_ONLY) return 74;
  }
  if (sign) {
    if (s.keyless || s.signer == SIGNER_NONE) return 30;
    if (!s.digestKnown()) return 92;
  }
  return 0;
}

int32_t writeMessage(const Setup& s, const Bytes& content, bool encrypt, bool sign, MemFile& out,
                     size_t failsFrom) {
  FuzzKeys fuzzKeys(s.signer);
  MemFile report;
  SMIMEctx ctx(&report, s.keyless ? nullptr : &fuzzKeys, s.settings);
  Input input(content, s.pieces, s.seekable, failsFrom);
  const Keys& k = keys();
  std::vector<const SignedCertificate*> recipients{s.recipients == EC_KEY ? &k.recipientEc
                                                   : s.recipients == SIGN_ONLY
                                                       ? &k.recipientSignOnly
                                                       : &k.recipient1};
  if (s.recipients == TWO) recipients.push_back(&k.recipient2);
  int32_t r = encrypt ? ctx.encrypt(recipients) : 0;
  if (r > 10) return r;
  const uint32_t flags = (encrypt ? SMIME_FLAG_ENCRYPT : 0) | (sign ? SMIME_FLAG_SIGN : 0) |
                         (s.noKeyManager ? SMIME_FLAG_NO_KEY_MANAGER : 0);
  r = ctx.sign(flags, &out);
  if (r > 10) return r;
  r = ctx.copyStream(&input, &out);
  if (r > 10) return r;
  r = ctx.encryptMimeBody(&out);
  // A message ended stays ended.
  if (r > 10) require(ctx.encryptMimeBody(&out) == r);
  return r;
}

// ---- the reader ----

bool startsWith(const Bytes& b, size_t at, const std::string& s) {
  return b.size() >= at && b.size() - at >= s.size() &&
         std::memcmp(b.data() + at, s.data(), s.size()) == 0;
}

Bytes digestOf(int32_t id, const Bytes& data) {
  std::unique_ptr<LvHash> hash(lvHashCreateObject(static_cast<LvHashAlgo>(id)));
  hash->init();
  if (!data.empty()) hash->step(data.data(), static_cast<unsigned int>(data.size()));
  hash->finish();
  Bytes out(hash->getHashOctets());
  hash->getHash(0, out.data());
  return out;
}

// Base64 in lines of at most 76 characters, each ended by CR LF, padding in the last alone.
bool base64Lines(const Bytes& text, size_t at, Bytes& out) {
  out.clear();
  bool ended = false;
  while (at < text.size()) {
    CHECK(!ended);
    size_t end = at;
    while (end < text.size() && text[end] != '\r') ++end;
    CHECK(end + 1 < text.size() && text[end + 1] == '\n');
    const size_t n = end - at;
    CHECK(n > 0 && n <= 76 && n % 4 == 0);
    uint8_t block[57];
    const int32_t got = decodeBase64Block(reinterpret_cast<const char*>(text.data() + at),
                                          static_cast<int32_t>(n), block);
    CHECK(got > 0);
    out.insert(out.end(), block, block + got);
    ended = text[end - 1] == '=';
    at = end + 2;
  }
  return true;
}

// The header block at `at` (up to the empty line): `at` moves past it.
bool headers(const Bytes& b, size_t& at, std::string& out) {
  static const std::string blank = "\r\n\r\n";
  const std::string rest(b.begin() + static_cast<long>(at), b.end());
  const size_t end = rest.find(blank);
  CHECK(end != std::string::npos);
  out = rest.substr(0, end + 2);
  at += end + blank.size();
  return true;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool sameSigner(const IssuerAndSerialNumber& id, const SignedCertificate& c) {
  return encoding(id.issuer) == encoding(c.tbsCertificate.issuer) &&
         id.serialNumber.equals(c.tbsCertificate.serialNumber);
}

// The CMS octets of an application/pkcs7-mime message of the S/MIME type, or of the bare DER.
bool cmsOctets(const Setup& s, const Bytes& message, const std::string& smimeType, Bytes& ber) {
  if (s.der()) {
    ber = message;
    return true;
  }
  size_t at = 0;
  std::string head;
  CHECK(headers(message, at, head));
  CHECK(startsWith(message, 0, "MIME-Version: 1.0\r\n"));
  CHECK(has(head, "Content-Type: application/pkcs7-mime; smime-type=" + smimeType));
  CHECK(has(head, "Content-Transfer-Encoding: base64\r\n"));
  return base64Lines(message, at, ber);
}

// An enveloped message to our recipients: the decrypted content.
bool readEnveloped(const Setup& s, const Bytes& message, Bytes& plain) {
  Bytes ber;
  CHECK(cmsOctets(s, message, "enveloped-data", ber));
  EnvelopedMessage m;
  CHECK(m.decodeVector(ber) == static_cast<int>(ber.size()));
  CHECK(m.contentType == id_envelopedData && m.contentPresent);
  EnvelopedData& e = m.value();
  CHECK(e.version.toLong() == 0 && !e.originatorInfoPresent && !e.unprotectedAttrsPresent);
  const Keys& k = keys();
  const int count = s.recipients == TWO ? 2 : 1;
  CHECK(e.recipientInfos.GetCount() == count);
  Bytes key;
  int index = 0;
  for (POSITION p = e.recipientInfos.GetHeadPosition(); p; ++index) {
    RecipientInfo* info = e.recipientInfos.GetNext(p);
    CHECK(info && info->chosenIndex() == RecipientInfo::KTRI);
    KeyTransRecipientInfo& t = info->ktri;
    CHECK(t.version.toLong() == 0);
    CHECK(t.keyEncryptionAlgorithm.algorithm == rsaEncryption);
    CHECK(sameSigner(t.rid, index == 0 ? k.recipient1 : k.recipient2));
    CHECK(t.encryptedKey.length == 256);
    if (index == 0) {
      MemFile unwrapped;
      CHECK(keys().recipientKey.decryptPkcs1v15(t.encryptedKey.data(), t.encryptedKey.length,
                                                unwrapped) == 0);
      key.assign(unwrapped.data(), unwrapped.data() + unwrapped.length());
    }
  }
  EncryptedContentInfo& c = e.encryptedContentInfo;
  CHECK(c.contentType == id_data && c.encryptedContentPresent);
  static const struct {
    const ASNobjectId* oid;
    LvBcAlgo algo;
    size_t key, block;
  } ciphers[] = {{&des_ede3_cbc, LV_BC_TDES, 24, 8},
                 {&id_aes128_CBC, LV_BC_AES, 16, 16},
                 {&id_aes192_CBC, LV_BC_AES, 24, 16},
                 {&id_aes256_CBC, LV_BC_AES, 32, 16}};
  const auto& cipher = ciphers[s.settings.cipher - 1];
  CHECK(c.contentEncryptionAlgorithm.algorithm == *cipher.oid);
  CHECK(key.size() == cipher.key);
  CHECK(c.contentEncryptionAlgorithm.parametersPresent);
  const Bytes iv = encoding(c.contentEncryptionAlgorithm.parameters);
  CHECK(iv.size() == cipher.block + 2 && iv[0] == 4 && iv[1] == cipher.block);
  const int n = c.encryptedContent.length;
  CHECK(n > 0 && n % static_cast<int>(cipher.block) == 0);
  plain.assign(static_cast<size_t>(n) + 32, 0);
  try {
    LvCbc cbc(cipher.algo, 0);
    cbc.setKey(key.data(), static_cast<unsigned int>(key.size()));
    cbc.init(LvSymEnc::DECRYPT, iv.data() + 2, static_cast<unsigned int>(cipher.block));
    size_t got = cbc.step(c.encryptedContent.data(), static_cast<unsigned int>(n), plain.data());
    got += cbc.finish(plain.data() + got);
    plain.resize(got);
  } catch (const LvException&) {
    return refused(__LINE__);
  }
  return true;
}

// The signed data of our signer over `signedPart`, with the certificates asked for.
bool verifySignedData(const Setup& s, SignedData& d, const Bytes& signedPart) {
  const Keys& k = keys();
  const SignedCertificate& signer = s.signer == SIGNER_EC ? k.signerEc : k.signerRsa;
  const int32_t digest = s.settings.digestId;
  AlgorithmIdentifier digestAlgorithm;
  require(digestAlgorithm.setDigest(digest));
  CHECK(d.version.toLong() == 1 && d.digestAlgorithms.GetCount() == 1);
  CHECK(*d.digestAlgorithms.GetHead() == digestAlgorithm);
  CHECK(!d.crlsPresent);
  if (s.settings.includeCertificates) {
    CHECK(d.certificatesPresent && d.certificates.GetCount() == 2);
  } else {
    CHECK(!d.certificatesPresent || d.certificates.GetCount() == 0);
  }
  CHECK(d.signerInfos.GetCount() == 1);
  SignerInfo& info = *d.signerInfos.GetHead();
  CHECK(info.version.toLong() == 1 && !info.sidIsKeyIdentifier);
  CHECK(sameSigner(info.issuerAndSerialNumber, signer));
  CHECK(info.digestAlgorithm == digestAlgorithm);
  CHECK(info.signedAttrsPresent && !info.unsignedAttrsPresent);
  ASNobjectId type;
  ASNoctstr messageDigest;
  X509time signingTime;
  SigningCertificateV2 signingCertificate;
  CHECK(getAttributeValue(info.signedAttrs, id_contentType, type, 0) && type == id_data);
  CHECK(getAttributeValue(info.signedAttrs, id_messageDigest, messageDigest, 0));
  const Bytes hash = digestOf(digest, signedPart);
  CHECK(messageDigest.length == static_cast<int>(hash.size()) &&
        std::memcmp(messageDigest.data(), hash.data(), hash.size()) == 0);
  CHECK(getAttributeValue(info.signedAttrs, id_signingTime, signingTime, 0));
  CHECK(timeOf(signingTime) == s.settings.now);
  CHECK(getAttributeValue(info.signedAttrs, id_aa_signingCertificateV2, signingCertificate, 0));
  CHECK(signingCertificate.certs.GetCount() == 1);
  const Bytes certificateHash = digestOf(3, encoding(signer));
  const ASNoctstr& certHash = signingCertificate.certs.GetHead()->certHash;
  CHECK(certHash.length == 32 && std::memcmp(certHash.data(), certificateHash.data(), 32) == 0);
  // The library's own view of a CMS signer's attributes reads the same.
  SignedAttributesPkcs7 view;
  CHECK(view.load(info.signedAttrs) == 1 && view.hasSigningTime());
  CHECK(view.messageDigest == std::string(hash.begin(), hash.end()));
  CHECK(view.signingCertificateDigestAlgorithm() == 3 &&
        *view.signingCertificateDigest() ==
            std::string(certificateHash.begin(), certificateHash.end()));
  int hashId = 0;
  CHECK(info.signatureAlgorithm.getDigestType(&hashId, nullptr) && hashId == digest);
  const bool pss = info.signatureAlgorithm.algorithm == id_RSASSA_PSS;
  CHECK(pss == (s.signer == SIGNER_RSA_PSS));
  std::vector<unsigned char> signedAttributes;
  CHECK(info.signedAttrsDigestInput(signedAttributes) == 1);
  SubPubKeyInfo key = signer.tbsCertificate.subjectPublicKeyInfo;
  CHECK(key.verifyData(info.signatureAlgorithm, signedAttributes.data(),
                       static_cast<int>(signedAttributes.size()), info.signature.data(),
                       info.signature.length) == SubPubKeyInfo::SIG_VALID);
  return true;
}

// A signed message: the signed part (the entity, or the content of the bare DER).
bool readSigned(const Setup& s, const Bytes& message, Bytes& signedPart) {
  SignedMessage m;
  if (s.detached()) {
    size_t at = 0;
    std::string head;
    CHECK(headers(message, at, head));
    CHECK(startsWith(message, 0, "MIME-Version: 1.0\r\n"));
    static const char* const micalg[] = {"sha-1", "sha-224", "sha-256", "sha-384", "sha-512"};
    CHECK(has(head, std::string("Content-Type: multipart/signed; protocol=\"application/"
                                "pkcs7-signature\"; micalg=\"") +
                        micalg[s.settings.digestId - 1] + "\"; boundary=\""));
    const size_t b = head.find("boundary=\"") + 10;
    const size_t e = head.find('"', b);
    CHECK(e != std::string::npos && e > b && e - b <= 70);
    const std::string delimiter = "--" + head.substr(b, e - b);
    // The preamble, then the first part from the line after the first delimiter.
    const std::string body(message.begin() + static_cast<long>(at), message.end());
    const size_t first = body.find(delimiter + "\r\n");
    CHECK(first != std::string::npos && (first == 0 || body.compare(first - 2, 2, "\r\n") == 0));
    const std::string close = "\r\n" + delimiter + "--\r\n";
    CHECK(body.size() >= close.size() &&
          body.compare(body.size() - close.size(), close.size(), close) == 0);
    const size_t second = body.rfind("\r\n" + delimiter + "\r\n");
    CHECK(second != std::string::npos && second >= first + delimiter.size() + 2);
    const size_t partStart = first + delimiter.size() + 2;
    signedPart.assign(body.begin() + static_cast<long>(partStart),
                      body.begin() + static_cast<long>(second));
    const Bytes signature(body.begin() + static_cast<long>(second + delimiter.size() + 4),
                          body.end() - static_cast<long>(close.size()));
    size_t sat = 0;
    std::string signatureHead;
    CHECK(headers(signature, sat, signatureHead));
    CHECK(startsWith(signature, 0, "Content-Type: application/pkcs7-signature"));
    CHECK(has(signatureHead, "Content-Transfer-Encoding: base64\r\n"));
    Bytes der;
    CHECK(base64Lines(signature, sat, der));
    CHECK(m.decodeVector(der) == static_cast<int>(der.size()));
    CHECK(m.contentType == id_signedData && m.contentPresent);
    // No content: it is the first part.
    CHECK(m.value().encapContentInfo.contentType == id_data);
    CHECK(!m.value().encapContentInfo.contentPresent);
  } else {
    Bytes ber;
    CHECK(cmsOctets(s, message, "signed-data", ber));
    CHECK(m.decodeVector(ber) == static_cast<int>(ber.size()));
    CHECK(m.contentType == id_signedData && m.contentPresent);
    ContentInfo<ASNoctstr>& encap = m.value().encapContentInfo;
    CHECK(encap.contentType == id_data);
    const ASNoctstr& content = encap.value();
    // The content travels inside, even when empty.
    CHECK(encap.contentPresent);
    signedPart.assign(content.data(), content.data() + (content.data() ? content.length : 0));
  }
  return verifySignedData(s, m.value(), signedPart);
}

// Text with its lines ended by CR LF: a lone LF gets its CR.
Bytes canonical(const Bytes& text) {
  Bytes out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

// 7-bit text a relay passes unchanged: no octet 0 or above 127, CR only before LF, lines of at
// most 998 octets.
bool sevenBit(const Bytes& text) {
  size_t line = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = text[i];
    if (c == 0 || c > 127) return false;
    if (c == '\r') {
      if (i + 1 == text.size() || text[i + 1] != '\n') return false;
    } else if (c == '\n') {
      line = 0;
    } else if (++line > 998) {
      return false;
    }
  }
  return true;
}

int hexDigit(uint8_t c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Quoted-printable as a relay must pass it (RFC 2045 6.7): 7-bit, lines of at most 76
// characters, no space or TAB before a line end.
bool quotedPrintable(const Bytes& text, size_t at, Bytes& out) {
  out.clear();
  size_t column = 0;
  for (size_t i = at; i < text.size();) {
    const uint8_t c = text[i];
    if (c == '\r') {
      CHECK(i + 1 < text.size() && text[i + 1] == '\n');
      CHECK(i == at || (text[i - 1] != ' ' && text[i - 1] != '\t'));
      out.push_back('\r');
      out.push_back('\n');
      column = 0;
      i += 2;
    } else if (c == '=') {
      CHECK(i + 2 < text.size());
      if (text[i + 1] == '\r') {
        CHECK(text[i + 2] == '\n');
        CHECK(column + 1 <= 76);
        column = 0;
      } else {
        const int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
        CHECK(hi >= 0 && lo >= 0);
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        column += 3;
        CHECK(column <= 76);
      }
      i += 3;
    } else {
      CHECK((c >= 33 && c <= 126) || c == ' ' || c == '\t');
      out.push_back(c);
      CHECK(++column <= 76);
      ++i;
    }
  }
  CHECK(text.size() == at || (text.back() != ' ' && text.back() != '\t'));
  return true;
}

// The entity the writer made of the content.
bool readEntity(const Setup& s, const Bytes& entity, const Bytes& content, bool signedTogether) {
  static const std::string binary =
      "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  static const std::string base64 =
      "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  static const std::string text = "Content-Type: text/plain; charset=windows-1250\r\n\r\n";
  static const std::string quoted =
      "Content-Type: text/plain; charset=windows-1250\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  const uint32_t modes = s.settings.modes;
  // In multipart/signed the signed part is read as lines ended by CR LF.
  const bool multipart = s.detached() && signedTogether;
  if (s.der() || (modes & SMIME_MODE_ENTITY)) {
    CHECK(entity == (multipart ? canonical(content) : content));
  } else if (modes & SMIME_MODE_TEXT) {
    const Bytes lines = canonical(content);
    if (startsWith(entity, 0, text)) {
      CHECK(!multipart || sevenBit(lines));
      CHECK(Bytes(entity.begin() + static_cast<long>(text.size()), entity.end()) == lines);
    } else {
      // Text is quoted-printable only in multipart/signed, and 7-bit text only when it could
      // not be read twice.
      CHECK(multipart && startsWith(entity, 0, quoted));
      CHECK(!sevenBit(lines) || (!s.seekable && content.size() >= BLOCK));
      Bytes decoded;
      CHECK(quotedPrintable(entity, quoted.size(), decoded));
      CHECK(decoded == lines);
    }
  } else if (multipart) {
    CHECK(startsWith(entity, 0, base64));
    Bytes decoded;
    CHECK(base64Lines(entity, base64.size(), decoded));
    CHECK(decoded == content);
  } else {
    CHECK(startsWith(entity, 0, binary));
    CHECK(Bytes(entity.begin() + static_cast<long>(binary.size()), entity.end()) == content);
  }
  return true;
}

bool messageType(const Bytes& message, int32_t expected) {
  Bytes copy(message);
  MemFile m(copy.empty() ? nullptr : copy.data(), static_cast<int32_t>(copy.size()), false);
  int32_t type = -1;
  isSMimeMessage(&m, &type);
  return type == expected;
}

// Reads a message written from `content`, signed and/or enveloped as said.
bool readMessage(const Setup& s, const Bytes& message, const Bytes& content, bool enveloped,
                 bool signs) {
  Bytes inner = message;
  if (enveloped) {
    CHECK(messageType(message, 1));
    CHECK(readEnveloped(s, message, inner));
    // A signed message of this library enveloped alone is an entity already.
    if (!signs && messageType(content, 2)) {
      CHECK(inner == content);
      return true;
    }
  }
  Bytes entity = inner;
  if (signs) {
    CHECK(messageType(inner, 2));
    CHECK(readSigned(s, inner, entity));
  }
  return readEntity(s, entity, content, signs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 65536) return 0;
  const Setup s(data);
  Bytes content(data + 4, data + size);
  if (s.repeat && !content.empty()) {
    const Bytes once = content;
    while (content.size() <= BLOCK) content.insert(content.end(), once.begin(), once.end());
  }
  // Option 20: only an unsigned enveloping of a signed message, which is made first here.
  const bool option20 = s.encrypt && !s.signs && s.option20;
  if (option20 && s.option7) return 0;  // the protection refuses this pair
  const Bytes* input = &content;
  Bytes signedMessage;
  bool sign = s.signs;
  if (option20) {
    MemFile first;
    const int32_t r = writeMessage(s, content, false, true, first, SIZE_MAX);
    require(r == expectedAnswer(s, false, true));
    if (r != 0) return 0;
    signedMessage.assign(first.data(), first.data() + first.length());
    require(readMessage(s, signedMessage, content, false, true));
    // Enveloped alone, it must come out as it went in.
    input = &signedMessage;
    sign = false;
  }
  const size_t failsFrom = inputFailsFrom(s, input->size());
  Output out(outputLimit(s));
  const int32_t r = writeMessage(s, *input, s.encrypt, sign, out, failsFrom);
  // A refusal of the settings comes before any reading or writing.
  const int32_t expected = expectedAnswer(s, s.encrypt, sign);
  if (expected != 0)
    require(r == expected);
  else if (failsFrom < input->size())
    require(r == 59);
  else
    require(r == 0 || (r == 62 && s.fault == OUTPUT_CLOSES));
  const Bytes message(out.data(), out.data() ? out.data() + out.length() : nullptr);
  const bool read = readMessage(s, message, *input, s.encrypt, sign);
  // A refused message never reads as whole; one written always does.
  require(read == (r == 0));
  return 0;
}
