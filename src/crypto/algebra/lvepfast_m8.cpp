// Scalar multiplication engine for 8-limb Montgomery fields (brainpoolP512r1
// and the other 512-bit primes): the products with MULX/ADX where the
// processor has them (lvmont8mulx.h), else the portable ones.
#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvmont8mulx.h"

namespace lvepfast {
namespace engine {

#if defined(__x86_64__)
// MontField<8> with the MULX product and square.
class Mont8Mulx : public MontField<8> {
 public:
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const { lvmont8::mul(r, a, b, p, n0); }
  LV_INLINE void sqr(u64* r, const u64* a) const { lvmont8::sqr(r, a, p, n0); }
  void toField(u64* r, const u64* a) const { mul(r, a, r2); }
  void fromField(u64* r, const u64* a) const {
    const u64 one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    mul(r, a, one);
  }
};

template <>
struct SideBySide<Mont8Mulx> {
  static const bool value = true;
};

// Generator tables with 6-bit windows: 87 additions for a 512-bit scalar
// (103 with 5 bits).
template <>
struct FixedWidth<Mont8Mulx> {
  static const unsigned value = 6;
};
#endif

template <>
std::unique_ptr<Curve> makeMont<8>(const u32* p, const u32* a, const u32* b, unsigned words) {
#if defined(__x86_64__)
  if (lvcpu::hasBmi2Adx())
    return std::unique_ptr<Curve>(new Engine<Mont8Mulx>(p, a, b, words));
#endif
  return std::unique_ptr<Curve>(new Engine<MontField<8> >(p, a, b, words));
}

}  // namespace engine
}  // namespace lvepfast
