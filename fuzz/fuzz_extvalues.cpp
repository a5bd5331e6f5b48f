// libFuzzer target over certificate extension values: the first octet picks
// the value type and how it is read (owned, in place, private copy), the
// rest is the extnValue. A value that decodes must re-encode to exactly its
// measured length and decode again; an owned re-encoding is a fixed point. Policy-related
// values are also put into a small path and run through policy processing,
// which must answer a code.
#include "pki/common/oids.h"
#include "pki/x509/pathverifier.h"
#include "pki/x509/x509ext.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<ASNobject> makeValue(int kind) {
  switch (kind) {
    case 0:
      return std::unique_ptr<ASNobject>(new BasicConstraints());
    case 1:
      return std::unique_ptr<ASNobject>(new AuthorityKeyIdentifier());
    case 2:
      return std::unique_ptr<ASNobject>(new CRLDistributionPoints());
    case 3:
      return std::unique_ptr<ASNobject>(new IssuingDistributionPoint());
    case 4:
      return std::unique_ptr<ASNobject>(new QcStatements());
    case 5:
      return std::unique_ptr<ASNobject>(new AuthorityInfoAccess());
    case 6:
      return std::unique_ptr<ASNobject>(new PolicyConstraints());
    case 7:
      return std::unique_ptr<ASNobject>(new CertificatePolicies());
    case 8:
      return std::unique_ptr<ASNobject>(new PolicyMappings());
    case 9:
      return std::unique_ptr<ASNobject>(new ExtendedKeyUsage());
    default:
      return std::unique_ptr<ASNobject>(new GeneralNames());
  }
}
constexpr int kKinds = 11;

void check(bool ok) {
  if (!ok) abort();
}

void runPolicies(int kind, const uint8_t* data, size_t size) {
  const ASNobjectId* oid = kind == 0   ? &id_ce_basicConstraints
                           : kind == 6 ? &id_ce_policyConstraints
                           : kind == 7 ? &id_ce_certificatePolicies
                           : kind == 8 ? &id_ce_policyMappings
                                       : nullptr;
  if (!oid) return;
  std::vector<std::unique_ptr<SignedCertificate>> certs;
  std::vector<const SignedCertificate*> path;
  for (int i = 0; i < 3; ++i) {
    certs.emplace_back(new SignedCertificate());
    certs.back()->tbsCertificate.subject = DistinguishedName(0, i ? "CN=B" : "CN=A", 4);
    certs.back()->tbsCertificate.issuer = DistinguishedName(0, "CN=A", 4);
    Extension* any = certs.back()->tbsCertificate.extensions->addNew();
    any->extnID = id_ce_certificatePolicies;
    static const unsigned char kAny[] = {0x30, 0x08, 0x30, 0x06, 0x06,
                                         0x04, 0x55, 0x1d, 0x20, 0x00};
    if (kind != 7) any->extnValue.set(kAny, sizeof kAny);
    Extension* e = certs.back()->tbsCertificate.extensions->addNew();
    e->extnID = *oid;
    e->extnValue.set(data, static_cast<int>(size));
    if (kind == 7) any->extnValue.set(data, static_cast<int>(size));
    path.push_back(certs.back().get());
  }
  CertificatePolicies initial;
  addPolicyOid(initial, anyPolicy);
  for (int flags = 0; flags < 4; ++flags) {
    X509PathVerifier v;
    int r = v.checkCertificatePolicies(path, flags & 1, flags & 2, initial);
    check(r >= 0 && r <= 13);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  const int kind = (data[0] & 0x0F) % kKinds;
  const unsigned char flags = (data[0] & 0x10) ? ((data[0] & 0x20) ? 3 : 1) : 0;
  ++data;
  --size;
  std::vector<unsigned char> input(data, data + size);
  auto value = makeValue(kind);
  int r = value->decodeBuffer(input.data(), static_cast<int>(input.size()), flags);
  if (r > 0) {
    std::vector<unsigned char> out;
    int w = value->encodeVector(out);
    check(w > 0 && w == static_cast<int>(out.size()) && w == value->encodedLength());
    // BER input is written back as read only by a value read in place; once
    // written by an owned value, the encoding must be a fixed point.
    auto again = makeValue(kind);
    check(again->decodeVector(out) == w);
    std::vector<unsigned char> out2, out3;
    check(again->encodeVector(out2) > 0);
    auto third = makeValue(kind);
    check(third->decodeVector(out2) == static_cast<int>(out2.size()));
    check(third->encodeVector(out3) > 0 && out3 == out2);
  }
  runPolicies(kind, data, size);
  return 0;
}
