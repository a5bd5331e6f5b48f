#include "base/reportstream.h"

#include "base/miscutils.h"
#include "base/no_oop.h"
#include "base/workaccount.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <new>

namespace {

std::string formatV(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatV(format, arguments);
    va_end(arguments);
    return text;
}

thread_local bool boundsOn = true;

} // namespace

const char* const REPORT_CUT_LINE =
    "Raport przekroczył dopuszczalną wielkość: dalsza jego część została pominięta !!!\r\n";

void reportBoundsOn(bool on)
{
    boundsOn = on;
}

void ReportBuffer::bound(uint64_t octets)
{
    if (!boundsOn)
        return;
    cut = false;
    try {
        cutLine = convertForOutput(REPORT_CUT_LINE);
    } catch (const std::bad_alloc&) {
        cutLine.clear(); // cut without a word rather than not at all
    }
    // The figure grows with the document; the cut line, a line end before it
    // and the last word fit under it; the block holds it and text()'s zero.
    const uint64_t figure = REPORT_BOUND_BASE + (octets < INT32_MAX ? octets : INT32_MAX);
    const uint64_t least = kept() + static_cast<uint64_t>(length());
    most = static_cast<int32_t>(std::min<uint64_t>(std::max(figure, least), INT32_MAX - 1));
}

bool ReportBuffer::writesDropped() const
{
    return most > 0 && (cut || workOver());
}

int32_t ReportBuffer::write(uint32_t length, const uint8_t* buffer)
{
    if (most == 0)
        return MemFile::write(length, buffer);
    // Dropped writes answer success: a report never stops the work it describes.
    if (cut || length == 0)
        return 0;
    if (!workTick() || !workCharge(static_cast<uint64_t>(length) * WORK_REPORT_OCTET))
        return 0;
    const uint64_t end = static_cast<uint64_t>(tell()) + length;
    if (end + kept() > static_cast<uint64_t>(most)) {
        cutHere();
        return 0;
    }
    return MemFile::write(length, buffer);
}

void ReportBuffer::cutHere()
{
    cut = true;
    const int32_t at = static_cast<int32_t>(tell());
    const char* const lineEnd = "\r\n";
    if (at > 0 && data()[at - 1] != '\n') {
        const bool half = data()[at - 1] == '\r'; // a line end written in two pieces
        MemFile::write(half ? 1 : 2, reinterpret_cast<const uint8_t*>(lineEnd + (half ? 1 : 0)));
    }
    MemFile::write(static_cast<uint32_t>(cutLine.size()), reinterpret_cast<const uint8_t*>(cutLine.data()));
}

void ReportBuffer::lastWord(const char* text)
{
    try {
        const std::string converted = convertForOutput(text);
        if (most > 0 && static_cast<uint64_t>(tell()) + converted.size() > static_cast<uint64_t>(most))
            return;
        MemFile::write(static_cast<uint32_t>(converted.size()), reinterpret_cast<const uint8_t*>(converted.data()));
    } catch (const std::bad_alloc&) {
    }
}

void ReportBuffer::clear()
{
    MemFile::clear();
    most = 0;
    cut = false;
}

const char* ReportBuffer::text()
{
    if (length() == 0)
        return "";
    if (data()[length() - 1] != 0) {
        const uint8_t zero = 0;
        seek(length());
        if (MemFile::write(1, &zero) != 0)
            return nullptr;
    }
    // The stream goes on at the zero: what is written later replaces it
    // instead of hiding behind it, and the next call ends the text again.
    seek(length() - 1);
    return reinterpret_cast<const char*>(data());
}

void ReportStream::writeRaw(const std::string& text)
{
    if (accepts() && !text.empty())
        sink->write(static_cast<uint32_t>(text.size()), reinterpret_cast<const uint8_t*>(text.data()));
}

void ReportStream::writeText(const std::string& text)
{
    if (accepts())
        writeRaw(convertForOutput(text.c_str()));
}

// Each write builds its text first; when memory for it runs out that piece of
// the report is skipped, as a report must never stop the work it describes.

ReportStream& ReportStream::operator<<(long value)
{
    try {
        if (accepts())
            writeRaw(format("%ld", value));
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

ReportStream& ReportStream::operator<<(unsigned long value)
{
    try {
        if (accepts())
            writeRaw(format("%lu(0x%lx)", value, value));
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

ReportStream& ReportStream::operator<<(char value)
{
    if (accepts())
        sink->write(1, reinterpret_cast<const uint8_t*>(&value));
    return *this;
}

ReportStream& ReportStream::operator<<(const char* text)
{
    try {
        if (text && accepts())
            writeText(text);
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

void ReportStream::writeData(const std::string& utf8)
{
    try {
        if (accepts())
            writeRaw(utf8ForOutput(escapeControls(utf8)));
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeWindows1250Data(const std::string& text)
{
    try {
        if (!accepts() || text.empty() || text.size() > INT32_MAX / 3)
            return;
        std::string utf8(3 * text.size(), '\0');
        const int32_t n = cp1250ToUtf8(text.data(), static_cast<int32_t>(text.size()), &utf8[0],
                                       static_cast<int32_t>(utf8.size()));
        utf8.resize(n > 0 ? static_cast<size_t>(n) : 0);
        writeData(utf8);
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeDateTime(int year, int month, int day, int hour, int minute, int second)
{
    try {
        if (accepts())
            writeRaw(format("%d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d", year, month, day, hour, minute, second));
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeIntegerOctets(const uint8_t* content, size_t length)
{
    if (!accepts())
        return;
    try {
        while (length > 0 && *content == 0) {
            ++content;
            --length;
        }
        if (length <= 4) {
            unsigned long value = 0;
            for (size_t i = 0; i < length; ++i)
                value = value << 8 | content[i];
            writeRaw(format("%lu (HEX: %04lX)", value, value));
            return;
        }
        std::string hex;
        bytesToHexString(content, length, hex);
        writeRaw("HEX: " + hex);
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeFormatted(const char* format, ...)
{
    if (!accepts() || !format)
        return;
    try {
        va_list arguments;
        va_start(arguments, format);
        std::string text = formatV(format, arguments);
        va_end(arguments);
        writeText(text);
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeUtcTime(const char* callerFormat)
{
    if (!accepts() || !callerFormat)
        return;
    try {
        struct tm t = {};
        if (!platform::toUtcTime(platform::currentTime(), t))
            return;
        std::string now = format("%d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d UTC", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                 t.tm_hour, t.tm_min, t.tm_sec);
        writeFormatted(callerFormat, now.c_str());
    } catch (const std::bad_alloc&) {
    }
}
