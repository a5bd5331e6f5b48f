// Generic group operations and scalar multiplication.
#include <memory>
#include <new>
#include <vector>

#include "crypto/algebra/lvabstractalgebra.h"
#include "crypto/basic/lvnet.h"

namespace {

// Elements of a temporary table, deleted however the call ends.
class ElemTable {
 public:
  explicit ElemTable(std::size_t n) : n_(n) {
    t_ = new (std::nothrow) LvGroupElem*[n];
    if (!t_) LV_THROW_MEM(static_cast<std::uint32_t>(4 * n));
    for (std::size_t i = 0; i < n; i++) t_[i] = nullptr;
  }
  ~ElemTable() {
    for (std::size_t i = 0; i < n_; i++) delete t_[i];
    delete[] t_;
  }
  ElemTable(const ElemTable&) = delete;
  ElemTable& operator=(const ElemTable&) = delete;
  LvGroupElem*& operator[](std::size_t i) { return t_[i]; }

 private:
  LvGroupElem** t_;
  std::size_t n_;
};

// `count` bits of k starting at bit `pos` (count <= 16).
unsigned int digitAt(const LvN& k, unsigned int pos, unsigned int count) {
  const LvWord* w = k.getWords();
  const unsigned int n = k.getUsed();
  const unsigned int i = pos / 32, s = pos % 32;
  std::uint64_t v = 0;
  if (i < n) v = w[i];
  if (i + 1 < n) v |= static_cast<std::uint64_t>(w[i + 1]) << 32;
  return static_cast<unsigned int>(v >> s) & ((1u << count) - 1);
}

}  // namespace

unsigned int lvChooseWindowWidth(unsigned int L) {
  const unsigned int t = L + L / 2;
  if (t < 4) return 1;
  unsigned int w = 2;
  while (static_cast<std::uint64_t>(w) * w * (std::uint64_t(1) << (w + 1)) <= t) w++;
  auto cost = [L](unsigned int v) { return L / v + (1u << v); };
  return cost(w - 1) < cost(w) ? w - 1 : w;
}

unsigned int lvChooseJointWindowWidth(unsigned int L) {
  const unsigned int t = L + L / 2;
  if (t < 4) return 1;
  unsigned int w = 2;
  while (static_cast<std::uint64_t>(w) * w * (std::uint64_t(1) << (w * w + 1)) <= t) w++;
  auto cost = [L](unsigned int v) { return L / v + (1u << (2 * v)); };
  return cost(w - 1) < cost(w) ? w - 1 : w;
}

LvGroup::~LvGroup() {}

void LvGroup::precompute(LvGroupElem*) const {}

void LvGroup::add(LvGroupElem* r, const LvGroupElem* a, const LvGroupElem* b) const {
  assign(r, a);
  if (a == b) doubleInPlace(r);
  else addInPlace(r, b);
}

void LvGroup::negate(LvGroupElem* r, const LvGroupElem* a) const {
  assign(r, a);
  negateInPlace(r);
}

void LvGroup::subtract(LvGroupElem* r, const LvGroupElem* a, const LvGroupElem* b) const {
  if (a == b) {
    assign(r, nullptr);
    return;
  }
  assign(r, a);
  subtractInPlace(r, b);
}

void LvGroup::mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const {
  const unsigned int L = k.getBitLength();
  const unsigned int w = lvChooseWindowWidth(L);
  const unsigned int mask = (1u << w) - 1, N = 1u << w;
  ElemTable table(N);
  table[1] = createCopy(a);
  for (unsigned int i = 2; i < N; i++) table[i] = createSum(table[i - 1], a);
  const unsigned int D = (L + w - 1) / w;
  assign(r, nullptr);
  for (unsigned int j = D; j-- > 0;) {
    const unsigned int d = digitAt(k, j * w, w) & mask;
    for (unsigned int i = 0; i < w; i++) doubleInPlace(r);
    if (d != 0) addInPlace(r, table[d]);
  }
}

void LvGroup::mulWord(LvGroupElem* r, unsigned int k, const LvGroupElem* a) const {
  std::unique_ptr<LvGroupElem> T(createCopy(a));
  assign(r, nullptr);
  if (k == 0) return;
  for (;;) {
    const unsigned int before = k;
    if (k & 1) addInPlace(r, T.get());
    doubleInPlace(T.get());
    k >>= 1;
    if (before < 2) break;
  }
}

void LvGroup::mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
                   const LvGroupElem* b) const {
  if (a == b) {
    mul(r, k1 + k2, a);
    return;
  }
  mul(r, k1, a);
  std::unique_ptr<LvGroupElem> T(createMul(k2, b));
  addInPlace(r, T.get());
}

std::vector<LvWord> LvGroup::mulSecretX(const LvWord* k, unsigned int kWords, const LvN&,
                                        const LvGroupElem* a) const {
  std::unique_ptr<LvGroupElem> T(createMul(LvN(k, kWords), a));
  LvN x;
  try {
    x = asLvN(T.get());
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    // the neutral element has no coordinate: 0
  }
  return std::vector<LvWord>(x.getWords(), x.getWords() + x.getUsed());
}

bool LvGroup::xModEquals(const LvGroupElem* a, const LvN& r, const LvN& n) const {
  try {
    return asLvN(a) % n == r;
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    return false;  // the neutral element has no coordinate
  }
}

LvGroupElem* LvGroup::createSum(const LvGroupElem* a, const LvGroupElem* b) const {
  std::unique_ptr<LvGroupElem> T(createCopy(a));
  if (a == b) doubleInPlace(T.get());
  else addInPlace(T.get(), b);
  return T.release();
}

LvGroupElem* LvGroup::createNegation(const LvGroupElem* a) const {
  std::unique_ptr<LvGroupElem> T(createCopy(a));
  negateInPlace(T.get());
  return T.release();
}

LvGroupElem* LvGroup::createDifference(const LvGroupElem* a, const LvGroupElem* b) const {
  if (a == b) return createCopy(nullptr);
  std::unique_ptr<LvGroupElem> T(createCopy(a));
  subtractInPlace(T.get(), b);
  return T.release();
}

LvGroupElem* LvGroup::createMul(const LvN& k, const LvGroupElem* a) const {
  std::unique_ptr<LvGroupElem> T(createCopy(nullptr));
  mul(T.get(), k, a);
  return T.release();
}

LvGroupElem* LvGroup::createMulWord(unsigned int k, const LvGroupElem* a) const {
  std::unique_ptr<LvGroupElem> T(createCopy(nullptr));
  mulWord(T.get(), k, a);
  return T.release();
}

LvGroupElem* LvGroup::createMul2(const LvN& k1, const LvGroupElem* a, const LvN& k2,
                                 const LvGroupElem* b) const {
  std::unique_ptr<LvGroupElem> T(createCopy(nullptr));
  mul2(T.get(), k1, a, k2, b);
  return T.release();
}

LvAbelianGroup::~LvAbelianGroup() {}

void LvAbelianGroup::mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
                          const LvGroupElem* b) const {
  if (a == b) {
    mul(r, k1 + k2, a);
    return;
  }
  // kB is the larger scalar; on a tie the second pair.
  const bool firstLarger = k1 > k2;
  const LvN& kB = firstLarger ? k1 : k2;
  const LvGroupElem* PB = firstLarger ? a : b;
  const LvN& kA = firstLarger ? k2 : k1;
  const LvGroupElem* PA = firstLarger ? b : a;
  const unsigned int Lb = kB.getBitLength(), La = kA.getBitLength();
  const unsigned int w = lvChooseJointWindowWidth(Lb);
  const unsigned int M = 1u << w;
  ElemTable table(static_cast<std::size_t>(M) * M);
  table[0] = createCopy(nullptr);
  for (unsigned int j = 1; j < M; j++) table[j] = createSum(table[j - 1], PB);
  for (unsigned int i = 1; i < M; i++)
    for (unsigned int j = 0; j < M; j++)
      table[i * M + j] = createSum(table[(i - 1) * M + j], PA);
  const unsigned int Db = (Lb + w - 1) / w, Da = (La + w - 1) / w;
  assign(r, nullptr);
  for (unsigned int pos = Db; pos-- > 0;) {
    lvnet::tickOrThrow();
    for (unsigned int i = 0; i < w; i++) doubleInPlace(r);
    unsigned int index = digitAt(kB, pos * w, w);
    if (pos < Da) index |= digitAt(kA, pos * w, w) << w;
    if (index != 0) addInPlace(r, table[index]);
  }
}
