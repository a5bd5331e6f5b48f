#include "keys/certdesc.h"

#include <memory>
#include <new>

SignedCertificateWithDesc::SignedCertificateWithDesc(unsigned char t)
    : cmsasn::Sequence<SignedCertificateWithDesc>(t), certificate(), description() {
  description.set(0u);
}

SignedCertificateWithDesc::SignedCertificateWithDesc(const SignedCertificateWithDesc& other)
    : cmsasn::Sequence<SignedCertificateWithDesc>(other),
      certificate(other.certificate),
      description(other.description) {}

SignedCertificateWithDesc& SignedCertificateWithDesc::operator=(
    const SignedCertificateWithDesc& other) {
  if (this == &other) return *this;
  cmsasn::refuseConstTarget(*this);
  cmsasn::Sequence<SignedCertificateWithDesc>::operator=(other);
  certificate = other.certificate;
  description = other.description;
  return *this;
}

SignedCertificateWithDesc::~SignedCertificateWithDesc() = default;

namespace {

// A word is a non-negative INTEGER of at most 32 bits.
bool readWord(const ASNinteger& integer, uint32_t& value) {
  value = 0;
  const unsigned char* d = integer.data();
  return d && integer.length >= 1 && !(d[0] & 0x80) && asnSmallValue(integer, &value);
}

}  // namespace

uint32_t SignedCertificateWithDesc::word() const {
  uint32_t value = 0;
  return readWord(description, value) ? value : 0;
}

void SignedCertificateWithDesc::restoreDefaults() {
  certificate.clear();
  description.set(0u);
}

int SignedCertificateWithDesc::decodeMembers(cmsasn::MemberReader& r) {
  if (r.left() < 2) return 0;
  std::unique_ptr<SignedCertificate> body(new (std::nothrow) SignedCertificate());
  if (!body) return EASN_MEM;
  // The body and its holder's count, beside the octets the body keeps.
  asnChargeHeld(asnAllocCost(sizeof(SignedCertificate)) + asnAllocCost(32));
  // Read in place, the body keeps a private copy: it outlives the octets of this value.
  unsigned char f = r.flags();
  if (f & ASN_FLAG_CONST) f |= ASN_FLAG_COPY;
  const int n = body->decode(r.stream(), r.left(), f);
  if (n < 1) return n;
  r.advance(n);
  // The word is read privately too: a value read in place keeps both members when its views
  // go, instead of a certificate without its word.
  if (r.peek() != 0x02 || r.left() < 2) return 0;
  int x = description.decode(r.stream(), r.left(), 0);
  if (x < 1) return x;
  r.advance(x);
  uint32_t value = 0;
  if (!readWord(description, value)) return 0;
  if ((x = r.finish()) < 1) return x;
  try {
    certificate.adopt(std::move(body));
  } catch (const std::bad_alloc&) {
    return EASN_MEM;
  }
  return 1;
}
