// Scalar multiplication engine for 2-limb Montgomery fields.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {
namespace engine {
template std::unique_ptr<Curve> makeMont<2>(const u32*, const u32*, const u32*, unsigned);
}  // namespace engine
}  // namespace lvepfast
