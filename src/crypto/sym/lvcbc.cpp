#include "crypto/sym/lvcbc.h"

#include <cstring>

#include "crypto/sym/lvsymfile.h"

#define LVSYM_FILE LVSYM_FILE_NAME("lvcbc")

namespace {

inline void xorInto(LvOctet* dst, const LvOctet* a, const LvOctet* b, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

}  // namespace

LvCbc::LvCbc() : LvCbc(LV_BC_AES, 0) {}

LvCbc::LvCbc(LvBcAlgo id, std::uint32_t padding)
    : LvBcEnc(lvBcCreateObject(id), padding),
      m_work(m_blockOctets),
      m_fill(0),
      m_free(m_blockOctets),
      m_chain(m_blockOctets) {
  m_work.clear();
  m_chain.clear();
  setPadding(padding);
}

// The copy shares no key: the caller sets it and starts a session again.
LvCbc::LvCbc(const LvCbc& other)
    : LvBcEnc(other.m_cipher->clone(), other.m_padding),
      m_work(other.m_work),
      m_fill(other.m_fill),
      m_free(other.m_free),
      m_chain(other.m_chain) {}

LvCbc::~LvCbc() {
  m_work.clear();
  m_chain.clear();
}

LvSymEnc* LvCbc::clone() const { return new LvCbc(*this); }

void LvCbc::setBcAlgo(LvBcAlgo id) {
  LvBc* fresh = lvBcCreateObject(id);
  delete m_cipher;
  m_cipher = fresh;
  m_blockOctets = fresh->getBlockOctets();
  m_sessionOpen = 0;
  m_work.resize(m_blockOctets);
  m_chain.resize(m_blockOctets);
  m_work.clear();
  m_chain.clear();
  m_fill = 0;
  m_free = m_blockOctets;
}

void LvCbc::setPadding(std::uint32_t option) {
  m_padding = option;
  m_sessionOpen = 0;
}

unsigned int LvCbc::init(std::uint32_t direction, const LvOctet* iv, unsigned int ivOctets) {
  if (!m_keySet) LV_THROW(LvNotInitException, "Nie wprowadzony klucz.", "LvCbc::init", LVSYM_FILE);
  if (ivOctets < m_blockOctets) {
    LvBadKeyLengthException e(ivOctets, m_blockOctets, m_blockOctets, 0);
    e.setMessage(LV_EXCEPTION_TEXT("LvBadKeyLengthException", "Zła długość wektora początkowego.",
                                   "LvCbc::init", LVSYM_FILE));
    throw e;
  }
  m_direction = direction;
  std::memcpy(m_chain.ptr(), iv, m_blockOctets);
  m_fill = 0;
  m_free = m_blockOctets;
  m_sessionOpen = 1;
  return m_blockOctets;
}

unsigned int LvCbc::step(const LvOctet* in, unsigned int inOctets, LvOctet* out) {
  if (!m_sessionOpen) LV_THROW(LvFsmException, "Nie rozpoczęta sesja.", "LvCbc::step", LVSYM_FILE);
  if (inOctets > 0 && out < in + inOctets && in < out + m_blockOctets)
    LV_THROW(LvBufferOverlapException, "Nachodzące na siebie bufory.", "LvCbc::step", LVSYM_FILE);
  return m_direction == 0 ? stepEncrypt(in, inOctets, out) : stepDecrypt(in, inOctets, out);
}

unsigned int LvCbc::stepEncrypt(const LvOctet* in, unsigned int inOctets, LvOctet* out) {
  const unsigned int b = m_blockOctets;
  LvOctet* chain = m_chain.ptr();
  unsigned int written = 0;
  if (m_fill > 0 && inOctets >= m_free) {
    std::memcpy(m_work.ptr() + m_fill, in, m_free);
    in += m_free;
    inOctets -= m_free;
    xorInto(out, m_work.ptr(), chain, b);
    m_cipher->encryptBlock(out, nullptr);
    std::memcpy(chain, out, b);
    out += b;
    written += b;
    m_fill = 0;
    m_free = b;
  }
  // Whole blocks go straight from the input to the output.
  if (m_fill == 0 && inOctets >= b) {
    unsigned int blocks = inOctets / b;
    m_cipher->encryptCbc(chain, in, out, blocks);
    in += blocks * b;
    inOctets -= blocks * b;
    out += blocks * b;
    written += blocks * b;
  }
  if (inOctets > 0) std::memcpy(m_work.ptr() + m_fill, in, inOctets);
  m_fill += inOctets;
  m_free = b - m_fill;
  return written;
}

unsigned int LvCbc::stepDecrypt(const LvOctet* in, unsigned int inOctets, LvOctet* out) {
  const unsigned int b = m_blockOctets;
  std::uint64_t total = std::uint64_t(m_fill) + inOctets;
  std::uint64_t complete = total - total % b;
  // With padding the last complete block is held back for finish; there is
  // one to hold only when some block is complete. What is not decrypted
  // stays in the work block.
  if (complete == total && m_padding != 3 && complete >= b) complete -= b;
  LvOctet* chain = m_chain.ptr();
  LvOctet* work = m_work.ptr();
  unsigned int written = 0;
  std::uint64_t left = complete;
  if (left > 0 && m_fill > 0) {
    // The first block completes the octets already held.
    unsigned int take = b - m_fill;
    if (take > 0) std::memcpy(work + m_fill, in, take);
    in += take;
    inOctets -= take;
    m_fill = 0;
    m_cipher->decryptCbc(chain, work, out, 1);
    out += b;
    written += b;
    left -= b;
  }
  if (left > 0) {
    // The rest straight from the input.
    m_cipher->decryptCbc(chain, in, out, static_cast<unsigned int>(left / b));
    in += left;
    inOctets -= static_cast<unsigned int>(left);
    out += left;
    written += static_cast<unsigned int>(left);
  }
  // What is left of the input (with any octets already held) stays in the
  // work block.
  if (inOctets > 0) std::memcpy(work + m_fill, in, inOctets);
  m_fill += inOctets;
  m_free = b - m_fill;
  return written;
}

unsigned int LvCbc::finish(LvOctet* out) {
  if (!m_sessionOpen)
    LV_THROW(LvFsmException, "Nie rozpoczęta sesja.", "LvCbc::finish", LVSYM_FILE);
  m_sessionOpen = 0;
  return m_direction == 0 ? finishEncrypt(out) : finishDecrypt(out);
}

unsigned int LvCbc::finishEncrypt(LvOctet* out) {
  const unsigned int b = m_blockOctets;
  if (m_padding == 3) {
    if (m_fill != 0)
      LV_THROW(LvEncryptionDecryptionException,
               "Niewłaściwa długość danych przy braku dopełnienia.", "LvCbc::finishEncrypt",
               LVSYM_FILE);
    return 0;
  }
  lvSymEncPad(m_padding, m_work.ptr(), m_fill, b);
  xorInto(out, m_work.ptr(), m_chain.ptr(), b);
  m_work.clear();  // the last plaintext octets stay nowhere
  m_cipher->encryptBlock(out, nullptr);
  std::memcpy(m_chain.ptr(), out, b);
  m_fill = 0;
  m_free = b;
  return b;
}

unsigned int LvCbc::finishDecrypt(LvOctet* out) {
  const unsigned int b = m_blockOctets;
  if (m_padding == 3 && m_fill == 0) return 0;
  if (m_free != 0)
    LV_THROW(LvEncryptionDecryptionException, "Niewłaściwa długość danych przy braku dopełnienia.",
             "LvCbc::finishDecrypt", LVSYM_FILE);
  LvOctet* work = m_work.ptr();
  LvOctet held[32];
  std::memcpy(held, work, b);
  m_cipher->decryptBlock(work, nullptr);
  xorInto(work, work, m_chain.ptr(), b);
  std::memcpy(m_chain.ptr(), held, b);
  lvWipe(held, sizeof held);
  m_fill = 0;
  m_free = b;
  unsigned int kept;
  try {
    kept = lvSymEncUnpad(m_padding, work, b);
  } catch (...) {
    m_work.clear();  // no decrypted octets stay behind a rejected block
    throw;
  }
  std::memcpy(out, work, kept);
  m_work.clear();
  return kept;
}
