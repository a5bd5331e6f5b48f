// Exception family of libvorinpp.
//
// Every failure inside the cryptographic library is thrown by value as one of
// these classes. what() gives a constant six-line text:
//   LIBRARY: libvorinpp / EXCEPTION: <class> / REASON: <reason> /
//   FUNCTION: <function> / FILE: <source> / LINE: <line>
// each line ended by '\n'. A throw site builds the class by default, replaces
// the text whole with setMessage and throws it; LV_THROW does exactly that.
#pragma once

#include <cstdint>
#include <exception>

#define LV_STRINGIFY2(x) #x
#define LV_STRINGIFY(x) LV_STRINGIFY2(x)

// The constant text of one throw site (the line is the line of the macro use).
#define LV_EXCEPTION_TEXT(cls, reason, function, file)                               \
  "LIBRARY: libvorinpp\nEXCEPTION: " cls "\nREASON: " reason "\nFUNCTION: " function \
  "\nFILE: " file "\nLINE: " LV_STRINGIFY(__LINE__) "\n"

// Throws class `cls` whose text names `reason`, `function` and `file`.
#define LV_THROW(cls, reason, function, file)                              \
  do {                                                                     \
    cls lvThrown_;                                                         \
    lvThrown_.setMessage(LV_EXCEPTION_TEXT(#cls, reason, function, file)); \
    throw lvThrown_;                                                       \
  } while (0)

// Throws LvMemException for a failed allocation of `size` octets here.
#define LV_THROW_MEM(size) throw LvMemException((size), __FILE__, LV_STRINGIFY(__LINE__))

class LvException : public std::exception {
 public:
  LvException() noexcept;
  LvException(const LvException& other) noexcept = default;
  LvException& operator=(const LvException& other) noexcept = default;
  ~LvException() override;
  const char* what() const noexcept override;
  virtual std::uintptr_t getValue() const noexcept;
  virtual void setMessage(const char* text) noexcept;
  virtual void setValue(std::uintptr_t value) noexcept;

 protected:
  const char* m_message;
  std::uintptr_t m_value;
};

// Classes without data of their own: each default constructor sets the
// class's template text ("???" for reason, function, file and line).
#define LV_DECLARE_EXCEPTION(cls, base)             \
  class cls : public base {                         \
   public:                                          \
    cls() noexcept;                                 \
    cls(const cls& other) noexcept = default;       \
    cls& operator=(const cls& other) noexcept = default; \
  };

class LvMemException : public LvException {
 public:
  enum { kTextCapacity = 1200 };
  LvMemException() noexcept;
  // `fileName` and `lineText` may be null; only their last 1016 and 24
  // characters are kept.
  LvMemException(std::uint32_t size, const char* fileName, const char* lineText) noexcept;
  LvMemException(const LvMemException& other) noexcept;
  LvMemException& operator=(const LvMemException& other) noexcept;
  virtual std::uint32_t getSize() const noexcept;

 private:
  void rebase(const LvMemException& other) noexcept;
  char m_text[kTextCapacity];
  std::uint32_t m_size;
};

class LvInterruptException : public LvException {
 public:
  LvInterruptException() noexcept;
  explicit LvInterruptException(std::uint32_t code) noexcept;
  LvInterruptException(const LvInterruptException& other) noexcept = default;
  LvInterruptException& operator=(const LvInterruptException& other) noexcept = default;
  virtual std::uint32_t getCode() const noexcept;

 private:
  std::uint32_t m_code;
};

// Memory running out and a spent work account say nothing of the values an
// operation checks: a catch that answers "no" for the arithmetic's own
// refusals (no inverse, no coordinate, a bad parameter) rethrows these two.
bool lvIsTransient(const LvException& e) noexcept;

LV_DECLARE_EXCEPTION(LvLibException, LvException)
LV_DECLARE_EXCEPTION(LvCriticalException, LvLibException)
LV_DECLARE_EXCEPTION(LvEncryptionDecryptionException, LvLibException)
LV_DECLARE_EXCEPTION(LvBufferOverlapException, LvLibException)
LV_DECLARE_EXCEPTION(LvRbgNotInitialisedException, LvLibException)
LV_DECLARE_EXCEPTION(LvRbgCycleException, LvLibException)
LV_DECLARE_EXCEPTION(LvNotInitException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvArgumentRangeException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvFsmException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvAccessException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvLibNotImplementedException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvInvException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvDivByZeroException, LvInvException)
LV_DECLARE_EXCEPTION(LvRevException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvConversionException, LvCriticalException)
LV_DECLARE_EXCEPTION(LvWrongSyntaxException, LvConversionException)
LV_DECLARE_EXCEPTION(LvInvalidKeyException, LvEncryptionDecryptionException)
LV_DECLARE_EXCEPTION(LvWeakKeyException, LvEncryptionDecryptionException)
LV_DECLARE_EXCEPTION(LvMessageToLongException, LvEncryptionDecryptionException)

class LvBadKeyLengthException : public LvEncryptionDecryptionException {
 public:
  enum { kDetailCapacity = 96 };
  LvBadKeyLengthException() noexcept;
  LvBadKeyLengthException(std::uint32_t octets, std::uint32_t minOctets, std::uint32_t maxOctets,
                          std::uint32_t stepOctets) noexcept;
  LvBadKeyLengthException(const LvBadKeyLengthException& other) noexcept;
  LvBadKeyLengthException& operator=(const LvBadKeyLengthException& other) noexcept;

 private:
  char m_detail[kDetailCapacity];
};
