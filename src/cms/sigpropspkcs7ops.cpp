// The operations of the CMS signature properties: enough of a CMS signer to
// verify a time-stamp token as a signature.
#include "pki/sig/sigpropspkcs7.h"

#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

const int32_t RC_MALFORMED = 89;
const int32_t RC_UNKNOWN_DIGEST = 92;
const int32_t RC_MEM = 100;
const int32_t RC_NOT_IMPL = 137;

bool digestOf(int32_t hashId, const unsigned char* data, size_t length, std::string& out) {
  out.clear();
  std::unique_ptr<LvHash> h(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  if (!h || length > 0xFFFFFFFFu)
    return false;
  if (length)
    h->hash(data, static_cast<unsigned int>(length));
  out.resize(h->getHashOctets());
  h->getHash(static_cast<unsigned int>(out.size()), reinterpret_cast<unsigned char*>(&out[0]));
  return true;
}

int32_t schemeOf(const ASNobjectId& oid) {
  if (isRsaPssOid(oid))
    return SIG_SCHEME_RSA_PSS;
  if (oid == rsaEncryption || isRsaSignatureOid(oid))
    return SIG_SCHEME_RSA_PKCS1;
  if (isDsaSignatureOid(oid))
    return SIG_SCHEME_DSA;
  if (isEcdsaSignatureOid(oid))
    return SIG_SCHEME_ECDSA;
  return SIG_SCHEME_NONE;
}

bool namesSigner(const SignedCertificate& c, const SignerInfo& si) {
  const TBSCertificate& tbs = c.tbsCertificate;
  if (si.sidIsKeyIdentifier) {
    unsigned char id[20];
    return si.subjectKeyIdentifier.length == 20 && si.subjectKeyIdentifier.data() &&
           tbs.subjectPublicKeyInfo.keyIdentifier(id) &&
           std::memcmp(si.subjectKeyIdentifier.data(), id, 20) == 0;
  }
  return tbs.serialNumber.equals(si.issuerAndSerialNumber.serialNumber) &&
         tbs.issuer == si.issuerAndSerialNumber.issuer;
}

// RFC 5652 11 and RFC 5035 allow one instance of each attribute the
// verdict rests on, with one value: with two, which one is read would decide
// what is trusted.
bool verdictAttributesSingle(const CmsSet<Attribute>& attrs) {
  const ASNobjectId* kinds[] = {&id_contentType, &id_messageDigest, &id_signingTime, &id_aa_signingCertificate,
                                &id_aa_signingCertificateV2};
  for (const ASNobjectId* kind : kinds) {
    int instances = 0;
    for (POSITION pos = attrs.GetHeadPosition(); pos;) {
      const Attribute* a = attrs.GetNext(pos);
      if (!a || !(a->attrType == *kind))
        continue;
      if (++instances > 1 || a->attrValues.GetCount() != 1)
        return false;
    }
  }
  return true;
}

}  // namespace

int32_t SignedAttributesPkcs7::count() const { return 0; }

int32_t SignedAttributesPkcs7::attribute(int32_t, int32_t*, char**, int32_t*) const { return 20; }

int32_t SignaturePropertiesPkcs7::analyse() {
  if (!signedData || !signer)
    return RC_MALFORMED;
  try {
    int length = 0, id = 0;
    if (!digestOidToType(signer->digestAlgorithm.algorithm, &length, &id))
      return RC_UNKNOWN_DIGEST;
    hashId = id;
    scheme = schemeOf(signer->signatureAlgorithm.algorithm);
    signatureAlgorithm = signer->signatureAlgorithm;
    // A signature OID that names its own digest must name the signer's:
    // the digest made is the signer's, the value is checked as the OID says.
    int namedDigest = 0, namedLength = 0;
    const ASNobjectId& sigOid = signatureAlgorithm.algorithm;
    if ((rsaSignatureOidToDigest(sigOid, &namedLength, &namedDigest) ||
         dsaSignatureOidToDigest(sigOid, &namedLength, &namedDigest) ||
         ecdsaSignatureOidToDigest(sigOid, &namedLength, &namedDigest)) &&
        namedDigest != id)
      return RC_MALFORMED;
    // CMS names RSA PKCS#1 v1.5 by the key's OID; the digest comes from the signer.
    if (signatureAlgorithm.algorithm == rsaEncryption && !signatureAlgorithm.setRsaSignature(id))
      return RC_UNKNOWN_DIGEST;

    const auto& encap = signedData->encapContentInfo;
    if (!encap.contentPresent)
      return RC_MALFORMED;
    if (isTimeStamp && !(encap.contentType == id_ct_TSTInfo))
      return RC_MALFORMED;
    // RFC 3161 2.4.2: a token carries the TSA's signature and no other.
    if (isTimeStamp && signedData->signerInfos.GetCount() != 1)
      return RC_MALFORMED;

    // Without signed attributes the signature would sign the content
    // directly; RFC 3161 and RFC 5652 5.3 want them whenever the content is
    // not id-data, so their absence is malformed.
    if (!signer->signedAttrsPresent || !verdictAttributesSingle(signer->signedAttrs))
      return RC_MALFORMED;
    auto attrs = std::make_unique<SignedAttributesPkcs7>();
    int r = attrs->load(signer->signedAttrs);
    if (r == -2)
      return RC_MEM;
    if (r != 1)
      return RC_MALFORMED;
    ASNobjectId contentType;
    if (!getAttributeValue(signer->signedAttrs, id_contentType, contentType, 0) ||
        !(contentType == encap.contentType))
      return RC_MALFORMED;
    if (!findAttribute(signer->signedAttrs, id_messageDigest) || int(attrs->messageDigest.size()) != length)
      return RC_MALFORMED;
    form = attrs->certHashId ? SIG_FORM_BES : SIG_FORM_PLAIN;
    signedAttrs = std::move(attrs);

    if (!timeStamps)
      timeStamps = std::make_unique<SignatureTimeStampTokens>();
    if (!archiveStamps)
      archiveStamps = std::make_unique<ArchiveTimeStampTokens>();

    // The signer certificate is the one the identifier names and, when the
    // signing-certificate attribute is there, the one its hash commits to:
    // issuer and serial alone can be copied into another certificate.
    signerCertificate = nullptr;
    bool named = false;
    for (POSITION pos = signedData->certificates.GetHeadPosition(); pos;) {
      SignedCertificate* c = signedData->certificates.GetNext(pos);
      if (!c || !namesSigner(*c, *signer))
        continue;
      named = true;
      if (signingCertificateMatches(*c)) {
        signerCertificate = c;
        break;
      }
    }
    if (named && !signerCertificate)
      return RC_MALFORMED;
  } catch (const std::bad_alloc&) {
    return RC_MEM;
  }
  return 0;
}

bool SignaturePropertiesPkcs7::signingCertificateMatches(const SignedCertificate& certificate) const {
  if (!signedAttrs || signedAttrs->certHashId == 0)
    return true;
  std::vector<unsigned char> der;
  std::string digest;
  if (certificate.encodeVector(der) < 1 || !digestOf(signedAttrs->certHashId, der.data(), der.size(), digest))
    return false;
  return !digest.empty() && digest == signedAttrs->certHash;
}

bool SignaturePropertiesPkcs7::checkMessageDigest() {
  if (!signedAttrs || !signedData || !signedData->encapContentInfo.contentPresent)
    return false;
  const ASNoctstr& content = signedData->encapContentInfo.value();
  std::string digest;
  if (!digestOf(hashId, content.data(), content.data() ? size_t(content.length) : 0, digest))
    return false;
  return !digest.empty() && digest == signedAttrs->messageDigest;
}

int32_t SignaturePropertiesPkcs7::signatureValue(unsigned char* buffer, int32_t* length) {
  if (!length)
    return 33;
  const ASNoctstr& v = signer->signature;
  const int32_t n = v.data() ? v.length : 0;
  if (!buffer) {
    *length = n;
    return 0;
  }
  if (*length < n)
    return 34;
  if (n)
    std::memcpy(buffer, v.data(), size_t(n));
  *length = n;
  return 0;
}

void SignaturePropertiesPkcs7::signedDigest(int32_t id, std::string& out) {
  out.clear();
  if (!signer)
    return;
  if (signer->signedAttrsPresent) {
    std::vector<unsigned char> input;
    if (signer->signedAttrsDigestInput(input) != 1 || !digestOf(id, input.data(), input.size(), out))
      out.clear();
    return;
  }
  const ASNoctstr& content = signedData->encapContentInfo.value();
  if (!digestOf(id, content.data(), content.data() ? size_t(content.length) : 0, out))
    out.clear();
}

void SignaturePropertiesPkcs7::timeStampImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) {}

void SignaturePropertiesPkcs7::archiveImprintData(const TimeStampToken&, int32_t, std::vector<std::string>&) {}

const IssuerAndSerialNumber* SignaturePropertiesPkcs7::signerIdentifier() {
  return signer && !signer->sidIsKeyIdentifier ? &signer->issuerAndSerialNumber : nullptr;
}

int32_t SignaturePropertiesPkcs7::storeTimeStampToken(TimeStampToken&, int32_t) { return RC_NOT_IMPL; }

ASNsequenceList<SignedCertificate>* SignaturePropertiesPkcs7::carriedCertificates() {
  if (!signedData || signedData->certificates.GetCount() == 0)
    return nullptr;
  if (!carried) {
    auto list = std::make_unique<ASNsequenceList<SignedCertificate>>();
    for (POSITION pos = signedData->certificates.GetHeadPosition(); pos;) {
      const SignedCertificate* c = signedData->certificates.GetNext(pos);
      if (!c)
        continue;
      std::unique_ptr<SignedCertificate> copy(new SignedCertificate(*c));
      if (list->append(copy.get()) != 1)
        throw std::bad_alloc();
      copy.release();
    }
    carried = std::move(list);
  }
  return carried.get();
}

int32_t SignaturePropertiesPkcs7::makeArchiveForm(talCtx*) { return RC_NOT_IMPL; }
int32_t SignaturePropertiesPkcs7::addCompleteRefs(const ValidationData&) { return RC_NOT_IMPL; }
int32_t SignaturePropertiesPkcs7::addValues(const ValidationData&) { return RC_NOT_IMPL; }
