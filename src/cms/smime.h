// S/MIME messages written by this library (RFC 8551 over CMS, RFC 5652): a signed message
// (SignedData with the signed attributes content-type, messageDigest, signingTime and ESS
// signingCertificateV2), an enveloped one (EnvelopedData, RSA PKCS#1 v1.5 key transport to
// each recipient, the content in AES-CBC or triple-DES-CBC), or a signed message enveloped.
// The content streams through: nothing of it is held but a block, whatever its size.
//
// One message is written by calling, in this order (each answer above 10 ends the message):
//   encrypt(recipients)   only when the message is to be enveloped: checks the recipients and
//                         prepares the session key; writes nothing;
//   sign(flags, output)   flag 2 or 64 signs (the caller clears 64 when option 3 is 0); the
//                         message is enveloped when encrypt succeeded; writes the opening of
//                         the message (MIME headers, the CMS prefixes);
//   copyStream(in, out)   passes the input through to the end, digested and/or encrypted;
//   encryptMimeBody(out)  closes the message: the signer info, the last cipher block, the
//                         closing boundary.
// A failure leaves the message without its closing parts, which every reader refuses: no
// output of a failed call looks complete. A later call after a failure answers the same code.
//
// Modes (the message protection chooses them from the options; option 7 set alone):
//   SMIME_MODE_DER      (option 7)  the bare DER/BER ContentInfo, no MIME headers, the input as
//                                   the content as it is (what a time-stamp request signs);
//   SMIME_MODE_DETACHED (option 8)  a signature as multipart/signed with application/
//                                   pkcs7-signature (RFC 8551 3.5.3.1); without it signed data
//                                   is opaque: application/pkcs7-mime; smime-type=signed-data;
//   SMIME_MODE_ENTITY   (option 9)  the input is already a MIME entity: it is signed or
//                                   enveloped as it is, no header is added to it (in
//                                   multipart/signed its lines get CR LF ends);
//   SMIME_MODE_TEXT     (option 10) the input is text: it becomes a text/plain entity with
//                                   CR LF line ends (RFC 8551 3.1.1). In multipart/signed,
//                                   text that is not 7-bit (an octet above 127, NUL, a lone
//                                   CR, a line over 998 octets) is signed and sent quoted-
//                                   printable, so relays pass it unchanged; to know that before
//                                   its headers, an input longer than 64 KiB is read twice when
//                                   it can seek, and encoded when it cannot.
// Without SMIME_MODE_ENTITY and SMIME_MODE_TEXT the input becomes an application/octet-stream
// entity: binary inside CMS, base64 in multipart/signed. A signed message of this library that
// is enveloped alone (option 20's road) is an entity already and is enveloped as it is. An enveloped message is always application/pkcs7-mime;
// smime-type=enveloped-data; a signed message inside it keeps its own S/MIME form.
//
// Answers (the library's result codes): 0; 20 bad arguments or a call out of order; 30 no
// signing key or certificate; 31 no random bytes; 44 the key's device failed, 45 it is
// blocked; 46 the PIN was refused; 59 the input cannot be read; 62 the output cannot be
// written; 64 a recipient's certificate has expired, 65 it is not valid yet; 66 a recipient's
// key is not RSA (or shorter than 1024 bits); 74 a recipient's certificate does not allow key
// encipherment; 80 an RSA operation failed; 92 the digest is not known; 93 the symmetric
// algorithm is not supported; 100 out of memory; 141 an internal failure; 159 the key cannot
// sign with the digest.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

class GenericFile;
class SignedCertificate;
template <class T>
class ASNsequenceList;

// The message protection flags the context reads.
const uint32_t SMIME_FLAG_ENCRYPT = 1;
const uint32_t SMIME_FLAG_SIGN = 2;
const uint32_t SMIME_FLAG_SIGN_REQUIRED = 64;  // sign as option 3 requires
const uint32_t SMIME_FLAG_NO_KEY_MANAGER = 128;

const uint32_t SMIME_MODE_DER = 1;
const uint32_t SMIME_MODE_DETACHED = 2;
const uint32_t SMIME_MODE_ENTITY = 4;
const uint32_t SMIME_MODE_TEXT = 8;

// Content ciphers (the configuration's symmetric algorithm).
const int32_t SMIME_CIPHER_TDES = 1;  // DES-EDE3-CBC
const int32_t SMIME_CIPHER_AES128 = 2;
const int32_t SMIME_CIPHER_AES192 = 3;
const int32_t SMIME_CIPHER_AES256 = 4;

// What signs and draws random numbers for the context: the key manager, seen through this
// narrow interface (the library context adapts it). Answers are the library's result codes.
class SmimeKeys {
 public:
  virtual ~SmimeKeys() = default;
  // The signing key's certificate; NULL without a signing key.
  virtual const SignedCertificate* signingCertificate() const = 0;
  // Certificates carried beside the signer's (its chain, issuer first); may be empty.
  virtual std::vector<const SignedCertificate*> chainCertificates() const { return {}; }
  // The signing key's own scheme: 0 RSA (PKCS#1 v1.5 or PSS), 1 DSA, 2 EC-DSA, 3 an RSA key
  // restricted to PSS.
  virtual int32_t keyScheme() const = 0;
  // Signs a digest (hash library ids: 1 SHA-1, 2 SHA-224, 3 SHA-256, 4 SHA-384, 5 SHA-512)
  // under a scheme (0 PKCS#1 v1.5, 2 EC-DSA, 3 PSS with MGF1 over the digest and a salt as long
  // as it): RSA gives the modulus octets, EC-DSA the DER ECDSA-Sig-Value. 0 or a result code.
  virtual int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest,
                       size_t digestLength, std::vector<uint8_t>& signature) = 0;
  // 0, or 31 when no random bytes can be drawn.
  virtual int32_t randomBytes(uint8_t* buffer, size_t length) = 0;
};

struct SmimeSettings {
  uint32_t modes = 0;  // SMIME_MODE_*
  // The configuration's signature algorithm: scheme as SmimeKeys::sign takes it (-1: the key's
  // own, PKCS#1 v1.5 for RSA) and the digest (hash library id).
  int32_t signatureScheme = -1;
  int32_t digestId = 3;
  int32_t cipher = SMIME_CIPHER_AES256;  // SMIME_CIPHER_*, or 0 for an unsupported one
  // Option 2: the signer's certificate and chain travel in the signed data.
  bool includeCertificates = true;
  // The signing time and the instant at which the recipients' certificates must be valid;
  // 0: the system clock.
  time_t now = 0;
};

class SMIMEctx {
 public:
  // `report` (not owned) receives the report lines; `keys` (not owned) signs and draws
  // random numbers: NULL when there is no key manager (flag 128), and then random numbers
  // come from the system and nothing can be signed.
  explicit SMIMEctx(GenericFile* report);
  SMIMEctx(GenericFile* report, SmimeKeys* keys, const SmimeSettings& settings);
  // Wipes the session key.
  ~SMIMEctx();
  SMIMEctx(const SMIMEctx&) = delete;
  SMIMEctx& operator=(const SMIMEctx&) = delete;

  // The recipients of an enveloped message: each certificate must be valid now, carry an RSA
  // key and (when it has a key-usage extension) allow key encipherment.
  int32_t encrypt(const ASNsequenceList<SignedCertificate>* recipients);
  int32_t encrypt(const std::vector<const SignedCertificate*>& recipients);
  int32_t sign(uint32_t flags, GenericFile* output);
  int32_t copyStream(GenericFile* input, GenericFile* output);
  int32_t encryptMimeBody(GenericFile* output);

  GenericFile* report;

 private:
  struct State;
  SmimeKeys* keys = nullptr;
  SmimeSettings settings;
  std::unique_ptr<State> state;
};

// True when the stream starts as a message this library writes: type 2 for a signed message
// (opaque, detached or bare DER), 1 for an enveloped one; false (type 0) for anything else.
// Reads at most a kilobyte; the stream is left where it was (false when it cannot seek back).
bool isSMimeMessage(GenericFile* stream, int32_t* type);
