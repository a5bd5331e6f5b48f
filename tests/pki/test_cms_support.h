// Helpers of the signed-message, time-stamp and ESS tests: fixture files,
// a TLV splitter for hand-made variants of real messages (definite and
// indefinite lengths), streaming in pieces, digests, and the check of a
// signer the way a verifier does it (messageDigest against the content,
// the signature over the signed attributes as a DER SET OF, with the
// signer's key through SubPubKeyInfo).
#pragma once

#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "crypto/hash/lvhash.h"
#include "pki/cms/attribute.h"
#include "pki/certtest.h"
#include "pki/fixture_lines.h"
#include "pki/common/oids.h"
#include "pki/cms/sgndata.h"
#include "pki/common/siganddigoid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace cmstest {

using Bytes = std::vector<unsigned char>;

inline Bytes readData(const std::string& path) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/" + path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline Bytes encodeOf(const ASNobject& o) {
  Bytes out;
  EXPECT_GT(o.encodeVector(out), 0);
  EXPECT_EQ(static_cast<int>(out.size()), o.encodedLength());
  return out;
}

inline Bytes octets(const ASNoctstr& s) {
  return s.data() ? Bytes(s.data(), s.data() + s.length) : Bytes();
}

using certtest::decodeBytes;

// Decodes `der` in place from a private copy that is freed before the
// caller goes on, so that ASan reports any view a later decode or clear()
// leaves behind.
template <class T>
void decodeInPlaceFromCopy(T& object, const Bytes& der) {
  std::unique_ptr<Bytes> copy(new Bytes(der));
  ASSERT_EQ(object.decodeBuffer(copy->data(), static_cast<int>(copy->size()),
                                ASN_FLAG_CONST | ASN_FLAG_COPY),
            static_cast<int>(der.size()));
}

// Streams `in` into `o` in pieces of `chunk` octets; what passes through
// goes to *passed. The decoder's last answer (0 when it finished before the
// input did).
inline int streamIn(ASNobject& o, const Bytes& in, size_t chunk, Bytes* passed) {
  MemFile out;
  int r = EASN_MORE;
  size_t i = 0;
  while (i < in.size() && r == EASN_MORE) {
    const size_t n = std::min(chunk, in.size() - i);
    r = o.decodeStreamBuffer(in.data() + i, static_cast<int>(n), &out);
    i += n;
  }
  if (passed) passed->assign(out.data(), out.data() + out.length());
  return i == in.size() ? r : 0;
}

inline Bytes hashOf(int hashId, const Bytes& data) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  h->hash(data.data(), static_cast<unsigned int>(data.size()));
  Bytes out(h->getHashOctets());
  h->getHash(static_cast<unsigned int>(out.size()), out.data());
  return out;
}

// ---- TLV surgery on real messages ----

struct Tlv {
  unsigned char tag;
  Bytes content;
  bool indefinite = false;
};

// One element at b[i] (definite or indefinite length): its size.
inline size_t readTlv(const Bytes& b, size_t i, Tlv* t);

inline std::vector<Tlv> split(const Bytes& content) {
  std::vector<Tlv> out;
  for (size_t i = 0; i < content.size();) {
    Tlv t;
    i += readTlv(content, i, &t);
    out.push_back(t);
  }
  return out;
}

inline size_t readTlv(const Bytes& b, size_t i, Tlv* t) {
  t->tag = b.at(i);
  size_t n = b.at(i + 1), h = 2;
  if (n == 0x80) {
    // Indefinite: the elements up to 00 00.
    size_t j = i + 2;
    while (!(b.at(j) == 0 && b.at(j + 1) == 0)) {
      Tlv inner;
      j += readTlv(b, j, &inner);
    }
    t->content.assign(b.begin() + static_cast<long>(i + 2), b.begin() + static_cast<long>(j));
    t->indefinite = true;
    return j + 2 - i;
  }
  if (n & 0x80) {
    size_t k = n & 0x7f;
    n = 0;
    for (size_t j = 0; j < k; ++j) n = n * 256 + b.at(i + 2 + j);
    h += k;
  }
  t->content.assign(b.begin() + static_cast<long>(i + h), b.begin() + static_cast<long>(i + h + n));
  t->indefinite = false;
  return h + n;
}

inline Bytes encodeTlv(unsigned char tag, const Bytes& content, bool indefinite = false) {
  if (!indefinite) return certtest::encodeTlv(tag, content);
  Bytes out{tag, 0x80};
  out.insert(out.end(), content.begin(), content.end());
  out.insert(out.end(), {0, 0});
  return out;
}

inline Bytes encodeTlv(const Tlv& t) { return encodeTlv(t.tag, t.content, t.indefinite); }

inline Bytes join(const std::vector<Tlv>& items) {
  Bytes out;
  for (const auto& t : items) {
    Bytes e = encodeTlv(t);
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

// The members of the SignedData inside a signed message (definite lengths
// outside), and the message rebuilt around changed members.
inline std::vector<Tlv> signedDataMembers(const Bytes& message) {
  Tlv top;
  readTlv(message, 0, &top);
  Tlv wrapper = split(top.content).at(1);
  Tlv sd = split(wrapper.content).at(0);
  return split(sd.content);
}

inline Bytes signedMessage(const std::vector<Tlv>& members) {
  static const Bytes oid = pkitest::unhex("06092a864886f70d010702");
  Bytes content = oid;
  const Bytes wrapped = encodeTlv(0xA0, encodeTlv(0x30, join(members)));
  content.insert(content.end(), wrapped.begin(), wrapped.end());
  return encodeTlv(0x30, content);
}

// ---- verifying a signer as a verifier does ----

// The certificate of the message that the signer names, or null.
inline const SignedCertificate* signerCertificate(const SignedData& sd, const SignerInfo& si) {
  for (POSITION pos = sd.certificates.GetHeadPosition(); pos;) {
    const SignedCertificate* c = sd.certificates.GetNext(pos);
    if (!c) continue;
    const TBSCertificate& tbs = c->tbsCertificate;
    if (si.sidIsKeyIdentifier) {
      unsigned char id[20];
      if (tbs.subjectPublicKeyInfo.keyIdentifier(id) && si.subjectKeyIdentifier.length == 20 &&
          std::memcmp(si.subjectKeyIdentifier.data(), id, 20) == 0)
        return c;
    } else if (tbs.serialNumber.equals(si.issuerAndSerialNumber.serialNumber) &&
               tbs.issuer == si.issuerAndSerialNumber.issuer) {
      return c;
    }
  }
  return nullptr;
}

// The messageDigest check and the signature check of one signer over
// `content`: SubPubKeyInfo's answer (1 valid), or -10 when the digest of
// the content is not the messageDigest attribute.
inline int verifySigner(const SignedData& sd, const SignerInfo& si, const Bytes& content,
                        const SignedCertificate* cert = nullptr) {
  if (!cert) cert = signerCertificate(sd, si);
  if (!cert) return -11;
  int hashId = 0, len = 0;
  if (!digestOidToType(si.digestAlgorithm.algorithm, &len, &hashId)) return -12;
  AlgorithmIdentifier sigAlg(si.signatureAlgorithm);
  // CMS names RSA PKCS#1 v1.5 by the key's OID; the digest comes from the signer.
  if (sigAlg.algorithm == rsaEncryption) sigAlg.setRsaSignature(hashId);
  Bytes signedOctets = content;
  if (si.signedAttrsPresent) {
    ASNoctstr md;
    if (!getAttributeValue(si.signedAttrs, id_messageDigest, md, 0)) return -13;
    if (octets(md) != hashOf(hashId, content)) return -10;
    // The signature covers the attributes with the SET tag (RFC 5652 5.4).
    if (si.signedAttrsDigestInput(signedOctets) != 1) return -14;
  }
  const Bytes digest = hashOf(hashId, signedOctets);
  SubPubKeyInfo key(cert->tbsCertificate.subjectPublicKeyInfo);
  return key.verifyDigest(sigAlg, digest.data(), static_cast<int>(digest.size()),
                          si.signature.data(), si.signature.length);
}

}  // namespace cmstest
