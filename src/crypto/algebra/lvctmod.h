// Constant-time arithmetic modulo an odd public modulus, for the secrets of
// signing (nonces, private keys) modulo a group order.
//
// The modulus is public; every value is a fixed number of 64-bit limbs and
// every operation takes the same time and touches the same memory whatever
// the values are: no normalised lengths, no branch or index on a value, final
// subtractions by mask. Residues are kept in Montgomery form (R = 2^(64L))
// unless a function says "plain".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/algebra/lvctinv4.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvsecret.h"


class LvCtMod {
 public:
  typedef std::uint64_t Limb;
  typedef std::vector<Limb> Num;
  // Longest modulus: 2048 bits (group orders are far shorter).
  static constexpr unsigned int kMaxLimbs = 32;

  // m odd and above 1; LvArgumentRangeException otherwise.
  explicit LvCtMod(const LvN& m);

  unsigned int limbs() const { return L; }
  unsigned int bits() const { return mBits; }
  Num zero() const { return Num(L, 0); }

  // Plain residue of a big-endian octet string of any (public) length.
  void fromOctets(Num& r, const LvOctet* oct, unsigned int len) const;
  // Plain residue of n little-endian 32-bit words (a public count).
  void fromWords(Num& r, const LvWord* w, unsigned int n) const;
  // Plain residue of a number (its used length is taken as public).
  void fromN(Num& r, const LvN& a) const;
  // A plain residue as exactly len big-endian octets (len covers the modulus).
  void toOctets(LvOctet* out, unsigned int len, const Num& a) const;
  // A plain residue as exactly n little-endian 32-bit words (n covers it).
  void toWords(LvWord* out, unsigned int n, const Num& a) const;

  void toMont(Num& r, const Num& a) const;
  void fromMont(Num& r, const Num& a) const;
  void add(Num& r, const Num& a, const Num& b) const;
  void mul(Num& r, const Num& a, const Num& b) const;
  // r := a^-1 for a prime to m (Montgomery form in, out): a^(m-2) for a prime
  // m; for four limbs by divsteps, for any odd m. a = 0 gives 0; an a sharing
  // a factor with m gives no inverse (check the product).
  void inverse(Num& r, const Num& a) const;
  // All ones when a is zero, else 0 (either form).
  Limb zeroMask(const Num& a) const;
  // All ones when a (Montgomery form) is one.
  Limb oneMask(const Num& a) const;

 private:
  void redcInto(Limb* r, Limb* t) const;

  unsigned int L;
  unsigned int mBits;
  Num m;
  Limb n0;   // -m^-1 mod 2^64
  Num r2;    // R^2 mod m
  Num one;   // R mod m
  Num exp;   // m - 2, plain
  Num r3;    // R^3 mod m (four limbs: the divsteps inverse leaves R^-1 to undo)
  lvctinv4::Modulus inv4;
};
