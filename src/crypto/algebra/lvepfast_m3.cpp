// Scalar multiplication engine for 3-limb Montgomery fields.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {
namespace engine {
template std::unique_ptr<Curve> makeMont<3>(const u32*, const u32*, const u32*, unsigned);
}  // namespace engine
}  // namespace lvepfast
