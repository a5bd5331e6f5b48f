#include "crypto/sym/lvsymenc.h"

#include <cstring>

#include "crypto/sym/lvsymfile.h"

#define LVSYM_FILE LVSYM_FILE_NAME("lvsymenc")

unsigned int LvSymEnc::crypt(std::uint32_t direction, const LvOctet* iv, unsigned int ivOctets,
                             const LvOctet* in, unsigned int inOctets, LvOctet* out) {
  init(direction, iv, ivOctets);
  unsigned int n = step(in, inOctets, out);
  unsigned int m = finish(out + n);
  return n + m;
}

LvBcEnc::LvBcEnc(LvBc* cipher, std::uint32_t padding)
    : m_direction(0),
      m_padding(padding),
      m_cipher(cipher),
      m_blockOctets(cipher->getBlockOctets()) {}

LvBcEnc::~LvBcEnc() {
  delete m_cipher;
  m_cipher = nullptr;
  m_padding = 3;
}

void LvBcEnc::setKey(const LvOctet* key, unsigned int keyOctets) {
  m_cipher->setKey(key, keyOctets, LV_KEY_EXPAND_BOTH);
  m_keySet = 1;
  m_sessionOpen = 0;
}

void lvSymEncPad(std::uint32_t option, LvOctet* block, unsigned int fill,
                 unsigned int blockOctets) {
  unsigned int n = blockOctets - fill;
  switch (option) {
    case 0:
      std::memset(block + fill, static_cast<int>(n), n);
      return;
    case 1:
    case 2:
      if (n == 0) return;
      block[fill] = option == 1 ? 0x80 : 0x01;
      std::memset(block + fill + 1, 0, n - 1);
      return;
    case 3:
      return;
    default:
      break;
  }
  LV_THROW(LvLibNotImplementedException, "Nieznany algorytm.", "lvSymEncPad", LVSYM_FILE);
}

unsigned int lvSymEncUnpad(std::uint32_t option, const LvOctet* block, unsigned int blockOctets) {
  switch (option) {
    case 0: {
      unsigned int n = block[blockOctets - 1];
      if (n > blockOctets) break;
      // A last octet 0 keeps the whole block and 1 drops only itself.
      if (n <= 1) return blockOctets - n;
      for (unsigned int i = blockOctets - n; i < blockOctets - 1; ++i)
        if (block[i] != n) goto bad;
      return blockOctets - n;
    }
    case 1:
    case 2: {
      const LvOctet marker = option == 1 ? 0x80 : 0x01;
      unsigned int i = blockOctets;
      while (i > 0 && block[i - 1] == 0) --i;
      if (i == 0 || block[i - 1] != marker) break;
      return i - 1;
    }
    case 3:
      return blockOctets;
    default:
      LV_THROW(LvLibNotImplementedException, "Nieznany algorytm.", "lvSymEncUnpad", LVSYM_FILE);
  }
bad:
  LV_THROW(LvEncryptionDecryptionException, "Niewłaściwe dopełnienie.", "lvSymEncUnpad",
           LVSYM_FILE);
}
