// The constant-time exponentiation's building blocks under memcheck at the sizes the RSA, DH and
// DSA programs do not reach: the per-size Montgomery kernels (3 to 16 words, a sparse modulus
// among them), odd word counts, the generic rows with and without the carry-chain instructions,
// and CRT halves of unequal sizes. Modulus, base and exponent are all secret; the results are
// compared with the variable-time power once they are made public.
#include <random>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "ct/ct_util.h"

namespace {

std::mt19937 gen(1507);

std::vector<LvWord> randomWords(LvWordLen k) {
  std::vector<LvWord> w(k);
  for (auto& v : w) v = gen();
  return w;
}

// An odd k-word modulus with its top word nonzero (sparse: only the end words set).
LvN randomModulus(LvWordLen k, bool sparse) {
  std::vector<LvWord> w = randomWords(k);
  if (sparse)
    for (LvWordLen i = 1; i + 1 < k; ++i) w[i] = 0;
  w[0] |= 1;
  w[k - 1] |= 0x80000000u;
  return LvN(w.data(), k);
}

int powerAndReduction(LvWordLen k, bool sparse) {
  const LvN mn = randomModulus(k, sparse);
  LvModulus m(mn, LvModulus::OPT_MONT);
  const LvModulus ref(mn, LvModulus::OPT_MONT);
  std::vector<LvWord> x = randomWords(k), e = randomWords(k + 1), a = randomWords(2 * k + 1);
  std::vector<LvWord> out(k), red(k), ctm(k);
  ct::secretModulus(m, true);
  ctSecret(x.data(), k * sizeof(LvWord));
  ctSecret(e.data(), e.size() * sizeof(LvWord));
  ctSecret(a.data(), a.size() * sizeof(LvWord));
  powSecretWords(out.data(), x.data(), e.data(), static_cast<LvWordLen>(e.size()), m);
  reduceSecretWords(red.data(), a.data(), static_cast<LvWordLen>(a.size()), m);
  longvCtMod(ctm.data(), a.data(), static_cast<LvWordLen>(a.size()), m.getWords(), k);
  ct::secretModulus(m, false);
  for (auto* v : {&x, &e, &a, &out, &red, &ctm}) ctPublic(v->data(), v->size() * sizeof(LvWord));
  const LvN want = pow(LvZn(LvN(x.data(), k), &ref), LvN(e.data(), k + 1)).getN();
  const LvN an(a.data(), 2 * k + 1);
  if (!(LvN(out.data(), k) == want)) return ct::fail("secret power is wrong");
  if (!(LvN(red.data(), k) == an % mn) || !(LvN(ctm.data(), k) == an % mn))
    return ct::fail("secret reduction is wrong");
  return 0;
}

// Halves of kp and kq words (p below q when kp < kq), the exponents as key loading makes them.
int crtHalves(LvWordLen kp, LvWordLen kq) {
  const LvN pn = randomModulus(kp, false), qn = randomModulus(kq, false);
  LvModulus p(pn, LvModulus::OPT_MONT), q(qn, LvModulus::OPT_MONT);
  if (!(gcd(pn, qn) == 1u)) return 0;  // the recombination needs coprime halves
  const LvN qinv = (1 / LvZn(qn, &p)).getN();
  std::vector<LvWord> qi(kp), x = randomWords(kp + kq), d = randomWords(kp + kq);
  longvCopyResize(qi.data(), kp, qinv.getWords(), qinv.getUsed());
  x[kp + kq - 1] = 0;  // below p q
  const LvN dn(d.data(), kp + kq);
  std::vector<LvWord> out(kp + kq);
  ct::secretModulus(p, true);
  ct::secretModulus(q, true);
  ct::secretN(dn);
  ctSecret(qi.data(), kp * sizeof(LvWord));
  ctSecret(x.data(), x.size() * sizeof(LvWord));
  LvWordMem dp = crtExponentWords(dn, p), dq = crtExponentWords(dn, q);
  powSecretCrtWords(out.data(), kp + kq, x.data(), kp + kq, p, dp.ptr(), dp.getCount(), q,
                    dq.ptr(), dq.getCount(), qi.data());
  ct::secretModulus(p, false);
  ct::secretModulus(q, false);
  ct::publicN(dn);
  for (auto* v : {&x, &out}) ctPublic(v->data(), v->size() * sizeof(LvWord));
  // The halves are not prime, so the reduced exponents only agree with d for bases coprime
  // to them: compare with x^dP mod p and x^dQ mod q put together, against the plain power.
  ctPublic(dp.ptr(), dp.getCount() * sizeof(LvWord));
  ctPublic(dq.ptr(), dq.getCount() * sizeof(LvWord));
  if (!(LvN(dp) == dn % (pn - 1u)) || !(LvN(dq) == dn % (qn - 1u)))
    return ct::fail("CRT exponent reduction is wrong");
  const LvN xn(x.data(), kp + kq);
  const LvN yp = pow(LvZn(xn, &p), LvN(dp)).getN(), yq = pow(LvZn(xn, &q), LvN(dq)).getN();
  const LvN h = ((yp + pn - yq % pn) * qinv) % pn;
  if (!(LvN(out.data(), kp + kq) == yq + qn * h)) return ct::fail("secret CRT power is wrong");
  return 0;
}

int allSizes() {
  for (LvWordLen k : {3u, 4u, 5u, 7u, 8u, 12u, 16u, 17u, 31u, 33u, 40u})
    if (int r = powerAndReduction(k, false)) return r;
  for (LvWordLen k : {8u, 16u})
    if (int r = powerAndReduction(k, true)) return r;
  if (int r = crtHalves(5, 7)) return r;
  if (int r = crtHalves(17, 16)) return r;
  return crtHalves(31, 33);
}

}  // namespace

int main() {
  if (int r = allSizes()) return r;
  longvRowAsmAllowed = false;
  return allSizes();
}
