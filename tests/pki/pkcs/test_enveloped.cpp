// Enveloped messages made by openssl cms -encrypt (tests/data/pki/pkcs/
// make.sh): key transport with AES and triple DES, a key-encryption key
// (-secretkey), the streamed (indefinite) forms; read whole and streamed in
// pieces with the same result, re-encoded, and decrypted to the content the
// way a message layer does (RSA or AES key unwrap, then CBC). Key agreement
// and password recipients with a key derivation are refused. The password
// encryption of EncryptedContentInfo as PKCS#12 safes use it. The streaming
// encoder writes openssl's messages again octet for octet, and new content
// streamed out in pieces (definite and indefinite form) is read by
// openssl asn1parse and decrypted by openssl cms -decrypt.
#include "pki/test_cms_support.h"
#include "pki/test_pkcs_support.h"

#include "crypto/sym/lvbc.h"
#include "crypto/sym/lvcbc.h"
#include "pki/pkcs/envdata.h"
#include "pki/common/oids.h"
#include "pki/keys/rsaprkey.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::octets;
using pkcstest::bmp;
using pkcstest::fromHex;
using pkcstest::pkcs;

// RFC 3394 AES key unwrap; empty when the integrity check fails.
Bytes aesUnwrap(const Bytes& kek, const Bytes& wrapped) {
  std::unique_ptr<LvBc> aes(lvBcCreateObject(LV_BC_AES));
  aes->setKey(kek.data(), static_cast<unsigned int>(kek.size()), LV_KEY_EXPAND_BOTH);
  const size_t n = wrapped.size() / 8 - 1;
  Bytes a(wrapped.begin(), wrapped.begin() + 8), r(wrapped.begin() + 8, wrapped.end());
  for (int j = 5; j >= 0; --j)
    for (size_t i = n; i >= 1; --i) {
      unsigned char b[16];
      const uint64_t t = n * static_cast<uint64_t>(j) + i;
      for (int k = 0; k < 8; ++k) b[k] = a[static_cast<size_t>(k)] ^ static_cast<unsigned char>(t >> (56 - 8 * k));
      std::memcpy(b + 8, &r[(i - 1) * 8], 8);
      aes->decryptBlock(b, b);
      a.assign(b, b + 8);
      std::memcpy(&r[(i - 1) * 8], b + 8, 8);
    }
  return a == Bytes(8, 0xA6) ? r : Bytes();
}

// The content-encryption key the recipient info gives.
Bytes contentKey(const RecipientInfo& ri) {
  if (ri.chosenIndex() == RecipientInfo::KTRI) {
    RSAPrivateKey rsa;
    EXPECT_GT(decodeBytes(rsa, pkcs("rsa_pkcs1.der")), 0);
    EXPECT_TRUE(ri.ktri.keyEncryptionAlgorithm.algorithm == rsaEncryption);
    MemFile out;
    const ASNoctstr& ek = ri.ktri.encryptedKey;
    EXPECT_EQ(rsa.decryptPkcs1v15(ek.data(), ek.length, out), 0);
    return Bytes(out.data(), out.data() + out.length());
  }
  EXPECT_EQ(ri.chosenIndex(), RecipientInfo::KEKRI);
  EXPECT_EQ(octets(ri.kekri.kekid.keyIdentifier), Bytes({0x0a, 0x0b, 0x0c, 0x0d}));
  Bytes hex = pkcs("kek.hex");
  return aesUnwrap(fromHex(std::string(hex.begin(), hex.end())), octets(ri.kekri.encryptedKey));
}

// CBC with the IV of the algorithm's parameters.
Bytes decryptContent(const EncryptedContentInfo& eci, const Bytes& key, const Bytes& cipher) {
  const ASNobjectId& alg = eci.contentEncryptionAlgorithm.algorithm;
  const LvBcAlgo id = alg == des_ede3_cbc ? LV_BC_TDES : LV_BC_AES;
  EXPECT_TRUE(alg == des_ede3_cbc || alg == id_aes128_CBC || alg == id_aes256_CBC);
  ASNoctstr iv;
  EXPECT_EQ(iv.decodeAny(eci.contentEncryptionAlgorithm.parameters), 1);
  LvCbc cbc(id, 0);
  cbc.setKey(key.data(), static_cast<unsigned int>(key.size()));
  Bytes plain(cipher.size());
  const unsigned int n = cbc.crypt(1, iv.data(), static_cast<unsigned int>(iv.length),
                                   cipher.data(), static_cast<unsigned int>(cipher.size()),
                                   plain.data());
  plain.resize(n);
  return plain;
}

struct Message {
  const char* file;
  bool definite;  // re-encodes byte for byte
};

TEST(EnvelopedOpenssl, ReadWholeAndStreamedAndDecrypted) {
  const Bytes content = pkcs("content.bin");
  ASSERT_FALSE(content.empty());
  for (const Message& m : {Message{"ktri_aes.der", true}, Message{"ktri_3des.der", true},
                           Message{"ktri_stream.der", false}, Message{"kekri.der", true},
                           Message{"kekri_stream.der", false}}) {
    const Bytes der = pkcs(m.file);
    EnvelopedMessage whole;
    ASSERT_EQ(decodeBytes(whole, der), static_cast<int>(der.size())) << m.file;
    EXPECT_TRUE(whole.contentType == id_envelopedData);
    const EnvelopedData& ed = whole.value();
    ASSERT_EQ(ed.recipientInfos.GetCount(), 1) << m.file;
    EXPECT_FALSE(ed.originatorInfoPresent);
    EXPECT_FALSE(ed.unprotectedAttrsPresent);
    EXPECT_EQ(ed.encryptedContentInfo.recipientInfos, &ed.recipientInfos);
    EXPECT_TRUE(ed.encryptedContentInfo.contentType == id_data);
    ASSERT_TRUE(ed.encryptedContentInfo.encryptedContentPresent);
    const Bytes cipher = octets(ed.encryptedContentInfo.encryptedContent);
    if (m.definite) {
      EXPECT_EQ(encodeOf(whole), der) << m.file;
    }
    const Bytes key = contentKey(*ed.recipientInfos.GetHead());
    EXPECT_EQ(decryptContent(ed.encryptedContentInfo, key, cipher), content) << m.file;

    for (size_t chunk : {size_t(1), size_t(7), size_t(4096)}) {
      EnvelopedMessage streamed;
      Bytes passed;
      EXPECT_EQ(cmstest::streamIn(streamed, der, chunk, &passed), static_cast<int>(der.size()))
          << m.file << " chunk " << chunk;
      EXPECT_EQ(passed, cipher) << m.file << " chunk " << chunk;
      const EnvelopedData& s = streamed.value();
      EXPECT_EQ(encodeOf(s.recipientInfos), encodeOf(ed.recipientInfos));
      EXPECT_EQ(encodeOf(s.encryptedContentInfo.contentEncryptionAlgorithm),
                encodeOf(ed.encryptedContentInfo.contentEncryptionAlgorithm));
      EXPECT_EQ(s.encryptedContentInfo.recipientInfos, &s.recipientInfos);
    }
  }
}

TEST(EnvelopedOpenssl, KeyAgreementAndKeyDerivationAreRefused) {
  for (const char* file : {"kari.der", "pwri.der"}) {
    const Bytes der = pkcs(file);
    EnvelopedMessage whole;
    EXPECT_EQ(decodeBytes(whole, der), 0) << file;
    for (size_t chunk : {size_t(1), size_t(4096)}) {
      EnvelopedMessage streamed;
      EXPECT_EQ(cmstest::streamIn(streamed, der, chunk, nullptr), 0) << file << " " << chunk;
    }
  }
  // The recipient info alone: [1] is no alternative.
  RecipientInfo ri;
  const Bytes a1 = {0xA1, 0x03, 0x02, 0x01, 0x03};
  EXPECT_EQ(decodeBytes(ri, a1), 0);
}

// An EncryptedContentInfo without its encrypted content, definite and
// indefinite: read, and written again without it.
TEST(EncryptedContentInfoForms, AbsentContentInBothLengthForms) {
  EncryptedContentInfo source;
  source.contentType = id_data;
  source.contentEncryptionAlgorithm.set(id_aes128_CBC, nullptr);
  source.encryptedContentPresent = 0;
  const Bytes definite = encodeOf(source);
  Bytes indefinite = {0x30, 0x80};
  indefinite.insert(indefinite.end(), definite.begin() + 2, definite.end());
  indefinite.push_back(0);
  indefinite.push_back(0);
  for (const Bytes& der : {definite, indefinite}) {
    EncryptedContentInfo eci;
    ASSERT_EQ(decodeBytes(eci, der), static_cast<int>(der.size()));
    EXPECT_FALSE(eci.encryptedContentPresent);
    EXPECT_EQ(encodeOf(eci), der);  // in the length form it was read with
    EncryptedContentInfo streamed;
    EXPECT_EQ(cmstest::streamIn(streamed, der, 1, nullptr), static_cast<int>(der.size()));
    EXPECT_FALSE(streamed.encryptedContentPresent);
  }
}

TEST(EncryptedContentInfoPassword, EncryptsAndDecryptsAsASafe) {
  const Bytes password = bmp("vorin-test");
  const unsigned char salt[8] = {1, 1, 2, 3, 5, 8, 13, 21};
  ASNoctstr object;  // 6 + 2 octets of DER: a multiple of the block
  const unsigned char six[6] = {1, 2, 3, 4, 5, 6};
  object.set(six, 6);
  for (int cipher : {4, 7}) {
    EncryptedContentInfo eci;
    ASSERT_EQ(eci.encryptWithPassword(cipher, password.data(), static_cast<int>(password.size()),
                                      salt, 8, 2048, object),
              1);
    EXPECT_TRUE(eci.contentType == id_data);
    EXPECT_EQ(eci.encryptedContent.length, 16);
    ASNoctstr back;
    EXPECT_EQ(eci.decryptWithPassword(cipher, password.data(), static_cast<int>(password.size()),
                                      back),
              1);
    EXPECT_EQ(octets(back), encodeOf(object));
    // The other scheme, a wrong password, no password.
    EXPECT_EQ(eci.decryptWithPassword(cipher == 4 ? 7 : 4, password.data(),
                                      static_cast<int>(password.size()), back),
              -2);
    const Bytes wrong = bmp("vorin-tesT");
    ASNoctstr none;
    const int w = eci.decryptWithPassword(cipher, wrong.data(), static_cast<int>(wrong.size()), none);
    EXPECT_TRUE(w == 0 || (w == 1 && octets(none) != encodeOf(object)));
    EXPECT_EQ(eci.decryptWithPassword(cipher, password.data(), 0, none), 0);
  }
  EncryptedContentInfo eci;
  EXPECT_EQ(eci.encryptWithPassword(4, password.data(), 2, salt, 0, 1, object), -1);
  EXPECT_THROW(eci.encryptWithPassword(1, password.data(), 2, salt, 8, 1, object),
               std::runtime_error);
}

// ---------------------------------------------------------------------------
// the streaming encoders

// Writes `segments` through the encoder of `msg`, one call each (the total
// announced when `definite`): the encoder's last answer; every call but the
// last answers EASN_MORE.
int streamOut(EnvelopedMessage& msg, const std::vector<Bytes>& segments, bool definite,
              MemFile& out) {
  size_t total = 0;
  for (const Bytes& b : segments) total += b.size();
  int r = EASN_MORE;
  for (size_t i = 0; i < segments.size(); ++i) {
    MemFile piece(const_cast<unsigned char*>(segments[i].data()),
                  static_cast<int32_t>(segments[i].size()), false);
    r = msg.encodeStream(&piece, definite ? static_cast<int>(total) : -1,
                         i + 1 == segments.size(), &out);
    if (i + 1 < segments.size()) { EXPECT_EQ(r, EASN_MORE) << "piece " << i; }
  }
  return r;
}

// The encrypted content emptied and set to pass through, in the form it was read in.
void passThrough(EncryptedContentInfo& eci, bool indefinite) {
  ASNoctstr& c = eci.encryptedContent;
  c.clear();
  if (indefinite) {
    c.tag |= 0x20;
    c.flags |= ASN_FLAG_INDEFINITE;
  }
  ASSERT_EQ(c.setStreamPassThrough(true), 1);
}

TEST(EnvelopedStreamEncode, WritesOpensslMessagesAgain) {
  // Definite messages decoded and written by the streaming encoder: the same octets.
  for (const char* file : {"ktri_aes.der", "kekri.der"}) {
    const Bytes der = pkcs(file);
    EnvelopedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    MemFile out;
    EXPECT_EQ(msg.encodeStream(nullptr, 0, true, &out), static_cast<int>(der.size())) << file;
    EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), der) << file;
  }
  // openssl's -stream messages with their encrypted content passing through
  // in openssl's own segments: openssl's octets again.
  for (const char* file : {"ktri_stream.der", "kekri_stream.der"}) {
    const Bytes ber = pkcs(file);
    EnvelopedMessage msg;
    ASSERT_EQ(decodeBytes(msg, ber), static_cast<int>(ber.size()));
    EncryptedContentInfo& eci = msg.value().encryptedContentInfo;
    std::vector<Bytes> segments;
    for (POSITION p = eci.encryptedContent.segments.GetHeadPosition(); p;)
      segments.push_back(octets(*TypedPointerList<ASNoctstr>::GetNext(p)));
    ASSERT_GT(segments.size(), 0u) << file;
    passThrough(eci, true);
    MemFile out;
    EXPECT_GT(streamOut(msg, segments, false, out), 0) << file;
    EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), ber) << file;
    // Nothing is left to write once the last member is out.
    EXPECT_EQ(msg.value().streamEncodeStep(nullptr, -1, true, &out), 0);
    EXPECT_EQ(eci.streamEncodeStep(nullptr, -1, true, &out), 0);
  }
}

// New content, encrypted here under the content key of openssl's -secretkey
// message, streamed out in pieces around openssl's recipient info.
TEST(EnvelopedStreamEncode, NewContentStreamedOutIsDecryptedByOpenssl) {
  Bytes plain;
  for (int i = 0; i < 3000; ++i) plain.push_back(static_cast<unsigned char>('a' + i % 26));
  const Bytes kekHex = pkcs("kek.hex");
  const std::string kek(kekHex.begin(), kekHex.begin() + 32);
  const bool haveOpenssl = std::system("openssl version >/dev/null 2>&1") == 0;
  struct Form {
    const char* file;
    bool definite;
  };
  for (const Form& f : {Form{"kekri.der", true}, Form{"kekri_stream.der", false}}) {
    SCOPED_TRACE(f.file);
    EnvelopedMessage msg;
    const Bytes source = pkcs(f.file);
    ASSERT_EQ(decodeBytes(msg, source), static_cast<int>(source.size()));
    EncryptedContentInfo& eci = msg.value().encryptedContentInfo;
    const Bytes key = contentKey(*msg.value().recipientInfos.GetHead());
    ASSERT_EQ(key.size(), 16u);
    ASNoctstr iv;
    ASSERT_EQ(iv.decodeAny(eci.contentEncryptionAlgorithm.parameters), 1);
    LvCbc cbc(LV_BC_AES, 0);
    cbc.setKey(key.data(), 16);
    Bytes cipher(plain.size() + 16);
    cipher.resize(cbc.crypt(0, iv.data(), static_cast<unsigned int>(iv.length), plain.data(),
                            static_cast<unsigned int>(plain.size()), cipher.data()));
    passThrough(eci, !f.definite);
    const std::vector<Bytes> pieces = {Bytes(cipher.begin(), cipher.begin() + 1000),
                                       Bytes(cipher.begin() + 1000, cipher.begin() + 1001),
                                       Bytes(cipher.begin() + 1001, cipher.end())};
    MemFile out;
    const int written = streamOut(msg, pieces, f.definite, out);
    const Bytes der(out.data(), out.data() + out.length());
    // A definite encoding answers its size; an indefinite one only success.
    if (f.definite)
      EXPECT_EQ(written, static_cast<int>(der.size()));
    else
      EXPECT_GT(written, 0);
    EXPECT_EQ(der[1] == 0x80, !f.definite) << "the length form it was read in";

    // Read back here, whole: the content decrypts to the plaintext.
    EnvelopedMessage back;
    ASSERT_EQ(decodeBytes(back, der), static_cast<int>(der.size()));
    const EncryptedContentInfo& b = back.value().encryptedContentInfo;
    EXPECT_EQ(decryptContent(b, key, octets(b.encryptedContent)), plain);

    if (!haveOpenssl) continue;
    const std::string stem = "streamed_" + std::to_string(f.definite);
    const std::string derPath = pkcstest::scratchFile(stem + ".der");
    const std::string txtPath = pkcstest::scratchFile(stem + ".txt");
    std::ofstream(derPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
    const std::string parse = "openssl asn1parse -inform DER -in " + derPath + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(parse.c_str()), 0) << parse;
    const std::string decrypt = "openssl cms -decrypt -binary -inform DER -in " + derPath +
                                " -secretkey " + kek + " -secretkeyid 0a0b0c0d -out " + txtPath +
                                " 2>/dev/null";
    ASSERT_EQ(std::system(decrypt.c_str()), 0) << decrypt;
    std::ifstream txt(txtPath, std::ios::binary);
    EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(txt)), std::istreambuf_iterator<char>()),
              plain);
  }
}

// A streaming step without the context the framework makes first is the
// invariant failure of the structure's own unit.
TEST(EnvelopedStreamEncode, StepsNeedTheirContext) {
  EnvelopedData ed;
  EncryptedContentInfo eci;
  struct Step {
    ASNobject* object;
    bool encode;
    const char* unit;
  };
  for (const Step& s : {Step{&ed, false, "libcms/envdata"}, Step{&ed, true, "libcms/envdata"},
                        Step{&eci, false, "libcms/encntinf"}, Step{&eci, true, "libcms/encntinf"}}) {
    MemFile in, out;
    try {
      if (s.encode)
        s.object->streamEncodeStep(&in, 0, true, &out);
      else
        s.object->streamDecodeStep(&in, 10, &out);
      ADD_FAILURE() << s.unit << " " << s.encode << ": no invariant failure";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(s.unit), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("streamCtx != NULL"), std::string::npos);
    }
  }
}

}  // namespace
