// libFuzzer target over time-stamp data: decode a TimeStampResponse (private
// and in place), the TSTInfo of its token and the signing-certificate
// attributes of the token's signer; the same octets as a request, a TSTInfo
// and the CAdES references and values. Private and in-place decoding must
// accept the same inputs, a value read in place must re-encode to exactly
// the octets it took, and every answer must be one of the documented codes.
#include "pki/esscades.h"
#include "pki/oids.h"
#include "pki/tsp.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void reencode(const ASNobject& o, const unsigned char* data, int n) {
  std::vector<unsigned char> out;
  if (o.encodeVector(out) != n || o.encodedLength() != n) abort();
  if (std::memcmp(out.data(), data, n) != 0) abort();
}

// Decodes privately and in place; both must agree. The in-place value when
// it decoded, else null.
template <class T>
bool check(T& view, const unsigned char* data, int n) {
  T value;
  const int r = value.decodeBuffer(data, n, 0);
  const int v = view.decodeBuffer(data, n, ASN_FLAG_CONST);
  if (r < -2 || v < -2 || (r > 0) != (v > 0) || (r > 0 && r != v)) abort();
  if (r > 0) {
    std::vector<unsigned char> out;
    if (value.encodeVector(out) != value.encodedLength()) abort();
    reencode(view, data, v);
  }
  return v > 0;
}

template <class T>
void checkValue(const Attribute* a) {
  if (!a) return;
  for (POSITION p = a->attrValues.GetHeadPosition(); p;) {
    const ASNany* value = TypedPointerList<ASNany>::GetNext(p);
    T t;
    const int r = t.assignFromAny(*value);
    if (r < -2) abort();
  }
}

void checkToken(const SignedMessage& token) {
  const SignedData& sd = token.value();
  const ASNoctstr& e = sd.encapContentInfo.value();
  if (e.data() && e.length > 0) {
    TimeStampTokenInfo info;
    check(info, e.data(), e.length);
  }
  for (POSITION p = sd.signerInfos.GetHeadPosition(); p;) {
    const SignerInfo* si = TypedPointerList<SignerInfo>::GetNext(p);
    checkValue<SigningCertificate>(findAttribute(si->signedAttrs, id_aa_signingCertificate));
    checkValue<SigningCertificateV2>(findAttribute(si->signedAttrs, id_aa_signingCertificateV2));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int n = static_cast<int>(size);
  TimeStampResponse resp;
  if (check(resp, data, n) && resp.timeStampTokenPresent) checkToken(resp.timeStampToken);
  TimeStampRequest req;
  check(req, data, n);
  TimeStampTokenInfo info;
  check(info, data, n);
  SigningCertificateV2 sc;
  check(sc, data, n);
  CrlOcspRef refs;
  check(refs, data, n);
  RevocationValues values;
  check(values, data, n);
  SignaturePolicyId policy;
  check(policy, data, n);
  return 0;
}
