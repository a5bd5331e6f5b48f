// Signatures openssl made, checked while one allocation after another fails:
// memory running out leaves a check as out of memory, never as "the signature
// does not verify", and a domain whose validation ran out of memory is not
// left marked invalid. The signatures are also checked with the work account
// spent: that refusal passes through the same catches.
#include "failnth.h"

#include "crypto/asym/ec_sig_util.h"
#include "crypto/basic/lvexception.h"
#include "crypto/basic/lvnet.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

using namespace ectest;

namespace {

// The first line of openssl_sigs.txt that starts with `kind` and `name`.
std::istringstream lineOf(const std::string& kind, const std::string& name) {
  std::ifstream in(dataPath("openssl_sigs.txt"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(kind + " " + name + " ", 0) == 0) {
      std::istringstream ls(line);
      std::string skip;
      ls >> skip >> skip;
      return ls;
    }
  ADD_FAILURE() << kind << " " << name << " is not in openssl_sigs.txt";
  return std::istringstream();
}

// Runs `check` with allocation 1, 2, ... failing until one run makes it
// through: each run either throws out of memory or answers `expected`. The
// number of runs that met a failed allocation.
int failEachAllocation(const std::string& what, const std::function<bool()>& check,
                       bool expected = true) {
  int refused = 0;
  for (long at = 1;; ++at) {
    g_count = 0;
    g_failAt = at;
    bool answer = false;
    bool ran = false;
    try {
      answer = check();
      ran = true;
    } catch (const LvMemException&) {
    } catch (const std::bad_alloc&) {
    }
    const bool reached = g_count >= at;
    g_failAt = 0;
    if (ran) EXPECT_EQ(expected, answer) << what << ": allocation " << at << " failed";
    if (!reached) return refused;
    ++refused;
    if (at > 5000) {
      ADD_FAILURE() << what << " never ends";
      return refused;
    }
  }
}

struct Case {
  const char* kind;  // "dsa" or "ec"
  const char* name;  // L/N or the curve
};

const Case kCases[] = {
    {"dsa", "1024/160"},
    {"dsa", "2048/256"},
    {"ec", "brainpoolP256r1"},
    {"ec", "secp160r1"},
};

// One openssl signature with its key, and for EC an unchecked copy of its
// domain to validate.
struct Signed {
  explicit Signed(const Case& c) : ec(c.kind == std::string("ec")) {
    std::istringstream ls = lineOf(c.kind, c.name);
    std::string md, sigHex, m;
    if (!ec) {
      std::string p, q, g, y;
      ls >> md >> p >> q >> g >> y >> m >> sigHex;
      const Bytes pb = hex(p), qb = hex(q), gb = hex(g), yb = hex(y);
      dsa.setP(pb.data(), pb.size());
      dsa.setQ(qb.data(), qb.size());
      dsa.setG(gb.data(), gb.size());
      dsa.markValid();
      dsaKey.setDomain(&dsa);
      dsaKey.set(yb.data(), yb.size());
    } else {
      std::string point;
      ls >> md >> point >> m >> sigHex;
      curveDomain = domainOf(c.name);
      unchecked = domainOf(c.name, false);
      const CurveParams& params = curve(c.name);
      unchecked->setGroupOrder(LvModulus(LvN(params.n.data(), static_cast<unsigned>(params.n.size())) *
                                             LvN(params.h.data(), static_cast<unsigned>(params.h.size())),
                                         0));
      const Bytes h = hex(point);
      ecKey.setDomain(curveDomain.get());
      ecKey.setH(h.data(), h.size());
    }
    hash = hashId(md);
    msg = hex(m);
    EXPECT_TRUE(sequenceContents(hex(sigHex), rs)) << c.name;
  }

  bool verify() {
    if (!ec) {
      LvDsaSig sig;
      sig.setPublicKey(&dsaKey);
      const Bytes d = digest(hash, msg);
      return sig.verify(d.data(), static_cast<unsigned int>(d.size()), rs.data(),
                        static_cast<unsigned int>(rs.size()));
    }
    LvGeneralDsaSig sig;
    sig.setPublicKey(&ecKey);
    sig.setHashAlgo(hash);
    return sig.verifyMessage(msg.data(), msg.size(), rs.data(), rs.size(), 0);
  }
  // One domain throughout: a validation cut short must not be remembered.
  bool validate() { return unchecked->validate(); }

  const bool ec;
  LvDsaKeyDomain dsa;
  LvDsaPublicKey dsaKey;
  std::unique_ptr<LvEpDsaKeyDomain> curveDomain, unchecked;
  LvGeneralDsaPublicKey ecKey;
  Bytes msg, rs;
  LvHashAlgo hash = LV_HASH_SHA1;
};

}  // namespace

TEST(VerifyAllocation, OutOfMemoryIsNeverABadSignature) {
  for (const Case& c : kCases) {
    Signed s(c);
    if (s.ec) {
      // Each failure leaves the domain unvalidated, so the next run validates again.
      EXPECT_GT(failEachAllocation(std::string(c.name) + " validation", [&] { return s.validate(); }), 0);
      EXPECT_EQ(LV_DOMAIN_VALID, s.unchecked->getValidity()) << c.name;
    }
    ASSERT_TRUE(s.verify()) << c.name;
    EXPECT_GT(failEachAllocation(std::string(c.name) + " verification", [&] { return s.verify(); }), 0);
  }
}

TEST(VerifyAllocation, ASpentAccountIsNeverABadSignature) {
  static bool spent = false;
  lvnet::setTick([]() noexcept { return !spent; });
  for (const Case& c : kCases) {
    Signed s(c);
    spent = true;
    if (s.ec) {
      EXPECT_THROW(s.validate(), LvInterruptException) << c.name;
      EXPECT_NE(LV_DOMAIN_INVALID, s.unchecked->getValidity()) << c.name;
    }
    EXPECT_THROW(s.verify(), LvInterruptException) << c.name;
    spent = false;
    if (s.ec) EXPECT_TRUE(s.validate()) << c.name;
    EXPECT_TRUE(s.verify()) << c.name;
  }
  lvnet::setTick(nullptr);
}

namespace {

// Domains that pass the checks common to every domain and fail their kind's
// own: openssl's curve with a cofactor it has not, openssl's DSA domain with a
// seed that is not its own.
struct Flawed {
  const char* what;
  std::unique_ptr<LvGeneralDsaKeyDomain> (*make)();
  bool ticks;  // whether its validation does work the account counts
};

const Flawed kFlawed[] = {
    {"secp160r1 with cofactor 9",
     [] {
       std::unique_ptr<LvEpDsaKeyDomain> d = domainOf("secp160r1", false);
       const CurveParams& c = curve("secp160r1");
       const LvN n(c.n.data(), static_cast<unsigned>(c.n.size()));
       d->setCofactor(LvN(9u, 1));
       d->setGroupOrder(LvModulus(n * LvN(9u, 1), 0));
       return std::unique_ptr<LvGeneralDsaKeyDomain>(std::move(d));
     },
     true},
    {"dsa 1024/160 with a seed not its own",
     [] {
       std::istringstream ls = lineOf("dsa", "1024/160");
       std::string md, p, q, g;
       ls >> md >> p >> q >> g;
       const Bytes pb = hex(p), qb = hex(q), gb = hex(g), seed(20, 0x5a);
       std::unique_ptr<LvDsaKeyDomain> d(new LvDsaKeyDomain());
       d->setP(pb.data(), pb.size());
       d->setQ(qb.data(), qb.size());
       d->setG(gb.data(), gb.size());
       d->setSeed(seed.data(), static_cast<unsigned int>(seed.size()));
       return std::unique_ptr<LvGeneralDsaKeyDomain>(std::move(d));
     },
     false},
};

long g_ticksLeft = 0;

}  // namespace

// The generic checks pass before the kind's own run: a validation cut short
// in the latter must not leave their "valid" behind for the next to answer.
TEST(VerifyAllocation, AValidationCutShortIsNoVerdict) {
  for (const Flawed& f : kFlawed) {
    ASSERT_FALSE(f.make()->validate()) << f.what;
    std::unique_ptr<LvGeneralDsaKeyDomain> d = f.make();
    EXPECT_GT(failEachAllocation(f.what, [&] { return d->validate(); }, false), 0);
    EXPECT_EQ(LV_DOMAIN_INVALID, d->getValidity()) << f.what;
  }
}

TEST(VerifyAllocation, AValidationStoppedByTheAccountIsNoVerdict) {
  lvnet::setTick([]() noexcept { return g_ticksLeft-- > 0; });
  for (const Flawed& f : kFlawed) {
    if (!f.ticks) continue;
    std::unique_ptr<LvGeneralDsaKeyDomain> d = f.make();
    // The account spent after 0, 1, 2, ... ticks, until the validation ends.
    long stopped = 0;
    for (long ticks = 0;; ++ticks) {
      g_ticksLeft = ticks;
      bool answer = true;
      try {
        answer = d->validate();
      } catch (const LvInterruptException&) {
        ++stopped;
        EXPECT_NE(LV_DOMAIN_VALID, d->getValidity()) << f.what << ": " << ticks << " ticks";
        continue;
      }
      EXPECT_FALSE(answer) << f.what << ": " << ticks << " ticks";
      break;
    }
    EXPECT_GT(stopped, 1) << f.what;
    EXPECT_EQ(LV_DOMAIN_INVALID, d->getValidity()) << f.what;
  }
  lvnet::setTick(nullptr);
}
