#include "base/b64file.h"

#include "base/commonerror.h"
#include "base/workaccount.h"

#include <cstring>

namespace {

const char* const UNIT = "b64file";
// The work net's tick, once per this many characters of a block decoded.
const size_t NET_TEXT = 4096;
constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each octet's six bits, or -1 outside the alphabet: a table, as the decoder
// reads every character of large carried objects, often more than once.
struct DecodeTable {
    signed char v[256] = {};
    constexpr DecodeTable()
    {
        for (signed char& x : v)
            x = -1;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(ALPHABET[i])] = static_cast<signed char>(i);
    }
};
constexpr DecodeTable DECODE;

inline int value(char c)
{
    return DECODE.v[static_cast<unsigned char>(c)];
}

// One group of four characters: 1 to 3 bytes, 0 when it is invalid.
int decodeGroup(const char* c, uint8_t* out)
{
    int v0 = value(c[0]), v1 = value(c[1]);
    if (v0 < 0 || v1 < 0)
        return 0;
    out[0] = static_cast<uint8_t>(v0 * 4 + v1 / 16);
    if (c[2] == '=')
        return c[3] == '=' ? 1 : 0;
    int v2 = value(c[2]);
    if (v2 < 0)
        return 0;
    out[1] = static_cast<uint8_t>((v1 * 16 + v2 / 4) & 0xFF);
    if (c[3] == '=')
        return 2;
    int v3 = value(c[3]);
    if (v3 < 0)
        return 0;
    out[2] = static_cast<uint8_t>((v2 * 64 + v3) & 0xFF);
    return 3;
}

// Four characters for 1 to 3 bytes, padded with '='.
void encodeGroup(const uint8_t* in, int n, char* out)
{
    uint32_t v = static_cast<uint32_t>(in[0]) << 16;
    if (n > 1)
        v |= static_cast<uint32_t>(in[1]) << 8;
    if (n > 2)
        v |= in[2];
    out[0] = ALPHABET[(v >> 18) & 63];
    out[1] = ALPHABET[(v >> 12) & 63];
    out[2] = n > 1 ? ALPHABET[(v >> 6) & 63] : '=';
    out[3] = n > 2 ? ALPHABET[v & 63] : '=';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool failed(int32_t result)
{
    return (result & 0xFFFF) != 0;
}

// Encodes n bytes into target with CR LF after every lineLength characters (a multiple
// of 4, 0 for none; the final padded group gets no break): characters, or -2.
int64_t encodeToStream(const uint8_t* bytes, size_t n, GenericFile* target, uint32_t lineLength)
{
    uint8_t work[3202];
    size_t pending = 0;
    int64_t produced = 0;
    int64_t result = 0;
    for (size_t i = 0; i < n; i += 3) {
        int take = n - i >= 3 ? 3 : static_cast<int>(n - i);
        encodeGroup(bytes + i, take, reinterpret_cast<char*>(work + pending));
        pending += 4;
        produced += 4;
        if (take == 3 && lineLength != 0 && produced % lineLength == 0) {
            work[pending++] = '\r';
            work[pending++] = '\n';
        }
        if (pending >= 3196) {
            if (failed(target->write(static_cast<uint32_t>(pending), work))) {
                result = -2;
                break;
            }
            pending = 0;
        }
    }
    if (result == 0 && pending > 0 && failed(target->write(static_cast<uint32_t>(pending), work)))
        result = -2;
    zeroizeMemory(work, sizeof work);
    return result < 0 ? result : produced;
}

} // namespace

int32_t encodeBase64Buffer(const void* bytes, int32_t length, char* out)
{
    if (!bytes || !out)
        return 0;
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    size_t n = length < 0 ? std::strlen(static_cast<const char*>(bytes)) : static_cast<size_t>(length);
    if (n > static_cast<size_t>(INT32_MAX / 4) * 3)
        return 0;
    size_t written = 0;
    for (size_t i = 0; i < n; i += 3) {
        encodeGroup(in + i, n - i >= 3 ? 3 : static_cast<int>(n - i), out + written);
        written += 4;
    }
    return static_cast<int32_t>(written);
}

int32_t decodeBase64Block(const char* text, int32_t length, uint8_t* out)
{
    if (!text || !out)
        return 0;
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    if (n == 0 || n % 4 != 0 || n > INT32_MAX)
        return 0;
    int32_t bytes = 0;
    for (size_t i = 0; i < n; i += 4) {
        // Past the work account, the text decodes as invalid text does.
        if (i % NET_TEXT == 0 && !workTick())
            return 0;
        int got = decodeGroup(text + i, out + bytes);
        if (got == 0)
            return 0;
        bytes += got;
    }
    return bytes;
}

int32_t encodeBase64ToStream(const void* bytes, uint32_t length, GenericFile* target, uint32_t lineLength)
{
    if (!target || (!bytes && length != 0))
        return -2;
    size_t n = length == 0xFFFFFFFFu ? std::strlen(static_cast<const char*>(bytes)) : length;
    if (n > static_cast<size_t>(INT32_MAX / 4) * 3)
        return -2;
    if (lineLength % 4 != 0)
        lineLength = lineLength > 0xFFFFFFF0u ? 0xFFFFFFF0u : (lineLength + 3) / 4 * 4;
    return static_cast<int32_t>(encodeToStream(static_cast<const uint8_t*>(bytes), n, target, lineLength));
}

int32_t decodeBase64Text(const char* text, int32_t length, GenericFile* target, uint32_t maxOut)
{
    if (!text || !target)
        return 0;
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    if (n == 0)
        return 0;
    uint8_t workBuffer[2400];
    char groupBuffer[4];
    ZeroizedMemFile workWipe(workBuffer, sizeof workBuffer);
    ZeroizedMemFile groupWipe(reinterpret_cast<uint8_t*>(groupBuffer), sizeof groupBuffer);
    size_t pending = 0;
    int groupCount = 0;
    uint64_t handed = 0;
    for (size_t i = 0; i < n; ++i) {
        if (maxOut != 0 && handed >= maxOut)
            break;
        char c = text[i];
        if (c == ' ' || c == '\r' || c == '\n')
            continue;
        groupBuffer[groupCount++] = c;
        if (groupCount < 4)
            continue;
        groupCount = 0;
        int got = decodeGroup(groupBuffer, workBuffer + pending);
        if (got == 0)
            return 0;
        pending += static_cast<size_t>(got);
        if (pending >= 2397) {
            if (!workTick())
                return 0;
            if (failed(target->write(static_cast<uint32_t>(pending), workBuffer)))
                return -2;
            handed += pending;
            pending = 0;
        }
    }
    if (pending > 0) {
        if (failed(target->write(static_cast<uint32_t>(pending), workBuffer)))
            return -2;
        handed += pending;
    }
    if (groupCount != 0 || handed > INT32_MAX)
        return 0;
    return static_cast<int32_t>(handed);
}

// ---------------------------------------------------------------- EncodeBase64

EncodeBase64::~EncodeBase64()
{
    zeroizeMemory(pending, sizeof pending);
}

void EncodeBase64::reset()
{
    zeroizeMemory(pending, sizeof pending);
    pendingCount = 0;
    column = 0;
}

int32_t EncodeBase64::encodePending(GenericFile* target)
{
    char text[180]; // 43 groups and 3 line ends at most
    size_t n = 0;
    for (int32_t i = 0; i < pendingCount; i += 3) {
        encodeGroup(pending + i, pendingCount - i >= 3 ? 3 : pendingCount - i, text + n);
        n += 4;
        column += 4;
        if (column >= 64) {
            text[n++] = '\r';
            text[n++] = '\n';
            column = 0;
        }
    }
    int32_t r = failed(target->write(static_cast<uint32_t>(n), reinterpret_cast<uint8_t*>(text))) ? BASE64_WRITE_FAILED
                                                                                                  : BASE64_OK;
    zeroizeMemory(pending, sizeof pending);
    pendingCount = 0;
    return r;
}

int32_t EncodeBase64::encode(GenericFile* source, bool final, GenericFile* target)
{
    if (!source || !target)
        return BASE64_READ_FAILED;
    for (;;) {
        uint32_t got = 0;
        int32_t r = source->read(static_cast<uint32_t>(129 - pendingCount), pending + pendingCount, &got);
        if ((r & 0xFFFF) == 0xFFFF)
            return BASE64_READ_FAILED;
        if (got > static_cast<uint32_t>(129 - pendingCount))
            return BASE64_READ_FAILED;
        pendingCount += static_cast<int32_t>(got);
        // Only whole blocks are encoded while reading goes on: a source that delivers
        // short reads must not get padding in the middle of its text.
        if (pendingCount == 129 && encodePending(target) != BASE64_OK)
            return BASE64_WRITE_FAILED;
        if (got == 0)
            break;
    }
    if (final) {
        if (pendingCount > 0 && encodePending(target) != BASE64_OK)
            return BASE64_WRITE_FAILED;
        if (column != 0) {
            column = 0;
            if (failed(target->write(2, reinterpret_cast<const uint8_t*>("\r\n"))))
                return BASE64_WRITE_FAILED;
        }
    }
    return BASE64_OK;
}

// ---------------------------------------------------------------- DecodeBase64

DecodeBase64::~DecodeBase64()
{
    zeroizeMemory(group, sizeof group);
}

void DecodeBase64::reset()
{
    zeroizeMemory(group, sizeof group);
    chunkCount = 0;
    groupCount = 0;
}

int32_t DecodeBase64::decode(GenericFile* source, bool final, GenericFile* target)
{
    if (!source || !target)
        return BASE64_READ_FAILED;
    uint8_t output[159];
    ZeroizedMemFile outputWipe(output, sizeof output);
    for (;;) {
        uint32_t got = 0;
        int32_t r = source->read(static_cast<uint32_t>(212 - chunkCount),
                                 reinterpret_cast<uint8_t*>(chunk + chunkCount), &got);
        if ((r & 0xFFFF) == 0xFFFF) {
            if (!(final && source->size() == 0))
                return BASE64_READ_FAILED;
            got = 0;
        }
        if (got > static_cast<uint32_t>(212 - chunkCount))
            return BASE64_READ_FAILED;
        chunkCount += static_cast<int32_t>(got);
        if (chunkCount == 212 || (final && chunkCount > 0)) {
            if (!workTick())
                return BASE64_INVALID_DATA;
            size_t produced = 0;
            for (int32_t i = 0; i < chunkCount; ++i) {
                char c = chunk[i];
                if (c == '\r' || c == '\n' || c == '\t')
                    continue;
                group[groupCount++] = c;
                if (groupCount == 4) {
                    groupCount = 0;
                    int n = decodeGroup(group, output + produced);
                    if (n == 0)
                        return BASE64_INVALID_DATA;
                    produced += static_cast<size_t>(n);
                }
            }
            chunkCount = 0;
            if (produced > 0 && failed(target->write(static_cast<uint32_t>(produced), output)))
                return BASE64_WRITE_FAILED;
        }
        if (got == 0)
            return final && groupCount > 0 ? BASE64_INVALID_DATA : BASE64_OK;
    }
}

// ---------------------------------------------------------------- Base64File

Base64File::Base64File(GenericFile* file, uint32_t lineLengthValue, uint32_t charLimitValue)
    : binFile(file), lineLength(lineLengthValue), startPosition(0), charLimit(charLimitValue)
{
    checkInvariant(file != nullptr, UNIT, __LINE__, "binFile != NULL");
    // Lines hold whole groups; 0 means no line breaks at all.
    if (lineLength % 4 != 0)
        lineLength = lineLength > 0xFFFFFFF0u ? 0xFFFFFFF0u : (lineLength + 3) / 4 * 4;
    startPosition = binFile->tell();
}

Base64File::~Base64File()
{
    // A reading view keeps decoded bytes pending: those are never written back.
    if (writing && pendingOctetCount > 0) {
        encodeToStream(pendingOctets, static_cast<size_t>(pendingOctetCount), binFile, 0);
        column += 4;
    }
    zeroizeMemory(pendingOctets, sizeof pendingOctets);
    zeroizeMemory(pendingChars, sizeof pendingChars);
}

void Base64File::resetState()
{
    zeroizeMemory(pendingOctets, sizeof pendingOctets);
    zeroizeMemory(pendingChars, sizeof pendingChars);
    pendingCharCount = 0;
    pendingOctetCount = 0;
}

int32_t Base64File::read(uint32_t length, uint8_t* buffer, uint32_t* count)
{
    if (count)
        *count = 0;
    if (length == 0)
        return 0;
    if (!buffer)
        return -1;
    uint32_t done = 0;
    if (pendingOctetCount > 0) {
        uint32_t n = length < static_cast<uint32_t>(pendingOctetCount) ? length : pendingOctetCount;
        std::memcpy(buffer, pendingOctets, n);
        std::memmove(pendingOctets, pendingOctets + n, static_cast<size_t>(pendingOctetCount) - n);
        pendingOctetCount -= static_cast<int32_t>(n);
        done = n;
        if (done == length) {
            if (count)
                *count = done;
            return 0;
        }
    }

    const uint32_t WORK = 3200;
    char work[WORK];
    ZeroizedMemFile workWipe(reinterpret_cast<uint8_t*>(work), sizeof work);
    uint32_t held = static_cast<uint32_t>(pendingCharCount);
    std::memcpy(work, pendingChars, held);
    pendingCharCount = 0;
    bool atEnd = false;
    int32_t result = 0;
    while (done < length) {
        uint32_t remaining = length - done;
        if (held >= 4) {
            if (remaining >= 3) {
                uint32_t groups = held / 4 < remaining / 3 ? held / 4 : remaining / 3;
                checkInvariant(groups <= remaining / 3, UNIT, __LINE__, "fullBlockBytes/4 <= len/3");
                int32_t n = decodeBase64Block(work, static_cast<int32_t>(groups * 4), buffer + done);
                if (n <= 0) {
                    result = -1;
                    break;
                }
                done += static_cast<uint32_t>(n);
                position += static_cast<uint32_t>(n);
                held -= groups * 4;
                std::memmove(work, work + groups * 4, held);
            } else {
                uint8_t triple[3];
                int n = decodeGroup(work, triple);
                if (n == 0) {
                    result = -1;
                    break;
                }
                uint32_t give = static_cast<uint32_t>(n) < remaining ? static_cast<uint32_t>(n) : remaining;
                std::memcpy(buffer + done, triple, give);
                done += give;
                position += static_cast<uint32_t>(n);
                pendingOctetCount = n - static_cast<int>(give);
                std::memcpy(pendingOctets, triple + give, static_cast<size_t>(pendingOctetCount));
                zeroizeMemory(triple, sizeof triple);
                held -= 4;
                std::memmove(work, work + 4, held);
            }
            continue;
        }
        if (atEnd) {
            if (held > 0)
                result = -1;
            break;
        }
        uint64_t want = 4 * ((static_cast<uint64_t>(remaining) + 2) / 3);
        want = want > held ? want - held : 0;
        if (want > WORK - held)
            want = WORK - held;
        if (charLimit != 0 && want > charLimit - charsConsumed)
            want = charLimit - charsConsumed;
        if (want == 0) {
            if (held > 0)
                result = -1;
            break;
        }
        uint32_t got = 0;
        int32_t r = binFile->read(static_cast<uint32_t>(want), reinterpret_cast<uint8_t*>(work + held), &got);
        if (failed(r)) {
            result = r;
            break;
        }
        if (got > want) {
            result = -1;
            break;
        }
        charsConsumed += got;
        uint32_t kept = held;
        for (uint32_t i = held; i < held + got; ++i)
            if (!isBlank(work[i]))
                work[kept++] = work[i];
        held = kept;
        if (got == 0)
            atEnd = true;
    }
    if (result == 0) {
        checkInvariant(held <= 4, UNIT, __LINE__, "encodedPos-fullBlockBytes <= 4");
        std::memcpy(pendingChars, work, held);
        pendingCharCount = static_cast<int32_t>(held);
    }
    if (count)
        *count = done;
    return result;
}

int32_t Base64File::encodeRun(const uint8_t* bytes, uint32_t n)
{
    uint64_t chars = static_cast<uint64_t>(n) / 3 * 4;
    if (lineLength == 0)
        return encodeToStream(bytes, n, binFile, 0) < 0 ? -1 : 0;
    uint32_t room = lineLength - column;
    if (chars > room) {
        uint32_t first = room / 4 * 3;
        if (encodeToStream(bytes, first, binFile, room) < 0 ||
            encodeToStream(bytes + first, n - first, binFile, lineLength) < 0)
            return -1;
    } else if (encodeToStream(bytes, n, binFile, room) < 0) {
        return -1;
    }
    column = static_cast<uint32_t>((column + chars) % lineLength);
    return 0;
}

int32_t Base64File::write(uint32_t length, const uint8_t* buffer)
{
    if (length == 0)
        return 0;
    if (!buffer)
        return -1;
    writing = true;
    position += length;
    if (sizeCache != 0xFFFFFFFFu && position > sizeCache)
        sizeCache = position;
    uint32_t offset = 0;
    if (pendingOctetCount > 0) {
        uint32_t need = 3 - static_cast<uint32_t>(pendingOctetCount);
        if (length < need) {
            std::memcpy(pendingOctets + pendingOctetCount, buffer, length);
            pendingOctetCount += static_cast<int32_t>(length);
            return 0;
        }
        std::memcpy(pendingOctets + pendingOctetCount, buffer, need);
        offset = need;
        pendingOctetCount = 0;
        int32_t r = encodeRun(pendingOctets, 3);
        zeroizeMemory(pendingOctets, sizeof pendingOctets);
        if (r != 0)
            return -1;
    }
    uint32_t whole = (length - offset) / 3 * 3;
    if (whole > 0 && encodeRun(buffer + offset, whole) != 0)
        return -1;
    offset += whole;
    pendingOctetCount = static_cast<int32_t>(length - offset);
    std::memcpy(pendingOctets, buffer + offset, static_cast<size_t>(pendingOctetCount));
    return 0;
}

int32_t Base64File::seek(int32_t p)
{
    if (p < 0 || startPosition > INT32_MAX)
        return -1;
    if (failed(binFile->seek(static_cast<int32_t>(startPosition))))
        return -1;
    resetState();
    position = 0;
    column = 0;
    charsConsumed = 0;
    if (p > 0) {
        ZeroFile sink;
        uint32_t copied = 0;
        if (copyTo(&sink, static_cast<uint32_t>(p), &copied) != 0 || copied < static_cast<uint32_t>(p))
            return -1;
    }
    return 0;
}

uint32_t Base64File::tell()
{
    return position;
}

uint32_t Base64File::size()
{
    if (sizeCache == 0xFFFFFFFFu) {
        uint32_t saved = binFile->tell();
        if (saved > INT32_MAX)
            return 0xFFFFFFFFu;
        uint32_t total;
        {
            Base64File view(binFile, lineLength, charLimit);
            view.startPosition = startPosition;
            std::memcpy(view.pendingChars, pendingChars, sizeof pendingChars);
            view.pendingCharCount = pendingCharCount;
            std::memcpy(view.pendingOctets, pendingOctets, sizeof pendingOctets);
            view.pendingOctetCount = pendingOctetCount;
            view.position = position;
            view.charsConsumed = charsConsumed;
            ZeroFile sink;
            if (view.copyTo(&sink, 0xFFFFFFFFu, nullptr) != 0) {
                binFile->seek(static_cast<int32_t>(saved));
                return 0xFFFFFFFFu;
            }
            total = view.position;
        }
        if (failed(binFile->seek(static_cast<int32_t>(saved))))
            return 0xFFFFFFFFu;
        sizeCache = total;
    }
    return sizeCache;
}
