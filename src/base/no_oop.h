// Text and code-page conversions, the UTF-8 validator, the output character set
// of reports, string trims and the digest text form.
//
// Conversion conventions: an input length below 0 means a zero-terminated input; an
// empty or null input gives 0; with out null the size the output needs is answered;
// an output too small gives the negated needed size; no terminating zero is written.
#pragma once

#include <cstdint>
#include <string>

// Characters of valid UTF-8; ~i when byte i is invalid; -(length + 1) when the text
// ends inside a sequence.
int32_t utf8Validate(const char* text, int32_t length);
// 0 not valid UTF-8, 1 plain ASCII, 2 UTF-8 with multi-byte characters.
int32_t checkUtf8(const char* text, int32_t length);
// 16-bit units (count < 0: up to a zero unit) to UTF-8, each unit on its own.
int32_t ucs2ToUtf8(const uint16_t* units, int32_t count, char* out, int32_t outMax);
int32_t cp1250ToUtf8(const char* text, int32_t length, char* out, int32_t outMax);
// The active ANSI code page (UTF-8 on this system) to UTF-8.
int32_t ansiToUtf8(const char* text, int32_t length, char* out, int32_t outMax);
// Big-endian UTF-16 (length < 0: up to a zero pair) to UTF-8; an odd length gives 0.
int32_t bmpToUtf8(const uint8_t* bytes, int32_t length, char* out, int32_t outMax);
// UTF-8 of the Basic Multilingual Plane to 16-bit units; the number of units.
int32_t utf8ToUcs2(const char* text, int32_t length, uint16_t* out, int32_t outMax);
int32_t utf8ToAnsi(const char* text, int32_t length, char* out, int32_t outMax);
// UTF-8 to big-endian UTF-16 bytes.
int32_t utf8ToBmpBE(const char* text, int32_t length, uint8_t* out, int32_t outMax);

// The output character set of reports: 'W' Windows-1250, 'U' UTF-8, 'L' ISO 8859-2,
// '8' code page 852, 'M' Mazovia, 'B' plain ASCII. Without a name: PL_STANDARD, else the
// first of LC_ALL, LC_CTYPE, LC_MESSAGES, LANG and LANGUAGE that is set and not empty.
char selectOutputCharset(const char* name);
char charsetFromLocale(const char* locale);
char outputCharset();
// A Windows-1250 text in the current output character set.
std::string convertForOutput(const char* text);
// A UTF-8 text in the current output character set; a character the set lacks
// becomes '?'.
std::string utf8ForOutput(const std::string& utf8);

// A data text (UTF-8 from a certificate, CRL, OCSP response, time-stamp or signed
// document) with every control shown escaped, so that it stays on its line and
// cannot drive a terminal: C0 but TAB, DEL and each byte of an invalid UTF-8
// sequence as "\xHH"; C1, U+2028, U+2029 and the bidirectional embeddings,
// overrides and isolates (U+202A-U+202E, U+2066-U+2069) as "<U+HHHH>". The
// rest, Polish letters included, stays as it is.
std::string escapeControls(const char* text, size_t length);
inline std::string escapeControls(const std::string& text)
{
    return escapeControls(text.data(), text.size());
}

void trimSpaces(char* text);
void trimLeft(std::string& s);
void trimRight(std::string& s);
void trimString(std::string& s);
void toUpperString(std::string& s);
void toLowerString(std::string& s);

// Each byte as two characters '0' + nibble, high first (the database key form of a digest).
void digestToText(char* out, int32_t outLength, const uint8_t* digest, int32_t digestLength);
