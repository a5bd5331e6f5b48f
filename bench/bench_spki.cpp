// bench-libs: tal_pki
// Signature verification through SubPubKeyInfo from DER (decode the key, then
// hash and verify) against OpenSSL's d2i_PUBKEY + EVP_DigestVerify on the same
// keys and signatures: RSA-2048 PKCS#1 v1.5 and PSS, P-256, P-384,
// brainpoolP256r1 and the binary curves sect233r1 (cofactor 2), sect283k1 and
// sect233k1 (Koblitz, cofactor 4) and sect571r1 (cofactor 2). The bare library verification with a key set up once
// ("bare_" pairs, against EVP_PKEY_verify with a ready context) shows what
// the ASN.1 decoding and the key objects add. The decode pairs set a decode
// into a usable key against d2i_PUBKEY, which builds the EVP_PKEY as it
// decodes; our decode alone and our key set-up alone are timed without a peer.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvnamedcurves.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"
#include "pki/keys/ecparams.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/keys/subpubkeyinfo.h"
#include "ratio_main.h"

namespace {

using Bytes = std::vector<unsigned char>;

enum Case {
  RSA_V15 = 0,
  RSA_PSS = 1,
  P256 = 2,
  P384 = 3,
  BP256 = 4,
  B233 = 5,
  K283 = 6,
  B571 = 7,
  K233 = 8
};

struct Fixture {
  EVP_PKEY* pkey = nullptr;
  Bytes spki;
  Bytes msg;
  Bytes digest;
  Bytes sig;
  const EVP_MD* md = nullptr;
  int hashId = 3;
  bool pss = false;
  AlgorithmIdentifier sigAlg;
  // the bare library key
  LvRsaPublicKey rsa;
  LvGeneralDsaPublicKey ec;
};

Fixture& fixture(int which) {
  static std::map<int, std::unique_ptr<Fixture>> all;
  auto it = all.find(which);
  if (it != all.end()) return *it->second;
  auto f = std::make_unique<Fixture>();
  const bool rsa = which == RSA_V15 || which == RSA_PSS;
  f->pss = which == RSA_PSS;
  f->md = which == P384 ? EVP_sha384() : EVP_sha256();
  f->hashId = which == P384 ? 4 : 3;
  static const char* curves[] = {nullptr,     nullptr,           "P-256",
                                 "P-384",     "brainpoolP256r1", "sect233r1",
                                 "sect283k1", "sect571r1",       "sect233k1"};
  f->pkey = rsa ? EVP_RSA_gen(2048) : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curves[which]);
  if (!f->pkey) throw std::runtime_error("key generation");
  unsigned char* der = nullptr;
  int n = i2d_PUBKEY(f->pkey, &der);
  f->spki.assign(der, der + n);
  OPENSSL_free(der);
  f->msg.assign(64, 0x6D);
  EVP_MD_CTX* mctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  EVP_DigestSignInit(mctx, &pctx, f->md, nullptr, f->pkey);
  if (f->pss) {
    EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING);
    EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, 32);
    EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, EVP_sha256());
  }
  size_t len = 0;
  EVP_DigestSign(mctx, nullptr, &len, f->msg.data(), f->msg.size());
  f->sig.resize(len);
  EVP_DigestSign(mctx, f->sig.data(), &len, f->msg.data(), f->msg.size());
  f->sig.resize(len);
  EVP_MD_CTX_free(mctx);
  f->digest.resize(static_cast<size_t>(EVP_MD_get_size(f->md)));
  unsigned int dl = 0;
  EVP_Digest(f->msg.data(), f->msg.size(), f->digest.data(), &dl, f->md, nullptr);
  if (which == RSA_V15) {
    f->sigAlg.setRsaSignature(3);
  } else if (f->pss) {
    RsaPssParams p;
    p.set(3, 1, 3, 32, 1);
    f->sigAlg.set(id_RSASSA_PSS, &p);
  } else {
    f->sigAlg.setEcdsaSignature(f->hashId);
  }
  // the bare key from the decoded structure (set up once, outside the loop)
  SubPubKeyInfo k;
  k.decodeBuffer(f->spki.data(), static_cast<int>(f->spki.size()), 0);
  if (rsa) {
    f->rsa.setN(k.rsaKey.modulus.data(), static_cast<unsigned int>(k.rsaKey.modulus.length));
    f->rsa.setE(k.rsaKey.publicExponent.data(),
                static_cast<unsigned int>(k.rsaKey.publicExponent.length));
  } else {
    f->ec.setDomain(k.ecParameters().getKeyDomain());
    f->ec.setH(k.ecKey().bits(), static_cast<unsigned int>(k.ecKey().bitsLength()));
  }
  Fixture& ref = *f;
  all[which] = std::move(f);
  return ref;
}

void oursSpki(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SubPubKeyInfo k;
    k.decodeBuffer(f.spki.data(), static_cast<int>(f.spki.size()), 0);
    int r = k.verifyData(f.sigAlg, f.msg.data(), static_cast<int>(f.msg.size()), f.sig.data(),
                         static_cast<int>(f.sig.size()));
    if (r != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(r);
  }
}

void opensslSpki(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    const unsigned char* p = f.spki.data();
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(f.spki.size()));
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    EVP_DigestVerifyInit(mctx, &pctx, f.md, nullptr, key);
    if (f.pss) {
      EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING);
      EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, 32);
      EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, EVP_sha256());
    }
    int ok = EVP_DigestVerify(mctx, f.sig.data(), f.sig.size(), f.msg.data(), f.msg.size());
    EVP_MD_CTX_free(mctx);
    EVP_PKEY_free(key);
    if (ok != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

// The library key set up from a decoded SubPubKeyInfo and destroyed. RSA takes the road of
// RSAPublicKey::prepareKey: the octet constructor, the DER octets as decoded (the modulus with
// its leading zero octet); EC that of ECPublicKey::prepare (the point read and checked, on the
// curves with a cofactor its order too).
void setUpKey(SubPubKeyInfo& k, int which) {
  if (which == RSA_V15 || which == RSA_PSS) {
    LvRsaPublicKey key(k.rsaKey.modulus.data(), static_cast<unsigned int>(k.rsaKey.modulus.length),
                       k.rsaKey.publicExponent.data(),
                       static_cast<unsigned int>(k.rsaKey.publicExponent.length));
    benchmark::DoNotOptimize(key);
  } else {
    LvGeneralDsaPublicKey key;
    key.setDomain(k.ecParameters().getKeyDomain());
    key.setH(k.ecKey().bits(), static_cast<unsigned int>(k.ecKey().bitsLength()));
    benchmark::DoNotOptimize(key);
  }
}

// Decoding into a usable key, as d2i_PUBKEY does (it builds the EVP_PKEY as it decodes).
void oursDecodeKey(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SubPubKeyInfo k;
    if (k.decodeBuffer(f.spki.data(), static_cast<int>(f.spki.size()), 0) < 1) {
      state.SkipWithError("decode failed");
      break;
    }
    setUpKey(k, which);
  }
}

void opensslDecodeKey(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    const unsigned char* p = f.spki.data();
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(f.spki.size()));
    if (!key) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(key);
    EVP_PKEY_free(key);
  }
}

// Decoding alone (the key objects are built on first use): the ASN.1 share of the pairs above;
// no peer, d2i_PUBKEY always building the key.
void oursDecode(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SubPubKeyInfo k;
    int r = k.decodeBuffer(f.spki.data(), static_cast<int>(f.spki.size()), 0);
    benchmark::DoNotOptimize(r);
  }
}

// Setting the library key up from its octets and destroying it, which the bare pairs leave
// out of their loop (no peer: printed in the table above the ratios).
void oursKeySetup(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  SubPubKeyInfo k;
  k.decodeBuffer(f.spki.data(), static_cast<int>(f.spki.size()), 0);
  for (auto _ : state) setUpKey(k, which);
}

void oursBare(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  const unsigned int dl = static_cast<unsigned int>(f.digest.size());
  if (which == RSA_V15 || which == RSA_PSS) {
    LvRsaSigPkcsV15 v15;
    LvRsaSigPkcsPss pss(32, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA256);
    LvRsaSig& s = f.pss ? static_cast<LvRsaSig&>(pss) : static_cast<LvRsaSig&>(v15);
    s.setHashAlgo(LV_HASH_SHA256);
    s.setPublicKey(&f.rsa);
    for (auto _ : state) {
      bool ok =
          s.verify(f.digest.data(), dl, f.sig.data(), static_cast<unsigned int>(f.sig.size()));
      if (!ok) state.SkipWithError("verification failed");
      benchmark::DoNotOptimize(ok);
    }
    return;
  }
  LvGeneralDsaSig s;
  s.setPublicKey(&f.ec);
  // r and s as the library takes them: the SEQUENCE's content (a long-form length past 127)
  const unsigned int hdr = 2 + ((f.sig[1] & 0x80) ? (f.sig[1] & 0x7F) : 0);
  for (auto _ : state) {
    bool ok = s.verify(f.digest.data(), dl, f.sig.data() + hdr,
                       static_cast<unsigned int>(f.sig.size()) - hdr);
    if (!ok) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

void opensslBare(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.pkey, nullptr);
  EVP_PKEY_verify_init(ctx);
  EVP_PKEY_CTX_set_signature_md(ctx, f.md);
  if (f.pss) {
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING);
    EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, 32);
    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha256());
  } else if (which == RSA_V15) {
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  }
  for (auto _ : state) {
    int ok = EVP_PKEY_verify(ctx, f.sig.data(), f.sig.size(), f.digest.data(), f.digest.size());
    if (ok != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
  EVP_PKEY_CTX_free(ctx);
}

}  // namespace

#define SPKI_PAIR(label, which)                                                          \
  BENCHMARK_CAPTURE(oursSpki, label, which)->Name("ours/spki_verify_" #label);           \
  BENCHMARK_CAPTURE(opensslSpki, label, which)->Name("libcrypto/spki_verify_" #label);   \
  BENCHMARK_CAPTURE(oursDecodeKey, label, which)->Name("ours/decode_and_key_" #label);   \
  BENCHMARK_CAPTURE(opensslDecodeKey, label, which)                                      \
      ->Name("libcrypto/decode_and_key_" #label);                                        \
  BENCHMARK_CAPTURE(oursDecode, label, which)->Name("ours/decode_without_key_" #label);  \
  BENCHMARK_CAPTURE(oursKeySetup, label, which)->Name("keysetup/" #label);               \
  BENCHMARK_CAPTURE(oursBare, label, which)->Name("ours/bare_verify_" #label);           \
  BENCHMARK_CAPTURE(opensslBare, label, which)->Name("libcrypto/bare_verify_" #label)

SPKI_PAIR(rsa2048_pkcs1, RSA_V15);
SPKI_PAIR(rsa2048_pss, RSA_PSS);
SPKI_PAIR(P256, P256);
SPKI_PAIR(P384, P384);
SPKI_PAIR(brainpoolP256r1, BP256);
SPKI_PAIR(sect233r1, B233);
SPKI_PAIR(sect283k1, K283);
SPKI_PAIR(sect571r1, B571);
SPKI_PAIR(sect233k1, K233);

namespace {
[[maybe_unused]] const bool noted = talbench::note(
    "decode_and_key: both sides decode the key and make it usable (libcrypto: d2i_PUBKEY, which "
    "builds the EVP_PKEY; ours: the decode, then the library key; on the curves with a cofactor "
    "ours also checks the point's order, which d2i_PUBKEY does not).\n"
    "decode_without_key, keysetup: our two steps alone (no peer).");
}  // namespace

TAL_BENCH_MAIN()
