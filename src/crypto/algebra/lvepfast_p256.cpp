// Scalar multiplication engine for the P-256 prime (see lvp256field.h).
#include "crypto/algebra/lvp256field.h"
#include "crypto/basic/lvcpu.h"

namespace lvepfast {
namespace engine {

std::unique_ptr<Curve> makeP256(const u32* p, const u32* a, const u32* b, unsigned words,
                                FieldPath path) {
  if (path == FieldPath::kAuto) path = lvcpu::hasBmi2Adx() ? FieldPath::kMulx : FieldPath::kPortable;
#if defined(__x86_64__)
  if (path == FieldPath::kMulx) {
    if (!lvcpu::hasBmi2Adx()) return nullptr;
    return std::unique_ptr<Curve>(new Engine<P256Field<P256Mulx> >(p, a, b, words));
  }
#endif
  if (path == FieldPath::kPortable)
    return std::unique_ptr<Curve>(new Engine<P256Field<P256Portable> >(p, a, b, words));
  return nullptr;
}

}  // namespace engine
}  // namespace lvepfast
