// Keys on a PKCS#11 token: the token chosen by the profile, one session logged in with the
// user's PIN, and each private key paired with its certificate by CKA_ID (and by the key's
// modulus or curve, where the token tells them). Signing is CKM_RSA_PKCS over a DigestInfo,
// CKM_RSA_PKCS_PSS or CKM_ECDSA over the digest; session keys are unwrapped with CKM_RSA_PKCS.
// What the token answers (counts, attribute lengths, signature lengths) is checked and bounded
// before it is used.
#pragma once

#include "keys/keyholder.h"
#include "keys/pkcs11lib.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Key-manager statuses of the token (the callers map them to result codes).
const int32_t P11_WRONG_PIN = 13;
const int32_t P11_RSA_FAILED = 14;  // the token refused to start an RSA decryption
const int32_t P11_TOKEN_NOT_FOUND = 24;
const int32_t P11_TOKEN_ERROR = 25;  // any other refusal; the return value is kept
const int32_t P11_PIN_LOCKED = 27;
const int32_t P11_NO_KEY = 37;  // the key label names no private key
const int32_t P11_TOO_MANY_KEYS = 42;
const int32_t P11_TOO_MANY_TOKENS = 43;
const int32_t P11_NO_SIGNING_PIN = 49;
const int32_t P11_NO_DECRYPTION_PIN = 50;
const int32_t P11_CANCELLED = 61;

// What a PKCS#11 profile chooses (its attributes 5, 6, 27, 32 and 34).
struct Pkcs11Choice {
  std::string tokenLabel;       // 5: the token's label; empty: the one token present
  std::string keyLabel;         // 6: the private keys' CKA_LABEL; empty: any
  bool signingOnly = false;     // 27: no decryption key is looked for
  bool decryptionOnly = false;  // 32: no signing key is looked for
  bool oneKeyForBoth = false;   // 34: the signing key also decrypts (key-usage bit 2)
  bool externalPin[2] = {false, false};  // 21, 22: the signing / decryption PIN is entered on
                                         // the reader (C_Login without a PIN)
};

// The PIN of a usage (1 signing, 2 decryption), as KeyConfigAccess::getPin answers: 0,
// 34 (length needed stored), 41 none.
using Pkcs11PinSource = std::function<int32_t(int32_t usage, char* buffer, size_t* length)>;

// One session on a token. Its operations are serialised: a session runs one operation at a
// time, and clones of a context share it from several threads.
class Pkcs11Session {
 public:
  Pkcs11Session(std::shared_ptr<Pkcs11Library> library, CK_SESSION_HANDLE session,
                CK_SLOT_ID slot);
  ~Pkcs11Session();
  Pkcs11Session(const Pkcs11Session&) = delete;
  Pkcs11Session& operator=(const Pkcs11Session&) = delete;

  // One signature over `in`; `out` receives at most `maxOut` octets.
  CK_RV sign(const CK_MECHANISM& mechanism, CK_OBJECT_HANDLE key, const uint8_t* in,
             size_t length, size_t maxOut, std::vector<uint8_t>& out);
  // CKM_RSA_PKCS; `started` tells whether the block reached the token (C_DecryptInit passed).
  CK_RV decrypt(CK_OBJECT_HANDLE key, const uint8_t* in, size_t length, uint8_t* out,
                size_t maxOut, size_t& outLength, bool& started);

  CK_RV lastCkr() const { return last.load(); }

  // Whether the session can still use the user's keys: 0 it can (logged in, or a token that
  // needs no login); 1 the token forgot the login (logged out elsewhere, or reinserted: the
  // keys' handles went with it); 4; 24 the session or the token is gone; 25 another refusal.
  int32_t loginState(CK_RV& ckr);

 private:
  std::shared_ptr<Pkcs11Library> library;
  CK_SESSION_HANDLE handle;
  CK_SLOT_ID slot;
  std::mutex lock;
  std::atomic<CK_RV> last{CKR_OK};
};

// A private key of the token with its certificate.
class Pkcs11Key : public KeyHolder {
 public:
  Pkcs11Key(std::shared_ptr<Pkcs11Session> session, CK_OBJECT_HANDLE key, CK_KEY_TYPE type,
            std::unique_ptr<SignedCertificate> certificate, bool canSign, bool canDecrypt);
  ~Pkcs11Key() override;

  const SignedCertificate* certificate() const override { return cert.get(); }
  int32_t scheme() const override;
  uint32_t keyBits() const override { return bits; }
  bool supportsDigest(int32_t digestId) const override;
  // RSA: scheme 0 (CKM_RSA_PKCS over a DigestInfo) or 3 (CKM_RSA_PKCS_PSS, MGF1 over the
  // digest, a salt as long as it; the SHA-1 and SHA-2 digests), only 3 for a key restricted to
  // PSS; EC: scheme 2 (CKM_ECDSA).
  int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest, size_t digestLength,
               std::vector<uint8_t>& signature) override;
  // CKM_RSA_PKCS. A block the token took and refused is 18, whatever the token said; a
  // token that will not start: 13 not logged in, 27 PIN blocked, 25 gone, 14 otherwise.
  int32_t decryptSessionKey(const uint8_t* encrypted, size_t length,
                            std::unique_ptr<SecretBlock>& sessionKey) override;

 private:
  std::shared_ptr<Pkcs11Session> session;
  CK_OBJECT_HANDLE object;
  CK_KEY_TYPE keyType;
  std::unique_ptr<SignedCertificate> cert;
  uint32_t bits;
  bool signs, decrypts;
  bool pssOnly;  // the certificate names the key id-RSASSA-PSS
};

// Chooses the token, opens a session, logs in and finds the keys. Statuses: 0 (either holder
// may still be NULL: no key of that usage), 4, 13, 20, 24, 25, 27, 37, 42, 43, 49, 50, 61.
// `ckr` keeps the token's last answer.
struct Pkcs11Keys {
  std::shared_ptr<Pkcs11Session> session;
  std::shared_ptr<KeyHolder> signing;
  std::shared_ptr<KeyHolder> decryption;
};
int32_t openPkcs11Keys(const std::shared_ptr<Pkcs11Library>& library, const Pkcs11Choice& choice,
                       const Pkcs11PinSource& pin, Pkcs11Keys& keys, CK_RV& ckr);

class TalProfile;
// What a PKCS#11 profile holds: the module path (attribute 3) and the choices above; texts end
// at their first zero.
std::string pkcs11ModulePath(const TalProfile& profile);
Pkcs11Choice pkcs11Choice(const TalProfile& profile);
