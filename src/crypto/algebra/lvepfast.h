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

#include <cstdint>
#include <memory>

namespace lvepfast {

// Affine multiples of one fixed point, made by Curve::makeFixedBase.
class FixedBase {
 public:
  virtual ~FixedBase();
  // Largest scalar bit length the table covers.
  virtual unsigned maxBits() const = 0;
};

// The field arithmetic behind a curve: kAuto picks the best the processor
// and the prime allow; the others exist so tests can set the paths side by
// side (kGeneric: Montgomery for any prime; kPortable and kMulx: the P-256
// prime's own, on unsigned __int128 or with MULX/ADCX/ADOX).
enum class FieldPath { kAuto, kGeneric, kPortable, kMulx };

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
  virtual std::unique_ptr<FixedBase> makeFixedBase(const std::uint32_t* P,
                                                   unsigned maxBits) const = 0;
};

}  // namespace lvepfast
