// Scalar multiplication engine for 6-limb Montgomery fields (P-384 and the
// other 384-bit primes): the products with MULX/ADX where the processor has
// them (lvmont6mulx.h), else the portable ones.
#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvmont6mulx.h"

namespace lvepfast {
namespace engine {

#if defined(__x86_64__)
// MontField<6> with the MULX product and square.
class Mont6Mulx : public MontField<6> {
 public:
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const { lvmont6::mul(r, a, b, p, n0); }
  LV_INLINE void sqr(u64* r, const u64* a) const { lvmont6::sqr(r, a, p, n0); }
  void toField(u64* r, const u64* a) const { mul(r, a, r2); }
  void fromField(u64* r, const u64* a) const {
    const u64 one[6] = {1, 0, 0, 0, 0, 0};
    mul(r, a, one);
  }
};

template <>
struct SideBySide<Mont6Mulx> {
  static const bool value = true;
};

// Generator tables with 7-bit windows: 56 additions for a 384-bit scalar
// (78 with 5 bits).
template <>
struct FixedWidth<Mont6Mulx> {
  static const unsigned value = 7;
};
#endif

template <>
std::unique_ptr<Curve> makeMont<6>(const u32* p, const u32* a, const u32* b, unsigned words) {
#if defined(__x86_64__)
  if (lvcpu::hasBmi2Adx())
    return std::unique_ptr<Curve>(new Engine<Mont6Mulx>(p, a, b, words));
#endif
  return std::unique_ptr<Curve>(new Engine<MontField<6> >(p, a, b, words));
}

}  // namespace engine
}  // namespace lvepfast
