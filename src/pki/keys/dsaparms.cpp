#include "pki/keys/dsaparms.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/asym/lvgfpkeydomain.h"
#include "crypto/basic/lvexception.h"
#include "pki/common/keymembers.h"

#include <vector>

using namespace keyasn;

// ---- DSAParameters ----

DSAParameters::DSAParameters(unsigned char t) : ASNsequenceF(t), p(), q(), g() {}
DSAParameters::DSAParameters(const DSAParameters& o) : ASNsequenceF(o), p(o.p), q(o.q), g(o.g) {}
DSAParameters::~DSAParameters() = default;

DSAParameters& DSAParameters::operator=(const DSAParameters& o) {
  if (this != &o) {
    p = o.p;
    q = o.q;
    g = o.g;
  }
  return *this;
}

bool DSAParameters::operator==(const DSAParameters& o) const {
  return p.equals(o.p) && q.equals(o.q) && g.equals(o.g);
}

void DSAParameters::clear() {
  p.clear();
  q.clear();
  g.clear();
}

int DSAParameters::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const m[] = {&p, &q, &g};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), m, 3, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int DSAParameters::encodeContent(GenericFile* out) const {
  const ASNobject* const m[] = {&p, &q, &g};
  return encodeMembers(out, m, 3);
}

int DSAParameters::contentLength() const {
  const ASNobject* const m[] = {&p, &q, &g};
  return membersLength(m, 3);
}

void DSAParameters::digestContent(LvHash* hash) const {
  const ASNobject* const m[] = {&p, &q, &g};
  digestMembers(hash, m, 3);
}

// ---- DSASignature ----

DSASignature::DSASignature(unsigned char t) : ASNsequenceF(t), r(), s() {}
DSASignature::~DSASignature() = default;

int DSASignature::encodeMembers(unsigned char* buffer, int size) const {
  int lr = r.encodedLength();
  int ls = s.encodedLength();
  if (lr < 1 || ls < 1) return lr < 1 ? lr : ls;
  if (!buffer || int64_t(size) < int64_t(lr) + ls) return -1;
  MemFile m(buffer, size, false);
  int e = r.encode(&m);
  if (e < 1) return e;
  e = s.encode(&m);
  return e < 1 ? e : 1;
}

bool DSASignature::decodeMembers(const unsigned char* buffer, int length) {
  clear();
  if (!buffer || length < 4) return false;
  MemFile m(const_cast<unsigned char*>(buffer), length, false);
  int a = r.decode(&m, length, 0);
  if (a < 1 || length - a < 2) return false;
  int b = s.decode(&m, length - a, 0);
  return b >= 1 && a + b == length;
}

bool DSASignature::isDerNatural() const {
  return keyasn::isDerNatural(r) && keyasn::isDerNatural(s);
}

int DSASignature::decodeDer(const unsigned char* sig, int len) {
  clear();
  if (!sig || len < 2) return 0;
  int got = decodeBuffer(sig, len, 0);
  if (got < 0) return got;
  if (got != len || !isDerNatural()) return 0;
  // BER forms (long length octets, indefinite lengths) decode too; only
  // the one DER encoding of (r, s) is a signature value.
  std::vector<unsigned char> again;
  const int written = encodeVector(again);
  // no memory for the comparison: not a malformed signature
  if (written == EASN_MEM) return EASN_MEM;
  if (written != len) return 0;
  for (int i = 0; i < len; ++i)
    if (again[static_cast<size_t>(i)] != sig[i]) return 0;
  return 1;
}

void DSASignature::clear() {
  r.clear();
  s.clear();
}

int DSASignature::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const m[] = {&r, &s};
  int taken = 0;
  int res = keyasn::decodeMembers(in, length, memberFlags(), m, 2, &taken);
  if (res != 1) return res;
  return taken == length ? 1 : 0;
}

int DSASignature::encodeContent(GenericFile* out) const {
  const ASNobject* const m[] = {&r, &s};
  return keyasn::encodeMembers(out, m, 2);
}

int DSASignature::contentLength() const {
  const ASNobject* const m[] = {&r, &s};
  return membersLength(m, 2);
}

void DSASignature::digestContent(LvHash* hash) const {
  const ASNobject* const m[] = {&r, &s};
  digestMembers(hash, m, 2);
}

int dsaParametersToKeyDomain(const DSAParameters& params, LvDsaKeyDomain& domain) {
  unsigned int np = 0, nq = 0, ng = 0;
  const unsigned char* p = intBytes(params.p, &np);
  const unsigned char* q = intBytes(params.q, &nq);
  const unsigned char* g = intBytes(params.g, &ng);
  if (!p || !q || !g) return 0;
  try {
    domain.setP(p, np);
    domain.setQ(q, nq);
    domain.setG(g, ng);
    domain.markValid();
    return 1;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    // parameters from a stranger the arithmetic refuses: unusable, not a fault of ours
    return 0;
  }
}
