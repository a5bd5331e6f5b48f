// A PKCS#11 module that lies: an in-process module with one RSA key and its certificate (made
// by openssl, tests/data/keys/p11) that reports, in one place at a time, more than it was
// asked for or more than a token holds. The binding refuses each lie without reading past
// what it gave the module (the sanitizers watch the reads).
#include "keys/keymanager.h"
#include "keys/pkcs11key.h"
#include "keys/pkcs11lib.h"
#include "keys/secretblock.h"
#include "pki/common/oids.h"
#include "pki/x509/cert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

enum class Lie {
  None,
  SlotCountHuge,      // the first C_GetSlotList counts a million slots
  SlotCountGrows,     // the second one reports more slots than the list holds
  FindCountTooLarge,  // C_FindObjects reports more handles than asked for
  CertificateHuge,    // the certificate's CKA_VALUE is a megabyte
  CertificateKeyHuge, // the certificate's key claims 2^31 - 1 bits (2.5.8.1.1 with a size)
  ValueGrows,         // the second C_GetAttributeValue reports more than the first
  SignatureTooLong,   // C_Sign reports more octets than the buffer holds
  DecryptTooLong,     // C_Decrypt likewise
  // Honest answers of a key longer than its certificate's: CKR_BUFFER_TOO_SMALL, which leaves
  // the operation open for a second call with a larger buffer.
  SignWantsMore,
  DecryptWantsMore,
};

Lie lie = Lie::None;
std::vector<uint8_t> certificate, hugeKeyCertificate;
// The key's type, and what C_Sign answers when set (an EC-DSA r || s).
CK_KEY_TYPE keyType = CKK_RSA;
std::vector<uint8_t> signAnswer;

// The certificate with its key's algorithm made 2.5.8.1.1 with a key size parameter.
std::vector<uint8_t> withClaimedKeySize(const std::vector<uint8_t>& der) {
  SignedCertificate c;
  EXPECT_GT(c.decodeVector(der), 0);
  AlgorithmIdentifier& a = c.tbsCertificate.subjectPublicKeyInfo.algorithm;
  a.algorithm = id_ea_rsa;
  const uint8_t size[] = {0x7f, 0xff, 0xff, 0xff};
  EXPECT_EQ(1, a.parameters.setEncoding(0x02, size, sizeof size));
  a.parametersPresent = 1;
  std::vector<uint8_t> out;
  EXPECT_GT(c.encodeVector(out), 0);
  return out;
}
const CK_OBJECT_HANDLE KEY = 1, CERTIFICATE = 2;
CK_OBJECT_CLASS searched = 0;
bool searchDone = false;

CK_RV fakeInitialize(void*) { return CKR_OK; }
CK_RV fakeFinalize(void*) { return CKR_OK; }
CK_RV fakeGetSlotList(CK_BBOOL, CK_SLOT_ID* list, CK_ULONG* count) {
  if (!list) {
    *count = lie == Lie::SlotCountHuge ? 1000000 : 1;
    return CKR_OK;
  }
  if (*count < 1) return CKR_BUFFER_TOO_SMALL;
  list[0] = 7;
  *count = lie == Lie::SlotCountGrows ? 100 : 1;
  return CKR_OK;
}
CK_RV fakeGetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
  std::memset(info, ' ', sizeof info->label);
  std::memcpy(info->label, "fake", 4);
  info->flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED;
  return CKR_OK;
}
CK_RV fakeOpenSession(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  *session = 5;
  return CKR_OK;
}
CK_RV fakeCloseSession(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV fakeLogin(CK_SESSION_HANDLE, CK_USER_TYPE, unsigned char*, CK_ULONG) { return CKR_OK; }
CK_RV fakeFindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE* tmpl, CK_ULONG count) {
  searched = 0;
  searchDone = false;
  for (CK_ULONG i = 0; i < count; ++i)
    if (tmpl[i].type == CKA_CLASS) std::memcpy(&searched, tmpl[i].pValue, sizeof searched);
  return CKR_OK;
}
CK_RV fakeFindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* got) {
  *got = 0;
  if (searchDone || max < 1) return CKR_OK;
  searchDone = true;
  out[0] = searched == CKO_PRIVATE_KEY ? KEY : CERTIFICATE;
  *got = lie == Lie::FindCountTooLarge ? max + 5 : 1;
  return CKR_OK;
}
CK_RV fakeFindObjectsFinal(CK_SESSION_HANDLE) { return CKR_OK; }

// One attribute's value: copied when the buffer is given and large enough.
void answer(CK_ATTRIBUTE& a, const void* value, CK_ULONG length) {
  if (!a.pValue) {
    a.ulValueLen = length;
    return;
  }
  const CK_ULONG room = a.ulValueLen;
  if (room >= length) std::memcpy(a.pValue, value, length);
  a.ulValueLen = length;
}
CK_RV fakeGetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* tmpl,
                            CK_ULONG count) {
  const CK_KEY_TYPE type = keyType;
  static const CK_BBOOL yes = CK_TRUE;
  static const uint8_t id = 1;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = tmpl[i];
    if (object == KEY && a.type == CKA_KEY_TYPE) {
      answer(a, &type, sizeof type);
    } else if (object == KEY && (a.type == CKA_SIGN || a.type == CKA_DECRYPT)) {
      answer(a, &yes, sizeof yes);
    } else if (a.type == CKA_ID) {
      answer(a, &id, 1);
    } else if (object == CERTIFICATE && a.type == CKA_VALUE) {
      if (lie == Lie::CertificateHuge) {
        a.ulValueLen = 1u << 20;
      } else if (lie == Lie::CertificateKeyHuge) {
        answer(a, hugeKeyCertificate.data(), static_cast<CK_ULONG>(hugeKeyCertificate.size()));
      } else if (lie == Lie::ValueGrows && a.pValue) {
        answer(a, certificate.data(), static_cast<CK_ULONG>(certificate.size()));
        a.ulValueLen += 100;
      } else {
        answer(a, certificate.data(), static_cast<CK_ULONG>(certificate.size()));
      }
    } else {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      return CKR_ATTRIBUTE_TYPE_INVALID;
    }
  }
  return CKR_OK;
}
// Operations open as a module keeps them: from the init until a call that ends them (an init
// without a mechanism cancels one).
bool signing = false, decrypting = false;
CK_ULONG longerKey = 384;  // octets the longer key asks for
CK_RV fakeSignInit(CK_SESSION_HANDLE, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE) {
  if (!mechanism) {
    signing = false;
    return CKR_OK;
  }
  if (signing) return CKR_OPERATION_ACTIVE;
  signing = true;
  return CKR_OK;
}
CK_RV fakeSign(CK_SESSION_HANDLE, unsigned char*, CK_ULONG, unsigned char* out, CK_ULONG* length) {
  if (!signing) return CKR_OPERATION_NOT_INITIALIZED;
  if (lie == Lie::SignWantsMore && (!out || *length < longerKey)) {
    const bool query = !out;
    *length = longerKey;
    return query ? CKR_OK : CKR_BUFFER_TOO_SMALL;
  }
  signing = false;
  if (!signAnswer.empty()) {
    if (*length < signAnswer.size()) return CKR_BUFFER_TOO_SMALL;
    std::memcpy(out, signAnswer.data(), signAnswer.size());
    *length = static_cast<CK_ULONG>(signAnswer.size());
    return CKR_OK;
  }
  std::memset(out, 0x11, *length);
  if (lie == Lie::SignatureTooLong) *length += 1;
  return CKR_OK;
}
CK_RV decryptInitAnswer = CKR_OK;
CK_RV fakeDecryptInit(CK_SESSION_HANDLE, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE) {
  if (!mechanism) {
    decrypting = false;
    return CKR_OK;
  }
  if (decryptInitAnswer != CKR_OK) return decryptInitAnswer;
  if (decrypting) return CKR_OPERATION_ACTIVE;
  decrypting = true;
  return CKR_OK;
}
CK_RV fakeDecrypt(CK_SESSION_HANDLE, unsigned char*, CK_ULONG, unsigned char* out,
                  CK_ULONG* length) {
  if (!decrypting) return CKR_OPERATION_NOT_INITIALIZED;
  const CK_ULONG key = lie == Lie::DecryptWantsMore ? longerKey : 16;
  if (!out || *length < key) {
    const bool query = !out;
    *length = key;
    return query ? CKR_OK : CKR_BUFFER_TOO_SMALL;
  }
  decrypting = false;
  std::memset(out, 0x22, key);
  *length = lie == Lie::DecryptTooLong ? 4096 : key;
  return CKR_OK;
}

CK_FUNCTION_LIST fakeList() {
  CK_FUNCTION_LIST f;
  std::memset(&f, 0, sizeof f);
  f.version.major = 2;
  f.version.minor = 40;
  f.C_Initialize = fakeInitialize;
  f.C_Finalize = fakeFinalize;
  f.C_GetSlotList = fakeGetSlotList;
  f.C_GetTokenInfo = fakeGetTokenInfo;
  f.C_OpenSession = fakeOpenSession;
  f.C_CloseSession = fakeCloseSession;
  f.C_Login = fakeLogin;
  f.C_FindObjectsInit = fakeFindObjectsInit;
  f.C_FindObjects = fakeFindObjects;
  f.C_FindObjectsFinal = fakeFindObjectsFinal;
  f.C_GetAttributeValue = fakeGetAttributeValue;
  f.C_SignInit = fakeSignInit;
  f.C_Sign = fakeSign;
  f.C_DecryptInit = fakeDecryptInit;
  f.C_Decrypt = fakeDecrypt;
  return f;
}

int32_t pin(int32_t, char* buffer, size_t* length) {
  if (!buffer || *length < 5) {
    *length = 5;
    return 34;
  }
  std::memcpy(buffer, "1234", 5);
  *length = 4;
  return 0;
}

TEST(Pkcs11Hostile, EveryLieIsRefused) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/p11/rsa.crt.der", std::ios::binary);
  certificate.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  ASSERT_FALSE(certificate.empty());
  hugeKeyCertificate = withClaimedKeySize(certificate);
  CK_FUNCTION_LIST list = fakeList();
  struct Row {
    const char* what;
    Lie lie;
    int32_t open;    // openPkcs11Keys
    bool keys;       // a key pair found
    int32_t sign;    // then signing
    int32_t decrypt; // and unwrapping a session key
  };
  const Row rows[] = {
      {"an honest module", Lie::None, 0, true, KM_OK, KM_OK},
      {"a million slots", Lie::SlotCountHuge, 25, false, 0, 0},
      {"a slot list that grows", Lie::SlotCountGrows, 25, false, 0, 0},
      {"more handles than asked for", Lie::FindCountTooLarge, 25, false, 0, 0},
      {"a certificate of a megabyte", Lie::CertificateHuge, 0, false, 0, 0},
      {"a value that grows", Lie::ValueGrows, 0, false, 0, 0},
      {"a key of 2^31 bits", Lie::CertificateKeyHuge, 0, false, 0, 0},
      {"a signature longer than the key", Lie::SignatureTooLong, 0, true, KM_DEVICE_ERROR,
       KM_OK},
      {"a session key longer than the block", Lie::DecryptTooLong, 0, true, KM_OK,
       KM_NO_SESSION_KEY},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    lie = row.lie;
    std::shared_ptr<Pkcs11Library> module = Pkcs11Library::linked(&list);
    ASSERT_TRUE(module);
    Pkcs11Choice choice;
    Pkcs11Keys keys;
    CK_RV ckr = CKR_OK;
    EXPECT_EQ(row.open, openPkcs11Keys(module, choice, pin, keys, ckr));
    EXPECT_EQ(row.keys, keys.signing != nullptr);
    if (!keys.signing) continue;
    std::vector<uint8_t> digest(32, 3), signature;
    EXPECT_EQ(row.sign, keys.signing->sign(0, 3, digest.data(), digest.size(), signature));
    EXPECT_EQ(row.sign == KM_OK ? 256u : 0u, signature.size());
    std::vector<uint8_t> block(256, 0x33);
    std::unique_ptr<SecretBlock> sessionKey;
    ASSERT_TRUE(keys.decryption);
    EXPECT_EQ(row.decrypt,
              keys.decryption->decryptSessionKey(block.data(), block.size(), sessionKey));
    EXPECT_EQ(row.decrypt == KM_OK, sessionKey != nullptr);
  }
  lie = Lie::None;

  // A token that will not start a decryption says why in the statuses of session-key
  // decryption, never as a bad block.
  struct Refusal {
    CK_RV ckr;
    int32_t status;
  };
  const Refusal refusals[] = {{CKR_USER_NOT_LOGGED_IN, 13}, {CKR_PIN_LOCKED, 27},
                              {CKR_DEVICE_REMOVED, 25},     {CKR_MECHANISM_INVALID, 14},
                              {CKR_HOST_MEMORY, KM_NO_MEMORY}};
  std::shared_ptr<Pkcs11Library> module = Pkcs11Library::linked(&list);
  Pkcs11Keys keys;
  CK_RV ckr = CKR_OK;
  ASSERT_EQ(0, openPkcs11Keys(module, Pkcs11Choice(), pin, keys, ckr));
  ASSERT_TRUE(keys.decryption);
  for (const Refusal& r : refusals) {
    decryptInitAnswer = r.ckr;
    std::vector<uint8_t> block(256, 0x33);
    std::unique_ptr<SecretBlock> sessionKey;
    EXPECT_EQ(r.status, keys.decryption->decryptSessionKey(block.data(), block.size(), sessionKey))
        << r.ckr;
  }
  decryptInitAnswer = CKR_OK;

  // A token whose key is longer than its certificate's asks for a larger buffer: refused, and
  // the operation is not left open to block every later one on the session.
  // A module that asks for a gigabyte has its operation cancelled instead.
  struct Longer {
    Lie lie;
    CK_ULONG asked;
    int32_t sign, decrypt;
  };
  const Longer longer[] = {{Lie::SignWantsMore, 384, KM_DEVICE_ERROR, KM_OK},
                           {Lie::DecryptWantsMore, 384, KM_OK, KM_NO_SESSION_KEY},
                           {Lie::SignWantsMore, 1u << 30, KM_DEVICE_ERROR, KM_OK},
                           {Lie::DecryptWantsMore, 1u << 30, KM_OK, KM_NO_SESSION_KEY}};
  for (const Longer& row : longer) {
    SCOPED_TRACE(std::to_string(static_cast<int>(row.lie)) + " " + std::to_string(row.asked));
    lie = row.lie;
    longerKey = row.asked;
    std::vector<uint8_t> digest(32, 3), signature, block(256, 0x33);
    std::unique_ptr<SecretBlock> sessionKey;
    EXPECT_EQ(row.sign, keys.signing->sign(0, 3, digest.data(), digest.size(), signature));
    EXPECT_EQ(row.decrypt,
              keys.decryption->decryptSessionKey(block.data(), block.size(), sessionKey));
    EXPECT_FALSE(signing);
    EXPECT_FALSE(decrypting);
    lie = Lie::None;
    EXPECT_EQ(KM_OK, keys.signing->sign(0, 3, digest.data(), digest.size(), signature));
    EXPECT_EQ(KM_OK, keys.decryption->decryptSessionKey(block.data(), block.size(), sessionKey));
  }

  // A list without a function the binding calls is not taken.
  list.C_Decrypt = nullptr;
  EXPECT_FALSE(Pkcs11Library::linked(&list));
}

std::vector<uint8_t> octets(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(Pkcs11Hostile, EcdsaValuesBecomeMinimalDerIntegers) {
  // CKM_ECDSA answers r and s as 32 octets each (P-256); the ECDSA-Sig-Value holds them as
  // INTEGERs: leading zero octets dropped, a zero put before a high bit.
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/p11/ec.crt.der", std::ios::binary);
  certificate.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  ASSERT_FALSE(certificate.empty());
  keyType = CKK_EC;
  CK_FUNCTION_LIST list = fakeList();
  std::shared_ptr<Pkcs11Library> module = Pkcs11Library::linked(&list);
  Pkcs11Keys keys;
  CK_RV ckr = CKR_OK;
  ASSERT_EQ(0, openPkcs11Keys(module, Pkcs11Choice(), pin, keys, ckr));
  ASSERT_TRUE(keys.signing);
  using V = std::vector<uint8_t>;
  struct Row {
    const char* what;
    V r, s, der;
  };
  const Row rows[] = {
      {"zeros before r, a high bit in s", octets({{0, 0, 1}, V(29, 0x22)}),
       octets({{0x80}, V(31, 0x33)}),
       octets({{0x30, 0x43, 0x02, 0x1e, 0x01}, V(29, 0x22), {0x02, 0x21, 0x00, 0x80}, V(31, 0x33)})},
      {"a zero before a high bit, s of one octet", octets({{0x00, 0x80}, V(30, 0x01)}),
       octets({V(31, 0), {0x05}}),
       octets({{0x30, 0x25, 0x02, 0x20, 0x00, 0x80}, V(30, 0x01), {0x02, 0x01, 0x05}})},
      {"no high bit, s zero", octets({{0x7f}, V(31, 0xff)}), V(32, 0),
       octets({{0x30, 0x25, 0x02, 0x20, 0x7f}, V(31, 0xff), {0x02, 0x01, 0x00}})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    signAnswer = octets({row.r, row.s});
    std::vector<uint8_t> digest(32, 9), signature;
    EXPECT_EQ(KM_OK, keys.signing->sign(2, 3, digest.data(), digest.size(), signature));
    EXPECT_EQ(row.der, signature);
  }
  signAnswer.clear();
  keyType = CKK_RSA;
}

}  // namespace
