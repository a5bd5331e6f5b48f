#include "base/no_oop.h"

#include "base/commonerror.h"
#include "platform/codepage.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

const char* const UNIT = "no_oop";

int32_t textLength(const char* text, int32_t length)
{
    if (!text)
        return 0;
    if (length < 0) {
        size_t n = std::strlen(text);
        return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
    }
    return length;
}

// Collects output under the conventions: bytes are written while they fit; once a
// piece does not fit, writing stops and the result is the negated total.
template <class Unit>
class Output
{
public:
    Output(Unit* out, int32_t outMax) : out(out), outMax(outMax < 0 ? 0 : outMax) {}
    void put(const Unit* units, int32_t n)
    {
        if (out && !overflow) {
            if (total + n > outMax)
                overflow = true;
            else
                std::memcpy(out + total, units, static_cast<size_t>(n) * sizeof(Unit));
        }
        total += n;
    }
    int32_t result() const
    {
        if (total > INT32_MAX)
            return 0;
        return overflow ? -static_cast<int32_t>(total) : static_cast<int32_t>(total);
    }

private:
    Unit* out;
    int64_t outMax;
    int64_t total = 0;
    bool overflow = false;
};

// The UTF-8 of one 16-bit unit (1 to 3 bytes).
int32_t encodeUnit(uint32_t u, char* b)
{
    if (u < 0x80) {
        b[0] = static_cast<char>(u);
        return 1;
    }
    if (u < 0x800) {
        b[0] = static_cast<char>(0xC0 | (u >> 6));
        b[1] = static_cast<char>(0x80 | (u & 0x3F));
        return 2;
    }
    b[0] = static_cast<char>(0xE0 | (u >> 12));
    b[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (u & 0x3F));
    return 3;
}

// Read by every thread that writes a report; written once per choice, never through an
// intermediate value.
std::atomic<char> outputMode{'W'};

struct PolishLetter
{
    uint8_t windows1250;
    uint8_t mazovia;
    char ascii;
};

const PolishLetter polishLetters[18] = {
    {140, 152, 'S'}, {143, 160, 'Z'}, {156, 158, 's'}, {159, 166, 'z'}, {163, 156, 'L'}, {165, 143, 'A'},
    {175, 161, 'Z'}, {179, 146, 'l'}, {185, 134, 'a'}, {191, 167, 'z'}, {198, 149, 'C'}, {202, 144, 'E'},
    {209, 165, 'N'}, {211, 163, 'O'}, {230, 141, 'c'}, {234, 145, 'e'}, {241, 164, 'n'}, {243, 162, 'o'},
};

bool isCSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

int32_t utf8Validate(const char* text, int32_t length)
{
    length = textLength(text, length);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    int32_t characters = 0;
    for (int32_t i = 0; i < length;) {
        uint8_t b = s[i];
        int32_t extra;
        uint8_t minSecond = 0x80;
        if (b < 0x80)
            extra = 0;
        else if (b >= 0xC2 && b <= 0xDF)
            extra = 1;
        else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            if (b == 0xE0)
                minSecond = 0xA0;
        } else if (b >= 0xF0 && b <= 0xF7) {
            extra = 3;
            if (b == 0xF0)
                minSecond = 0x90;
        } else if (b >= 0xF8 && b <= 0xFB) {
            extra = 4;
            if (b == 0xF8)
                minSecond = 0x88;
        } else if (b >= 0xFC && b <= 0xFD) {
            extra = 5;
            if (b == 0xFC)
                minSecond = 0x84;
        } else
            return ~i;
        for (int32_t k = 1; k <= extra; ++k) {
            if (i + k >= length)
                return ~length; // -(length + 1), without overflow at the largest length
            uint8_t c = s[i + k];
            if (c < 0x80 || c > 0xBF || (k == 1 && c < minSecond))
                return ~(i + k);
        }
        i += extra + 1;
        ++characters;
    }
    return characters;
}

int32_t checkUtf8(const char* text, int32_t length)
{
    if (!text)
        return 0;
    length = textLength(text, length);
    int32_t characters = utf8Validate(text, length);
    if (characters < 0)
        return 0;
    return characters == length ? 1 : 2;
}

int32_t ucs2ToUtf8(const uint16_t* units, int32_t count, char* out, int32_t outMax)
{
    if (!units)
        return 0;
    if (count < 0) {
        count = 0;
        while (units[count] != 0 && count < INT32_MAX)
            ++count;
    }
    Output<char> output(out, outMax);
    for (int32_t i = 0; i < count; ++i) {
        char b[3];
        output.put(b, encodeUnit(units[i], b));
    }
    return output.result();
}

int32_t cp1250ToUtf8(const char* text, int32_t length, char* out, int32_t outMax)
{
    length = textLength(text, length);
    Output<char> output(out, outMax);
    for (int32_t i = 0; i < length; ++i) {
        char b[3];
        uint16_t u = platform::codePageToUnicode(platform::CODE_PAGE_WINDOWS_1250, static_cast<uint8_t>(text[i]));
        output.put(b, encodeUnit(u, b));
    }
    return output.result();
}

int32_t ansiToUtf8(const char* text, int32_t length, char* out, int32_t outMax)
{
    length = textLength(text, length);
    if (length == 0)
        return 0;
    size_t units = platform::multiByteToWide(platform::CODE_PAGE_ANSI, text, static_cast<size_t>(length), nullptr, 0);
    if (units == 0)
        return 0;
    std::vector<uint16_t> wide(units);
    if (platform::multiByteToWide(platform::CODE_PAGE_ANSI, text, static_cast<size_t>(length), wide.data(), units) !=
        units)
        return 0;
    // The ANSI page here is UTF-8, which reaches beyond the BMP: surrogate pairs are
    // joined again rather than encoded one unit at a time.
    size_t bytes = platform::wideToMultiByte(platform::CODE_PAGE_UTF8, wide.data(), units, nullptr, 0);
    if (bytes == 0 || bytes > INT32_MAX)
        return 0;
    std::vector<char> utf8(bytes);
    platform::wideToMultiByte(platform::CODE_PAGE_UTF8, wide.data(), units, utf8.data(), bytes);
    Output<char> output(out, outMax);
    output.put(utf8.data(), static_cast<int32_t>(bytes));
    return output.result();
}

int32_t bmpToUtf8(const uint8_t* bytes, int32_t length, char* out, int32_t outMax)
{
    if (!bytes)
        return 0;
    if (length < 0) {
        length = 0;
        while (length < INT32_MAX - 1 && (bytes[length] != 0 || bytes[length + 1] != 0))
            length += 2;
    }
    if (length % 2 != 0)
        return 0;
    Output<char> output(out, outMax);
    for (int32_t i = 0; i < length; i += 2) {
        char b[3];
        output.put(b, encodeUnit(static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]), b));
    }
    return output.result();
}

int32_t utf8ToUcs2(const char* text, int32_t length, uint16_t* out, int32_t outMax)
{
    length = textLength(text, length);
    if (length == 0 || utf8Validate(text, length) < 0)
        return 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    Output<uint16_t> output(out, outMax);
    for (int32_t i = 0; i < length;) {
        uint32_t u;
        if (s[i] < 0x80) {
            u = s[i];
            i += 1;
        } else if (s[i] < 0xE0) {
            u = (s[i] & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
            if (u < 0x80)
                return 0;
            i += 2;
        } else if (s[i] < 0xF0) {
            u = (s[i] & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
            if (u < 0x800)
                return 0;
            i += 3;
        } else {
            return 0; // beyond the Basic Multilingual Plane
        }
        uint16_t unit = static_cast<uint16_t>(u);
        output.put(&unit, 1);
    }
    return output.result();
}

namespace {
// UTF-8 to 16-bit units in a vector; false when the text does not convert.
bool utf8ToUnits(const char* text, int32_t length, std::vector<uint16_t>& units)
{
    int32_t n = utf8ToUcs2(text, length, nullptr, 0);
    if (n <= 0)
        return false;
    units.resize(static_cast<size_t>(n));
    return utf8ToUcs2(text, length, units.data(), n) == n;
}
} // namespace

int32_t utf8ToAnsi(const char* text, int32_t length, char* out, int32_t outMax)
{
    std::vector<uint16_t> units;
    if (!utf8ToUnits(text, length, units))
        return 0;
    size_t bytes = platform::wideToMultiByte(platform::CODE_PAGE_ANSI, units.data(), units.size(), nullptr, 0);
    if (bytes == 0 || bytes > INT32_MAX)
        return 0;
    std::vector<char> ansi(bytes);
    platform::wideToMultiByte(platform::CODE_PAGE_ANSI, units.data(), units.size(), ansi.data(), bytes);
    Output<char> output(out, outMax);
    output.put(ansi.data(), static_cast<int32_t>(bytes));
    return output.result();
}

int32_t utf8ToBmpBE(const char* text, int32_t length, uint8_t* out, int32_t outMax)
{
    std::vector<uint16_t> units;
    if (!utf8ToUnits(text, length, units))
        return 0;
    Output<uint8_t> output(out, outMax);
    for (uint16_t u : units) {
        uint8_t b[2] = {static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
        output.put(b, 2);
    }
    return output.result();
}

char charsetFromLocale(const char* locale)
{
    if (!locale)
        return 0;
    const char* dot = std::strrchr(locale, '.');
    const char* name = dot ? dot + 1 : locale;
    struct Row
    {
        const char* name;
        char mode;
    };
    static const Row rows[] = {
        {"ISO8859-2", 'L'}, {"UTF8", 'U'}, {"UTF-8", 'U'}, {"windows1250", 'W'}, {"cp1250", 'W'},
        {"windows-1250", 'W'}, {"cp852", '8'}, {"US-ASCII", 'B'}, {"ASCII", 'B'}, {"POSIX", 'B'},
        {"C", 'B'}, {"ISO8859-1", 'B'},
    };
    for (const Row& row : rows)
        if (strcasecmp(name, row.name) == 0)
            return row.mode;
    return 0;
}

char selectOutputCharset(const char* name)
{
    if (!name || !*name)
        name = std::getenv("PL_STANDARD");
    char mode = 'W';
    if (name) {
        if (strcasecmp(name, "MAZOVIA") == 0)
            mode = 'M';
        else if (strcasecmp(name, "LATIN2") == 0)
            mode = 'L';
        else if (strcasecmp(name, "852") == 0)
            mode = '8';
        else if (strcasecmp(name, "WINDOWS") == 0)
            mode = 'W';
        else if (strcasecmp(name, "UTF8") == 0 || strcasecmp(name, "UTF-8") == 0)
            mode = 'U';
        else
            mode = 'B';
    } else {
        // The locale's own order (LC_ALL overrides the category, which overrides LANG;
        // empty means unset): the character set is LC_CTYPE's, the messages'
        // LC_MESSAGES's; LANGUAGE lists languages, not a character set, so it is read last.
        for (const char* variable : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANG", "LANGUAGE"}) {
            const char* value = std::getenv(variable);
            if (value && *value) {
                char fromLocale = charsetFromLocale(value);
                if (fromLocale != 0)
                    mode = fromLocale;
                break;
            }
        }
    }
    outputMode.store(mode);
    return mode;
}

char outputCharset()
{
    return outputMode.load();
}

std::string convertForOutput(const char* text)
{
    if (!text)
        return std::string();
    std::string result(text);
    // ASCII is the same in every output set; most report lines are nothing else.
    bool ascii = true;
    for (unsigned char c : result)
        ascii = ascii && c < 0x80;
    if (ascii)
        return result;
    const char mode = outputMode.load();  // one choice for the whole text
    switch (mode) {
    case 'U': {
        int32_t n = cp1250ToUtf8(text, -1, nullptr, 0);
        if (n <= 0)
            return result;
        std::string utf8(static_cast<size_t>(n), '\0');
        cp1250ToUtf8(text, -1, &utf8[0], n);
        return utf8;
    }
    case 'L':
    case '8':
    case 'M':
    case 'B':
        for (char& c : result) {
            uint8_t b = static_cast<uint8_t>(c);
            for (const PolishLetter& letter : polishLetters) {
                if (letter.windows1250 != b)
                    continue;
                if (mode == 'M') {
                    c = static_cast<char>(letter.mazovia);
                } else if (mode == 'B') {
                    c = letter.ascii;
                } else {
                    uint32_t page = mode == 'L' ? platform::CODE_PAGE_ISO_8859_2 : platform::CODE_PAGE_852;
                    int mapped = platform::unicodeToCodePage(
                        page, platform::codePageToUnicode(platform::CODE_PAGE_WINDOWS_1250, b));
                    if (mapped >= 0)
                        c = static_cast<char>(mapped);
                }
                break;
            }
        }
        return result;
    default:
        return result;
    }
}

std::string utf8ForOutput(const std::string& utf8)
{
    const char mode = outputMode.load(); // one choice for the whole text
    if (utf8.empty() || mode == 'U')
        return utf8;
    size_t units = platform::multiByteToWide(platform::CODE_PAGE_UTF8, utf8.data(), utf8.size(), nullptr, 0);
    if (units == 0)
        return std::string();
    std::vector<uint16_t> wide(units);
    platform::multiByteToWide(platform::CODE_PAGE_UTF8, utf8.data(), utf8.size(), wide.data(), units);
    // Latin-2 and CP852 straight from the characters: through Windows-1250 a
    // character such as U+203A would arrive as 0x9B, a C1 control (CSI) there.
    const uint32_t page = mode == 'L'   ? platform::CODE_PAGE_ISO_8859_2
                          : mode == '8' ? platform::CODE_PAGE_852
                                        : platform::CODE_PAGE_WINDOWS_1250;
    size_t bytes = platform::wideToMultiByte(page, wide.data(), units, nullptr, 0);
    if (bytes == 0)
        return std::string();
    std::string text(bytes, '\0');
    platform::wideToMultiByte(page, wide.data(), units, &text[0], bytes);
    if (mode == 'L' || mode == '8' || mode == 'W')
        return text;
    text = convertForOutput(text.c_str());
    if (mode == 'B')
        for (char& c : text)
            if (static_cast<unsigned char>(c) >= 0x80)
                c = '?';
    return text;
}

namespace {

void appendHexDigits(std::string& out, uint32_t value, int digits)
{
    static const char HEX[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += HEX[(value >> shift) & 0xF];
}

} // namespace

std::string escapeControls(const char* text, size_t length)
{
    std::string out;
    if (!text)
        return out;
    out.reserve(length);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; i < length;) {
        size_t n = 0;
        const uint32_t cp = platform::decodeUtf8(s + i, length - i, n);
        // one byte giving U+FFFD: not UTF-8 (the character itself takes three)
        if ((n == 1 && cp == 0xFFFD) || (cp < 0x20 && cp != '\t') || cp == 0x7F) {
            out += "\\x";
            appendHexDigits(out, s[i], 2);
            ++i;
            continue;
        }
        if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) {
            out += "<U+";
            appendHexDigits(out, cp, 4);
            out += '>';
        } else {
            out.append(text + i, n);
        }
        i += n;
    }
    return out;
}

void trimSpaces(char* text)
{
    if (!text)
        return;
    size_t start = 0;
    while (text[start] == ' ')
        ++start;
    size_t end = std::strlen(text + start) + start;
    while (end > start && text[end - 1] == ' ')
        --end;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
}

void trimLeft(std::string& s)
{
    size_t start = 0;
    while (start < s.size() && isCSpace(static_cast<unsigned char>(s[start])))
        ++start;
    s.erase(0, start);
}

void trimRight(std::string& s)
{
    size_t end = s.size();
    while (end > 0 && isCSpace(static_cast<unsigned char>(s[end - 1])))
        --end;
    s.erase(end);
}

void trimString(std::string& s)
{
    trimRight(s);
    trimLeft(s);
}

void toUpperString(std::string& s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void toLowerString(std::string& s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void digestToText(char* out, int32_t outLength, const uint8_t* digest, int32_t digestLength)
{
    checkInvariant(digestLength >= 0 && static_cast<int64_t>(outLength) >= 2 * static_cast<int64_t>(digestLength),
                   UNIT, __LINE__, "dstLen >= 2*digestLen");
    for (int32_t i = 0; i < digestLength; ++i) {
        out[2 * i] = static_cast<char>('0' + (digest[i] >> 4));
        out[2 * i + 1] = static_cast<char>('0' + (digest[i] & 0x0F));
    }
}
