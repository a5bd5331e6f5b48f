#include "crypto/basic/lvconv.h"

#include <cctype>
#include <cstring>
#include <string>

#define LV_CONV_FILE "lvbasic\\lvcommon\\lvconv.cpp"

// ------------------------------------------------------------------ LvConv

LvConv::LvConv(const LvOctet* data, unsigned int n) : m_buf(data, n), m_contentLength(n) {}

void LvConv::reserve(unsigned int n) {
  if (m_buf.getLength() < n) m_buf.resize(n);
}

void LvConv::setContent(const LvOctet* data, unsigned int n) {
  reserve(n);
  if (n != 0) std::memmove(m_buf.ptr(), data, n);
  m_contentLength = n;
}

void LvConv::appendContent(const LvOctet* data, unsigned int n) {
  if (n == 0) return;
  if (n > 0xFFFFFFFFu - m_contentLength) LV_THROW_MEM(0xFFFFFFFFu);
  unsigned int total = m_contentLength + n;
  if (m_buf.getLength() < total) {
    // grow geometrically, but never past what a 32-bit length holds
    std::uint64_t want = std::uint64_t(m_buf.getLength()) * 2;
    if (want < total) want = total;
    if (want > 0xFFFFFFFFu) want = total;
    // `data` may point into our own buffer: keep a copy across the move
    LvOctMem tmp(data, n);
    m_buf.resize(static_cast<unsigned int>(want));
    std::memcpy(m_buf.ptr() + m_contentLength, tmp.ptr(), n);
  } else {
    std::memmove(m_buf.ptr() + m_contentLength, data, n);
  }
  m_contentLength = total;
}

unsigned int LvConv::read(FILE* stream, unsigned int bound) {
  m_contentLength = 0;
  LvOctet piece[4096];
  for (;;) {
    size_t want = sizeof piece;
    if (bound != 0 && bound - m_contentLength < want) want = bound - m_contentLength;
    if (want == 0) break;
    size_t got = std::fread(piece, 1, want, stream);
    appendContent(piece, static_cast<unsigned int>(got));
    if (got < want) break;
  }
  lvWipe(piece, sizeof piece);
  return m_contentLength;
}

unsigned int LvConv::readFile(const char* fileName, unsigned int bound) {
  FILE* f = fileName != nullptr ? std::fopen(fileName, "r") : nullptr;
  if (f == nullptr)
    LV_THROW(LvAccessException, "Couldn't open file to read.",
             "unsigned int LvConv::readFile(const char *fileName, unsigned int bound)",
             LV_CONV_FILE);
  unsigned int n;
  try {
    n = read(f, bound);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  std::fclose(f);
  return n;
}

unsigned int LvConv::read(FILE* stream) { return read(stream, 0); }
unsigned int LvConv::readFile(const char* fileName) { return readFile(fileName, 0); }

void LvConv::write(FILE* stream) const {
  if (m_contentLength != 0) std::fwrite(m_buf.ptr(), 1, m_contentLength, stream);
}

// Opens "name+mode" with that mode, a plain name for appending; null when it
// cannot be opened. `plusForm` tells which form the name had.
static FILE* lvOpenForWrite(const char* fileName, bool& plusForm) {
  plusForm = false;
  if (fileName == nullptr) return nullptr;
  const char* plus = std::strchr(fileName, '+');
  if (plus == nullptr) return std::fopen(fileName, "a");
  plusForm = true;
  std::string name(fileName, plus);
  return std::fopen(name.c_str(), plus + 1);
}

void LvConv::writeFile(const char* fileName) const {
  bool plusForm;
  FILE* f = lvOpenForWrite(fileName, plusForm);
  if (f == nullptr)
    LV_THROW(LvAccessException, "Coudn't open file to read.",
             "void LvConv::writeFile(const char *fileName)", LV_CONV_FILE);
  write(f);
  std::fclose(f);
}

void LvConv::fprint(FILE* stream, const char* beginFrase, const char* endFrase,
                    const char* format) const {
  if (beginFrase != nullptr) std::fprintf(stream, "%s", beginFrase);
  for (unsigned int i = 0; i < m_contentLength; ++i)
    std::fprintf(stream, format != nullptr ? format : "0x%02x ", unsigned(m_buf.ptr()[i]));
  if (endFrase != nullptr) std::fprintf(stream, "%s", endFrase);
}

void LvConv::fprintTxt(const char* fileName, const char* beginFrase, const char* endFrase,
                       const char* format) const {
  bool plusForm;
  FILE* f = lvOpenForWrite(fileName, plusForm);
  if (f == nullptr) {
    if (plusForm)
      LV_THROW(LvAccessException, "Coudn't open file.",
               "void LvConv::fprintTxt(const char *fileName, const char *beginFrase, const char "
               "*endFrase, const char *format)",
               LV_CONV_FILE);
    LV_THROW(LvAccessException, "Coudn't open file to write.",
             "void LvConv::fprintTxt(const char *fileName, const char *beginFrase, const char "
             "*endFrase, const char *format)",
             LV_CONV_FILE);
  }
  fprint(f, beginFrase, endFrase, format);
  std::fclose(f);
}

bool LvConv::operator==(const LvConv& other) const {
  return m_contentLength == other.m_contentLength &&
         (m_contentLength == 0 || std::memcmp(m_buf.ptr(), other.m_buf.ptr(), m_contentLength) == 0);
}
bool LvConv::operator!=(const LvConv& other) const { return !(*this == other); }
LvOctet* LvConv::ptr() { return m_buf.ptr(); }
const LvOctet* LvConv::ptr() const { return m_buf.ptr(); }

const LvOctet& LvConv::operator[](unsigned int idx) const {
  if (idx >= m_contentLength)
    LV_THROW(LvAccessException, "To large index.", "LvOctet LvConv::operator [](unsigned int idx)",
             LV_CONV_FILE);
  return m_buf.ptr()[idx];
}

unsigned int LvConv::getLength() const { return m_contentLength; }

// ------------------------------------------------------------- LvConvASCII

static const LvOctet kNul = 0;

void LvConvASCII::setEmpty() { setContent(&kNul, 1); }

LvConvASCII::LvConvASCII(unsigned int n) : LvConv(n == 0 ? 1 : n) { setEmpty(); }
LvConvASCII::LvConvASCII(const char* text) { *this = text; }

LvConvASCII& LvConvASCII::operator=(const char* text) {
  if (text == nullptr) {
    setEmpty();
  } else {
    size_t n = std::strlen(text);
    if (n >= 0xFFFFFFFFu) LV_THROW_MEM(0xFFFFFFFFu);
    std::string copy(text, n + 1);  // the text may live in our buffer
    setContent(reinterpret_cast<const LvOctet*>(copy.data()), static_cast<unsigned int>(n + 1));
  }
  return *this;
}

const char* LvConvASCII::getText() const { return reinterpret_cast<const char*>(m_buf.ptr()); }
unsigned int LvConvASCII::getTextLength() const { return m_contentLength - 1; }

void LvConvASCII::write(FILE* stream) const { std::fprintf(stream, "%s", getText()); }

// The content must stay one text: without its NUL the text length would
// wrap below zero for an empty file and the edit operations would run past
// the buffer.
unsigned int LvConvASCII::read(FILE* stream, unsigned int bound) {
  unsigned int n = LvConv::read(stream, bound);
  appendContent(&kNul, 1);
  return n;
}

void LvConvASCII::assign(const char* text, unsigned int n) {
  setEmpty();
  append(text, n);
}

void LvConvASCII::append(const char* text, unsigned int n) {
  if (text == nullptr || n == 0) return;
  std::string piece(text);
  for (unsigned int i = 0; i < n; ++i) {
    m_contentLength -= 1;  // drop our NUL, the piece brings none
    appendContent(reinterpret_cast<const LvOctet*>(piece.data()),
                  static_cast<unsigned int>(piece.size()));
    appendContent(&kNul, 1);
  }
}

LvConvASCII& LvConvASCII::operator+=(const LvConvASCII& other) {
  std::string piece(other.getText());
  append(piece.c_str(), 1);
  return *this;
}

void LvConvASCII::cut(unsigned int n) {
  unsigned int len = getTextLength();
  unsigned int keep = n >= len ? 0 : len - n;
  m_buf.ptr()[keep] = 0;
  m_contentLength = keep + 1;
}

unsigned int LvConvASCII::removeWhiteSpaces() {
  char* t = reinterpret_cast<char*>(m_buf.ptr());
  unsigned int len = getTextLength(), out = 0, removed = 0;
  for (unsigned int i = 0; i < len; ++i) {
    if (std::isspace(static_cast<unsigned char>(t[i])))
      ++removed;
    else
      t[out++] = t[i];
  }
  t[out] = 0;
  m_contentLength = out + 1;
  return removed;
}

unsigned int LvConvASCII::remove(const char* substring) {
  if (substring == nullptr || *substring == 0) return 0;
  std::string text(getText(), getTextLength()), result;
  size_t subLen = std::strlen(substring), pos = 0;
  unsigned int count = 0;
  for (;;) {
    size_t hit = text.find(substring, pos);
    if (hit == std::string::npos) break;
    result.append(text, pos, hit - pos);
    pos = hit + subLen;
    ++count;
  }
  result.append(text, pos, std::string::npos);
  setContent(reinterpret_cast<const LvOctet*>(result.c_str()),
             static_cast<unsigned int>(result.size() + 1));
  lvWipe(&text[0], text.size());
  return count;
}

unsigned int LvConvASCII::find(const char* substring, unsigned int from) const {
  if (substring == nullptr || from >= m_contentLength) return 0xFFFFFFFFu;
  const char* t = getText();
  const char* hit = std::strstr(t + from, substring);
  return hit == nullptr ? 0xFFFFFFFFu : static_cast<unsigned int>(hit - t);
}

unsigned int LvConvASCII::split(LvConvASCII& left, LvConvASCII& right,
                                const char* separator) const {
  // Searched and copied before either output changes: one of them may be
  // this text.
  std::string text(getText(), getTextLength());
  unsigned int at = find(separator, 0);
  right.setEmpty();
  if (at == 0xFFFFFFFFu) {
    left = text.c_str();
    return at;
  }
  size_t sepLen = std::strlen(separator);
  right = text.c_str() + at + sepLen;
  left = text.substr(0, at).c_str();
  return at;
}

bool LvConvASCII::operator==(const char* text) const {
  return text != nullptr && std::strcmp(getText(), text) == 0;
}
bool LvConvASCII::operator==(const LvConvASCII& other) const {
  return std::strcmp(getText(), other.getText()) == 0;
}
bool LvConvASCII::operator!=(const char* text) const { return !(*this == text); }
bool LvConvASCII::operator!=(const LvConvASCII& other) const { return !(*this == other); }

void LvConvASCII::readLine(FILE* stream, char commentChar, char escapeChar) {
  setEmpty();
  int c;
  // skip white space and whole comment lines
  for (;;) {
    c = std::fgetc(stream);
    if (c == EOF) return;
    if (std::isspace(c)) continue;
    if (c == static_cast<unsigned char>(commentChar)) {
      while (c != EOF && c != '\n') c = std::fgetc(stream);
      if (c == EOF) return;
      continue;
    }
    break;
  }
  char run[17];
  unsigned int inRun = 0;
  auto flush = [&]() {
    run[inRun] = 0;
    append(run, 1);
    inRun = 0;
  };
  auto put = [&](char ch) {
    run[inRun++] = ch;
    if (inRun == 16) flush();
  };
  for (; c != EOF && c != '\n'; c = std::fgetc(stream)) {
    if (c == static_cast<unsigned char>(commentChar)) {
      while (c != EOF && c != '\n') c = std::fgetc(stream);
      break;
    }
    if (c == static_cast<unsigned char>(escapeChar)) {
      int next = std::fgetc(stream);
      if (next == '\n') continue;  // line continuation
      put(static_cast<char>(c));
      if (next == EOF) break;
      // a NUL would end the text early: keep it out
      if (next != 0) put(static_cast<char>(next));
      continue;
    }
    if (c != 0) put(static_cast<char>(c));
  }
  if (inRun != 0) flush();
}

void LvConvASCII::readLine(FILE* stream) { readLine(stream, '#', '\\'); }

// ---------------------------------------------------------------- LvConvOS

LvConvOS::LvConvOS() noexcept {}
LvConvOS::LvConvOS(unsigned int n) : LvConv(n) {}
LvConvOS::LvConvOS(const LvOctet* data, unsigned int n) : LvConv(data, n) {}

static int lvHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

LvConvOS::LvConvOS(const char* hexText) {
  if (hexText == nullptr) return;
  size_t len = std::strlen(hexText);
  if (len & 1)
    LV_THROW(LvWrongSyntaxException,
             "Wrong syntax of input string (const char *str). Converted string should have even "
             "number of characters.",
             "LvConvOS::LvConvOS(const char *str)", LV_CONV_FILE);
  if (len / 2 > 0xFFFFFFFFu) LV_THROW_MEM(0xFFFFFFFFu);
  LvOctMem out(static_cast<unsigned int>(len / 2));
  for (size_t i = 0; i < len; i += 2) {
    int hi = lvHexValue(hexText[i]), lo = lvHexValue(hexText[i + 1]);
    if (hi < 0 || lo < 0)
      LV_THROW(LvWrongSyntaxException,
               "Wrong character in converted string (const char *str). Function accepts only "
               "characters from set {0,1,2,3,4,5,6,7,8,9,A,B,C,D,E,F,a,b,c,d,e,f}.",
               "LvConvOS::LvConvOS(const char *str)", LV_CONV_FILE);
    out.ptr()[i / 2] = static_cast<LvOctet>(hi << 4 | lo);
  }
  setContent(out.ptr(), out.getLength());
}

LvConvOS& LvConvOS::operator+=(const LvConvOS& other) {
  appendContent(other.ptr(), other.getLength());
  return *this;
}

void LvConvOS::resize(unsigned int n) {
  reserve(n);
  if (n > m_contentLength) std::memset(m_buf.ptr() + m_contentLength, 0, n - m_contentLength);
  m_contentLength = n;
}

LvConvOS operator+(const LvConvOS& a, const LvConvOS& b) {
  LvConvOS r(a);
  r += b;
  return r;
}
