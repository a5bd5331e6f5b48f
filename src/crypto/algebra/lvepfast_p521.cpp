// Scalar multiplication engine for the field of 2^521 - 1: the portable
// field, or the one whose products use MULX where the processor has it.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {
namespace engine {

#if defined(__x86_64__)
namespace p521mulx {
__attribute__((target("bmi2"))) void product(u64* r, const u64* a, const u64* b) {
  P521Field::product(r, a, b);
}
__attribute__((target("bmi2"))) void square(u64* r, const u64* a) { P521Field::square(r, a); }
}  // namespace p521mulx
#endif

std::unique_ptr<Curve> makeP521(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path) {
  if (path == FieldPath::kAuto) path = lvcpu::hasBmi2() ? FieldPath::kMulx : FieldPath::kPortable;
#if defined(__x86_64__)
  if (path == FieldPath::kMulx) {
    if (!lvcpu::hasBmi2()) return nullptr;
    return std::unique_ptr<Curve>(new Engine<P521FieldMulx>(p, a, b, words));
  }
#endif
  if (path == FieldPath::kPortable)
    return std::unique_ptr<Curve>(new Engine<P521Field>(p, a, b, words));
  return nullptr;
}

}  // namespace engine
}  // namespace lvepfast
