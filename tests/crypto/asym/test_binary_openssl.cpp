// EC-DSA on every binary curve of the named-curve table against the openssl
// command, with keys and messages drawn afresh each run: signatures made
// here (key, public point and the constant-time signing ladder) verify with
// `openssl dgst -verify`, and signatures openssl makes with keys it generates
// verify here. A curve the table writes without an OID (the FIPS 186 rows) is
// sent under the OID of the row with the same parameters.
#include "crypto/asym/ec_sig_util.h"
#include "crypto/asym/lvnamedcurves.h"

#include <cstdio>
#include <random>
#include <vector>

using namespace ectest;

namespace {

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// An OID in dotted text as DER contents.
Bytes oidContents(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  std::istringstream in(dotted);
  std::string part;
  while (std::getline(in, part, '.')) arcs.push_back(std::stoul(part));
  Bytes out{static_cast<std::uint8_t>(arcs[0] * 40 + arcs[1])};
  for (std::size_t i = 2; i < arcs.size(); i++) {
    Bytes enc{static_cast<std::uint8_t>(arcs[i] & 0x7F)};
    for (unsigned long v = arcs[i] >> 7; v; v >>= 7)
      enc.insert(enc.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
    out.insert(out.end(), enc.begin(), enc.end());
  }
  return out;
}

// The parameters of a binary domain as octets, for finding a row's twin.
Bytes parametersOf(const LvE2nDsaKeyDomain* d) {
  Bytes out, buf(512);
  unsigned int m = 0;
  auto take = [&](unsigned int n) { out.insert(out.end(), buf.begin(), buf.begin() + n); };
  take(d->getPolynomial(&m, buf.data(), 512));
  take(d->getA(buf.data(), 512));
  take(d->getB(buf.data(), 512));
  take(d->getGen(buf.data(), 512));
  take(d->getOrder(buf.data(), 512));
  return out;
}

struct BinaryCurve {
  const LvNamedCurve* row;
  std::string oid;  // the row's, or its twin's
};

std::vector<BinaryCurve> binaryCurves() {
  std::vector<BinaryCurve> out;
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++) {
    const LvNamedCurve* r = NamedCurveTable::byId(id);
    if (!r->isBinary || !r->binaryDomain) continue;
    BinaryCurve c{r, r->oid ? r->oid : ""};
    for (unsigned int j = 1; c.oid.empty() && j <= NamedCurveTable::kCount; j++) {
      const LvNamedCurve* t = NamedCurveTable::byId(j);
      if (t->isBinary && t->binaryDomain && t->oid &&
          parametersOf(t->binaryDomain) == parametersOf(r->binaryDomain))
        c.oid = t->oid;
    }
    out.push_back(c);
  }
  return out;
}

// The signature's INTEGER contents, r and s.
bool splitSignature(const Bytes& der, Bytes& r, Bytes& s) {
  Bytes body;
  if (!sequenceContents(der, body)) return false;
  std::size_t i = 0;
  for (Bytes* out : {&r, &s}) {
    if (i + 2 > body.size() || body[i] != 0x02 || body[i + 1] >= 0x80) return false;
    const std::size_t len = body[i + 1];
    if (i + 2 + len > body.size()) return false;
    out->assign(body.begin() + static_cast<long>(i + 2), body.begin() + static_cast<long>(i + 2 + len));
    i += 2 + len;
  }
  return i == body.size();
}

}  // namespace

TEST(BinaryCurvesOpenssl, SignHereVerifyThereAndTheReverse) {
  OpensslDgst openssl;
  ASSERT_TRUE(openssl.ready()) << "the openssl command is needed";
  const unsigned int seed = std::random_device()();
  std::mt19937 draw(seed);
  auto octets = [&draw](std::size_t n) {
    Bytes b(n);
    for (auto& o : b) o = static_cast<std::uint8_t>(draw());
    return b;
  };
  char dirTemplate[] = "/tmp/tal-e2n-ossl-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const std::vector<BinaryCurve> curves = binaryCurves();
  EXPECT_EQ(curves.size(), 50u);
  for (const BinaryCurve& c : curves) {
    SCOPED_TRACE(std::string(c.row->name) + " (seed " + std::to_string(seed) + ")");
    ASSERT_FALSE(c.oid.empty());
    const LvE2nDsaKeyDomain* dom = c.row->binaryDomain;
    const LvGroup* g = dom->getGroup();
    const Bytes msg = octets(1 + draw() % 200);
    const Bytes dg = digest(LV_HASH_SHA256, msg);

    // a random key below the order (its top bit cleared), signed here
    Bytes dOct = octets(dom->getOrder().getOctetLength());
    const unsigned int topBits = dom->getOrder().getBitLength() % 8;
    dOct[0] &= static_cast<std::uint8_t>(topBits ? (1u << (topBits - 1)) - 1 : 0x7F);
    dOct.back() |= 1;
    LvGeneralDsaPrivateKey priv;
    priv.setDomain(dom);
    priv.setKey(dOct.data(), static_cast<unsigned int>(dOct.size()));
    std::unique_ptr<LvGroupElem> H(g->createMul(priv.getKey(), dom->getGen()));
    Bytes point(g->getOctetStringEncodingLen(H.get()));
    point.resize(g->asOctetString(H.get(), point.data(), static_cast<unsigned int>(point.size())));
    LvGeneralDsaSig signer;
    CountingRbg rbg(static_cast<std::uint8_t>(draw()));
    signer.setRbg(&rbg);
    signer.setPrivateKey(&priv);
    Bytes rs(signer.getMaxSignatureOctets());
    rs.resize(signer.sign(dg.data(), static_cast<unsigned int>(dg.size()), rs.data(),
                          static_cast<unsigned int>(rs.size())));
    const Bytes spki = ecSpki(oidContents(c.oid), point);
    EXPECT_TRUE(openssl.verifies(spki, "sha256", msg, tlv(0x30, rs)));
    Bytes other = msg;
    other[0] ^= 0x01;
    EXPECT_FALSE(openssl.verifies(spki, "sha256", other, tlv(0x30, rs)));

    // a key openssl generates, and its signature, checked here
    writeFile(dir + "/msg.bin", msg);
    writeFile(dir + "/curve.der", tlv(0x06, oidContents(c.oid)));
    const std::string cmd = "cd " + dir + " && openssl ecparam -inform DER -in curve.der -genkey "
                            "-noout -out key.pem && openssl ec -in key.pem -pubout -outform DER "
                            "-out pub.der && openssl dgst -sha256 -sign key.pem -out sig.der msg.bin";
    ASSERT_EQ(std::system((cmd + " 2>/dev/null").c_str()), 0) << cmd;
    const Bytes pub = readAll(dir + "/pub.der");
    const std::size_t pointLen = g->getOctetStringEncodingLen(H.get());
    ASSERT_GT(pub.size(), pointLen);
    const Bytes theirs(pub.end() - static_cast<long>(pointLen), pub.end());
    ASSERT_EQ(theirs[0], 0x04);
    Bytes r, s;
    ASSERT_TRUE(splitSignature(readAll(dir + "/sig.der"), r, s));
    LvGeneralDsaPublicKey key;
    key.setDomain(dom);
    key.setH(theirs.data(), static_cast<unsigned int>(theirs.size()));
    LvGeneralDsaSig checker;
    checker.setPublicKey(&key);
    EXPECT_TRUE(checker.verify(dg.data(), static_cast<unsigned int>(dg.size()), r.data(),
                               static_cast<unsigned int>(r.size()), s.data(),
                               static_cast<unsigned int>(s.size())));
    const Bytes dgOther = digest(LV_HASH_SHA256, other);
    EXPECT_FALSE(checker.verify(dgOther.data(), static_cast<unsigned int>(dgOther.size()), r.data(),
                                static_cast<unsigned int>(r.size()), s.data(),
                                static_cast<unsigned int>(s.size())));
  }
  std::system(("rm -rf " + dir).c_str());
}
