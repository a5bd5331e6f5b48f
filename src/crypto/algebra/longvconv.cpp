// Number text conversion (decimal, octal, hexadecimal) and DER identifier and length headers.
#include <cstring>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"
#include "crypto/basic/lvsecret.h"

namespace {

// All ones when a < b (both below 2^32), else 0, without a branch.
LvWord ctLessMask(LvWord a, LvWord b) {
  return static_cast<LvWord>(0 - ((static_cast<uint64_t>(a) - b) >> 63));
}

// Digit value of c in the base; valid receives all ones when c is a digit of the base, else 0.
// No branch or index depends on c: private keys can be set from text.
LvWord digitValue(char c, unsigned int base, LvWord& valid) {
  const LvWord u = static_cast<unsigned char>(c);
  const LvWord dec = u - '0', low = u - 'a', up = u - 'A';
  const LvWord mDec = ctLessMask(dec, 10), mLow = ctLessMask(low, 6), mUp = ctLessMask(up, 6);
  const LvWord v = (dec & mDec) | ((low + 10) & mLow) | ((up + 10) & mUp);
  valid = (mDec | mLow | mUp) & ctLessMask(v, base);
  return v & valid;
}

// Text parse shared by the three bases: validates every character first (so that nothing is
// written for bad text; whether the text is a number is public), then accumulates chunks
// w = w * base^c + chunk, c digits at a time, over every word of the value's bound, so time
// depends on the text's length only. The value never needs more words than the documented
// buffer size, since it is below base^len.
LvWordLen parseDigits(LvWord* w, const char* text, unsigned int base, unsigned int chunk,
                      unsigned int bitsPerDigit, const char* badText) {
  const size_t len = std::strlen(text);
  LvWord valid = ~LvWord{0};
  for (size_t i = 0; i < len; ++i) {
    LvWord ok;
    digitValue(text[i], base, ok);
    valid &= ok;
  }
  lvDeclassify(&valid, sizeof valid);
  if (valid == 0) {
    LvWrongSyntaxException e;
    e.setMessage(badText);
    throw e;
  }
  const LvWordLen words = static_cast<LvWordLen>((len * bitsPerDigit) / 32 + 1);
  for (LvWordLen j = 0; j < words; ++j) w[j] = 0;
  size_t i = 0;
  while (i < len) {
    LvWord d = 0, mul = 1;
    for (unsigned int c = 0; c < chunk && i < len; ++c, ++i) {
      LvWord ok;
      d = d * base + digitValue(text[i], base, ok);
      mul *= base;
    }
    uint64_t acc = d;
    for (LvWordLen j = 0; j < words; ++j) {
      acc += static_cast<uint64_t>(w[j]) * mul;
      w[j] = static_cast<LvWord>(acc);
      acc >>= 32;
    }
  }
  return longvCtSigLen(w, words);
}

#define LV_CONV_TEXT(fn)                                                            \
  "LIBRARY: libvorinpp\nEXCEPTION: LvWrongSyntaxException\nREASON: Wrong character " \
  "in converted string (const char *str).\nFUNCTION: " fn "\nFILE: lvalgebra/lvnumbers/conv\n" \
  "LINE: " LV_STRINGIFY(__LINE__) "\n"

// Identifier and length octets of the element at p, read within avail octets.
bool derHeader(const LvOctet* p, size_t avail, size_t* header, unsigned int* content) {
  if (p == nullptr || avail < 2) return false;
  size_t i = 1;
  if ((p[0] & 0x1F) == 0x1F) {
    // High tag number: continuation octets while bit 8 is set; more than a 32-bit tag
    // number needs is refused rather than followed.
    size_t extra = 0;
    while (i < avail && (p[i] & 0x80) != 0) {
      if (++extra > 4) return false;
      ++i;
    }
    if (i >= avail) return false;
    ++i;
  }
  if (i >= avail) return false;
  const LvOctet first = p[i++];
  unsigned int len = 0;
  if (first == 0x80) {
    len = 0;
  } else if (first < 0x80) {
    len = first;
  } else {
    const unsigned int n = first & 0x7Fu;
    if (n > 4 || avail - i < n) return false;
    for (unsigned int k = 0; k < n; ++k) len = (len << 8) | p[i++];
  }
  *header = i;
  *content = len;
  return true;
}

}  // namespace

LvWordLen longvFromDecimal(LvWord* w, const char* text) {
  return parseDigits(w, text ? text : "", 10, 9, 4,
                     LV_CONV_TEXT("LvWordLen longvFromDecimal(LvWord *w, const char *text)"));
}

LvWordLen longvFromOctal(LvWord* w, const char* text) {
  return parseDigits(w, text ? text : "", 8, 10, 3,
                     LV_CONV_TEXT("LvWordLen longvFromOctal(LvWord *w, const char *text)"));
}

LvWordLen longvFromHex(LvWord* w, const char* text) {
  return parseDigits(w, text ? text : "", 16, 7, 4,
                     LV_CONV_TEXT("LvWordLen longvFromHex(LvWord *w, const char *text)"));
}

void longvToOctal(char* text, const LvWord* w, LvWordLen n) {
  const LvWordLen used = longvSigLen(w, n);
  if (used == 0) {
    text[0] = '0';
    text[1] = '\0';
    return;
  }
  const uint64_t bits = 32 * static_cast<uint64_t>(used);
  const uint64_t digits = (bits + 2) / 3;
  size_t pos = 0;
  bool leading = true;
  for (uint64_t d = digits; d > 0; --d) {
    const uint64_t bit = 3 * (d - 1);
    unsigned int v = 0;
    for (unsigned int b = 0; b < 3; ++b) {
      const uint64_t k = bit + b;
      if (k < bits && ((w[k / 32] >> (k % 32)) & 1u)) v |= 1u << b;
    }
    if (leading && v == 0 && d > 1) continue;
    leading = false;
    text[pos++] = static_cast<char>('0' + v);
  }
  text[pos] = '\0';
}

void lvOctalToDecimal(char* text) {
  if (text == nullptr) return;
  const size_t len = std::strlen(text);
  for (size_t i = 0; i < len; ++i) {
    LvWord ok;
    digitValue(text[i], 8, ok);
    if (ok == 0) {
      LvWrongSyntaxException e;
      e.setMessage(LV_CONV_TEXT("void lvOctalToDecimal(char *text)"));
      throw e;
    }
  }
  if (len <= 1) return;
  // The value in limbs of 10^9, least significant first: value = value * 8 + digit. The
  // decimal form never has more digits than the octal one.
  const size_t limbs = len / 9 + 2;
  LvWordMem scratch(static_cast<unsigned int>(limbs));
  LvWord* v = scratch.ptr();
  size_t used = 1;
  v[0] = 0;
  for (size_t i = 0; i < len; ++i) {
    uint64_t carry = static_cast<uint64_t>(text[i] - '0');
    for (size_t j = 0; j < used; ++j) {
      const uint64_t x = static_cast<uint64_t>(v[j]) * 8 + carry;
      v[j] = static_cast<LvWord>(x % 1000000000u);
      carry = x / 1000000000u;
    }
    if (carry != 0 && used < limbs) v[used++] = static_cast<LvWord>(carry);
  }
  while (used > 1 && v[used - 1] == 0) --used;
  size_t pos = 0;
  char chunk[10];
  for (size_t j = used; j > 0; --j) {
    LvWord x = v[j - 1];
    for (int k = 8; k >= 0; --k) {
      chunk[k] = static_cast<char>('0' + x % 10);
      x /= 10;
    }
    int start = 0;
    if (j == used) {
      while (start < 8 && chunk[start] == '0') ++start;
    }
    for (int k = start; k < 9; ++k) text[pos++] = chunk[k];
  }
  text[pos] = '\0';
  lvWipe(chunk, sizeof chunk);
}

const LvOctet* derContent(const LvOctet* p, size_t avail) {
  size_t header;
  unsigned int content;
  if (!derHeader(p, avail, &header, &content)) return nullptr;
  return p + header;
}

unsigned int derContentLength(const LvOctet* p, size_t avail) {
  size_t header;
  unsigned int content;
  if (!derHeader(p, avail, &header, &content)) return 0;
  return content;
}

unsigned int derTotalLength(const LvOctet* p, size_t avail) {
  size_t header;
  unsigned int content;
  if (!derHeader(p, avail, &header, &content)) return 0;
  const uint64_t total = static_cast<uint64_t>(header) + content;
  if (total > 0xFFFFFFFFu || total > avail) return 0;
  return static_cast<unsigned int>(total);
}

unsigned int derLengthSize(unsigned int len) {
  if (len < 0x80) return 1;
  unsigned int n = 1;
  while (n < 4 && (len >> (8 * n)) != 0) ++n;
  return 1 + n;
}

unsigned int derEncodeLength(unsigned int len, LvOctet* out) {
  const unsigned int size = derLengthSize(len);
  if (size == 1) {
    out[0] = static_cast<LvOctet>(len);
    return 1;
  }
  const unsigned int n = size - 1;
  out[0] = static_cast<LvOctet>(0x80 | n);
  for (unsigned int k = 0; k < n; ++k) out[1 + k] = static_cast<LvOctet>(len >> (8 * (n - 1 - k)));
  return size;
}
