// libFuzzer target over what a PKCS#11 module answers: an in-process module whose every
// return value, count, length and octet comes from the input (it writes no more than the room
// it is given, as any module must, but reports whatever the input says). The binding chooses
// the token, logs in, finds keys and certificates, then signs with both schemes and unwraps a
// session key; every answer must be one of the documented statuses, and no read may pass
// what was handed to the module.
#include "keys/pkcs11key.h"
#include "keys/pkcs11lib.h"
#include "keys/secretblock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const uint8_t* in = nullptr;
size_t left = 0;

uint8_t byte() {
  if (left == 0) return 0;
  --left;
  return *in++;
}
// Mostly small, now and then anything.
CK_ULONG number() {
  uint8_t b = byte();
  if (b < 0xF0) return b & 3;
  CK_ULONG v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | byte();
  return b == 0xFF ? CK_UNAVAILABLE_INFORMATION : v;
}
CK_RV rv() {
  static const CK_RV refusals[] = {CKR_GENERAL_ERROR,   CKR_PIN_INCORRECT,     CKR_PIN_LOCKED,
                                   CKR_DEVICE_REMOVED,  CKR_BUFFER_TOO_SMALL,  CKR_FUNCTION_CANCELED,
                                   CKR_HOST_MEMORY,     CKR_USER_ALREADY_LOGGED_IN};
  uint8_t b = byte();
  return b < 0xE0 ? CKR_OK : refusals[b % (sizeof refusals / sizeof refusals[0])];
}
// Claims `claimed` octets, writes those that fit.
void fill(void* out, CK_ULONG room, CK_ULONG claimed) {
  CK_ULONG n = claimed < room ? claimed : room;
  uint8_t* o = static_cast<uint8_t*>(out);
  for (CK_ULONG i = 0; i < n && left > 0; ++i) o[i] = byte();
}

CK_RV fInitialize(void*) { return CKR_OK; }
CK_RV fFinalize(void*) { return CKR_OK; }
CK_RV fGetSlotList(CK_BBOOL, CK_SLOT_ID* list, CK_ULONG* count) {
  CK_ULONG n = number();
  if (list) fill(list, *count * sizeof(CK_SLOT_ID), n * sizeof(CK_SLOT_ID));
  *count = n;
  return rv();
}
CK_RV fGetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
  std::memset(info, ' ', sizeof *info);
  fill(info->label, sizeof info->label, byte() & 3);
  info->flags = CKF_TOKEN_INITIALIZED | (byte() & (CKF_LOGIN_REQUIRED | CKF_USER_PIN_LOCKED));
  return rv();
}
CK_RV fOpenSession(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  *session = byte();
  return rv();
}
CK_RV fCloseSession(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV fLogin(CK_SESSION_HANDLE, CK_USER_TYPE, unsigned char*, CK_ULONG) { return rv(); }
CK_RV fFindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE*, CK_ULONG) { return rv(); }
CK_RV fFindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* got) {
  CK_ULONG n = number();
  fill(out, max * sizeof(CK_OBJECT_HANDLE), n * sizeof(CK_OBJECT_HANDLE));
  *got = n;
  return rv();
}
CK_RV fFindObjectsFinal(CK_SESSION_HANDLE) { return rv(); }
CK_RV fGetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE* tmpl,
                         CK_ULONG count) {
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = tmpl[i];
    // A length of two octets, or one of number()'s.
    CK_ULONG length = byte() & 1 ? (CK_ULONG)byte() << 8 | byte() : number();
    if (a.pValue) fill(a.pValue, a.ulValueLen, length);
    a.ulValueLen = length;
  }
  return rv();
}
CK_RV fSignInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) { return rv(); }
CK_RV fSign(CK_SESSION_HANDLE, unsigned char*, CK_ULONG, unsigned char* out, CK_ULONG* length) {
  CK_ULONG n = byte() & 1 ? *length : number();
  fill(out, *length, n);
  *length = n;
  return rv();
}
CK_RV fDecryptInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) { return rv(); }
CK_RV fDecrypt(CK_SESSION_HANDLE, unsigned char*, CK_ULONG, unsigned char* out,
               CK_ULONG* length) {
  CK_ULONG n = byte() & 1 ? 16 : number();
  fill(out, *length, n);
  *length = n;
  return rv();
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

bool oneOf(int32_t v, std::initializer_list<int32_t> allowed) {
  for (int32_t a : allowed)
    if (a == v) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  in = data;
  left = size;
  static CK_FUNCTION_LIST list = [] {
    CK_FUNCTION_LIST f;
    std::memset(&f, 0, sizeof f);
    f.version.major = 2;
    f.C_Initialize = fInitialize;
    f.C_Finalize = fFinalize;
    f.C_GetSlotList = fGetSlotList;
    f.C_GetTokenInfo = fGetTokenInfo;
    f.C_OpenSession = fOpenSession;
    f.C_CloseSession = fCloseSession;
    f.C_Login = fLogin;
    f.C_FindObjectsInit = fFindObjectsInit;
    f.C_FindObjects = fFindObjects;
    f.C_FindObjectsFinal = fFindObjectsFinal;
    f.C_GetAttributeValue = fGetAttributeValue;
    f.C_SignInit = fSignInit;
    f.C_Sign = fSign;
    f.C_DecryptInit = fDecryptInit;
    f.C_Decrypt = fDecrypt;
    return f;
  }();
  std::shared_ptr<Pkcs11Library> module = Pkcs11Library::linked(&list);
  Pkcs11Choice choice;
  choice.oneKeyForBoth = byte() & 1;
  Pkcs11Keys keys;
  CK_RV ckr = CKR_OK;
  int32_t opened = openPkcs11Keys(module, choice, pin, keys, ckr);
  if (!oneOf(opened, {0, 4, 13, 20, 24, 25, 27, 37, 42, 43, 49, 50, 61})) abort();
  if (opened != 0 && (keys.signing || keys.decryption || keys.session)) abort();
  std::vector<uint8_t> digest(32, 7), signature;
  if (keys.signing) {
    for (int32_t scheme : {0, 2, 3}) {
      int32_t r = keys.signing->sign(scheme, 3, digest.data(), digest.size(), signature);
      if (!oneOf(r, {0, 1, 4, 20, 37})) abort();
      if ((r == 0) == signature.empty()) abort();
    }
  }
  if (keys.decryption) {
    std::vector<uint8_t> block((keys.decryption->keyBits() + 7) / 8, 0x55);
    std::unique_ptr<SecretBlock> key;
    int32_t r = keys.decryption->decryptSessionKey(block.data(), block.size(), key);
    if (!oneOf(r, {0, 4, 13, 14, 18, 25, 27, 37})) abort();
    if ((r == 0) != (key != nullptr)) abort();
  }
  return 0;
}
