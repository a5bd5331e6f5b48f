// Diffie-Hellman over GF(p) against RFC 5114 exchanges, the Botan-derived
// vectors, exchanges agreed by `openssl pkeyutl -derive` (tests/data/dh,
// made by make_dh_fixtures.py) and SHA-1 stretching computed by hashlib.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "crypto/asym/lvdhgfpsecret.h"
#include "crypto/rbg/lvrbgdss.h"

namespace {

typedef std::map<std::string, std::string> Record;

// "NAME = value" records, each started by a COUNT line.
std::vector<Record> readRecords(const std::string& file) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/dh/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<Record> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
      continue;
    std::string name = line.substr(0, line.find_first_of(" =")), value = line.substr(eq + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (name == "COUNT")
      out.emplace_back();
    else if (!out.empty())
      out.back()[name] = value;
  }
  return out;
}

LvN hexN(const std::string& hex) { return LvN(("0x" + hex).c_str()); }

std::vector<LvOctet> hexBytes(const std::string& hex) {
  std::vector<LvOctet> out;
  for (std::size_t j = 0; j + 1 < hex.size(); j += 2)
    out.push_back(static_cast<LvOctet>(std::stoul(hex.substr(j, 2), nullptr, 16)));
  return out;
}

std::vector<LvOctet> octets(const LvN& v) {
  std::vector<LvOctet> out(v.getOctetLength());
  v.getOctets(out.data(), static_cast<unsigned int>(out.size()));
  return out;
}

std::vector<LvOctet> secretOf(LvAsymSecret& s) {
  std::vector<LvOctet> out(s.getSecretLength());
  EXPECT_EQ(s.getSecret(out.data(), static_cast<unsigned int>(out.size())), out.size());
  return out;
}

// A domain and one party's keys from numbers.
struct Party {
  LvDhGFpKeyDomain domain;
  LvDhGFpPrivateKey own;
  LvDhGFpPublicKey peer;
  Party(const LvN& p, const LvN& q, const LvN& g, const LvN& x, const LvN& peerY) {
    setNumbers(p, q, g);
    own.setDomain(&domain);
    own.setX(x);
    own.setY(pow(LvZn(g, &domain.getP()), x).getN());
    peer.setDomain(&domain);
    peer.setKey(peerY);
  }
  void setNumbers(const LvN& p, const LvN& q, const LvN& g) {
    std::vector<LvOctet> po = octets(p), qo = octets(q), go = octets(g);
    domain.setP(po.data(), static_cast<unsigned int>(po.size()));
    domain.setQ(qo.data(), static_cast<unsigned int>(qo.size()));
    domain.setG(go.data(), static_cast<unsigned int>(go.size()));
    domain.markValid();
  }
  std::vector<LvOctet> agree() {
    LvDhGFpSecret s;
    s.setPublicKey(&peer);
    s.setPrivateKey(&own);
    s.generateSecret();
    return secretOf(s);
  }
};

// The octet stream from which LvN::random(bits) reads exactly x: words least
// significant first, each drawn most significant octet first.
std::vector<LvOctet> streamFor(const LvN& x, unsigned int bits) {
  std::vector<LvOctet> out;
  for (unsigned int i = 0; i < (bits + 31) / 32; ++i) {
    LvWord w = i < x.getUsed() ? x[i] : 0;
    for (int s = 24; s >= 0; s -= 8)
      out.push_back(static_cast<LvOctet>(w >> s));
  }
  return out;
}

std::vector<LvOctet> tlsAgree(const LvN& p, const LvN& g, const LvN& peerY, const LvN& x,
                              unsigned int bits, LvN* ownY) {
  LvDhGFpSecret_CTLSV1 s;
  std::vector<LvOctet> po = octets(p), go = octets(g), yo = octets(peerY);
  s.setP(po.data(), static_cast<unsigned int>(po.size()));
  s.setG(go.data(), static_cast<unsigned int>(go.size()));
  s.setPeerKey(yo.data(), static_cast<unsigned int>(yo.size()));
  std::vector<LvOctet> stream = streamFor(x, bits);
  LvRbgSimple rbg(stream.data(), static_cast<unsigned int>(stream.size()));
  LvDhGFpPublicKey_CTLSV1 pub;
  s.generateKeyPair(pub, &rbg);
  EXPECT_EQ(s.getKeyBits(2), x.getBitLength());
  EXPECT_EQ(s.getKeyBits(1), peerY.getBitLength());
  *ownY = pub.getValue();
  s.generateSecret();
  return secretOf(s);
}

TEST(DhVectors, Rfc5114ExchangesAgreeBothWays) {
  std::vector<Record> recs = readRecords("RFC5114.txt");
  ASSERT_EQ(recs.size(), 3u);
  // The TLS form draws a 160-bit x for a 1024-bit p and a 224-bit one for
  // 2048 bits: the RFC's own values for the first two groups have those sizes.
  const unsigned int tlsBits[3] = {160, 224, 0};
  for (std::size_t i = 0; i < recs.size(); ++i) {
    Record& r = recs[i];
    LvN p = hexN(r["P"]), q = hexN(r["Q"]), g = hexN(r["G"]), z = hexN(r["Z"]);
    Party iut(p, q, g, hexN(r["XstatIUT"]), hexN(r["YstatCAVS"]));
    Party cavs(p, q, g, hexN(r["XstatCAVS"]), hexN(r["YstatIUT"]));
    EXPECT_EQ(iut.agree(), octets(z));
    EXPECT_EQ(cavs.agree(), octets(z));
    if (tlsBits[i]) {
      LvN ownY;
      EXPECT_EQ(tlsAgree(p, g, hexN(r["YstatCAVS"]), hexN(r["XstatIUT"]), tlsBits[i], &ownY),
                octets(z));
      EXPECT_TRUE(ownY == hexN(r["YstatIUT"]));
    }

    // Key-pair generation draws (octets of q) octets and reduces them modulo q.
    std::vector<LvOctet> seed(q.getOctetLength());
    hexN(r["XstatIUT"]).getOctets(seed.data(), static_cast<unsigned int>(seed.size()), 1);
    LvRbgSimple rbg(seed.data(), static_cast<unsigned int>(seed.size()));
    LvDhGFpPublicKey pub;
    LvDhGFpPrivateKey priv;
    generateKeyPair(pub, priv, &iut.domain, &rbg);
    EXPECT_TRUE(priv.getX() == hexN(r["XstatIUT"]));
    EXPECT_TRUE(pub.getKey() == hexN(r["YstatIUT"]));
    EXPECT_TRUE(priv.getY() == hexN(r["YstatIUT"]));
  }
}

TEST(DhVectors, BotanVectors) {
  std::vector<Record> recs = readRecords("vec.txt");
  ASSERT_EQ(recs.size(), 5u);
  for (Record& r : recs) {
    LvN p(r["P"].c_str()), g(r["G"].c_str());
    // No subgroup order is given: p - 1 stands for it.
    Party party(p, p - 1u, g, LvN(r["X"].c_str()), LvN(r["Y"].c_str()));
    std::vector<LvOctet> k = octets(hexN(r["K"]));
    EXPECT_EQ(party.agree(), k) << r["P"];
  }
}

TEST(DhVectors, OpensslExchanges) {
  std::vector<Record> recs = readRecords("openssl_exchanges.txt");
  ASSERT_EQ(recs.size(), 4u);
  for (Record& r : recs) {
    LvN p = hexN(r["P"]), g = hexN(r["G"]), q = (p - 1u) / LvN(LvWord(2), 1);
    LvN xa = hexN(r["XA"]), xb = hexN(r["XB"]), ya = hexN(r["YA"]), yb = hexN(r["YB"]);
    std::vector<LvOctet> z = octets(hexN(r["Z"]));
    EXPECT_EQ(z.size() * 2, r["Z"].size());
    Party a(p, q, g, xa, yb), b(p, q, g, xb, ya);
    EXPECT_EQ(a.agree(), z);
    EXPECT_EQ(b.agree(), z);
    ASSERT_LE(xa.getBitLength(), 224u);
    LvN ownY;
    EXPECT_EQ(tlsAgree(p, g, yb, xa, 224, &ownY), z);
    EXPECT_TRUE(ownY == ya);
  }
  // The last exchange agrees on a value with a zero leading octet: the secret
  // is one octet shorter than p.
  EXPECT_EQ(recs[3]["Z"].size() / 2 + 1, hexN(recs[3]["P"]).getOctetLength());
}

TEST(DhVectors, PeerValueOutsideTheOpenRangeIsRefused) {
  Record r = readRecords("RFC5114.txt")[0];
  LvN p = hexN(r["P"]), q = hexN(r["Q"]), g = hexN(r["G"]), x = hexN(r["XstatIUT"]);
  // A zero value is no key at all (not ready); 1, p - 1 and values not
  // below p are refused.
  Party zero(p, q, g, x, LvN(LvWord(0), 1));
  EXPECT_THROW(zero.agree(), LvNotInitException);
  const LvN bad[4] = {LvN(LvWord(1), 1), p - 1u, p, p + 1u};
  for (const LvN& y : bad) {
    Party party(p, q, g, x, y);
    EXPECT_THROW(party.agree(), LvInvalidKeyException);
    LvN ownY;
    EXPECT_THROW(tlsAgree(p, g, y, x, 160, &ownY), LvInvalidKeyException);
  }
  // Where q is known, a value in range but outside the subgroup of order q
  // (2 and p - 2 here) is refused too; the TLS form, which has no q, takes them.
  const LvN outside[2] = {LvN(LvWord(2), 1), p - 2u};
  for (const LvN& y : outside) {
    Party party(p, q, g, x, y);
    EXPECT_THROW(party.agree(), LvInvalidKeyException);
    LvN ownY;
    EXPECT_NO_THROW(tlsAgree(p, g, y, x, 160, &ownY));
  }
  const LvModulus pm(p, 0);
  Party member(p, q, g, x, pow(LvZn(g, &pm), LvN(LvWord(5), 1)).getN());
  EXPECT_EQ(member.agree(), octets(pow(LvZn(g, &pm), LvWord(5) * x).getN()));

  // An exchange between different groups: the peer's value exceeds our p.
  Record e = readRecords("bad_exchange.txt")[0];
  LvN p1(e["P1"].c_str()), y2(e["Y2"].c_str());
  ASSERT_TRUE(y2 > p1);
  LvN ownY;
  EXPECT_THROW(tlsAgree(p1, LvN(e["G"].c_str()), y2, LvN(LvWord(12345), 1), 160, &ownY),
               LvInvalidKeyException);
}

TEST(DhVectors, DeriveKeyStretchesWithSha1) {
  Record r;
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/dh/derive_key.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::size_t eq = line.find(" = ");
    if (eq != std::string::npos)
      r[line.substr(0, eq)] = line.substr(eq + 3);
    else if (line.size() > 3 && line.compare(line.size() - 2, 2, " =") == 0)
      r[line.substr(0, line.size() - 2)] = "";
  }
  // An agreement whose result is ZZ: the peer's value ZZ and x = 1.
  Record ex = readRecords("openssl_exchanges.txt")[0];
  LvN p = hexN(ex["P"]), zz = hexN(r["ZZ"]);
  Party party(p, (p - 1u) / LvN(LvWord(2), 1), hexN(ex["G"]), LvN(LvWord(1), 1), zz);
  LvDhGFpSecret s;
  s.setPublicKey(&party.peer);
  s.setPrivateKey(&party.own);
  s.generateSecret();
  ASSERT_EQ(secretOf(s), octets(zz));
  std::vector<LvOctet> parts[5];
  for (int i = 0; i < 5; ++i)
    parts[i] = hexBytes(r["P" + std::to_string(i + 1)]);
  auto part = [&](int i) { return parts[i].empty() ? nullptr : parts[i].data(); };
  auto len = [&](int i) { return static_cast<unsigned int>(parts[i].size()); };
  std::vector<LvOctet> out(60, 0xEE);
  s.deriveKey(out.data(), 50, part(0), len(0), part(1), len(1), part(2), len(2), part(3), len(3),
              part(4), len(4));
  EXPECT_EQ(std::vector<LvOctet>(out.begin(), out.begin() + 50), hexBytes(r["OUT"]));
  EXPECT_EQ(out[50], 0xEE);
  // Zero octets write nothing.
  std::vector<LvOctet> none(4, 0xEE);
  s.deriveKey(none.data(), 0, part(0), len(0), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  EXPECT_EQ(none, std::vector<LvOctet>(4, 0xEE));
}

}  // namespace
