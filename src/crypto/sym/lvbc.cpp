#include "crypto/sym/lvbc.h"

#include <cstring>

#include "crypto/sym/lvdes.h"
#include "crypto/sym/lvrc2.h"
#include "crypto/sym/lvrijndael.h"
#include "crypto/sym/lvsymfile.h"

#define LVSYM_FILE LVSYM_FILE_NAME("lvbc")

LvBc::LvBc() : m_keySet(0), m_encReady(0), m_decReady(0) {}

LvBc::LvBc(const LvBc& other)
    : LvSym(other),
      m_key(other.m_key),
      m_keySet(other.m_keySet),
      m_encReady(other.m_encReady),
      m_decReady(other.m_decReady) {}

LvBc::~LvBc() = default;

void LvBc::setKey(const LvOctet* externalKey, unsigned int externalKeyOctets,
                  LvKeyExpansionOption expOption) {
  unsigned int minOctets = getMinKeyOctets();
  unsigned int maxOctets = getMaxKeyOctets();
  unsigned int step = getKeyStepOctets();
  if (externalKeyOctets < minOctets || externalKeyOctets > maxOctets ||
      (step > 1 && externalKeyOctets % step != 0)) {
    LvBadKeyLengthException e(externalKeyOctets, minOctets, maxOctets, step);
    e.setMessage(LV_EXCEPTION_TEXT("LvBadKeyLengthException", "",
                                   "virtual void LvBc::setKey(const LvOctet *externalKey, unsigned "
                                   "int externalKeyOctets, LvKeyExpansionOption expOption)",
                                   LVSYM_FILE));
    throw e;
  }
  _setKey(externalKey, externalKeyOctets);
  m_keySet = 1;
  m_encReady = 0;
  m_decReady = 0;
  expandKey(expOption);
}

void LvBc::expandKey(LvKeyExpansionOption expOption) {
  if (!m_keySet)
    LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvBc::expandKey", LVSYM_FILE);
  if (!hasDecryptionKeySchedule()) {
    if (!m_encReady && !m_decReady) _expandKey();
    m_encReady = 1;
    m_decReady = 1;
    return;
  }
  if ((expOption == LV_KEY_EXPAND_ENCRYPTION || expOption == LV_KEY_EXPAND_BOTH) && !m_encReady) {
    _expandEncryptionKey();
    m_encReady = 1;
  }
  if ((expOption == LV_KEY_EXPAND_DECRYPTION || expOption == LV_KEY_EXPAND_BOTH) && !m_decReady) {
    // The decryption schedule is derived from the encryption schedule.
    if (!m_encReady) {
      _expandEncryptionKey();
      m_encReady = 1;
    }
    _expandDecryptionKey();
    m_decReady = 1;
  }
}

void LvBc::encryptBlock(const LvOctet* in, LvOctet* out) {
  if (!m_keySet)
    LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvBc::encryptBlock", LVSYM_FILE);
  if (!m_encReady) expandKey(LV_KEY_EXPAND_ENCRYPTION);
  _encryptBlock(in, out ? out : const_cast<LvOctet*>(in));
}

void LvBc::decryptBlock(const LvOctet* in, LvOctet* out) {
  if (!m_keySet)
    LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvBc::decryptBlock", LVSYM_FILE);
  if (!m_decReady) expandKey(LV_KEY_EXPAND_DECRYPTION);
  _decryptBlock(in, out ? out : const_cast<LvOctet*>(in));
}

void LvBc::encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
  if (!m_keySet)
    LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvBc::encryptBlock", LVSYM_FILE);
  if (!m_encReady) expandKey(LV_KEY_EXPAND_ENCRYPTION);
  _encryptCbc(chain, in, out, blocks);
}

void LvBc::_encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
  const unsigned int b = getBlockOctets();
  for (unsigned int k = 0; k < blocks; ++k, in += b, out += b) {
    for (unsigned int i = 0; i < b; ++i) out[i] = in[i] ^ chain[i];
    _encryptBlock(out, out);
    std::memcpy(chain, out, b);
  }
}

void LvBc::decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
  if (!m_keySet)
    LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvBc::decryptBlock", LVSYM_FILE);
  if (!m_decReady) expandKey(LV_KEY_EXPAND_DECRYPTION);
  _decryptCbc(chain, in, out, blocks);
}

void LvBc::_decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
  const unsigned int b = getBlockOctets();
  LvOctet held[32];
  for (unsigned int k = 0; k < blocks; ++k, in += b, out += b) {
    std::memcpy(held, in, b);  // out may overwrite the input block before
    _decryptBlock(held, out);
    for (unsigned int i = 0; i < b; ++i) out[i] ^= chain[i];
    std::memcpy(chain, held, b);
  }
  lvWipe(held, sizeof held);
}

void LvBc::_setKey(const LvOctet*, unsigned int) {}
void LvBc::_expandEncryptionKey() {}
void LvBc::_expandDecryptionKey() {}
void LvBc::_expandKey() {}

LvBc* lvBcCreateObject(LvBcAlgo id) {
  switch (id) {
    case LV_BC_AES:
      return new LvAes();
    case LV_BC_RIJNDAEL:
      return new LvRijndael(4);
    case LV_BC_DES:
      return new LvDes();
    case LV_BC_TDES:
      return new LvTdes();
    case LV_BC_DES_EEE:
      return new LvDesEee();
    case LV_BC_DES_XEEEX:
      return new LvDesXeeex();
    case LV_BC_RC2:
      return new LvRc2();
    default:
      break;
  }
  LV_THROW(LvLibNotImplementedException, "Nieznany identyfikator.", "lvBcCreateObject", LVSYM_FILE);
}
