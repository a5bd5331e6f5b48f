#include "pki/sig/sigpropspkcs7.h"

#include "pki/cms/esscades.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "pki/common/x509time.h"

#include <memory>
#include <new>
#include <vector>

namespace {

std::string octetsOf(const ASNoctstr& v) {
  const unsigned char* p = v.data();
  return p ? std::string(reinterpret_cast<const char*>(p), size_t(v.length)) : std::string();
}

// The first certificate ID's hash of a signing-certificate attribute.
template <class SigningCert>
const auto* firstCertId(const SigningCert& sc) {
  return sc.certs.GetCount() > 0 ? sc.certs.GetHead() : nullptr;
}

}  // namespace

SignedAttributesPkcs7::SignedAttributesPkcs7() = default;

// Reverse member order: the texts, the time, then the set.
SignedAttributesPkcs7::~SignedAttributesPkcs7() = default;

int SignedAttributesPkcs7::load(const CmsSet<Attribute>& signedAttrs) {
  attributes.clear();
  signingTimePresent = 0;
  certHash.clear();
  certHashId = 0;
  messageDigest.clear();
  try {
    for (POSITION pos = signedAttrs.GetHeadPosition(); pos;) {
      const Attribute* a = signedAttrs.GetNext(pos);
      if (!a)
        continue;
      std::unique_ptr<Attribute> copy(new Attribute(*a));
      if (attributes.append(copy.get()) != 1)
        return -2;
      copy.release();
    }
    // The copy writes what the signer's set writes: the octets signed when
    // that set was received.
    attributes.keepOrder = signedAttrs.keepOrder;

    if (const Attribute* a = findAttribute(signedAttrs, id_signingTime)) {
      X509time viewed;
      if (!a->getValue(0, viewed))
        return 0;
      // A value read in place cannot be changed: convert a private copy.
      std::vector<unsigned char> der;
      X509time t;
      if (viewed.encodeVector(der) < 1 || t.decodeBuffer(der.data(), int(der.size()), 0) != int(der.size()))
        return 0;
      t.toUtc();
      uint64_t fraction = t.fractionPresent ? t.fraction : 0;
      int digits = t.fractionPresent ? t.fractionDigits : 0;
      for (; digits > 9; --digits)  // GeneralizedTime keeps nine digits
        fraction /= 10;
      signingTimeValue.set(t.year, t.month, t.day, t.hour, t.minute, t.second,
                           digits > 0 ? int32_t(fraction) : -1, digits);
      signingTimePresent = 1;
    }

    if (const Attribute* a = findAttribute(signedAttrs, id_aa_signingCertificate)) {
      SigningCertificate sc;
      const ESSCertID* id = a->getValue(0, sc) ? firstCertId(sc) : nullptr;
      if (!id)
        return 0;
      certHash = octetsOf(id->certHash);
      certHashId = 1;
    } else if (const Attribute* a2 = findAttribute(signedAttrs, id_aa_signingCertificateV2)) {
      SigningCertificateV2 sc;
      const ESSCertIDV2* id = a2->getValue(0, sc) ? firstCertId(sc) : nullptr;
      if (!id)
        return 0;
      int length = 0, hashId = 0;
      if (!digestOidToType(id->hashAlgorithm.algorithm, &length, &hashId))
        return 0;
      certHash = octetsOf(id->certHash);
      certHashId = hashId;
    }

    if (const Attribute* a = findAttribute(signedAttrs, id_messageDigest)) {
      ASNoctstr digest;
      if (!a->getValue(0, digest))
        return 0;
      messageDigest = octetsOf(digest);
    }
  } catch (const std::bad_alloc&) {
    return -2;
  }
  return 1;
}

SignaturePropertiesPkcs7::SignaturePropertiesPkcs7(talCtx* ctx, const SignedData* data,
                                                   const SignerInfo* signerInfo, bool isTimeStampToken,
                                                   bool skipDigestVerdict)
    : SignatureProperties(ctx, skipDigestVerdict), signedData(data), signer(signerInfo) {
  isTimeStamp = isTimeStampToken ? 1 : 0;
}

SignaturePropertiesPkcs7::~SignaturePropertiesPkcs7() = default;
