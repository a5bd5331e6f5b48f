// Scalar multiplication engine of the prime-field curves.
//
// The curve groups (LvEp, LvCryptoEp) keep their points in the layout their
// interfaces promise; the hot operations k·P and k1·P + k2·Q are handed to
// this engine, which runs on 64-bit limbs (Montgomery form, or the direct
// reduction for 2^521 - 1), recodes scalars into signed windows and, for a
// fixed base such as a domain generator, adds from a table of affine multiples
// without any doubling.
//
// Interface values are 32-bit words, least significant first. A point is three
// consecutive coordinate vectors (X, Y, Z) of `words` words each, Jacobian and
// in ordinary (not Montgomery) form; Z = 0 is the point at infinity.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace lvepfast {

// Affine multiples of one fixed point, made by Curve::makeFixedBase.
class FixedBase {
 public:
  virtual ~FixedBase();
  // Largest scalar bit length the table covers.
  virtual unsigned maxBits() const = 0;
};

// A table made in stages, each a bounded share of the work (a few hundred
// entries with their conversion to affine form), so no single call pays for
// the whole: made by Curve::fixedBaseInStages.
class FixedBaseBuilder {
 public:
  virtual ~FixedBaseBuilder();
  // Makes the next stage; true once the last one is done.
  virtual bool step() = 0;
  // The table after the last stage; null when p proved not to be prime.
  virtual std::unique_ptr<FixedBase> finish() = 0;
};

// The field arithmetic behind a curve: kAuto picks the best the processor
// and the prime allow; the others exist so tests can set the paths side by
// side (kGeneric: Montgomery for any prime; kPortable and kMulx: the own
// field of the P-256 or the P-521 prime, on unsigned __int128 or with MULX
// (and ADCX/ADOX for P-256); kIfma: the P-521 field on 50-bit limbs with
// AVX-512 IFMA).
enum class FieldPath { kAuto, kGeneric, kPortable, kMulx, kIfma };

class Curve {
 public:
  virtual ~Curve();

  // p (odd prime), a and b below p, each `words` words. Null when p is longer
  // than the engine handles (more than 576 bits), or when `path` is not
  // available for p on this processor.
  static std::unique_ptr<Curve> create(const std::uint32_t* p, const std::uint32_t* a,
                                       const std::uint32_t* b, unsigned words,
                                       FieldPath path = FieldPath::kAuto);

  virtual unsigned words() const = 0;

  // out := k·P. out may be P.
  virtual void mul(std::uint32_t* out, const std::uint32_t* k, unsigned kWords,
                   const std::uint32_t* P) const = 0;

  // out := k1·P1 + k2·P2. `base1` is P1's fixed table or null.
  virtual void mul2(std::uint32_t* out, const std::uint32_t* k1, unsigned k1Words,
                    const std::uint32_t* P1, const FixedBase* base1, const std::uint32_t* k2,
                    unsigned k2Words, const std::uint32_t* P2) const = 0;

  // out := k·P from P's table (falls back to mul when k is too long).
  virtual void mulFixed(std::uint32_t* out, const std::uint32_t* k, unsigned kWords,
                        const std::uint32_t* P, const FixedBase* base) const = 0;

  // Affine x of k·P (`words` words; 0 for the point at infinity), in time and
  // memory access independent of k: every window is processed, table entries
  // are read by a scan of the whole row, the exceptional cases of the
  // additions are chosen by mask. kBits (public) bounds the length of k;
  // `base` is P's table or null. For secret scalars (signing nonces).
  virtual void mulSecretX(std::uint32_t* x, const std::uint32_t* k, unsigned kWords,
                          unsigned kBits, const std::uint32_t* P, const FixedBase* base) const = 0;

  // Table of P for scalars of up to `maxBits` bits; null when p proves not to
  // be prime (the table's inversion fails).
  std::unique_ptr<FixedBase> makeFixedBase(const std::uint32_t* P, unsigned maxBits) const;

  // The same table, made a stage at a time.
  virtual std::unique_ptr<FixedBaseBuilder> fixedBaseInStages(const std::uint32_t* P,
                                                              unsigned maxBits) const = 0;
};

// A fixed point's table as the curve groups keep it: complete from the
// start, or made in stages over the point's first fixed-base
// multiplications, so that a domain costs little until it is used often.
// Thread-safe; copies of a point share it.
class FixedTable {
 public:
  explicit FixedTable(std::unique_ptr<FixedBase> complete);
  FixedTable(std::shared_ptr<const Curve> curve, std::unique_ptr<FixedBaseBuilder> builder);
  ~FixedTable();
  // The table when complete; else makes one more stage (unless another
  // thread is at it) and gives the table if that stage completed it, else
  // null.
  const FixedBase* use();
  // The table when complete, doing no work.
  const FixedBase* complete() const { return done_.load(std::memory_order_acquire); }

 private:
  std::mutex m_;
  std::atomic<const FixedBase*> done_{nullptr};
  std::unique_ptr<FixedBase> table_;
  std::shared_ptr<const Curve> curve_;  // keeps the builder's engine alive
  std::unique_ptr<FixedBaseBuilder> builder_;
};

// The table for k1·P1 + k2·P2 from the points' tables (either may be null):
// one stage of a table in the making per multiplication, whichever point has
// it. Sets `swap` when it is P2's: the tabled point goes first.
const FixedBase* tableOfPair(FixedTable* t1, FixedTable* t2, bool* swap);

}  // namespace lvepfast
