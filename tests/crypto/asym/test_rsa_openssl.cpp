// Round trips with the openssl command line: signatures and cipher texts made
// by openssl (committed fixtures) are verified and decrypted here; cipher texts
// and signatures made here are decrypted and verified by openssl when the
// command is on this machine.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "crypto/algebra/test_num_util.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"

namespace {

using namespace numtest;

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct Keys {
  LvRsaPublicKey pub;
  LvRsaPrivateKey priv;
  Keys() {
    std::map<std::string, Bytes> c = keyFile("openssl_key.txt");
    auto len = [&](const char* n) { return static_cast<unsigned int>(c[n].size()); };
    pub.setN(c["n"].data(), len("n"));
    pub.setE(c["e"].data(), len("e"));
    priv.setN(c["n"].data(), len("n"));
    priv.setE(c["e"].data(), len("e"));
    priv.setD(c["d"].data(), len("d"));
    priv.setP(c["p"].data(), len("p"));
    priv.setQ(c["q"].data(), len("q"));
    priv.setQInv(c["qinv"].data(), len("qinv"));
    priv.prepare();
  }
};

bool haveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

std::string tempDir() {
  char tmpl[] = "/tmp/tal_rsa_XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

}  // namespace

TEST(RsaOpenssl, VerifiesOpensslSignatures) {
  Keys keys;
  Bytes msg = readFile(dataPath("openssl_msg.bin"));
  ASSERT_FALSE(msg.empty());
  Bytes other(msg);
  other[0] ^= 0x20;
  const std::pair<const char*, LvHashAlgo> v15[] = {{"openssl_v15_sha1.sig", LV_HASH_SHA1},
                                                    {"openssl_v15_sha256.sig", LV_HASH_SHA256},
                                                    {"openssl_v15_sha384.sig", LV_HASH_SHA384},
                                                    {"openssl_v15_sha512.sig", LV_HASH_SHA512}};
  for (const auto& [file, algo] : v15) {
    Bytes sig = readFile(dataPath(file));
    LvRsaSigPkcsV15 s;
    s.setPublicKey(&keys.pub);
    EXPECT_TRUE(s.verifyMessage(msg.data(), static_cast<unsigned int>(msg.size()), sig.data(),
                                static_cast<unsigned int>(sig.size()), algo))
        << file;
    EXPECT_FALSE(s.verifyMessage(other.data(), static_cast<unsigned int>(other.size()),
                                 sig.data(), static_cast<unsigned int>(sig.size()), algo))
        << file;
    // The streaming form gives the same answer.
    s.longMsgHashInit(algo);
    s.longMsgHashStep(msg.data(), 10);
    s.longMsgHashStep(msg.data() + 10, static_cast<unsigned int>(msg.size() - 10));
    EXPECT_TRUE(s.longMsgHashVerify(sig.data(), static_cast<unsigned int>(sig.size()))) << file;
  }
  Bytes pss = readFile(dataPath("openssl_pss_sha256.sig"));
  LvRsaSigPkcsPss s256(32, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA256);
  s256.setPublicKey(&keys.pub);
  EXPECT_TRUE(s256.verifyMessage(msg.data(), static_cast<unsigned int>(msg.size()), pss.data(),
                                 static_cast<unsigned int>(pss.size()), 0));
  EXPECT_FALSE(s256.verifyMessage(other.data(), static_cast<unsigned int>(other.size()),
                                  pss.data(), static_cast<unsigned int>(pss.size()), 0));
  Bytes pss512 = readFile(dataPath("openssl_pss_sha512_mgf1sha1_0.sig"));
  LvRsaSigPkcsPss s512(0, nullptr, LV_HASH_SHA512, 0, LV_HASH_SHA1);
  s512.setPublicKey(&keys.pub);
  EXPECT_TRUE(s512.verifyMessage(msg.data(), static_cast<unsigned int>(msg.size()),
                                 pss512.data(), static_cast<unsigned int>(pss512.size()), 0));
}

TEST(RsaOpenssl, DecryptsOpensslCipherTexts) {
  Keys keys;
  Bytes msg = readFile(dataPath("openssl_msg.bin"));
  Bytes ct = readFile(dataPath("openssl_msg.v15.enc"));
  LvRsaCipherPkcsV15 v15(nullptr);
  v15.setPrivateKey(&keys.priv);
  Bytes pt(256);
  unsigned int len = v15.decrypt(ct.data(), static_cast<unsigned int>(ct.size()), pt.data(), 256);
  EXPECT_EQ(Bytes(pt.begin(), pt.begin() + len), msg);
  Bytes rawCt = readFile(dataPath("openssl_raw.enc"));
  LvRsaCipher raw;
  raw.setPrivateKey(&keys.priv);
  EXPECT_EQ(raw.decrypt(rawCt.data(), static_cast<unsigned int>(rawCt.size()), pt.data(), 256),
            256u);
  EXPECT_EQ(pt, readFile(dataPath("openssl_raw.bin")));
}

TEST(RsaOpenssl, OpensslDecryptsAndVerifiesOurs) {
  ASSERT_TRUE(haveOpenssl()) << "the openssl command is needed";
  Keys keys;
  std::string dir = tempDir();
  std::string pem = dataPath("openssl_key.pem");
  Bytes msg = readFile(dataPath("openssl_msg.bin"));

  LvRbgHashIso18031 rbg;
  const LvOctet seed[16] = {'o', 'p', 'e', 'n', 's', 's', 'l', 0, 1, 2, 3, 4, 5, 6, 7, 8};
  rbg.init(seed, sizeof seed);
  LvRsaCipherPkcsV15 v15(&rbg);
  v15.setPublicKey(&keys.pub);
  Bytes ct(256);
  v15.encrypt(msg.data(), static_cast<unsigned int>(msg.size()), ct.data(), 256);
  writeFile(dir + "/ct.bin", ct);
  std::string cmd = "openssl pkeyutl -decrypt -inkey " + pem +
                    " -pkeyopt rsa_padding_mode:pkcs1 -in " + dir + "/ct.bin -out " + dir +
                    "/pt.bin 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(readFile(dir + "/pt.bin"), msg);

  writeFile(dir + "/msg.bin", msg);
  LvRsaSigPkcsV15 v15sig;
  v15sig.setPrivateKey(&keys.priv);
  v15sig.setRbg(&rbg);
  v15sig.setMaskingMode(1);
  Bytes sig(256);
  v15sig.signMessage(msg.data(), static_cast<unsigned int>(msg.size()), sig.data(), 256,
                     LV_HASH_SHA384);
  writeFile(dir + "/v15.sig", sig);
  cmd = "openssl dgst -sha384 -prverify " + pem + " -signature " + dir + "/v15.sig " + dir +
        "/msg.bin >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);

  LvRsaSigPkcsPss pss(32, &rbg, LV_HASH_SHA256, 0, LV_HASH_SHA256);
  pss.setPrivateKey(&keys.priv);
  pss.signMessage(msg.data(), static_cast<unsigned int>(msg.size()), sig.data(), 256, 0);
  writeFile(dir + "/pss.sig", sig);
  cmd = "openssl dgst -sha256 -prverify " + pem +
        " -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 -signature " + dir +
        "/pss.sig " + dir + "/msg.bin >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::system(("rm -rf " + dir).c_str());
}
