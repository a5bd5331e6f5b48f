#include "keys/pkcs11key.h"

#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "pki/keys/dsaparms.h"
#include "pki/x509/cert.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const int32_t STATUS_OK = 0;
const int32_t STATUS_BAD_ARGUMENTS = 1;
const int32_t STATUS_NO_MEMORY = 4;
const int32_t STATUS_NO_SESSION_KEY = 18;
const int32_t STATUS_DEVICE_ERROR = 20;

// Bounds on what a module may hand back.
const CK_ULONG MAX_SLOTS = 64;
const size_t MAX_OBJECTS = 256;
const CK_ULONG FIND_BATCH = 16;
const size_t MAX_ID = 256;
const size_t MAX_CERTIFICATE = 64 * 1024;
const size_t MAX_PIN = 256;
const size_t MAX_INPUT = 64 * 1024;
const CK_ULONG MAX_OUTPUT = 16 * 1024;
// Our verdict on a module that answered outside the bounds above.
const CK_RV OUT_OF_BOUNDS = CKR_GENERAL_ERROR;

// A label as the profile or the token gives it: the token's is blank-padded to 32 octets,
// the profile's may end in a zero.
std::string trimLabel(const char* text, size_t length) {
  std::string s(text, length);
  size_t end = s.find('\0');
  if (end != std::string::npos) s.resize(end);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

int32_t loginStatus(CK_RV rv) {
  switch (rv) {
    case CKR_OK:
    case CKR_USER_ALREADY_LOGGED_IN:
      return STATUS_OK;
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
      return P11_WRONG_PIN;
    case CKR_PIN_LOCKED:
      return P11_PIN_LOCKED;
    case CKR_CANCEL:
    case CKR_FUNCTION_CANCELED:
      return P11_CANCELLED;
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_DEVICE_REMOVED:
      return P11_TOKEN_NOT_FOUND;
    case CKR_HOST_MEMORY:
      return STATUS_NO_MEMORY;
    default:
      return P11_TOKEN_ERROR;
  }
}

// A token that will not start a decryption, in the statuses session-key decryption answers.
int32_t decryptRefusal(CK_RV rv) {
  switch (rv) {
    case CKR_HOST_MEMORY:
      return STATUS_NO_MEMORY;
    case CKR_USER_NOT_LOGGED_IN:
    case CKR_PIN_EXPIRED:
      return P11_WRONG_PIN;
    case CKR_PIN_LOCKED:
      return P11_PIN_LOCKED;
    case CKR_DEVICE_ERROR:
    case CKR_DEVICE_MEMORY:
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_SESSION_CLOSED:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_CRYPTOKI_NOT_INITIALIZED:
      return P11_TOKEN_ERROR;
    default:
      return P11_RSA_FAILED;
  }
}

// Reading the objects of one session while it is being set up (no other user yet).
class Finder {
 public:
  Finder(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s) : fn(f), session(s) {}

  // At most MAX_OBJECTS objects; more set tooMany (and the answer is not CKR_OK).
  CK_RV find(CK_ATTRIBUTE* tmpl, CK_ULONG count, std::vector<CK_OBJECT_HANDLE>& out,
             bool* tooMany = nullptr) {
    out.clear();
    if (tooMany) *tooMany = false;
    CK_RV rv = fn->C_FindObjectsInit(session, tmpl, count);
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE batch[FIND_BATCH];
    for (;;) {
      CK_ULONG got = 0;
      rv = fn->C_FindObjects(session, batch, FIND_BATCH, &got);
      if (rv != CKR_OK) break;
      if (got > FIND_BATCH) {
        rv = OUT_OF_BOUNDS;
        break;
      }
      if (got == 0) break;
      if (out.size() + got > MAX_OBJECTS) {
        if (tooMany) *tooMany = true;
        rv = OUT_OF_BOUNDS;
        break;
      }
      out.insert(out.end(), batch, batch + got);
    }
    CK_RV final = fn->C_FindObjectsFinal(session);
    return rv != CKR_OK ? rv : final;
  }

  // The attribute's value, at most `cap` octets; absent attributes fail.
  CK_RV bytes(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, size_t cap,
              std::vector<uint8_t>& value) {
    value.clear();
    CK_ATTRIBUTE a = {type, nullptr, 0};
    CK_RV rv = fn->C_GetAttributeValue(session, object, &a, 1);
    if (rv != CKR_OK) return rv;
    if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION || a.ulValueLen > cap) return OUT_OF_BOUNDS;
    value.resize(a.ulValueLen);
    const CK_ULONG asked = a.ulValueLen;
    a.pValue = value.empty() ? nullptr : value.data();
    rv = fn->C_GetAttributeValue(session, object, &a, 1);
    if (rv != CKR_OK) return rv;
    if (a.ulValueLen > asked) return OUT_OF_BOUNDS;
    value.resize(a.ulValueLen);
    return CKR_OK;
  }

  // A fixed-size attribute: exactly its size, or it is taken as absent.
  template <typename T>
  bool fixed(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, T& value) {
    T v{};
    CK_ATTRIBUTE a = {type, &v, sizeof v};
    if (fn->C_GetAttributeValue(session, object, &a, 1) != CKR_OK || a.ulValueLen != sizeof v)
      return false;
    value = v;
    return true;
  }

 private:
  CK_FUNCTION_LIST* fn;
  CK_SESSION_HANDLE session;
};

// PSS over one of the SHA digests: MGF1 with the same hash, a salt as long as the digest.
bool pssParameters(int32_t digestId, size_t digestLength, CK_RSA_PKCS_PSS_PARAMS& params) {
  static const struct {
    int32_t id;
    CK_MECHANISM_TYPE hash;
    CK_RSA_PKCS_MGF_TYPE mgf;
  } rows[] = {{1, CKM_SHA_1, CKG_MGF1_SHA1},
              {2, CKM_SHA224, CKG_MGF1_SHA224},
              {3, CKM_SHA256, CKG_MGF1_SHA256},
              {4, CKM_SHA384, CKG_MGF1_SHA384},
              {5, CKM_SHA512, CKG_MGF1_SHA512}};
  for (const auto& row : rows) {
    if (row.id != digestId) continue;
    params.hashAlg = row.hash;
    params.mgf = row.mgf;
    params.sLen = digestLength;
    return true;
  }
  return false;
}

// Octets of the digest of a hash with an OID (those a DigestInfo can name); 0 for any other
// number, numbers of no hash included.
size_t namedDigestOctets(int32_t digestId) {
  const int32_t HASH_IDS = 9;  // the hash library's ids are 1 to 9
  int length = 0;
  if (digestId < 1 || digestId > HASH_IDS || !digestTypeToOid(digestId, nullptr, &length) ||
      length <= 0)
    return 0;
  return static_cast<size_t>(length);
}

// The DER DigestInfo of a digest (NULL parameters).
bool digestInfo(int32_t digestId, const uint8_t* digest, size_t length, std::vector<uint8_t>& der) {
  DigestInfo info;
  return info.digestAlgorithm.setDigest(digestId) &&
         info.digest.set(digest, static_cast<int>(length)) == 1 && info.encodeVector(der) > 0;
}

// RFC 4055: a key its certificate names id-RSASSA-PSS signs with PSS and does nothing else.
bool pssOnlyKey(const SignedCertificate& c) {
  return c.tbsCertificate.subjectPublicKeyInfo.algorithm.algorithm == id_RSASSA_PSS;
}

struct Candidate {
  CK_OBJECT_HANDLE object;
  CK_KEY_TYPE type;
  bool sign, decrypt;
  std::unique_ptr<SignedCertificate> certificate;
};

// Big-endian magnitudes equal but for leading zero octets.
bool sameMagnitude(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  while (an > 0 && *a == 0) ++a, --an;
  while (bn > 0 && *b == 0) ++b, --bn;
  return an == bn && (an == 0 || std::memcmp(a, b, an) == 0);
}

// The key's own public part as the token tells it (CKA_MODULUS of an RSA key, CKA_EC_PARAMS of
// an EC key; empty when the token does not say), to tell a certificate of another key filed
// under the same CKA_ID.
bool keyMatchesCertificate(CK_KEY_TYPE type, const std::vector<uint8_t>& own,
                           const SignedCertificate& c) {
  const SubPubKeyInfo& key = c.tbsCertificate.subjectPublicKeyInfo;
  // The key's size sizes the token's output (an RSA block, or EC-DSA's r and s): a size the
  // certificate merely claims stays within what is read from a token.
  const unsigned int bits = key.keyBits();
  if (bits == 0 || bits > (type == CKK_EC ? 4 : 8) * MAX_OUTPUT) return false;
  if (type == CKK_RSA) {
    if (!isRsaKeyOid(key.algorithm.algorithm)) return false;
    const ASNinteger& n = key.rsaKey.modulus;
    return own.empty() || sameMagnitude(own.data(), own.size(), n.data(),
                                        static_cast<size_t>(n.length > 0 ? n.length : 0));
  }
  if (type == CKK_EC) {
    if (!key.isEcKey()) return false;
    // Named curves compared; a curve given by its parameters on one side cannot be.
    std::vector<uint8_t> params;
    if (own.empty() || own[0] != 0x06 || !key.algorithm.parametersPresent ||
        key.algorithm.parameters.encodeVector(params) <= 0 || params.empty() || params[0] != 0x06)
      return true;
    return params == own;
  }
  return false;
}

// The first X.509 certificate with the key's CKA_ID that decodes and carries this key.
CK_RV certificateOf(Finder& finder, const std::vector<uint8_t>& id, CK_KEY_TYPE type,
                    const std::vector<uint8_t>& own, std::unique_ptr<SignedCertificate>& out) {
  CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE ctype = CKC_X_509;
  CK_ATTRIBUTE tmpl[] = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_CERTIFICATE_TYPE, &ctype, sizeof ctype},
      {CKA_ID, const_cast<uint8_t*>(id.data()), static_cast<CK_ULONG>(id.size())},
  };
  std::vector<CK_OBJECT_HANDLE> found;
  CK_RV rv = finder.find(tmpl, 3, found);
  if (rv != CKR_OK) return rv;
  for (CK_OBJECT_HANDLE h : found) {
    std::vector<uint8_t> der;
    if (finder.bytes(h, CKA_VALUE, MAX_CERTIFICATE, der) != CKR_OK || der.empty()) continue;
    std::unique_ptr<SignedCertificate> c(new SignedCertificate);
    // In place over a private copy: the certificate handed on is the octets its
    // issuer signed, DER or not, never a re-encoding.
    if (c->decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY) <= 0 ||
        !keyMatchesCertificate(type, own, *c))
      continue;
    out = std::move(c);
    return CKR_OK;
  }
  return CKR_OK;
}

// The token's slot: the one whose label is asked for, else the one token present.
int32_t chooseSlot(CK_FUNCTION_LIST* fn, const std::string& label, CK_SLOT_ID& slot,
                   CK_TOKEN_INFO& info, CK_RV& ckr) {
  std::vector<CK_SLOT_ID> slots;
  for (int attempt = 0;; ++attempt) {
    CK_ULONG count = 0;
    ckr = fn->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (ckr != CKR_OK) return P11_TOKEN_ERROR;
    if (count == 0) return P11_TOKEN_NOT_FOUND;
    if (count > MAX_SLOTS) {
      ckr = OUT_OF_BOUNDS;
      return P11_TOKEN_ERROR;
    }
    slots.assign(count, 0);
    CK_ULONG got = count;
    ckr = fn->C_GetSlotList(CK_TRUE, slots.data(), &got);
    // A token put in between the two calls: ask again, a few times.
    if (ckr == CKR_BUFFER_TOO_SMALL && attempt < 3) continue;
    if (ckr != CKR_OK) return P11_TOKEN_ERROR;
    if (got > count) {
      ckr = OUT_OF_BOUNDS;
      return P11_TOKEN_ERROR;
    }
    slots.resize(got);
    break;
  }
  size_t matches = 0;
  for (CK_SLOT_ID s : slots) {
    CK_TOKEN_INFO t;
    std::memset(&t, 0, sizeof t);
    if (fn->C_GetTokenInfo(s, &t) != CKR_OK) continue;  // taken out meanwhile
    // A token never initialised holds no keys (SoftHSM keeps one such in a slot of its own).
    if (!(t.flags & CKF_TOKEN_INITIALIZED)) continue;
    if (!label.empty() &&
        trimLabel(reinterpret_cast<const char*>(t.label), sizeof t.label) != label)
      continue;
    if (++matches == 1) {
      slot = s;
      info = t;
    }
  }
  ckr = CKR_OK;
  if (matches == 0) return P11_TOKEN_NOT_FOUND;
  return matches == 1 ? STATUS_OK : P11_TOO_MANY_TOKENS;
}

// A single-part operation answered CKR_BUFFER_TOO_SMALL stays open for a second call with a
// larger buffer, and would refuse every later operation of its kind on the session. It is
// ended: by that call when the length asked for is sane (its octets wiped and dropped), else by
// an init without a mechanism, which cancels.
void endOpenOperation(CK_ULONG needed, const std::function<CK_RV(uint8_t*, CK_ULONG*)>& finish,
                      const std::function<void()>& cancel) {
  try {
    if (needed > 0 && needed <= MAX_OUTPUT) {
      SecretBlock scratch(needed);
      CK_ULONG length = needed;
      if (finish(scratch.data(), &length) != CKR_BUFFER_TOO_SMALL) return;
    }
  } catch (const std::bad_alloc&) {
  }
  cancel();
}

int32_t login(Pkcs11Library& library, CK_SESSION_HANDLE session, CK_SLOT_ID slot,
              const CK_TOKEN_INFO& info, int32_t usage, bool external,
              const Pkcs11PinSource& pin, CK_RV& ckr) {
  CK_FUNCTION_LIST* fn = library.functions();
  ckr = CKR_OK;
  if (!(info.flags & CKF_LOGIN_REQUIRED)) return STATUS_OK;
  if (info.flags & CKF_USER_PIN_LOCKED) {
    ckr = CKR_PIN_LOCKED;
    return P11_PIN_LOCKED;
  }
  if (external) {
    ckr = fn->C_Login(session, CKU_USER, nullptr, 0);  // the reader asks for it
    return loginStatus(ckr);
  }
  const int32_t noPin = usage == 2 ? P11_NO_DECRYPTION_PIN : P11_NO_SIGNING_PIN;
  if (!pin) return noPin;
  SecretBlock buffer(MAX_PIN + 1);
  size_t length = buffer.size();
  int32_t r = pin(usage, reinterpret_cast<char*>(buffer.data()), &length);
  if (r != 0 || length > MAX_PIN) return noPin;
  ckr = library.login(slot, session, buffer.data(), length);
  return loginStatus(ckr);
}

}  // namespace

Pkcs11Session::Pkcs11Session(std::shared_ptr<Pkcs11Library> lib, CK_SESSION_HANDLE session,
                             CK_SLOT_ID slotId)
    : library(std::move(lib)), handle(session), slot(slotId) {
  library->sessionOpened(slot);
}

Pkcs11Session::~Pkcs11Session() {
  // No C_Logout: the login belongs to the whole process, and other sessions of this module
  // may still use it. Closing the last session ends it.
  library->functions()->C_CloseSession(handle);
  library->sessionClosed(slot);
}

CK_RV Pkcs11Session::sign(const CK_MECHANISM& mechanism, CK_OBJECT_HANDLE key,
                          const uint8_t* in, size_t length, size_t maxOut,
                          std::vector<uint8_t>& out) {
  out.clear();
  CK_FUNCTION_LIST* fn = library->functions();
  CK_MECHANISM m = mechanism;
  std::lock_guard<std::mutex> guard(lock);
  CK_RV rv = fn->C_SignInit(handle, &m, key);
  if (rv == CKR_OK) {
    out.assign(maxOut, 0);
    CK_ULONG got = maxOut;
    CK_BYTE* data = const_cast<uint8_t*>(in);
    const CK_ULONG dataLength = static_cast<CK_ULONG>(length);
    rv = fn->C_Sign(handle, data, dataLength, out.data(), &got);
    if (rv == CKR_BUFFER_TOO_SMALL)
      endOpenOperation(
          got, [&](uint8_t* b, CK_ULONG* n) { return fn->C_Sign(handle, data, dataLength, b, n); },
          [&] { fn->C_SignInit(handle, nullptr, 0); });
    if (rv == CKR_OK && got > maxOut) rv = OUT_OF_BOUNDS;
    out.resize(rv == CKR_OK ? got : 0);
  }
  last.store(rv);
  return rv;
}

CK_RV Pkcs11Session::decrypt(CK_OBJECT_HANDLE key, const uint8_t* in, size_t length, uint8_t* out,
                             size_t maxOut, size_t& outLength, bool& started) {
  outLength = 0;
  started = false;
  CK_FUNCTION_LIST* fn = library->functions();
  CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
  std::lock_guard<std::mutex> guard(lock);
  CK_RV rv = fn->C_DecryptInit(handle, &m, key);
  if (rv == CKR_OK) {
    started = true;
    CK_ULONG got = maxOut;
    CK_BYTE* data = const_cast<uint8_t*>(in);
    const CK_ULONG dataLength = static_cast<CK_ULONG>(length);
    rv = fn->C_Decrypt(handle, data, dataLength, out, &got);
    if (rv == CKR_BUFFER_TOO_SMALL)
      endOpenOperation(
          got,
          [&](uint8_t* b, CK_ULONG* n) { return fn->C_Decrypt(handle, data, dataLength, b, n); },
          [&] { fn->C_DecryptInit(handle, nullptr, 0); });
    if (rv == CKR_OK && got > maxOut) rv = OUT_OF_BOUNDS;
    if (rv == CKR_OK) outLength = got;
  }
  last.store(rv);
  return rv;
}

int32_t Pkcs11Session::loginState(CK_RV& ckr) {
  CK_FUNCTION_LIST* fn = library->functions();
  std::lock_guard<std::mutex> guard(lock);
  CK_SESSION_INFO info;
  std::memset(&info, 0, sizeof info);
  ckr = fn->C_GetSessionInfo(handle, &info);
  CK_TOKEN_INFO token;
  std::memset(&token, 0, sizeof token);
  // The token itself is asked too: one deleted or pulled may leave the session looking alive.
  if (ckr == CKR_OK) ckr = fn->C_GetTokenInfo(slot, &token);
  last.store(ckr);
  if (ckr == CKR_OK)
    return info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS ||
                   !(token.flags & CKF_LOGIN_REQUIRED)
               ? STATUS_OK
               : 1;
  switch (ckr) {
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
    case CKR_SLOT_ID_INVALID:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_DEVICE_REMOVED:
      return P11_TOKEN_NOT_FOUND;
    case CKR_HOST_MEMORY:
      return STATUS_NO_MEMORY;
    default:
      return P11_TOKEN_ERROR;
  }
}

Pkcs11Key::Pkcs11Key(std::shared_ptr<Pkcs11Session> s, CK_OBJECT_HANDLE key, CK_KEY_TYPE type,
                     std::unique_ptr<SignedCertificate> certificate, bool canSign,
                     bool canDecrypt)
    : session(std::move(s)),
      object(key),
      keyType(type),
      cert(std::move(certificate)),
      bits(cert->tbsCertificate.subjectPublicKeyInfo.keyBits()),
      signs(canSign),
      decrypts(canDecrypt && type == CKK_RSA && !pssOnlyKey(*cert)),
      pssOnly(type == CKK_RSA && pssOnlyKey(*cert)) {}

Pkcs11Key::~Pkcs11Key() = default;

int32_t Pkcs11Key::scheme() const { return keyType == CKK_EC ? 2 : pssOnly ? 3 : 0; }

bool Pkcs11Key::supportsDigest(int32_t digestId) const {
  // RSA needs the digest's OID for the DigestInfo, and room for it (or for PSS) in the block;
  // EC-DSA signs any digest of known length, and the lengths are known for the digests with an
  // OID.
  const size_t h = namedDigestOctets(digestId);
  if (h == 0) return false;
  if (keyType != CKK_RSA) return true;
  const size_t k = (bits + 7) / 8;
  CK_RSA_PKCS_PSS_PARAMS params;
  if (pssOnly) return pssParameters(digestId, h, params) && 2 * h + 2 <= k;
  try {
    std::vector<uint8_t> zeros(h, 0), der;
    return digestInfo(digestId, zeros.data(), h, der) && der.size() + 11 <= k;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int32_t Pkcs11Key::sign(int32_t scheme, int32_t digestId, const uint8_t* digest,
                        size_t digestLength, std::vector<uint8_t>& signature) {
  signature.clear();
  if (!signs) return P11_NO_KEY;
  const size_t expected = namedDigestOctets(digestId);
  if (!digest || expected == 0 || digestLength != expected) return STATUS_BAD_ARGUMENTS;
  const size_t k = (bits + 7) / 8;
  try {
    std::vector<uint8_t> out;
    if (keyType == CKK_RSA && scheme == 0) {
      // RFC 4055: a key named id-RSASSA-PSS signs with PSS only.
      if (pssOnly) return STATUS_BAD_ARGUMENTS;
      std::vector<uint8_t> der;
      if (!digestInfo(digestId, digest, digestLength, der)) return STATUS_NO_MEMORY;
      // PKCS#1 v1.5 padding takes eleven octets at least.
      if (der.size() + 11 > k) return STATUS_BAD_ARGUMENTS;
      const CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
      if (session->sign(m, object, der.data(), der.size(), k, out) != CKR_OK)
        return STATUS_DEVICE_ERROR;
    } else if (keyType == CKK_RSA && scheme == 3) {
      CK_RSA_PKCS_PSS_PARAMS params;
      if (!pssParameters(digestId, digestLength, params) || 2 * digestLength + 2 > k)
        return STATUS_BAD_ARGUMENTS;
      const CK_MECHANISM m = {CKM_RSA_PKCS_PSS, &params, sizeof params};
      if (session->sign(m, object, digest, digestLength, k, out) != CKR_OK)
        return STATUS_DEVICE_ERROR;
    } else if (keyType == CKK_EC && scheme == 2) {
      // r and s, each as long as the group order, one after the other.
      const CK_MECHANISM m = {CKM_ECDSA, nullptr, 0};
      if (session->sign(m, object, digest, digestLength, 2 * k, out) != CKR_OK)
        return STATUS_DEVICE_ERROR;
      if (out.empty() || out.size() % 2 != 0) return STATUS_DEVICE_ERROR;
      const int half = static_cast<int>(out.size() / 2);
      DSASignature sig;
      if (sig.r.setBytes(out.data(), half) != 1 ||
          sig.s.setBytes(out.data() + half, half) != 1 || sig.encodeVector(signature) <= 0) {
        signature.clear();
        return STATUS_NO_MEMORY;
      }
      return STATUS_OK;
    } else {
      return STATUS_BAD_ARGUMENTS;
    }
    // I2OSP: a module that dropped leading zero octets gets them back.
    if (out.empty()) return STATUS_DEVICE_ERROR;
    signature.assign(k - out.size(), 0);
    signature.insert(signature.end(), out.begin(), out.end());
    return STATUS_OK;
  } catch (const std::bad_alloc&) {
    signature.clear();
    return STATUS_NO_MEMORY;
  }
}

int32_t Pkcs11Key::decryptSessionKey(const uint8_t* encrypted, size_t length,
                                     std::unique_ptr<SecretBlock>& sessionKey) {
  sessionKey.reset();
  if (!decrypts) return P11_NO_KEY;
  const size_t k = (bits + 7) / 8;
  if (!encrypted || length != k || length > MAX_INPUT) return STATUS_NO_SESSION_KEY;
  try {
    SecretBlock plain(k);
    size_t got = 0;
    bool started = false;
    CK_RV rv =
        session->decrypt(object, encrypted, length, plain.data(), plain.size(), got, started);
    // Once the block reached the token, every refusal is one answer (modules report bad
    // padding as anything, even as a general error): no session key. Before, the token
    // refused the operation itself.
    if (rv != CKR_OK) return started ? STATUS_NO_SESSION_KEY : decryptRefusal(rv);
    if (got == 0) return STATUS_NO_SESSION_KEY;
    plain.shrink(got);
    std::unique_ptr<SecretBlock> key(new SecretBlock(got));
    std::memcpy(key->data(), plain.data(), got);
    sessionKey = std::move(key);
    return STATUS_OK;
  } catch (const std::bad_alloc&) {
    return STATUS_NO_MEMORY;
  }
}

int32_t openPkcs11Keys(const std::shared_ptr<Pkcs11Library>& library, const Pkcs11Choice& choice,
                       const Pkcs11PinSource& pin, Pkcs11Keys& keys, CK_RV& ckr) {
  keys = Pkcs11Keys();
  ckr = CKR_OK;
  if (!library) return STATUS_DEVICE_ERROR;
  CK_FUNCTION_LIST* fn = library->functions();
  try {
    CK_SLOT_ID slot = 0;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    int32_t chosen = chooseSlot(fn, choice.tokenLabel, slot, info, ckr);
    if (chosen != STATUS_OK) return chosen;

    CK_SESSION_HANDLE handle = 0;
    ckr = fn->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
    if (ckr != CKR_OK) {
      int32_t s = loginStatus(ckr);
      return s == P11_TOKEN_NOT_FOUND || s == STATUS_NO_MEMORY ? s : P11_TOKEN_ERROR;
    }
    std::shared_ptr<Pkcs11Session> session;
    try {
      session = std::make_shared<Pkcs11Session>(library, handle, slot);
    } catch (const std::bad_alloc&) {
      fn->C_CloseSession(handle);
      throw;
    }
    const int32_t usage = choice.decryptionOnly ? 2 : 1;
    int32_t logged =
        login(*library, handle, slot, info, usage, choice.externalPin[usage - 1], pin, ckr);
    if (logged != STATUS_OK) return logged;

    Finder finder(fn, handle);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    std::vector<CK_ATTRIBUTE> tmpl = {{CKA_CLASS, &cls, sizeof cls}};
    if (!choice.keyLabel.empty())
      tmpl.push_back({CKA_LABEL, const_cast<char*>(choice.keyLabel.data()),
                      static_cast<CK_ULONG>(choice.keyLabel.size())});
    std::vector<CK_OBJECT_HANDLE> found;
    bool tooMany = false;
    ckr = finder.find(tmpl.data(), static_cast<CK_ULONG>(tmpl.size()), found, &tooMany);
    if (tooMany) return P11_TOO_MANY_KEYS;
    if (ckr != CKR_OK) return P11_TOKEN_ERROR;
    if (found.empty() && !choice.keyLabel.empty()) return P11_NO_KEY;

    std::vector<Candidate> candidates;
    for (CK_OBJECT_HANDLE h : found) {
      Candidate c{h, 0, false, false, nullptr};
      if (!finder.fixed(h, CKA_KEY_TYPE, c.type) || (c.type != CKK_RSA && c.type != CKK_EC))
        continue;
      CK_BBOOL flag = CK_FALSE;
      c.sign = finder.fixed(h, CKA_SIGN, flag) && flag == CK_TRUE;
      flag = CK_FALSE;
      c.decrypt = c.type == CKK_RSA && finder.fixed(h, CKA_DECRYPT, flag) && flag == CK_TRUE;
      std::vector<uint8_t> id, own;
      if (finder.bytes(h, CKA_ID, MAX_ID, id) != CKR_OK) continue;
      if (finder.bytes(h, c.type == CKK_RSA ? CKA_MODULUS : CKA_EC_PARAMS, MAX_OUTPUT, own) !=
          CKR_OK)
        own.clear();
      ckr = certificateOf(finder, id, c.type, own, c.certificate);
      if (ckr == OUT_OF_BOUNDS) return P11_TOKEN_ERROR;
      if (ckr != CKR_OK || !c.certificate) continue;
      if (pssOnlyKey(*c.certificate)) c.decrypt = false;
      candidates.push_back(std::move(c));
    }
    ckr = CKR_OK;

    // The one candidate of a usage; more than one cannot be chosen between.
    auto pick = [&](bool forSigning, Candidate*& out) {
      out = nullptr;
      for (Candidate& c : candidates) {
        if (!(forSigning ? c.sign : c.decrypt)) continue;
        if (choice.oneKeyForBoth && !(c.sign && c.decrypt)) continue;
        if (out) return false;
        out = &c;
      }
      return true;
    };
    Candidate* signing = nullptr;
    Candidate* decryption = nullptr;
    const bool wantSigning = !choice.decryptionOnly;
    const bool wantDecryption = !choice.signingOnly;
    if (wantSigning && !pick(true, signing)) return P11_TOO_MANY_KEYS;
    if (wantDecryption && !choice.oneKeyForBoth && !pick(false, decryption))
      return P11_TOO_MANY_KEYS;
    if (choice.oneKeyForBoth && !wantSigning && !pick(false, decryption))
      return P11_TOO_MANY_KEYS;

    auto holder = [&](Candidate& c) {
      return std::make_shared<Pkcs11Key>(session, c.object, c.type,
                                         std::unique_ptr<SignedCertificate>(
                                             new SignedCertificate(*c.certificate)),
                                         c.sign, c.decrypt);
    };
    if (signing) keys.signing = holder(*signing);
    if (choice.oneKeyForBoth && signing && wantDecryption)
      keys.decryption = keys.signing;
    else if (decryption)
      keys.decryption = holder(*decryption);
    keys.session = std::move(session);
    return STATUS_OK;
  } catch (const std::bad_alloc&) {
    keys = Pkcs11Keys();
    return STATUS_NO_MEMORY;
  }
}

namespace {

std::string profileText(const TalProfile& profile, int32_t number, size_t cap) {
  std::vector<char> buffer(cap, 0);
  size_t length = buffer.size();
  int32_t r = profile.getAttribute(number, buffer.data(), &length);
  if ((r != PROFILE_ATTR_OK && r != PROFILE_ATTR_DEFAULT) || length > buffer.size()) return "";
  return trimLabel(buffer.data(), length);
}

bool profileFlag(const TalProfile& profile, int32_t number) {
  int32_t value = 0;
  size_t length = sizeof value;
  int32_t r = profile.getAttribute(number, &value, &length);
  return (r == PROFILE_ATTR_OK || r == PROFILE_ATTR_DEFAULT) && length == sizeof value &&
         value != 0;
}

}  // namespace

std::string pkcs11ModulePath(const TalProfile& profile) {
  std::string path = profileText(profile, 3, 4096);
  return path;
}

Pkcs11Choice pkcs11Choice(const TalProfile& profile) {
  Pkcs11Choice choice;
  choice.tokenLabel = profileText(profile, 5, 256);
  choice.keyLabel = profileText(profile, 6, 256);
  choice.signingOnly = profileFlag(profile, 27);
  choice.decryptionOnly = profileFlag(profile, 32);
  choice.oneKeyForBoth = profileFlag(profile, 34);
  choice.externalPin[0] = profileFlag(profile, 21);
  choice.externalPin[1] = profileFlag(profile, 22);
  return choice;
}
