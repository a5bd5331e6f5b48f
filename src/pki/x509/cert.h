// X.509 certificates (RFC 5280): SignedCertificate, TBSCertificate and
// Validity, the reader of the RFC 7468 text armour, comparison and the
// signature check with an issuer's key.
#pragma once
#include "asn1/asnbase.h"
#include "asn1/asnbitst.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "pki/common/algid.h"
#include "pki/names/dname.h"
#include "pki/common/extension.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/common/x509time.h"

#include <atomic>
#include <memory>
#include <vector>

class Validity : public ASNsequenceF {
 public:
  explicit Validity(unsigned char tag = 0);
  Validity(const Validity& other);
  ~Validity() override;
  Validity& operator=(const Validity& other);
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  X509time notBefore;  // UTCTime or GeneralizedTime, as received
  X509time notAfter;
};

class TBSCertificate : public ASNsequenceF {
 public:
  explicit TBSCertificate(unsigned char tag = 0);
  TBSCertificate(const TBSCertificate& other);
  ~TBSCertificate() override;
  // Copies every member. A target read in place breaks an invariant; a
  // source read in place is copied with its received octets.
  TBSCertificate& operator=(const TBSCertificate& other);
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // Decoded privately (not in place), notes whether the value writes back
  // as the octets received: a signature is checked over those octets only.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  // Versions above 2 (v3) are refused: their members could not be written
  // back.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  // -1 before notBefore, 1 after notAfter, 0 inside (both ends included).
  int checkValidity(const X509time& t) const;
  // Bits for an id-ecPublicKey key, else bytes.
  unsigned publicKeySize() const;
  // 0 v1, 1 v2, 2 v3; 0xFFFFFFFF for a version beyond 32 bits, which only a
  // built (or failed) value can hold.
  uint32_t versionNumber() const;
  bool hasExtensions() const { return extensions->GetCount() > 0; }

  ASNexpl<ASNinteger> version;  // [0] EXPLICIT, DEFAULT v1
  ASNinteger serialNumber;
  AlgorithmIdentifier signature;
  DistinguishedName issuer;
  Validity validity;
  DistinguishedName subject;
  SubPubKeyInfo subjectPublicKeyInfo;
  unsigned char issuerUniqueIDPresent;
  unsigned char subjectUniqueIDPresent;
  ASNbitstr issuerUniqueID;        // [1] IMPLICIT
  ASNbitstr subjectUniqueID;       // [2] IMPLICIT
  ASNexpl<Extensions> extensions;  // [3] EXPLICIT, present when not empty
  // Decoded privately from octets its encoding differs from (not DER): no
  // signature verifies over the re-encoding. Kept by copies.
  unsigned char writtenUnlikeReceived = 0;
};

// The DER of a value that no longer changes, written at most once however
// many threads ask: the first encoding made is published atomically and
// kept; forget() (by a sole owner about to change the value) drops it.
class EncodingMemo {
 public:
  EncodingMemo() = default;
  EncodingMemo(const EncodingMemo&) = delete;
  EncodingMemo& operator=(const EncodingMemo&) = delete;
  ~EncodingMemo() { forget(); }
  // Null when the value does not encode.
  const std::vector<unsigned char>* of(const ASNobject& value) const;
  void forget();

 private:
  mutable std::atomic<const std::vector<unsigned char>*> der{nullptr};
};

// (enable_shared_from_this: a body SharedCertificate holds read-only can be
// shared again from a plain reference, see SharedCertificate::holding.)
class SignedCertificate : public ASNsequenceF,
                          public std::enable_shared_from_this<SignedCertificate> {
 public:
  // Results of verifyWithKey, verifySignature and verifySelfSigned.
  enum {
    CERT_SIG_VALID = 1,
    CERT_SIG_MALFORMED = 0,      // the signature value cannot be read
    CERT_SIG_KEY_MISMATCH = -1,  // key algorithm does not fit the signature's
    CERT_SIG_KEY_UNUSABLE = -2,
    CERT_SIG_INVALID = -3,  // does not match, or no signature value
    CERT_SIG_UNSUPPORTED = -4
  };

  explicit SignedCertificate(unsigned char tag = 0);
  SignedCertificate(const SignedCertificate& other);
  ~SignedCertificate() override;
  // A certificate read in place is copied with its received octets, so the
  // copy hashes (and verifies) exactly what was signed.
  SignedCertificate& operator=(const SignedCertificate& other);
  // Equal signature bits, signature algorithms and TBS encodings.
  bool operator==(const SignedCertificate& other) const;
  bool operator!=(const SignedCertificate& other) const { return !(*this == other); }

  // DER, or the text armour when the armour reader is registered.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  int verifySignature(const SignedCertificate& issuerCert) const;
  int verifySelfSigned() const;
  int verifyWithKey(const SubPubKeyInfo& key) const;
  // The cA flag of basicConstraints; false without it or when it does not
  // decode.
  bool isCa() const;
  // The subject key is an RSASSA-PSS key with parameters: signatures under
  // it must use those parameters.
  bool fixesRsaPssParameters() const;

  TBSCertificate tbsCertificate;
  AlgorithmIdentifier signatureAlgorithm;
  ASNbitstr signature;

 private:
  friend class SharedCertificate;
  // Drops the TBS encoding remembered (every change of the value does).
  void changed();
  // Set while a SharedCertificate holds this body read-only (never once
  // edit() has handed it out): only then is the TBS encoding remembered,
  // since the members of any other certificate may change at any time.
  bool readOnly = false;
  // The TBS written out once for every signature check of a read-only body
  // decoded privately (one read in place hashes its received octets).
  EncodingMemo tbsDer;
};

// A certificate held read-only, its body shared by every copy: copying one
// (and with it a certification path) is a reference-count increment, not a
// decode. Assigning a certificate gives the holder a body of its own; edit()
// copies a shared body before handing it out, so copies stay independent.
// A body is never changed while shared, and the key's lazily prepared state
// and the remembered TBS encoding are guarded (verifySignedObject,
// EncodingMemo), so one body may serve several threads.
class SharedCertificate {
 public:
  SharedCertificate() = default;  // an empty certificate
  SharedCertificate(const SharedCertificate&) = default;
  SharedCertificate& operator=(const SharedCertificate&) = default;
  SharedCertificate& operator=(const SignedCertificate& certificate);
  // Holds `owned` itself as the body, no copy made.
  void adopt(std::unique_ptr<SignedCertificate> owned);
  const SignedCertificate& get() const;
  operator const SignedCertificate&() const { return get(); }
  const SignedCertificate* operator->() const { return &get(); }
  // A body of this holder's own to change.
  SignedCertificate& edit();
  void clear() { body.reset(); }
  // A holder of `certificate`: the body itself when `certificate` is a body
  // some holder keeps read-only, else a copy.
  static SharedCertificate holding(const SignedCertificate& certificate);
  bool sharesBodyWith(const SharedCertificate& other) const {
    return body && body == other.body;
  }

 private:
  // Takes `own` as the body, read-only from now on.
  void hold(std::shared_ptr<SignedCertificate> own);
  std::shared_ptr<const SignedCertificate> body;
};

inline bool operator==(const SharedCertificate& a, const SignedCertificate& b) {
  return a.get() == b;
}
inline bool operator==(const SignedCertificate& a, const SharedCertificate& b) {
  return a == b.get();
}

// Reader of a certificate as DER or wrapped in "-----BEGIN CERTIFICATE-----"
// armour (text before it skipped, text after the END line left in `in`).
// Results as decode; armoured input answers the characters taken. Armour is
// taken only by a decode of its own (not nested in another decode), and the
// armoured DER is read in place over a private copy, so signatures are
// checked over the octets received.
int decodeCertificateArmour(ASNobject* object, GenericFile* in, int length, unsigned char flags);
using CertificateArmourReader = int (*)(ASNobject*, GenericFile*, int, unsigned char);
extern CertificateArmourReader certificateArmourReader;
bool registerCertificateArmourReader();

// The signature check shared by certificates and CRLs: `signature` over the
// DER of `signedObject` (its received octets when read in place) under
// `alg`, with the results of SignedCertificate::verifyWithKey.
int verifySignedObject(const SubPubKeyInfo& key, const AlgorithmIdentifier& alg,
                       const ASNobject& signedObject, const ASNbitstr& signature);

// SubPubKeyInfo::verifyDigest on a key that may sit in a shared certificate
// (the key prepares its verifier objects lazily: guarded as above).
int verifyDigestWithSharedKey(const SubPubKeyInfo& key, const AlgorithmIdentifier& alg,
                              const unsigned char* digest, int digestLen,
                              const unsigned char* signature, int sigLen);

// ASNobject::decode of `value`; decoded privately (not in place), notes
// whether the value writes back as the octets received (1 when not).
int decodeNotingRewrite(ASNobject& value, GenericFile* in, int length, unsigned char flags,
                        unsigned char& writtenUnlikeReceived);

// Copies `source` into `target` as a value read in place over a private
// copy of octets: the received octets of a source read in place, or, for a
// target that is itself such a value (its members view octets it is about
// to release), the source's encoding. 1 done; 0 when neither applies or the
// octets do not decode (the caller copies member by member).
int copyAsViewed(ASNobject& target, const ASNobject& source);

// Makes a member that a decode leaves unread (or sets to a default) a private
// value again after an earlier decode read it in place (its releaseViews: a
// value whose content was only viewed is left empty).
void dropView(ASNobject& member);

// The armour scheme with other BEGIN/END markers (shared by the CRL reader).
int decodeArmouredObject(ASNobject* object, GenericFile* in, int length, unsigned char flags,
                         const char* beginMarker, const char* endMarker);
