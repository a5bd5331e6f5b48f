// Chinese remainder recombination (Garner) and the Jacobi symbol of two natural numbers: the
// number-class entries of the word kernels.
#include <vector>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/lvnumbers.h"

LvN crtCombine(const LvZn* residues, unsigned int count) {
  if (residues == nullptr || count == 0) return LvN();
  for (unsigned int i = 0; i < count; ++i) {
    if (residues[i].getModulus() == nullptr)
      LV_THROW(LvNotInitException, "Uninitialised modulus pointer.",
               "LvN crtCombine(const LvZn *residues, unsigned int count)",
               "lvalgebra/lvnumbers/crt");
  }
  // C[i] = (m_0 * ... * m_(i-1))^-1 mod m_i; throws LvInvException for moduli sharing a factor.
  std::vector<LvZn> c;
  c.reserve(count);
  c.emplace_back();
  for (unsigned int i = 1; i < count; ++i) {
    const LvModulus* mi = residues[i].getModulus();
    LvZn ci(1, mi);
    for (unsigned int j = 0; j < i; ++j) ci *= LvZn(*residues[j].getModulus(), mi);
    c.push_back(1 / ci);
  }
  LvN y = residues[0].getN();
  LvN m = *residues[0].getModulus();
  for (unsigned int i = 1; i < count; ++i) {
    const LvModulus* mi = residues[i].getModulus();
    LvZn u = (residues[i] - LvZn(y, mi)) * c[i];
    y += u.getN() * m;
    m *= *mi;
  }
  return y;
}

int jacobi(const LvN& a, const LvN& n) {
  return longvJacobi(a.getWords(), a.getUsed(), n.getWords(), n.getUsed());
}
