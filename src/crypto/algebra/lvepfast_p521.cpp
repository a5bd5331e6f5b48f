// Scalar multiplication engine for the field of 2^521 - 1.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {
namespace engine {

std::unique_ptr<Curve> makeP521(const u32* p, const u32* a, const u32* b, unsigned words) {
  return std::unique_ptr<Curve>(new Engine<P521Field>(p, a, b, words));
}

}  // namespace engine
}  // namespace lvepfast
