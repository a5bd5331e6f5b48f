// Code-page conversion between single-byte pages, UTF-8 and UTF-16 units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The active ANSI code page of this system: UTF-8.
const uint32_t CODE_PAGE_ANSI = 0;
const uint32_t CODE_PAGE_852 = 852;
const uint32_t CODE_PAGE_WINDOWS_1250 = 1250;
const uint32_t CODE_PAGE_ISO_8859_2 = 28592;
const uint32_t CODE_PAGE_UTF8 = 65001;

bool isSupportedCodePage(uint32_t codePage);
// The Unicode character of one byte of a single-byte page (U+FFFD when it has none).
uint16_t codePageToUnicode(uint32_t codePage, uint8_t byte);
// The byte of a single-byte page that stands for a character, -1 when there is none.
int unicodeToCodePage(uint32_t codePage, uint16_t unit);

// One UTF-8 sequence at in[0..n), n > 0: the code point and the bytes taken (used). A
// malformed one (stray or missing continuation, overlong form, surrogate, beyond U+10FFFF)
// takes one byte and gives U+FFFD.
uint32_t decodeUtf8(const uint8_t* in, size_t n, size_t& used);

// Bytes of a page to UTF-16 units. Malformed UTF-8 becomes U+FFFD. Answers the
// units produced (the units needed when out is null), 0 on failure or when outMax is too small.
size_t multiByteToWide(uint32_t codePage, const char* in, size_t length, uint16_t* out, size_t outMax);
// UTF-16 units to bytes of a page; characters the page lacks become '?', lone surrogates
// U+FFFD in UTF-8. Answers as multiByteToWide.
size_t wideToMultiByte(uint32_t codePage, const uint16_t* in, size_t length, char* out, size_t outMax);

} // namespace platform
