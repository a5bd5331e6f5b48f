#include "api/ctxdecryption.h"

#include "talvorin.h"

#include "api/talctx.h"
#include "crypto/sym/lvcbc.h"
#include "store/dnutils.h"
#include "xmlsig/xmlcodes.h"

#include <new>

static_assert(XMLENC_CIPHER_TDES == KM_CIPHER_TDES && XMLENC_CIPHER_AES128 == KM_CIPHER_AES128 &&
                  XMLENC_CIPHER_AES192 == KM_CIPHER_AES192 &&
                  XMLENC_CIPHER_AES256 == KM_CIPHER_AES256,
              "one numbering of the content ciphers");
static_assert(XMLENC_KM_NO_SESSION_KEY == KM_NO_SESSION_KEY &&
                  XMLENC_KM_BAD_PADDING == KM_BAD_PADDING,
              "the statuses decryption names");

KeyManagerDecryption::KeyManagerDecryption(KeyManager& keys) : keys(keys) {}
KeyManagerDecryption::~KeyManagerDecryption() = default;

bool KeyManagerDecryption::userCertificateKnown() const {
  const KeyHolder* holder = keys.decryptionKey();
  return holder && holder->certificate();
}

bool KeyManagerDecryption::isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) {
  return keys.isRecipient(issuer, serial);
}

int32_t KeyManagerDecryption::decryptSessionKey(const uint8_t* encrypted, size_t length) {
  int32_t status = keys.decryptSesKey(encrypted, length, nullptr);
  noSessionKey = status == KM_NO_SESSION_KEY;
  return status;
}

int32_t KeyManagerDecryption::startDecoy(int32_t cipher, const uint8_t* iv, size_t ivLength) {
  // Any key will do (its output is thrown away); this one is no weak DES key.
  uint8_t key[32];
  for (size_t i = 0; i < sizeof key; ++i) key[i] = static_cast<uint8_t>(0x5A ^ (i * 29));
  const bool tdes = cipher == KM_CIPHER_TDES;
  const unsigned int keyOctets = tdes || cipher == KM_CIPHER_AES192 ? 24
                                 : cipher == KM_CIPHER_AES128       ? 16
                                                                    : 32;
  // The key manager's answers, so that they map as its own do.
  if (ivLength != (tdes ? 8u : 16u)) return KM_WRONG_ORDER;
  try {
    decoy.reset(new LvCbc(tdes ? LV_BC_TDES : LV_BC_AES, 3));
    decoy->setKey(key, keyOctets);
    decoy->init(LvSymEnc::DECRYPT, iv, static_cast<unsigned int>(ivLength));
  } catch (const std::bad_alloc&) {
    return KM_DEVICE_ERROR;
  } catch (const LvException&) {
    return KM_DEVICE_ERROR;
  }
  return KM_OK;
}

int32_t KeyManagerDecryption::startContent(int32_t cipher, const uint8_t* iv, size_t ivLength) {
  int32_t status = noSessionKey ? KM_NO_SESSION_KEY : keys.processMsgInit(cipher, iv, ivLength);
  if (status != KM_NO_SESSION_KEY) return status;
  noSessionKey = true;
  return startDecoy(cipher, iv, ivLength);
}

int32_t KeyManagerDecryption::continueContent(const uint8_t* in, size_t length,
                                              std::vector<uint8_t>& out) {
  if (!decoy) return keys.processMsgUpdate(in, length, out);
  try {
    std::vector<uint8_t> thrownAway(length + 16);
    decoy->step(in, static_cast<unsigned int>(length), thrownAway.data());
  } catch (const std::bad_alloc&) {
    return KM_DEVICE_ERROR;
  } catch (const LvException&) {
    return KM_DEVICE_ERROR;
  }
  return KM_OK;
}

int32_t KeyManagerDecryption::finishContent(std::vector<uint8_t>& out) {
  if (!decoy) return keys.processMsgFinish(out);
  decoy.reset();
  return KM_BAD_PADDING;
}

int32_t decryptWithUserKey(talCtx* ctx, XmlSigContext*, xmlNodePtr element) {
  // The operation mask may say "decryption" without a key behind it.
  if (!ctx->keyManager.decryptionKey()) return ETAL_KEYS_NOT_PRES;
  KeyManagerDecryption keys(ctx->keyManager);
  const int32_t rc = decryptEncryptedData(keys, &ctx->report, element, makeDnAttribute);
  // The device failed: its error number is kept for the code's text.
  return rc == xmlrc::OST ? ctx->deviceFailure() : rc;
}
