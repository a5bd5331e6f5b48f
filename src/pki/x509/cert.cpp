#include "pki/x509/cert.h"

#include "base/b64file.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/workaccount.h"
#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"
#include "pki/common/siganddigoid.h"
#include "pki/x509/x509ext.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Validity

Validity::Validity(unsigned char tag)
    : ASNsequenceF(tag), notBefore(TAG_GENERAL_TIME), notAfter(TAG_GENERAL_TIME) {}

Validity::Validity(const Validity& other)
    : ASNsequenceF(other), notBefore(other.notBefore), notAfter(other.notAfter) {}

Validity::~Validity() = default;

Validity& Validity::operator=(const Validity& other) {
  if (this != &other) {
    ASNobject::operator=(other);
    notBefore = other.notBefore;
    notAfter = other.notAfter;
  }
  return *this;
}

void Validity::releaseViews() {
  dropOwnView();
  releaseViewsOf({&notBefore, &notAfter});
}

void Validity::clear() {
  releaseViews();
  notBefore.clear();
  notAfter.clear();
}

int Validity::decodeContent(GenericFile* in, int length) {
  ASNobject* const mm[] = {&notBefore, &notAfter};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int Validity::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&notBefore, &notAfter};
  return keyasn::encodeMembers(out, mm, 2);
}

int Validity::contentLength() const {
  const ASNobject* const mm[] = {&notBefore, &notAfter};
  return keyasn::membersLength(mm, 2);
}

void Validity::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&notBefore, &notAfter};
  keyasn::digestMembers(hash, mm, 2);
}

// ---------------------------------------------------------------------------
// TBSCertificate

TBSCertificate::TBSCertificate(unsigned char tag)
    : ASNsequenceF(tag),
      version(0xA0),
      serialNumber(),
      signature(),
      issuer(0x30),
      validity(),
      subject(0x30),
      subjectPublicKeyInfo(),
      issuerUniqueIDPresent(0),
      subjectUniqueIDPresent(0),
      issuerUniqueID(0x81),
      subjectUniqueID(0x82),
      extensions(0xA3) {
  version->set(0);
}

TBSCertificate::TBSCertificate(const TBSCertificate& other) : TBSCertificate(other.tag) {
  *this = other;
}

TBSCertificate::~TBSCertificate() = default;

TBSCertificate& TBSCertificate::operator=(const TBSCertificate& other) {
  if (this == &other) return *this;
  // Keep the signed octets themselves: a re-encoding may differ from them.
  if (copyAsViewed(*this, other) == 1) {
    writtenUnlikeReceived = other.writtenUnlikeReceived;
    return *this;
  }
  // The explicit version wrapper's own check, made before any member changes.
  checkInvariant(!(version.flags & ASN_FLAG_CONST), "lib/libasn/asnexpl", 62,
                 "!( flags & ASN_FLAG_CONST )");
  ASNobject::operator=(other);
  serialNumber = other.serialNumber;
  signature = other.signature;
  issuer = other.issuer;
  validity = other.validity;
  subject = other.subject;
  subjectPublicKeyInfo = other.subjectPublicKeyInfo;
  version = other.version;
  issuerUniqueIDPresent = other.issuerUniqueIDPresent;
  subjectUniqueIDPresent = other.subjectUniqueIDPresent;
  issuerUniqueID.clear();
  subjectUniqueID.clear();
  if (issuerUniqueIDPresent == 1) issuerUniqueID = other.issuerUniqueID;
  if (subjectUniqueIDPresent == 1) subjectUniqueID = other.subjectUniqueID;
  extensions.ASNobject::operator=(other.extensions);
  extensions->assign(other.extensions.get());
  writtenUnlikeReceived = other.writtenUnlikeReceived;
  return *this;
}

void TBSCertificate::releaseViews() {
  dropOwnView();
  releaseViewsOf({&version, &serialNumber, &signature, &issuer, &validity, &subject,
                  &subjectPublicKeyInfo, &issuerUniqueID, &subjectUniqueID, &extensions});
}

void TBSCertificate::clear() {
  releaseViews();
  version->set(0);
  serialNumber.clear();
  signature.clear();
  issuer.clear();
  validity.clear();
  subject.clear();
  subjectPublicKeyInfo.clear();
  issuerUniqueIDPresent = 0;
  subjectUniqueIDPresent = 0;
  issuerUniqueID.clear();
  subjectUniqueID.clear();
  extensions->clear();
  writtenUnlikeReceived = 0;
}

int TBSCertificate::decode(GenericFile* in, int length, unsigned char f) {
  return decodeNotingRewrite(*this, in, length, f, writtenUnlikeReceived);
}

int TBSCertificate::decodeContent(GenericFile* in, int length) {
  issuerUniqueIDPresent = 0;
  subjectUniqueIDPresent = 0;
  extensions->clear();
  if (length < 2) return 0;
  int taken = 0;
  int id = asnPeekIdentifier(in);
  if (id < 0) return EASN_FILE;
  if (id == 0xA0) {
    int r = version.decode(in, length, memberFlags());
    if (r < 1) return r;
    taken = r;
    // Only v1..v3 exist; a later version's members would be dropped on
    // re-encoding, so it is refused rather than silently rewritten.
    if (versionNumber() > 2) return 0;
  } else {
    dropView(version);
    dropView(*version);
    version->set(0);
  }
  ASNobject* const mm[] = {&serialNumber, &signature, &issuer,
                           &validity,     &subject,   &subjectPublicKeyInfo};
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 6, &taken);
  if (r != 1) return r;
  if (taken == length) return 1;
  const uint32_t v = versionNumber();
  if (v == 0) return 0;
  bool haveExtensions = false;
  for (int i = 0; i < 3 && length - taken >= 2; ++i) {
    id = asnPeekIdentifier(in);
    if (id < 0) return EASN_FILE;
    if ((id & 0xC0) != 0x80) return 0;
    ASNobject* member = nullptr;
    switch (id & 0x1F) {
      case 1:
        if (issuerUniqueIDPresent) return 0;
        issuerUniqueIDPresent = 1;
        member = &issuerUniqueID;
        break;
      case 2:
        if (subjectUniqueIDPresent) return 0;
        subjectUniqueIDPresent = 1;
        member = &subjectUniqueID;
        break;
      case 3:
        if (!(id & 0x20) || v < 2 || haveExtensions) return 0;
        haveExtensions = true;
        member = &extensions;
        break;
      default:
        return 0;
    }
    r = member->decode(in, length - taken, memberFlags());
    if (r < 1) return r == EASN_MEM || r == EASN_FILE ? r : 0;
    taken += r;
  }
  return taken == length ? 1 : 0;
}

namespace {

// The members a TBSCertificate writes, in order (absent ones null).
int tbsMembers(const TBSCertificate& t, const ASNobject* mm[11]) {
  const uint32_t v = t.versionNumber();
  int n = 0;
  mm[n++] = v != 0 ? &t.version : nullptr;
  mm[n++] = &t.serialNumber;
  mm[n++] = &t.signature;
  mm[n++] = &t.issuer;
  mm[n++] = &t.validity;
  mm[n++] = &t.subject;
  mm[n++] = &t.subjectPublicKeyInfo;
  mm[n++] = v != 0 && t.issuerUniqueIDPresent == 1 ? &t.issuerUniqueID : nullptr;
  mm[n++] = v != 0 && t.subjectUniqueIDPresent == 1 ? &t.subjectUniqueID : nullptr;
  mm[n++] = v == 2 && t.hasExtensions() ? &t.extensions : nullptr;
  return n;
}

}  // namespace

int TBSCertificate::encodeContent(GenericFile* out) const {
  const ASNobject* mm[11];
  return keyasn::encodeMembers(out, mm, tbsMembers(*this, mm));
}

int TBSCertificate::contentLength() const {
  const ASNobject* mm[11];
  return keyasn::membersLength(mm, tbsMembers(*this, mm));
}

void TBSCertificate::digestContent(LvHash* hash) const {
  const ASNobject* mm[11];
  keyasn::digestMembers(hash, mm, tbsMembers(*this, mm));
}

uint32_t TBSCertificate::versionNumber() const {
  uint32_t v = 0;
  return asnSmallValue(*version, &v) ? v : 0xFFFFFFFFu;
}

int TBSCertificate::checkValidity(const X509time& t) const {
  if (t < validity.notBefore) return -1;
  if (t > validity.notAfter) return 1;
  return 0;
}

unsigned TBSCertificate::publicKeySize() const {
  if (subjectPublicKeyInfo.algorithm.algorithm == id_ecPublicKey)
    return subjectPublicKeyInfo.keyBits();
  return subjectPublicKeyInfo.keyBytes();
}

// ---------------------------------------------------------------------------
// SignedCertificate

SignedCertificate::SignedCertificate(unsigned char tag)
    : ASNsequenceF(tag), tbsCertificate(), signatureAlgorithm(), signature() {}

SignedCertificate::SignedCertificate(const SignedCertificate& other)
    : SignedCertificate(other.tag) {
  *this = other;
}

SignedCertificate::~SignedCertificate() = default;

SignedCertificate& SignedCertificate::operator=(const SignedCertificate& other) {
  if (this == &other) return *this;
  changed();
  // A private copy of the received octets, still read in place: the copy
  // hashes exactly what the issuer signed.
  if (copyAsViewed(*this, other) == 1) {
    tbsCertificate.writtenUnlikeReceived = other.tbsCertificate.writtenUnlikeReceived;
    return *this;
  }
  ASNobject::operator=(other);
  tbsCertificate = other.tbsCertificate;
  signatureAlgorithm = other.signatureAlgorithm;
  signature = other.signature;
  return *this;
}

namespace {

// The encoding of a value: its received octets when it was read in place (no
// copy), else written into `buffer`. False when it cannot be encoded.
bool encodingOf(const ASNobject& value, std::vector<unsigned char>& buffer,
                const unsigned char*& data, size_t& length) {
  if (value.isConstView() && value.receivedEncoding()) {
    data = value.receivedEncoding();
    length = static_cast<size_t>(value.receivedLength);
    return true;
  }
  if (value.encodeVector(buffer) < 1) return false;
  data = buffer.data();
  length = buffer.size();
  return true;
}

}  // namespace

bool SignedCertificate::operator==(const SignedCertificate& other) const {
  if (this == &other) return true;
  if (!(signature == other.signature) || !(signatureAlgorithm == other.signatureAlgorithm))
    return false;
  std::vector<unsigned char> x, y;
  const unsigned char *a = nullptr, *b = nullptr;
  size_t n = 0, m = 0;
  return encodingOf(tbsCertificate, x, a, n) && encodingOf(other.tbsCertificate, y, b, m) &&
         n == m && std::memcmp(a, b, n) == 0;
}

int SignedCertificate::decode(GenericFile* in, int length, unsigned char f) {
  changed();
  if (certificateArmourReader) return certificateArmourReader(this, in, length, f);
  return ASNobject::decode(in, length, f);
}

void SignedCertificate::releaseViews() {
  changed();
  dropOwnView();
  releaseViewsOf({&tbsCertificate, &signatureAlgorithm, &signature});
}

void SignedCertificate::clear() {
  changed();
  releaseViews();
  tbsCertificate.clear();
  signatureAlgorithm.clear();
  signature.clear();
}

int SignedCertificate::decodeContent(GenericFile* in, int length) {
  ASNobject* const mm[] = {&tbsCertificate, &signatureAlgorithm, &signature};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 3, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int SignedCertificate::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&tbsCertificate, &signatureAlgorithm, &signature};
  return keyasn::encodeMembers(out, mm, 3);
}

int SignedCertificate::contentLength() const {
  const ASNobject* const mm[] = {&tbsCertificate, &signatureAlgorithm, &signature};
  return keyasn::membersLength(mm, 3);
}

void SignedCertificate::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&tbsCertificate, &signatureAlgorithm, &signature};
  keyasn::digestMembers(hash, mm, 3);
}

void dropView(ASNobject& member) { member.releaseViews(); }

int decodeNotingRewrite(ASNobject& value, GenericFile* in, int length, unsigned char f,
                        unsigned char& writtenUnlikeReceived) {
  writtenUnlikeReceived = 0;
  if ((f & ASN_FLAG_CONST) || !in) return value.ASNobject::decode(in, length, f);
  const uint32_t start = in->tell();
  const int r = value.ASNobject::decode(in, length, f);
  if (r < 1) return r;
  const uint32_t end = in->tell();
  // The octets just read, read again, against the value written back; a
  // stream that cannot give them back counts as different.
  std::vector<unsigned char> received, written;
  uint32_t got = 0;
  bool same = false;
  try {
    received.resize(static_cast<size_t>(r));
    same = end - start == static_cast<uint32_t>(r) && in->seek(static_cast<int32_t>(start)) == 0 &&
           in->read(static_cast<uint32_t>(r), received.data(), &got) >= 0 &&
           got == static_cast<uint32_t>(r) && value.encodeVector(written) == r &&
           written == received;
  } catch (const std::bad_alloc&) {
    return EASN_MEM;
  }
  if (in->seek(static_cast<int32_t>(end)) != 0) return EASN_FILE;
  writtenUnlikeReceived = same ? 0 : 1;
  return r;
}

int copyAsViewed(ASNobject& target, const ASNobject& source) {
  const unsigned char* received = source.receivedEncoding();
  int n = source.receivedLength;
  std::vector<unsigned char> encoded;
  if (!received) {
    if (!target.isConstView() || source.encodeVector(encoded) < 1 || encoded.empty()) return 0;
    received = encoded.data();
    n = static_cast<int>(encoded.size());
  }
  // A private copy of exactly these octets, kept as the received form.
  const int r = target.ASNobject::decodeBuffer(received, n, ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (r == EASN_MEM) throwBadAllocation();
  return r == n ? 1 : 0;
}

namespace {

// The verifier prepares its key objects lazily (the key value itself is not
// changed), and a certificate's body may be shared between threads: one lock
// per key, striped by its address, so verifications with other keys run on.
std::mutex& keyLock(const SubPubKeyInfo& key) {
  static std::mutex stripes[64];
  return stripes[(reinterpret_cast<uintptr_t>(&key) >> 6) % 64];
}

// A check with a key that may be shared. An RSA key is only prepared under
// the lock, then checked outside it: threads verifying with one signer's
// certificate would otherwise take turns for the whole public-key operation
// and the hashing before it. Other keys are checked under the lock.
template <class Check>
int withSharedKey(const SubPubKeyInfo& key, Check check) {
  SubPubKeyInfo& shared = const_cast<SubPubKeyInfo&>(key);
  {
    std::lock_guard<std::mutex> hold(keyLock(key));
    if (!shared.prepareForSharedUse()) return check(shared);
  }
  return check(shared);
}

}  // namespace

int verifyDigestWithSharedKey(const SubPubKeyInfo& key, const AlgorithmIdentifier& alg,
                              const unsigned char* digest, int digestLen,
                              const unsigned char* signature, int sigLen) {
  return withSharedKey(key, [&](SubPubKeyInfo& k) {
    return k.verifyDigest(alg, digest, digestLen, signature, sigLen);
  });
}

namespace {

// writeOut: a value decoded privately is written out once and the octets
// hashed, quicker than hashing it member by member (a value read in place
// hashes its received octets anyway); for values of a bounded size.
// `written`, when given, is signedObject's encoding already written out.
int verifySigned(const SubPubKeyInfo& key, const AlgorithmIdentifier& alg,
                 const ASNobject& signedObject, const ASNbitstr& signature, bool writeOut,
                 const std::vector<unsigned char>* written = nullptr) {
  const unsigned char* sig = signature.bits();
  const int n = signature.bitsLength();
  if (!sig || n <= 0) return SignedCertificate::CERT_SIG_INVALID;
  // The signed part is hashed before the key's check is paid for: the hash is
  // paid first, by the octets it reads (a carried CRL of megabytes may be
  // checked against many keys), and nothing runs once the account is spent.
  const int octets = written ? static_cast<int>(written->size()) : signedObject.encodedLength();
  if (!workPay(WORK_DIGEST_OCTET * static_cast<uint64_t>(octets > 0 ? octets : 0)))
    return SignedCertificate::CERT_SIG_UNSUPPORTED;
  const int r = withSharedKey(key, [&](SubPubKeyInfo& k) {
    std::vector<unsigned char> der;
    if (written)
      return k.verifyData(alg, written->data(), static_cast<int>(written->size()), sig, n);
    if (writeOut && !signedObject.isConstView() && signedObject.encodeVector(der) > 0)
      return k.verifyData(alg, der.data(), static_cast<int>(der.size()), sig, n);
    return k.verifyObject(alg, signedObject, sig, n);
  });
  switch (r) {
    case SubPubKeyInfo::SIG_VALID:
      return SignedCertificate::CERT_SIG_VALID;
    case SubPubKeyInfo::SIG_INVALID:
      return SignedCertificate::CERT_SIG_INVALID;
    case SubPubKeyInfo::SIG_KEY_UNUSABLE:
      return SignedCertificate::CERT_SIG_KEY_UNUSABLE;
    case SubPubKeyInfo::SIG_MALFORMED:
      return SignedCertificate::CERT_SIG_MALFORMED;
    case SubPubKeyInfo::SIG_KEY_MISMATCH:
      return SignedCertificate::CERT_SIG_KEY_MISMATCH;
    case SubPubKeyInfo::SIG_UNSUPPORTED:
      return SignedCertificate::CERT_SIG_UNSUPPORTED;
    default:
      return SignedCertificate::CERT_SIG_INVALID;
  }
}

}  // namespace

int verifySignedObject(const SubPubKeyInfo& key, const AlgorithmIdentifier& alg,
                       const ASNobject& signedObject, const ASNbitstr& signature) {
  return verifySigned(key, alg, signedObject, signature, false);
}

int SignedCertificate::verifyWithKey(const SubPubKeyInfo& key) const {
  // Its re-encoding is not what was received, so not what was signed.
  if (tbsCertificate.writtenUnlikeReceived) return CERT_SIG_INVALID;
  // The algorithm outside the signed part must be the one inside it (RFC
  // 5280, 4.1.1.2): otherwise the certificate says two things about how it
  // was signed, and a reader of the outer one is misled.
  if (!(signatureAlgorithm == tbsCertificate.signature)) return CERT_SIG_MALFORMED;
  const std::vector<unsigned char>* der =
      readOnly && !tbsCertificate.isConstView() ? tbsDer.of(tbsCertificate) : nullptr;
  return verifySigned(key, tbsCertificate.signature, tbsCertificate, signature, true, der);
}

void SignedCertificate::changed() { tbsDer.forget(); }

const std::vector<unsigned char>* EncodingMemo::of(const ASNobject& value) const {
  if (const std::vector<unsigned char>* known = der.load(std::memory_order_acquire)) return known;
  // No memory for the memo: the caller writes the value out as it would without one.
  std::unique_ptr<std::vector<unsigned char>> fresh(new (std::nothrow)
                                                        std::vector<unsigned char>());
  if (!fresh || value.encodeVector(*fresh) < 1) return nullptr;
  // Another thread may have written it meanwhile: the first one published stays.
  const std::vector<unsigned char>* expected = nullptr;
  if (der.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel,
                                  std::memory_order_acquire))
    return fresh.release();
  return expected;
}

void EncodingMemo::forget() { delete der.exchange(nullptr, std::memory_order_acq_rel); }

int SignedCertificate::verifySignature(const SignedCertificate& issuerCert) const {
  return verifyWithKey(issuerCert.tbsCertificate.subjectPublicKeyInfo);
}

int SignedCertificate::verifySelfSigned() const {
  return verifyWithKey(tbsCertificate.subjectPublicKeyInfo);
}

bool SignedCertificate::isCa() const {
  const Extension* ext =
      findExtensionByOid(tbsCertificate.extensions.get(), id_ce_basicConstraints);
  if (!ext) return false;
  BasicConstraints bc;
  if (bc.decodeOctets(ext->extnValue) < 1) return false;
  return bc.cA.get();
}

bool SignedCertificate::fixesRsaPssParameters() const {
  const AlgorithmIdentifier& a = tbsCertificate.subjectPublicKeyInfo.algorithm;
  return isRsaPssOid(a.algorithm) && a.parametersPresent;
}

// ---------------------------------------------------------------------------
// SharedCertificate

SharedCertificate& SharedCertificate::operator=(const SignedCertificate& certificate) {
  if (body.get() != &certificate) hold(std::make_shared<SignedCertificate>(certificate));
  return *this;
}

void SharedCertificate::adopt(std::unique_ptr<SignedCertificate> owned) {
  hold(std::shared_ptr<SignedCertificate>(std::move(owned)));
}

void SharedCertificate::hold(std::shared_ptr<SignedCertificate> own) {
  // Still this holder's alone: nobody reads it yet.
  if (own) own->readOnly = true;
  body = std::move(own);
}

SharedCertificate SharedCertificate::holding(const SignedCertificate& certificate) {
  SharedCertificate held;
  // A body handed out by edit() may still change under its editor: copied.
  if (certificate.readOnly) held.body = certificate.weak_from_this().lock();
  if (!held.body) held = certificate;
  return held;
}

const SignedCertificate& SharedCertificate::get() const {
  // Never changed (its key state aside, which is guarded): every holder
  // without a body of its own reads this one.
  static SignedCertificate empty;
  return body ? *body : empty;
}

SignedCertificate& SharedCertificate::edit() {
  // Only this holder sees a body whose count is 1: no other thread can be
  // copying it. use_count() is a relaxed read, so a count of 1 left by a
  // holder just dropped in another thread does not order that thread's reads
  // of the body before our writes; taking a reference (an acquire-release
  // increment that reads the count it released) does.
  if (body && body.use_count() == 1) {
    const std::shared_ptr<const SignedCertificate> ordered = body;
  }
  if (!body || body.use_count() != 1 || body->isConstView()) {
    // A value read in place cannot be changed (its members are views of the
    // signed octets): the body to change is decoded privately from them, so
    // a change shows in its encoding and no longer verifies.
    std::shared_ptr<SignedCertificate> own = std::make_shared<SignedCertificate>();
    const unsigned char* received = body ? body->receivedEncoding() : nullptr;
    const int n = body ? body->receivedLength : 0;
    const int r = received ? own->decodeBuffer(received, n, 0) : 0;
    if (r == EASN_MEM) throwBadAllocation();
    if (r != n || !received) {
      if (body) *own = *body;
    }
    body = std::move(own);
  }
  // Changed from now on through the reference handed out: nothing is
  // remembered of it any more, and it is no longer shared by holding().
  SignedCertificate& mine = const_cast<SignedCertificate&>(*body);
  mine.readOnly = false;
  mine.changed();
  return mine;
}

// ---------------------------------------------------------------------------
// text armour

CertificateArmourReader certificateArmourReader = nullptr;

int decodeArmouredObject(ASNobject* object, GenericFile* in, int length, unsigned char f,
                         const char* beginMarker, const char* endMarker) {
  if (!object || !in) return 0;
  const int64_t p = static_cast<int32_t>(in->tell());
  // The virtual decode would come back here; the DER attempt is the base's.
  int r = object->ASNobject::decode(in, length, f);
  if (r != 0) return r;
  // Armour is a form of a value read on its own: an element inside a DER
  // structure (a certificate list, a set, a bag read in a nested decode) is
  // DER or nothing.
  if (p < 0 || ASNDepthGuard::current() > 0) return 0;
  if (in->seek(static_cast<int32_t>(p)) != 0) return EASN_FILE;

  // Only the armour itself is kept: text before BEGIN is dropped as it is
  // read (but for a partial marker), and reading stops at the END marker.
  // `length` bounds the reading (all of the stream when negative).
  const size_t beginLen = std::strlen(beginMarker), endLen = std::strlen(endMarker);
  const uint32_t want = length < 0 ? static_cast<uint32_t>(ASN_MAX_LENGTH)
                                   : static_cast<uint32_t>(length);
  std::string text;
  int64_t dropped = 0;  // characters read before text[0]
  size_t bodyAt = std::string::npos, endAt = std::string::npos, scanFrom = 0;
  uint32_t total = 0;
  char chunk[4096];
  try {
    while (total < want && endAt == std::string::npos) {
      const uint32_t ask =
          want - total < sizeof chunk ? want - total : static_cast<uint32_t>(sizeof chunk);
      uint32_t got = 0;
      if (in->read(ask, reinterpret_cast<uint8_t*>(chunk), &got) != 0 || got == 0) break;
      text.append(chunk, got);
      total += got;
      if (bodyAt == std::string::npos) {
        const size_t b = text.find(beginMarker, 0, beginLen);
        const size_t cut = b != std::string::npos  ? b
                           : text.size() >= beginLen ? text.size() - beginLen + 1
                                                     : 0;
        text.erase(0, cut);
        dropped += static_cast<int64_t>(cut);
        if (b == std::string::npos) continue;
        bodyAt = scanFrom = beginLen;
      }
      endAt = text.find(endMarker, scanFrom, endLen);
      if (text.size() >= endLen) scanFrom = std::max(bodyAt, text.size() - endLen + 1);
    }
  } catch (const std::bad_alloc&) {
    return 0;  // the copy of the text failed
  }
  if (endAt == std::string::npos) return 0;

  // The body must be whole base64 (blanks and line ends aside): padding
  // ends it, and the decoder refuses other characters and short groups.
  bool padded = false;
  for (size_t i = bodyAt; i < endAt; ++i) {
    const char c = text[i];
    if (c == '=')
      padded = true;
    else if (padded && c != ' ' && c != '\r' && c != '\n')
      return 0;
  }
  MemFile der;
  int32_t n = decodeBase64Text(&text[bodyAt], static_cast<int32_t>(endAt - bodyAt), &der, 0);
  if (n <= 0) return 0;
  der.seek(0);
  // Read in place over a private copy: the signature is then checked over
  // the octets received (an explicit default such as critical FALSE or a v1
  // version stays), not over a re-encoding.
  r = object->ASNobject::decode(&der, n, ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (r < 1) return 0;
  const int64_t used = dropped + static_cast<int64_t>(endAt + endLen);
  if (used > ASN_MAX_LENGTH || in->seek(static_cast<int32_t>(p + used)) != 0) return EASN_FILE;
  return static_cast<int>(used);
}

int decodeCertificateArmour(ASNobject* object, GenericFile* in, int length, unsigned char f) {
  return decodeArmouredObject(object, in, length, f, "-----BEGIN CERTIFICATE-----",
                              "-----END CERTIFICATE-----");
}

bool registerCertificateArmourReader() {
  certificateArmourReader = &decodeCertificateArmour;
  return true;
}

namespace {
const bool certificateArmourRegistered = registerCertificateArmourReader();
}
