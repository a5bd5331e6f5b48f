// libFuzzer target over time-stamp data: decode a TimeStampResponse (private
// and in place), the TSTInfo of its token and the signing-certificate
// attributes of the token's signer; the same octets as a request, a TSTInfo
// and the CAdES references and values. Private and in-place decoding must
// accept the same inputs, a value read in place must re-encode to exactly
// the octets it took, one object decoded again or cleared must keep no view
// of released octets, and every answer must be one of the documented codes.
#include "pki/cms/esscades.h"
#include "pki/common/oids.h"
#include "pki/cms/tsp.h"
#include "fuzzreuse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
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
  reuse<T>(data, n, r);
  return v > 0;
}

template <class T>
void checkOne(const unsigned char* data, int n) {
  T value;
  check(value, data, n);
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

// The same octets as each of the types.
template <class... T>
void checkAs(const unsigned char* data, int n) {
  (void)std::initializer_list<int>{(checkOne<T>(data, n), 0)...};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int n = static_cast<int>(size);
  TimeStampResponse resp;
  if (check(resp, data, n) && resp.timeStampTokenPresent) checkToken(resp.timeStampToken);
  checkAs<TimeStampRequest, TimeStampTokenInfo, SigningCertificateV2, CrlOcspRef,
          RevocationValues, SignaturePolicyId, SigningCertificate, ESSCertID, ContentHints,
          OtherCertID, CrlValidatedID>(data, n);
  return 0;
}
