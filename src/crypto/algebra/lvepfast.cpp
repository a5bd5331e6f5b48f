// Scalar multiplication engine of the prime-field curves (see lvepfast.h):
// the choice of field; the engine itself is in lvepfast_engine.h.
#include "crypto/algebra/lvepfast_engine.h"

namespace lvepfast {

namespace {

using engine::makeMont;
using engine::u32;

bool isP521(const u32* p, unsigned words) {
  if (words != 17 || p[16] != 0x1FF) return false;
  for (unsigned i = 0; i < 16; i++)
    if (p[i] != 0xFFFFFFFFu) return false;
  return true;
}

// 2^256 - 2^224 + 2^192 + 2^96 - 1, least significant word first
bool isP256(const u32* p, unsigned words) {
  static const u32 k[8] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 0, 1, 0xFFFFFFFFu};
  if (words != 8) return false;
  for (unsigned i = 0; i < 8; i++)
    if (p[i] != k[i]) return false;
  return true;
}

}  // namespace

FixedBase::~FixedBase() {}
Curve::~Curve() {}

std::unique_ptr<Curve> Curve::create(const u32* p, const u32* a, const u32* b, unsigned words,
                                     FieldPath path) {
  if (words == 0 || (p[0] & 1) == 0) return nullptr;
  if (path != FieldPath::kGeneric) {
    if (isP256(p, words)) return engine::makeP256(p, a, b, words, path);
    if (path != FieldPath::kAuto) return nullptr;
  }
  if (path == FieldPath::kAuto && isP521(p, words)) return engine::makeP521(p, a, b, words);
  switch ((words + 1) / 2) {
    case 1:
    case 2:
      return makeMont<2>(p, a, b, words);
    case 3:
      return makeMont<3>(p, a, b, words);
    case 4:
      return makeMont<4>(p, a, b, words);
    case 5:
      return makeMont<5>(p, a, b, words);
    case 6:
      return makeMont<6>(p, a, b, words);
    case 7:
      return makeMont<7>(p, a, b, words);
    case 8:
      return makeMont<8>(p, a, b, words);
    case 9:
      return makeMont<9>(p, a, b, words);
    default:
      return nullptr;
  }
}

}  // namespace lvepfast
