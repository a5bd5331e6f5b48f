#include "base/reportstream.h"

#include "base/miscutils.h"
#include "base/no_oop.h"
#include "platform/clock.h"

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

} // namespace

void ReportStream::writeRaw(const std::string& text)
{
    if (sink && !text.empty())
        sink->write(static_cast<uint32_t>(text.size()), reinterpret_cast<const uint8_t*>(text.data()));
}

void ReportStream::writeText(const std::string& text)
{
    if (sink)
        writeRaw(convertForOutput(text.c_str()));
}

// Each write builds its text first; when memory for it runs out that piece of
// the report is skipped, as a report must never stop the work it describes.

ReportStream& ReportStream::operator<<(long value)
{
    try {
        if (sink)
            writeRaw(format("%ld", value));
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

ReportStream& ReportStream::operator<<(unsigned long value)
{
    try {
        if (sink)
            writeRaw(format("%lu(0x%lx)", value, value));
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

ReportStream& ReportStream::operator<<(char value)
{
    if (sink)
        sink->write(1, reinterpret_cast<const uint8_t*>(&value));
    return *this;
}

ReportStream& ReportStream::operator<<(const char* text)
{
    try {
        if (text)
            writeText(text);
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

void ReportStream::writeData(const std::string& utf8)
{
    try {
        if (sink)
            writeRaw(utf8ForOutput(escapeControls(utf8)));
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeWindows1250Data(const std::string& text)
{
    try {
        if (!sink || text.empty() || text.size() > INT32_MAX / 3)
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
        if (sink)
            writeRaw(format("%d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d", year, month, day, hour, minute, second));
    } catch (const std::bad_alloc&) {
    }
}

void ReportStream::writeIntegerOctets(const uint8_t* content, size_t length)
{
    if (!sink)
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
    if (!sink || !format)
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
    if (!sink || !callerFormat)
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
