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
FixedBaseBuilder::~FixedBaseBuilder() {}
Curve::~Curve() {}

std::unique_ptr<FixedBase> Curve::makeFixedBase(const u32* P, unsigned maxBits) const {
  std::unique_ptr<FixedBaseBuilder> b = fixedBaseInStages(P, maxBits);
  while (!b->step()) {
  }
  return b->finish();
}

FixedTable::FixedTable(std::unique_ptr<FixedBase> complete) : table_(std::move(complete)) {
  done_.store(table_.get(), std::memory_order_release);
}

FixedTable::FixedTable(std::shared_ptr<const Curve> curve, std::unique_ptr<FixedBaseBuilder> builder)
    : curve_(std::move(curve)), builder_(std::move(builder)) {}

FixedTable::~FixedTable() {}

const FixedBase* FixedTable::use() {
  if (const FixedBase* t = complete()) return t;
  std::unique_lock<std::mutex> lock(m_, std::try_to_lock);
  // another thread is making a stage: this multiplication goes without
  if (!lock.owns_lock() || !builder_) return complete();
  if (builder_->step()) {
    table_ = builder_->finish();
    builder_.reset();
    done_.store(table_.get(), std::memory_order_release);
  }
  return complete();
}

std::unique_ptr<Curve> Curve::create(const u32* p, const u32* a, const u32* b, unsigned words,
                                     FieldPath path) {
  if (words == 0 || (p[0] & 1) == 0) return nullptr;
  if (path != FieldPath::kGeneric) {
    if (isP256(p, words)) return engine::makeP256(p, a, b, words, path);
    if (isP521(p, words)) return engine::makeP521(p, a, b, words, path);
    if (path != FieldPath::kAuto) return nullptr;
  }
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

const FixedBase* tableOfPair(FixedTable* t1, FixedTable* t2, bool* swap) {
  *swap = false;
  if (const FixedBase* t = t1 ? t1->use() : nullptr) return t;
  if (!t2 || t2 == t1) return nullptr;
  const FixedBase* t = t2->use();
  *swap = t != nullptr;
  return t;
}

}  // namespace lvepfast
