// libFuzzer target over PKCS#12 files read with a fixed password, and over
// the other encrypted structures of the same family: the input is decoded as
// a Pfx and walked (once as it is, once with its MAC made to match the
// password, so that the safes behind it are reached); also as an enveloped
// message, whole and streamed in pseudo-random pieces (same answer, the
// streamed one passing the encrypted content through), and as an encrypted
// PKCS#8 key decrypted with the password; the key manager's reading of a key
// file (keys paired with certificates, usages chosen) over every file read. Every answer must be one of the documented codes.
#include "fuzzstream.h"
#include "base/memfile.h"
#include "crypto/hash/lvhash.h"
#include "crypto/sym/lvmac.h"
#include "keys/pkcs12key.h"
#include "pki/common/oids.h"
#include "pki/pkcs/envdata.h"
#include "pki/pkcs/pfx.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const unsigned char kPassword[] = {0, 'v', 0, 'o', 0, 'r', 0, 'i', 0, 'n', 0, '-',
                                   0, 't', 0, 'e', 0, 's', 0, 't', 0, 0};
constexpr int kPasswordLength = sizeof(kPassword);

// The key manager's reading of the file: one of its statuses.
void readKeys(const Pfx& pfx) {
  std::vector<unsigned char> der;
  if (pfx.encodeVector(der) < 1) return;
  Pkcs12Keys keys;
  const int32_t r = readPkcs12Keys(der.data(), der.size(), "vorin-test", 10, keys);
  if (r != 0 && r != 4 && r != 12 && r != 13 && r != 19 && r != 37 && r != 42 && r != 20) abort();
  if ((r == 0) != (keys.signing || keys.decryption)) abort();
}

int walk(const Pfx& pfx) {
  TypedPointerList<PrivateKeyInfo> keys;
  TypedPointerList<SignedCertificate> certs;
  TypedPointerList<SafeBag> bags;
  keys.owns = certs.owns = bags.owns = true;
  PointerList keyAttributes, certAttributes;
  const int r = pfx.parsePfx(keys, certs, bags, kPassword, kPasswordLength, &keyAttributes,
                             &certAttributes);
  for (PointerList* lists : {&keyAttributes, &certAttributes})
    for (POSITION p = lists->GetHeadPosition(); p;)
      delete static_cast<TypedPointerList<Attribute>*>(lists->GetNext(p));
  if (r < -4 || r > 1) abort();
  return r;
}

// The MAC the password gives for the authSafe octets, put in place, over the hash the file
// names (SHA-1 for one not taken), so that files of openssl 3 (HMAC-SHA-256) reach their safes.
void forgeMac(Pfx& pfx) {
  const uint32_t n = keyasn::significantOctets(pfx.macData.iterations) <= 4
                         ? pfx.macData.iterations.toLong()
                         : 0;
  if (n > 2048 || pfx.macData.macSalt.length < 1) return;
  const ASNobjectId& named = pfx.macData.mac.digestAlgorithm.algorithm;
  LvHashAlgo hash = LV_HASH_SHA1;
  if (named == id_sha224) hash = LV_HASH_SHA224;
  if (named == id_sha256) hash = LV_HASH_SHA256;
  if (named == id_sha384) hash = LV_HASH_SHA384;
  if (named == id_sha512) hash = LV_HASH_SHA512;
  const unsigned int octets = LvGenericHash::getGenericHashOctets(hash);
  unsigned char key[64];
  pkcs12PbeDerive(hash, key, static_cast<int>(octets), 3, kPassword, kPasswordLength,
                  pfx.macData.macSalt.data(), pfx.macData.macSalt.length, n);
  LvHmac hmac(hash);
  hmac.setKey(key, octets);
  hmac.init();
  const ASNoctstr& content = pfx.authSafe.value();
  if (content.length > 0) hmac.step(content.data(), static_cast<unsigned int>(content.length));
  hmac.finish();
  unsigned char* d = pfx.macData.mac.digest.allocate(static_cast<int>(octets));
  if (d) hmac.getMac(octets, d);
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const int n = static_cast<int>(size);
  {
    Pfx pfx;
    const int r = pfx.decodeBuffer(data, n, 0);
    if (r > 0) {
      if (walk(pfx) == 1) readKeys(pfx);
      forgeMac(pfx);
      if (walk(pfx) == 1) readKeys(pfx);
    }
  }
  {
    EnvelopedMessage whole;
    const int w = whole.decodeBuffer(data, n, 0);
    EnvelopedMessage streamed;
    MemFile passed;
    const int s = streamIn(streamed, data, n, &passed);
    if (w > 0 && s > 0 && w != s) abort();
    if (w > 0 && s > 0 && whole.value().encryptedContentInfo.encryptedContentPresent) {
      const ASNoctstr& c = whole.value().encryptedContentInfo.encryptedContent;
      if (passed.length() != c.length ||
          (c.length > 0 && std::memcmp(passed.data(), c.data(), c.length) != 0))
        abort();
    }
  }
  {
    EncryptedPrivateKeyInfo epki;
    if (epki.decodeBuffer(data, n, 0) > 0) {
      PrivateKeyInfo key;
      const int r = epki.decrypt(kPassword, kPasswordLength, key);
      if (r < -3 || r > 1) abort();
      if (r != 1 && key.privateKey.length != 0) abort();
    }
  }
  return 0;
}
