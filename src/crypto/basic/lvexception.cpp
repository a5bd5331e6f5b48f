#include "crypto/basic/lvexception.h"

#include <cstdio>
#include <cstring>

#define LV_TEMPLATE(cls) \
  "LIBRARY: libvorinpp\nEXCEPTION: " cls "\nREASON: ???\nFUNCTION: ???\nFILE: ???\nLINE: ???\n"

LvException::LvException() noexcept : m_message(LV_TEMPLATE("LvException")), m_value(0) {}
LvException::~LvException() = default;
const char* LvException::what() const noexcept { return m_message; }
std::uintptr_t LvException::getValue() const noexcept { return m_value; }
void LvException::setMessage(const char* text) noexcept { m_message = text; }
void LvException::setValue(std::uintptr_t value) noexcept { m_value = value; }

#define LV_DEFINE_EXCEPTION(cls) \
  cls::cls() noexcept { m_message = LV_TEMPLATE(#cls); }

bool lvIsTransient(const LvException& e) noexcept {
  return dynamic_cast<const LvMemException*>(&e) != nullptr ||
         dynamic_cast<const LvInterruptException*>(&e) != nullptr;
}

LV_DEFINE_EXCEPTION(LvLibException)
LV_DEFINE_EXCEPTION(LvCriticalException)
LV_DEFINE_EXCEPTION(LvEncryptionDecryptionException)
LV_DEFINE_EXCEPTION(LvBufferOverlapException)
LV_DEFINE_EXCEPTION(LvRbgNotInitialisedException)
LV_DEFINE_EXCEPTION(LvRbgCycleException)
LV_DEFINE_EXCEPTION(LvNotInitException)
LV_DEFINE_EXCEPTION(LvArgumentRangeException)
LV_DEFINE_EXCEPTION(LvFsmException)
LV_DEFINE_EXCEPTION(LvAccessException)
LV_DEFINE_EXCEPTION(LvLibNotImplementedException)
LV_DEFINE_EXCEPTION(LvInvException)
LV_DEFINE_EXCEPTION(LvDivByZeroException)
LV_DEFINE_EXCEPTION(LvRevException)
LV_DEFINE_EXCEPTION(LvConversionException)
LV_DEFINE_EXCEPTION(LvWrongSyntaxException)
LV_DEFINE_EXCEPTION(LvInvalidKeyException)
LV_DEFINE_EXCEPTION(LvWeakKeyException)
LV_DEFINE_EXCEPTION(LvMessageToLongException)

// ---- LvMemException ----

LvMemException::LvMemException() noexcept : m_size(0) {
  m_text[0] = '\0';
  m_message =
      "LIBRARY: libvorinpp\nEXCEPTION: LvMemException\nREASON: out of memory during allocation "
      "0x??? octets\nFILE: ???\nLINE: ???\n";
}

// Keeps at most the last `keep` characters of a text (a null text is empty).
static const char* lvTail(const char* text, size_t keep) {
  if (text == nullptr) return "";
  size_t n = std::strlen(text);
  return n > keep ? text + (n - keep) : text;
}

LvMemException::LvMemException(std::uint32_t size, const char* fileName,
                               const char* lineText) noexcept
    : m_size(size) {
  std::snprintf(m_text, sizeof m_text,
                "LIBRARY: libvorinpp\nEXCEPTION: LvMemException\nREASON: out of memory during "
                "allocation 0x%08x octets\nFILE: %s\nLINE: %s\n",
                static_cast<unsigned>(size), lvTail(fileName, 1016), lvTail(lineText, 24));
  m_message = m_text;
}

// A copy points its message at its own buffer when the source's did, so the
// thrown copy never refers to the (destroyed) original.
void LvMemException::rebase(const LvMemException& other) noexcept {
  std::memcpy(m_text, other.m_text, sizeof m_text);
  m_size = other.m_size;
  m_value = other.m_value;
  m_message = other.m_message == other.m_text ? m_text : other.m_message;
}

LvMemException::LvMemException(const LvMemException& other) noexcept : LvException(other) {
  rebase(other);
}

LvMemException& LvMemException::operator=(const LvMemException& other) noexcept {
  if (this != &other) {
    LvException::operator=(other);
    rebase(other);
  }
  return *this;
}

std::uint32_t LvMemException::getSize() const noexcept { return m_size; }

// ---- LvInterruptException ----

LvInterruptException::LvInterruptException() noexcept : m_code(0) {
  m_message = LV_TEMPLATE("LvInterruptException");
}
LvInterruptException::LvInterruptException(std::uint32_t code) noexcept : m_code(code) {
  m_message = LV_TEMPLATE("LvInterruptException");
}
std::uint32_t LvInterruptException::getCode() const noexcept { return m_code; }

// ---- LvBadKeyLengthException ----

LvBadKeyLengthException::LvBadKeyLengthException() noexcept {
  m_message = LV_TEMPLATE("LvBadKeyLengthException");
  m_detail[0] = '\0';
  m_value = reinterpret_cast<std::uintptr_t>(m_detail);
}

LvBadKeyLengthException::LvBadKeyLengthException(std::uint32_t octets, std::uint32_t minOctets,
                                                 std::uint32_t maxOctets,
                                                 std::uint32_t stepOctets) noexcept {
  m_message = LV_TEMPLATE("LvBadKeyLengthException");
  std::snprintf(m_detail, sizeof m_detail,
                "OCTETS: 0x%08x\nMIN_OCTETS: 0x%08x\nMAX_OCTETS: 0x%08x\nSTEP_OCTETS: 0x%08x\n",
                static_cast<unsigned>(octets), static_cast<unsigned>(minOctets),
                static_cast<unsigned>(maxOctets), static_cast<unsigned>(stepOctets));
  m_value = reinterpret_cast<std::uintptr_t>(m_detail);
}

LvBadKeyLengthException::LvBadKeyLengthException(const LvBadKeyLengthException& other) noexcept
    : LvEncryptionDecryptionException(other) {
  std::memcpy(m_detail, other.m_detail, sizeof m_detail);
  m_value = reinterpret_cast<std::uintptr_t>(m_detail);
}

LvBadKeyLengthException& LvBadKeyLengthException::operator=(
    const LvBadKeyLengthException& other) noexcept {
  if (this != &other) {
    LvEncryptionDecryptionException::operator=(other);
    std::memcpy(m_detail, other.m_detail, sizeof m_detail);
    m_value = reinterpret_cast<std::uintptr_t>(m_detail);
  }
  return *this;
}
