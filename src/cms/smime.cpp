#include "cms/smime.h"

#include "asn1/asnseql.h"
#include "base/b64file.h"
#include "base/memfile.h"
#include "crypto/basic/lvexception.h"
#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"
#include "crypto/sym/lvcbc.h"
#include "pki/cms/attribute.h"
#include "pki/cms/esscades.h"
#include "pki/cms/sgndata.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"
#include "pki/common/x509time.h"
#include "pki/pkcs/envdata.h"
#include "pki/x509/cert.h"
#include "pki/common/extension.h"
#include "pki/x509/x509ext.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace {

const int32_t RC_OK = 0;
const int32_t RC_BAD_PARAMETER = 20;
const int32_t RC_NO_SIGNING_KEY = 30;
const int32_t RC_NO_SEED = 31;
const int32_t RC_READ_INPUT = 59;
const int32_t RC_WRITE_OUTPUT = 62;
const int32_t RC_CERT_EXPIRED = 64;
const int32_t RC_CERT_NOT_YET_VALID = 65;
const int32_t RC_CERT_ALGORITHM = 66;
const int32_t RC_CERT_PROFILE = 74;
const int32_t RC_RSA = 80;
const int32_t RC_DIGEST = 92;
const int32_t RC_SYMMETRIC = 93;
const int32_t RC_MEMORY = 100;
const int32_t RC_INTERNAL = 141;

// Octets of content handed on at a time, and the most one OCTET STRING segment holds.
const uint32_t CHUNK = 64 * 1024;
// Octets of a stream's start that tell a message of this library.
const uint32_t HEAD = 1024;
// keyUsage bit keyEncipherment (RFC 5280 4.2.1.3).
const int KEY_ENCIPHERMENT = 2;

const char* const SIGNED_HEADERS =
    "MIME-Version: 1.0\r\n"
    "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=\"smime.p7m\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"smime.p7m\"\r\n\r\n";
const char* const ENVELOPED_HEADERS =
    "MIME-Version: 1.0\r\n"
    "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=\"smime.p7m\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"smime.p7m\"\r\n\r\n";
const char* const DETACHED_START =
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=\"";
const char* const BOUNDARY_PREFIX = "----TALVORIN-";
const char* const DETACHED_PREAMBLE = "This is an S/MIME signed message\r\n\r\n";
const char* const SIGNATURE_HEADERS =
    "Content-Type: application/pkcs7-signature; name=\"smime.p7s\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"smime.p7s\"\r\n\r\n";
const char* const ENTITY_BINARY =
    "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n";
const char* const ENTITY_BASE64 =
    "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n";
const char* const ENTITY_TEXT = "Content-Type: text/plain; charset=windows-1250\r\n\r\n";
const char* const ENTITY_TEXT_QP =
    "Content-Type: text/plain; charset=windows-1250\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
// The longest line of 7-bit text a relay must pass (RFC 5322 2.1.1), and of quoted-printable
// text, its soft line break included (RFC 2045 6.7).
const size_t MAX_TEXT_LINE = 998;
const size_t MAX_QP_LINE = 76;

// The BER openings this library writes (indefinite lengths): ContentInfo, [0], the SignedData
// or EnvelopedData with its version. isSMimeMessage knows a message by them.
const uint8_t SIGNED_PREFIX[] = {0x30, 0x80, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01,
                                 0x07, 0x02, 0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01};
const uint8_t ENVELOPED_PREFIX[] = {0x30, 0x80, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                                    0x01, 0x07, 0x03, 0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x00};
const uint8_t DATA_OID[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const uint8_t SIGNED_DATA_OID[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                   0x0D, 0x01, 0x07, 0x02};

using Bytes = std::vector<uint8_t>;

// A failure that ends the message with a result code (thrown inside, answered outside).
struct Failure {
  int32_t code;
};

void fail(int32_t code) { throw Failure{code}; }

void append(Bytes& out, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + n);
}

void appendLength(Bytes& out, size_t n) {
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
    return;
  }
  uint8_t octets[8];
  int k = 0;
  for (size_t v = n; v; v >>= 8) octets[k++] = static_cast<uint8_t>(v);
  out.push_back(static_cast<uint8_t>(0x80 | k));
  while (k) out.push_back(octets[--k]);
}

// tag, definite length, content.
Bytes tlv(uint8_t tag, const Bytes& content) {
  Bytes out;
  out.reserve(content.size() + 6);
  out.push_back(tag);
  appendLength(out, content.size());
  append(out, content.data(), content.size());
  return out;
}

Bytes der(const ASNobject& object) {
  MemFile m;
  const int r = object.encode(&m);
  if (r == EASN_MEM) fail(RC_MEMORY);
  if (r < 1) fail(RC_INTERNAL);
  return Bytes(m.data(), m.data() + m.length());
}

Bytes digestOf(int32_t digestId, const uint8_t* data, size_t n) {
  std::unique_ptr<LvHash> hash(lvHashCreateObject(static_cast<LvHashAlgo>(digestId)));
  hash->init();
  if (n) hash->step(data, static_cast<unsigned int>(n));
  hash->finish();
  Bytes out(hash->getHashOctets());
  hash->getHash(0, out.data());
  return out;
}

// ---- the layers a message passes through: each hands its output to the next ----

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const uint8_t* data, size_t n) = 0;
  // Writes what the layer still holds (the last block, the last base64 characters).
  virtual void finish() {}
  void write(const char* text) { write(reinterpret_cast<const uint8_t*>(text), std::strlen(text)); }
  void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }
  void write(const std::string& text) {
    write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
};

class FileSink : public Sink {
 public:
  explicit FileSink(GenericFile* out) : out(out) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    while (n) {
      const uint32_t step = n > CHUNK ? CHUNK : static_cast<uint32_t>(n);
      if (out->write(step, data) != 0) fail(RC_WRITE_OUTPUT);
      data += step;
      n -= step;
    }
  }

 private:
  GenericFile* out;
};

// Base64 in lines of 64 characters ended by CR LF; the last line too.
class Base64Sink : public Sink {
 public:
  explicit Base64Sink(Sink& next) : next(next) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    while (n) {
      const size_t step = std::min(n, sizeof pending - held);
      std::memcpy(pending + held, data, step);
      held += step;
      data += step;
      n -= step;
      if (held == sizeof pending) {
        emit(pending, held);
        held = 0;
      }
    }
  }
  void finish() override {
    emit(pending, held);
    held = 0;
  }

 private:
  // Whole lines, and a last part line when n is not a multiple of 48.
  void emit(const uint8_t* p, size_t n) {
    size_t k = 0;
    for (size_t i = 0; i < n; i += 48) {
      const int32_t line = static_cast<int32_t>(std::min<size_t>(48, n - i));
      k += static_cast<size_t>(encodeBase64Buffer(p + i, line, text + k));
      text[k++] = '\r';
      text[k++] = '\n';
    }
    next.write(reinterpret_cast<const uint8_t*>(text), k);
  }

  Sink& next;
  uint8_t pending[48 * 256];  // whole lines
  size_t held = 0;
  char text[66 * 256];
};

// The content as BER OCTET STRING segments (the constructed string's header and end are the
// caller's).
class OctetStringSink : public Sink {
 public:
  explicit OctetStringSink(Sink& next) : next(next), buffer(CHUNK) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    while (n) {
      const size_t step = std::min(n, buffer.size() - held);
      std::memcpy(buffer.data() + held, data, step);
      held += step;
      data += step;
      n -= step;
      if (held == buffer.size()) flush();
    }
  }
  void finish() override { flush(); }

 private:
  void flush() {
    if (!held) return;
    Bytes header{0x04};
    appendLength(header, held);
    next.write(header);
    next.write(buffer.data(), held);
    held = 0;
  }

  Sink& next;
  Bytes buffer;
  size_t held = 0;
};

class CbcSink : public Sink {
 public:
  CbcSink(Sink& next, LvCbc& cbc) : next(next), cbc(cbc), out(CHUNK + 32) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    while (n) {
      const unsigned int step = n > CHUNK ? CHUNK : static_cast<unsigned int>(n);
      next.write(out.data(), cbc.step(data, step, out.data()));
      data += step;
      n -= step;
    }
  }
  void finish() override { next.write(out.data(), cbc.finish(out.data())); }

 private:
  Sink& next;
  LvCbc& cbc;
  Bytes out;
};

class DigestSink : public Sink {
 public:
  DigestSink(Sink& next, LvHash& hash) : next(next), hash(hash) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    if (n) hash.step(data, static_cast<unsigned int>(n));
    next.write(data, n);
  }

 private:
  Sink& next;
  LvHash& hash;
};

// Text: every line ends with CR LF (a lone LF gets its CR).
class TextSink : public Sink {
 public:
  explicit TextSink(Sink& next) : next(next) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
      if (data[i] == '\n' && !(i ? data[i - 1] == '\r' : lastWasCr)) {
        next.write(data + start, i - start);
        next.write("\r");
        start = i;
      }
    }
    next.write(data + start, n - start);
    if (n) lastWasCr = data[n - 1] == '\r';
  }

 private:
  Sink& next;
  bool lastWasCr = false;
};

// Whether text, once its lines end with CR LF (TextSink), is 7-bit data a mail relay passes
// unchanged (RFC 2045 2.7): no octet above 127, no NUL, no CR but in a line end, and no line
// longer than 998 octets.
class SevenBitText {
 public:
  void read(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n && safe; ++i) {
      const uint8_t c = data[i];
      if (lastCr && c != '\n')
        safe = false;  // a lone CR
      else if (c == '\n')
        line = 0;
      else if (c != '\r' && (c == 0 || c > 127 || ++line > MAX_TEXT_LINE))
        safe = false;
      lastCr = c == '\r';
    }
  }
  // At the end of the text; `broken` already tells of a text not all read.
  bool sevenBit() const { return safe && !lastCr; }
  bool broken() const { return !safe; }

 private:
  bool safe = true;
  bool lastCr = false;
  size_t line = 0;
};

// Quoted-printable (RFC 2045 6.7) of text whose line ends are CR LF: they stay line ends; every
// other octet outside 33..126, '=' and a space or TAB before a line end are written =XX (a lone
// CR =0D, NUL =00); soft line breaks keep lines to 76 characters. The last octets are held
// until what follows them is known (a CR, a space).
class QuotedPrintableSink : public Sink {
 public:
  explicit QuotedPrintableSink(Sink& next) : next(next) {}
  using Sink::write;
  void write(const uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n; ++i) put(data[i]);
    if (out.size() >= CHUNK) flush();
  }
  void finish() override {
    if (heldCr) {
      heldCr = false;
      releaseSpace(false);
      encoded('\r');
    }
    releaseSpace(true);  // the end of the text ends its last line
    flush();
  }

 private:
  void put(uint8_t c) {
    if (heldCr) {
      heldCr = false;
      if (c == '\n') {
        releaseSpace(true);
        out += "\r\n";
        column = 0;
        return;
      }
      releaseSpace(false);
      encoded('\r');
    }
    if (c == '\r') {
      heldCr = true;
      return;
    }
    releaseSpace(false);
    if (c == ' ' || c == '\t')
      space = c;
    else if (c >= 33 && c <= 126 && c != '=')
      literal(c);
    else
      encoded(c);
  }
  // A space or TAB is literal inside a line and encoded at its end, where a relay may drop it.
  void releaseSpace(bool atLineEnd) {
    if (!space) return;
    if (atLineEnd)
      encoded(space);
    else
      literal(space);
    space = 0;
  }
  void literal(uint8_t c) {
    room(1);
    out += static_cast<char>(c);
    ++column;
  }
  void encoded(uint8_t c) {
    static const char DIGITS[] = "0123456789ABCDEF";
    room(3);
    out += '=';
    out += DIGITS[c >> 4];
    out += DIGITS[c & 15];
    column += 3;
  }
  // A soft line break when k more characters and the '=' of a break would pass the limit.
  void room(size_t k) {
    if (column + k + 1 > MAX_QP_LINE) {
      out += "=\r\n";
      column = 0;
    }
  }
  void flush() {
    next.write(out);
    out.clear();
  }

  Sink& next;
  std::string out;
  size_t column = 0;
  bool heldCr = false;
  uint8_t space = 0;
};

// Random octets: the key manager's generator, or the system's when there is no key manager.
int32_t drawRandom(SmimeKeys* keys, uint8_t* buffer, size_t length) {
  if (keys) return keys->randomBytes(buffer, length);
  while (length) {
    const ssize_t got = getrandom(buffer, length, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return RC_NO_SEED;
    }
    buffer += got;
    length -= static_cast<size_t>(got);
  }
  return RC_OK;
}

// The PKCS#1 v1.5 padding's random octets from the same source.
class SourceRbg : public LvRbg {
 public:
  explicit SourceRbg(SmimeKeys* keys) : keys(keys) {}
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int octets) override {
    const int32_t r = drawRandom(keys, dst, octets);
    if (r != RC_OK) fail(r);
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 0; }
  const char* getName() const override { return "S/MIME"; }

 private:
  SmimeKeys* keys;
};

const char* micalgName(int32_t digestId) {
  switch (digestId) {
    case 1:
      return "sha-1";
    case 2:
      return "sha-224";
    case 3:
      return "sha-256";
    case 4:
      return "sha-384";
    case 5:
      return "sha-512";
    default:
      return nullptr;
  }
}

std::string hexText(const uint8_t* p, size_t n) {
  static const char DIGITS[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += DIGITS[p[i] >> 4];
    out += DIGITS[p[i] & 15];
  }
  return out;
}

}  // namespace

// ---- the context's state: the recipients' part, the layers of the message being written ----

struct SMIMEctx::State {
  ~State() { lvWipe(sessionKey.data(), sessionKey.size()); }

  int32_t failed = 0;  // the code that ended the message
  int32_t phase = 0;   // 0 nothing written, 1 opened, 2 content copied, 3 closed

  // Enveloping: the session key, the IV, the recipient infos (DER SET).
  bool enveloped = false;
  int32_t cipher = 0;
  Bytes sessionKey;
  Bytes iv;
  Bytes recipientInfos;

  // Signing.
  bool signing = false;
  int32_t scheme = 0;
  std::string boundary;
  std::unique_ptr<LvHash> hash;

  // The layers, outermost first in the order they were made.
  std::unique_ptr<FileSink> file;
  std::unique_ptr<Base64Sink> envelopeText;
  std::unique_ptr<OctetStringSink> envelopeSegments;
  std::unique_ptr<LvCbc> cbc;
  std::unique_ptr<CbcSink> encryption;
  std::unique_ptr<Base64Sink> signedText;
  std::unique_ptr<OctetStringSink> signedSegments;
  std::unique_ptr<DigestSink> digest;
  std::unique_ptr<Base64Sink> entityBase64;
  std::unique_ptr<QuotedPrintableSink> entityQuotedPrintable;
  std::unique_ptr<TextSink> entityText;
  Sink* signedSink = nullptr;  // where the signed layer writes (the envelope's or the file)
  Sink* content = nullptr;     // where the input goes
  const char* entity = nullptr;  // the headers that make the input a MIME entity
  // The input's lines get CR LF ends (an entity given for multipart/signed).
  bool canonicalLines = false;
};

namespace {

int32_t messageType(const uint8_t* p, size_t n);

// Whether the whole input is 7-bit text (SevenBitText), its start (`held` octets from `start`)
// already read. When that start is all of it, it alone tells. Otherwise the rest is read
// through and the input put back after the start, so memory stays one block whatever the
// size; an input that cannot be put back (a pipe, or one past 2 GiB) cannot be judged before
// its headers are written, and counts as not 7-bit: it is encoded, which is always safe.
bool sevenBitInput(GenericFile* input, uint32_t start, const uint8_t* head, uint32_t held,
                   bool end) {
  SevenBitText text;
  text.read(head, held);
  if (end || text.broken()) return text.sevenBit();
  const uint64_t resume = uint64_t(start) + held;
  if (resume > 0x7FFFFFFF || input->seek(static_cast<int32_t>(resume)) != 0) return false;
  Bytes block(CHUNK);
  for (;;) {
    uint32_t got = 0;
    if (input->read(CHUNK, block.data(), &got) != 0) fail(RC_READ_INPUT);
    if (got == 0) break;
    text.read(block.data(), got);
    if (text.broken()) break;
  }
  if (input->seek(static_cast<int32_t>(resume)) != 0) fail(RC_READ_INPUT);
  return text.sevenBit();
}

// Runs one step: failures thrown inside become codes, and the first one sticks.
template <class F>
int32_t guarded(int32_t& failed, F body) {
  if (failed) return failed;
  int32_t code = RC_OK;
  try {
    code = body();
  } catch (const Failure& f) {
    code = f.code;
  } catch (const std::bad_alloc&) {
    code = RC_MEMORY;
  } catch (const LvException&) {
    code = RC_INTERNAL;
  }
  if (code > 10) failed = code;
  return code;
}

bool cipherOf(int32_t cipher, LvBcAlgo* algo, size_t* keyLength, const ASNobjectId** oid) {
  switch (cipher) {
    case SMIME_CIPHER_TDES:
      *algo = LV_BC_TDES, *keyLength = 24, *oid = &des_ede3_cbc;
      return true;
    case SMIME_CIPHER_AES128:
      *algo = LV_BC_AES, *keyLength = 16, *oid = &id_aes128_CBC;
      return true;
    case SMIME_CIPHER_AES192:
      *algo = LV_BC_AES, *keyLength = 24, *oid = &id_aes192_CBC;
      return true;
    case SMIME_CIPHER_AES256:
      *algo = LV_BC_AES, *keyLength = 32, *oid = &id_aes256_CBC;
      return true;
    default:
      return false;
  }
}

// A recipient's certificate fit for key transport now: 0 or the code that refuses it.
int32_t checkRecipient(const SignedCertificate& certificate, time_t now) {
  const TBSCertificate& tbs = certificate.tbsCertificate;
  X509time at;
  if (!at.setFromTime64(static_cast<int64_t>(now), true)) return RC_INTERNAL;
  const int validity = tbs.checkValidity(at);
  if (validity > 0) return RC_CERT_EXPIRED;
  if (validity < 0) return RC_CERT_NOT_YET_VALID;
  if (tbs.subjectPublicKeyInfo.algorithm.algorithm != rsaEncryption ||
      tbs.subjectPublicKeyInfo.rsaKey.keyBits() < 1024)
    return RC_CERT_ALGORITHM;
  const Extension* usage = findExtensionByOid(*tbs.extensions, id_ce_keyUsage);
  if (usage) {
    ASNbitstr bits;
    if (bits.decodeOctets(usage->extnValue) < 1 || bits.getBit(KEY_ENCIPHERMENT) != 1)
      return RC_CERT_PROFILE;
  }
  return RC_OK;
}

}  // namespace

SMIMEctx::SMIMEctx(GenericFile* report) : report(report) {}
SMIMEctx::SMIMEctx(GenericFile* report, SmimeKeys* keys, const SmimeSettings& settings)
    : report(report), keys(keys), settings(settings) {}
SMIMEctx::~SMIMEctx() = default;

int32_t SMIMEctx::encrypt(const ASNsequenceList<SignedCertificate>* recipients) {
  if (!recipients) return RC_BAD_PARAMETER;
  std::vector<const SignedCertificate*> list;
  for (POSITION pos = recipients->GetHeadPosition(); pos;) list.push_back(recipients->GetNext(pos));
  return encrypt(list);
}

int32_t SMIMEctx::encrypt(const std::vector<const SignedCertificate*>& recipients) {
  if (!state) state.reset(new (std::nothrow) State);
  if (!state) return RC_MEMORY;
  return guarded(state->failed, [&]() -> int32_t {
    if (state->phase != 0 || state->enveloped || recipients.empty()) return RC_BAD_PARAMETER;
    LvBcAlgo algo = 0;
    size_t keyLength = 0;
    const ASNobjectId* cipherOid = nullptr;
    if (!cipherOf(settings.cipher, &algo, &keyLength, &cipherOid)) return RC_SYMMETRIC;
    const time_t now = settings.now ? settings.now : time(nullptr);
    for (const SignedCertificate* c : recipients) {
      if (!c) return RC_BAD_PARAMETER;
      const int32_t fit = checkRecipient(*c, now);
      if (fit != RC_OK) return fit;
    }
    Bytes key(keyLength);
    struct WipeOnExit {
      Bytes& b;
      ~WipeOnExit() { lvWipe(b.data(), b.size()); }
    } wipeKey{key};
    Bytes iv(algo == LV_BC_TDES ? 8 : 16);
    int32_t r = drawRandom(keys, key.data(), key.size());
    if (r == RC_OK) r = drawRandom(keys, iv.data(), iv.size());
    if (r != RC_OK) return r;
    SourceRbg rbg(keys);
    Bytes infos;
    for (const SignedCertificate* c : recipients) {
      KeyTransRecipientInfo ktri;
      ktri.version.set(0);
      ktri.rid.issuer = c->tbsCertificate.issuer;
      ktri.rid.serialNumber = c->tbsCertificate.serialNumber;
      if (!ktri.keyEncryptionAlgorithm.setRsaEncryption()) return RC_MEMORY;
      RSAPublicKey publicKey = c->tbsCertificate.subjectPublicKeyInfo.rsaKey;
      MemFile wrapped;
      const int e = publicKey.encryptPkcs1v15(key.data(), static_cast<int>(key.size()), &rbg,
                                             wrapped);
      if (e == RSAPublicKey::NO_OUTPUT) return RC_MEMORY;
      if (e == RSAPublicKey::UNUSABLE) return RC_CERT_ALGORITHM;
      if (e != RSAPublicKey::OK) return RC_RSA;
      if (ktri.encryptedKey.set(wrapped.data(), wrapped.length()) < 1) return RC_MEMORY;
      Bytes one = der(ktri);
      append(infos, one.data(), one.size());
    }
    state->recipientInfos = tlv(0x31, infos);
    state->sessionKey.swap(key);
    state->iv.swap(iv);
    state->cipher = settings.cipher;
    state->enveloped = true;
    return RC_OK;
  });
}

int32_t SMIMEctx::sign(uint32_t flags, GenericFile* output) {
  if (!state) state.reset(new (std::nothrow) State);
  if (!state) return RC_MEMORY;
  return guarded(state->failed, [&]() -> int32_t {
    if (!output || state->phase != 0) return RC_BAD_PARAMETER;
    State& s = *state;
    s.signing = (flags & (SMIME_FLAG_SIGN | SMIME_FLAG_SIGN_REQUIRED)) != 0;
    const bool derMode = (settings.modes & SMIME_MODE_DER) != 0;
    const bool detached = !derMode && (settings.modes & SMIME_MODE_DETACHED);
    if (s.signing) {
      if (!keys || !keys->signingCertificate()) return RC_NO_SIGNING_KEY;
      if (!micalgName(settings.digestId)) return RC_DIGEST;
      const int32_t own = keys->keyScheme();
      s.scheme = own == 0 && settings.signatureScheme == 3 ? 3 : own;
      s.hash.reset(lvHashCreateObject(static_cast<LvHashAlgo>(settings.digestId)));
      s.hash->init();
    }
    if (detached && s.signing) {
      uint8_t random[16];
      const int32_t r = drawRandom(keys, random, sizeof random);
      if (r != RC_OK) return r;
      s.boundary = std::string(BOUNDARY_PREFIX) + hexText(random, sizeof random);
    }
    s.file.reset(new FileSink(output));
    s.phase = 1;
    Sink* sink = s.file.get();
    if (s.enveloped) {
      LvBcAlgo algo = 0;
      size_t keyLength = 0;
      const ASNobjectId* cipherOid = nullptr;
      cipherOf(s.cipher, &algo, &keyLength, &cipherOid);
      if (!derMode) {
        sink->write(ENVELOPED_HEADERS);
        s.envelopeText.reset(new Base64Sink(*sink));
        sink = s.envelopeText.get();
      }
      AlgorithmIdentifier contentAlgorithm;
      ASNoctstr ivValue;
      if (ivValue.set(s.iv.data(), static_cast<int>(s.iv.size())) < 1 ||
          !contentAlgorithm.set(*cipherOid, &ivValue))
        return RC_MEMORY;
      Bytes opening(ENVELOPED_PREFIX, ENVELOPED_PREFIX + sizeof ENVELOPED_PREFIX);
      append(opening, s.recipientInfos.data(), s.recipientInfos.size());
      opening.push_back(0x30);
      opening.push_back(0x80);
      // The enveloped content is data: a MIME entity, or in the bare form the octets of the
      // signed message's whole ContentInfo, which a reader decrypts and then reads as such.
      append(opening, DATA_OID, sizeof DATA_OID);
      Bytes algorithm = der(contentAlgorithm);
      append(opening, algorithm.data(), algorithm.size());
      opening.push_back(0xA0);
      opening.push_back(0x80);
      sink->write(opening);
      s.envelopeSegments.reset(new OctetStringSink(*sink));
      s.cbc.reset(new LvCbc(algo, 0));
      s.cbc->setKey(s.sessionKey.data(), static_cast<unsigned int>(s.sessionKey.size()));
      s.cbc->init(LvSymEnc::ENCRYPT, s.iv.data(), static_cast<unsigned int>(s.iv.size()));
      s.encryption.reset(new CbcSink(*s.envelopeSegments, *s.cbc));
      sink = s.encryption.get();
    }
    s.signedSink = sink;
    if (s.signing) {
      if (detached) {
        sink->write(std::string(DETACHED_START) + micalgName(settings.digestId) +
                    "\"; boundary=\"" + s.boundary + "\"\r\n\r\n" + DETACHED_PREAMBLE + "--" +
                    s.boundary + "\r\n");
      } else {
        if (!derMode) {
          sink->write(SIGNED_HEADERS);
          s.signedText.reset(new Base64Sink(*sink));
          sink = s.signedText.get();
        }
        Bytes opening(SIGNED_PREFIX, SIGNED_PREFIX + sizeof SIGNED_PREFIX);
        AlgorithmIdentifier digestAlgorithm;
        if (!digestAlgorithm.setDigest(settings.digestId)) return RC_DIGEST;
        Bytes algorithm = der(digestAlgorithm);
        Bytes set = tlv(0x31, algorithm);
        append(opening, set.data(), set.size());
        opening.push_back(0x30);
        opening.push_back(0x80);
        append(opening, DATA_OID, sizeof DATA_OID);
        const uint8_t open[] = {0xA0, 0x80, 0x24, 0x80};
        append(opening, open, sizeof open);
        sink->write(opening);
        s.signedSegments.reset(new OctetStringSink(*sink));
        sink = s.signedSegments.get();
      }
      s.digest.reset(new DigestSink(*sink, *s.hash));
      sink = s.digest.get();
    }
    // The content becomes a MIME entity (written with the first content, see copyStream),
    // unless it is one already or the message is bare DER.
    if (!derMode && !(settings.modes & SMIME_MODE_ENTITY))
      s.entity = settings.modes & SMIME_MODE_TEXT ? ENTITY_TEXT
                 // multipart/signed travels as 7-bit text: its signed part is not re-encoded.
                 : detached && s.signing ? ENTITY_BASE64
                                         : ENTITY_BINARY;
    // A verifier reads the signed part of multipart/signed as lines ended by CR LF (RFC 8551
    // 3.1.1): an entity given is signed and sent in that form, or no one could verify it.
    s.canonicalLines = detached && s.signing && (settings.modes & SMIME_MODE_ENTITY);
    s.content = sink;
    return RC_OK;
  });
}

int32_t SMIMEctx::copyStream(GenericFile* input, GenericFile* output) {
  if (!state) state.reset(new (std::nothrow) State);
  if (!state) return RC_MEMORY;
  return guarded(state->failed, [&]() -> int32_t {
    if (!input || !output) return RC_BAD_PARAMETER;
    State& s = *state;
    if (s.phase == 0) {
      // Neither signed nor enveloped: the input is copied as it is.
      if (s.enveloped) return RC_BAD_PARAMETER;
      s.file.reset(new FileSink(output));
      s.content = s.file.get();
      s.phase = 1;
    }
    if (s.phase != 1) return RC_BAD_PARAMETER;
    // The start is read before anything is written: it tells a signed message of this
    // library, which enveloped alone is an entity already (read here, the input need not seek).
    // Text for multipart/signed is judged 7-bit or not before its headers: a whole block is
    // read, so a text that fits in it is judged without a second read (a pipe's too).
    const bool judgeText = s.entity == ENTITY_TEXT && !s.boundary.empty();
    const uint32_t start = input->tell();
    Bytes buffer(CHUNK);
    uint32_t held = 0;
    bool end = false;
    while (held < (judgeText ? CHUNK : HEAD) && !end) {
      uint32_t got = 0;
      if (input->read(CHUNK - held, buffer.data() + held, &got) != 0) return RC_READ_INPUT;
      end = got == 0;
      held += got;
    }
    if (s.entity && s.enveloped && !s.signing && messageType(buffer.data(), held) == 2)
      s.entity = nullptr;
    // Text signed in multipart/signed travels as it is only when it is 7-bit: a relay re-encodes
    // anything else and breaks the signature (RFC 8551 3.1.3), so such text is signed and sent
    // quoted-printable. The headers come first, so the whole text is judged before them.
    if (judgeText && !sevenBitInput(input, start, buffer.data(), held, end))
      s.entity = ENTITY_TEXT_QP;
    if (s.entity) s.content->write(s.entity);
    if (s.entity == ENTITY_TEXT_QP) {
      s.entityQuotedPrintable.reset(new QuotedPrintableSink(*s.content));
      s.content = s.entityQuotedPrintable.get();
    }
    if (s.entity == ENTITY_TEXT || s.entity == ENTITY_TEXT_QP || s.canonicalLines) {
      s.entityText.reset(new TextSink(*s.content));
      s.content = s.entityText.get();
    } else if (s.entity == ENTITY_BASE64) {
      s.entityBase64.reset(new Base64Sink(*s.content));
      s.content = s.entityBase64.get();
    }
    s.content->write(buffer.data(), held);
    while (!end) {
      uint32_t got = 0;
      if (input->read(CHUNK, buffer.data(), &got) != 0) return RC_READ_INPUT;
      if (got == 0) break;
      s.content->write(buffer.data(), got);
    }
    s.phase = 2;
    return RC_OK;
  });
}

int32_t SMIMEctx::encryptMimeBody(GenericFile* output) {
  if (!state) return RC_BAD_PARAMETER;
  return guarded(state->failed, [&]() -> int32_t {
    State& s = *state;
    if (!output || s.phase != 2) return RC_BAD_PARAMETER;
    if (s.entityBase64) s.entityBase64->finish();
    if (s.entityQuotedPrintable) s.entityQuotedPrintable->finish();
    if (s.signing) {
      s.hash->finish();
      Bytes messageDigest(s.hash->getHashOctets());
      s.hash->getHash(0, messageDigest.data());
      // The key may have gone while the content streamed (a token taken out).
      const SignedCertificate* signerCertificate = keys->signingCertificate();
      if (!signerCertificate) return RC_NO_SIGNING_KEY;
      const SignedCertificate& signer = *signerCertificate;
      SignerInfo info;
      info.version.set(1);
      info.issuerAndSerialNumber.issuer = signer.tbsCertificate.issuer;
      info.issuerAndSerialNumber.serialNumber = signer.tbsCertificate.serialNumber;
      if (!info.digestAlgorithm.setDigest(settings.digestId)) return RC_DIGEST;
      // Signed attributes: content-type, signing time, message digest, signing certificate v2.
      ASNobjectId contentType;
      contentType = id_data;
      const time_t now = settings.now ? settings.now : time(nullptr);
      X509time signingTime(now >= 2524608000 ? 24 : 0);  // UTCTime until 2050
      ASNoctstr digestValue;
      SigningCertificateV2 signingCertificate;
      std::unique_ptr<ESSCertIDV2> ownedId(new ESSCertIDV2);
      ESSCertIDV2* id = ownedId.get();
      if (signingCertificate.certs.append(id) != 1) return RC_MEMORY;
      ownedId.release();
      const ASNobjectId* sha256 = nullptr;
      digestTypeToOid(3, &sha256, nullptr);
      id->hashAlgorithm.algorithm = *sha256;
      id->hashAlgorithm.parametersPresent = 0;
      const Bytes certificate = der(signer);
      const Bytes certificateHash = digestOf(3, certificate.data(), certificate.size());
      if (!signingTime.setFromTime64(static_cast<int64_t>(now), true) ||
          digestValue.set(messageDigest.data(), static_cast<int>(messageDigest.size())) < 1 ||
          id->certHash.set(certificateHash.data(), static_cast<int>(certificateHash.size())) < 1 ||
          !setAttribute(info.signedAttrs, id_contentType, contentType, true) ||
          !setAttribute(info.signedAttrs, id_signingTime, signingTime, true) ||
          !setAttribute(info.signedAttrs, id_messageDigest, digestValue, true) ||
          !setAttribute(info.signedAttrs, id_aa_signingCertificateV2, signingCertificate, true))
        return RC_MEMORY;
      info.signedAttrsPresent = 1;
      std::vector<unsigned char> signedInput;
      const int input = info.signedAttrsDigestInput(signedInput);
      if (input == -2) return RC_MEMORY;
      if (input != 1) return RC_INTERNAL;
      const Bytes toSign = digestOf(settings.digestId, signedInput.data(), signedInput.size());
      switch (s.scheme) {
        case 0:
          if (!info.signatureAlgorithm.setRsaSignature(settings.digestId)) return RC_DIGEST;
          break;
        case 1:
          if (!info.signatureAlgorithm.setDsaSignature(settings.digestId)) return RC_DIGEST;
          break;
        case 2:
          if (!info.signatureAlgorithm.setEcdsaSignature(settings.digestId)) return RC_DIGEST;
          break;
        case 3: {
          RsaPssParams params;
          if (!params.set(settings.digestId, 0, settings.digestId,
                          static_cast<int>(toSign.size()), 1) ||
              !info.signatureAlgorithm.set(id_RSASSA_PSS, &params))
            return RC_DIGEST;
          break;
        }
        default:
          return RC_NO_SIGNING_KEY;
      }
      Bytes signature;
      const int32_t r =
          keys->sign(s.scheme, settings.digestId, toSign.data(), toSign.size(), signature);
      if (r != RC_OK) return r;
      if (signature.empty()) return RC_NO_SIGNING_KEY;
      if (info.signature.set(signature.data(), static_cast<int>(signature.size())) < 1)
        return RC_MEMORY;
      // The certificates [0] IMPLICIT: the signer's, then its chain.
      Bytes certificates;
      if (settings.includeCertificates) {
        append(certificates, certificate.data(), certificate.size());
        for (const SignedCertificate* c : keys->chainCertificates()) {
          if (!c) continue;
          const Bytes one = der(*c);
          append(certificates, one.data(), one.size());
        }
      }
      const Bytes signerInfos = tlv(0x31, der(info));
      if (s.boundary.empty()) {
        // The opaque (or bare) SignedData: close the content's string, [0] and
        // encapContentInfo, then the certificates, the signer infos and the three ends.
        Sink& sink = s.signedText ? static_cast<Sink&>(*s.signedText) : *s.signedSink;
        s.signedSegments->finish();
        const uint8_t ends[] = {0, 0, 0, 0, 0, 0};
        sink.write(ends, sizeof ends);
        if (!certificates.empty()) sink.write(tlv(0xA0, certificates));
        sink.write(signerInfos);
        sink.write(ends, sizeof ends);
        if (s.signedText) s.signedText->finish();
      } else {
        // The detached signature: a SignedData of definite length without content.
        AlgorithmIdentifier digestAlgorithm;
        if (!digestAlgorithm.setDigest(settings.digestId)) return RC_DIGEST;
        Bytes body{0x02, 0x01, 0x01};
        const Bytes digestSet = tlv(0x31, der(digestAlgorithm));
        append(body, digestSet.data(), digestSet.size());
        const Bytes encap = tlv(0x30, Bytes(DATA_OID, DATA_OID + sizeof DATA_OID));
        append(body, encap.data(), encap.size());
        if (!certificates.empty()) {
          const Bytes set = tlv(0xA0, certificates);
          append(body, set.data(), set.size());
        }
        append(body, signerInfos.data(), signerInfos.size());
        Bytes content(SIGNED_DATA_OID, SIGNED_DATA_OID + sizeof SIGNED_DATA_OID);
        const Bytes explicitSignedData = tlv(0xA0, tlv(0x30, body));
        append(content, explicitSignedData.data(), explicitSignedData.size());
        const Bytes message = tlv(0x30, content);
        Sink& sink = *s.signedSink;
        sink.write("\r\n--" + s.boundary + "\r\n");
        sink.write(SIGNATURE_HEADERS);
        Base64Sink text(sink);
        text.write(message);
        text.finish();
        sink.write("\r\n--" + s.boundary + "--\r\n");
      }
    }
    if (s.enveloped) {
      s.encryption->finish();
      s.envelopeSegments->finish();
      // The ends of the encrypted content, EncryptedContentInfo, EnvelopedData, [0], ContentInfo.
      const uint8_t ends[10] = {0};
      Sink& sink = s.envelopeText ? static_cast<Sink&>(*s.envelopeText) : *s.file;
      sink.write(ends, sizeof ends);
      if (s.envelopeText) s.envelopeText->finish();
    }
    s.phase = 3;
    return RC_OK;
  });
}

// ---- recognising a message of this library ----

namespace {

bool startsWith(const uint8_t* p, size_t n, const void* prefix, size_t k) {
  return n >= k && std::memcmp(p, prefix, k) == 0;
}

bool startsWith(const uint8_t* p, size_t n, const char* prefix) {
  return startsWith(p, n, prefix, std::strlen(prefix));
}

// The type of a CMS opening this library writes: 2 signed, 1 enveloped, 0 neither.
int32_t cmsType(const uint8_t* p, size_t n) {
  if (startsWith(p, n, SIGNED_PREFIX, sizeof SIGNED_PREFIX)) return 2;
  if (startsWith(p, n, ENVELOPED_PREFIX, sizeof ENVELOPED_PREFIX)) return 1;
  return 0;
}

int32_t messageType(const uint8_t* p, size_t n) {
  int32_t type = cmsType(p, n);
  if (type) return type;
  for (const char* headers : {SIGNED_HEADERS, ENVELOPED_HEADERS}) {
    if (!startsWith(p, n, headers)) continue;
    const size_t k = std::strlen(headers);
    // The first 28 characters of the first line give 21 octets, the opening and one more.
    uint8_t start[21];
    const int32_t got =
        n - k >= 28 ? decodeBase64Block(reinterpret_cast<const char*>(p + k), 28, start) : 0;
    type = cmsType(start, got > 0 ? static_cast<size_t>(got) : 0);
    return type == (headers == SIGNED_HEADERS ? 2 : 1) ? type : 0;
  }
  if (!startsWith(p, n, DETACHED_START)) return 0;
  // micalg="<name>"; boundary="----TALVORIN-<32 hex>" CR LF CR LF, the preamble, the first
  // boundary line.
  size_t at = std::strlen(DETACHED_START);
  const char* name = nullptr;
  for (int32_t d = 1; d <= 5 && !name; ++d)
    if (startsWith(p + at, n - at, micalgName(d)) &&
        startsWith(p + at + std::strlen(micalgName(d)), n - at - std::strlen(micalgName(d)), "\""))
      name = micalgName(d);
  if (!name) return 0;
  at += std::strlen(name);
  const std::string middle = std::string("\"; boundary=\"") + BOUNDARY_PREFIX;
  if (!startsWith(p + at, n - at, middle.c_str())) return 0;
  at += middle.size();
  if (n - at < 32) return 0;
  for (size_t i = 0; i < 32; ++i) {
    const uint8_t c = p[at + i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return 0;
  }
  const std::string boundary(BOUNDARY_PREFIX + std::string(reinterpret_cast<const char*>(p + at), 32));
  at += 32;
  const std::string rest = std::string("\"\r\n\r\n") + DETACHED_PREAMBLE + "--" + boundary + "\r\n";
  return startsWith(p + at, n - at, rest.c_str()) ? 2 : 0;
}

}  // namespace

bool isSMimeMessage(GenericFile* stream, int32_t* type) {
  if (type) *type = 0;
  if (!stream) return false;
  const uint32_t start = stream->tell();
  uint8_t head[HEAD];
  uint32_t n = 0;
  while (n < sizeof head) {
    uint32_t got = 0;
    if (stream->read(static_cast<uint32_t>(sizeof head) - n, head + n, &got) != 0 || got == 0)
      break;
    n += got;
  }
  // A stream that cannot be put back has lost its start: no message to go on with.
  if (stream->seek(static_cast<int32_t>(start)) != 0) return false;
  const int32_t found = messageType(head, n);
  if (type) *type = found;
  return found != 0;
}
