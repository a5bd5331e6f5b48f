// The report text stream: numbers, dates, integers, names, keys and
// certificates written as Polish text into a byte stream, every Polish text in
// the output character set of reports (no_oop.h).
//
// The class lives here so that every layer can write to it (analyseURI does);
// the members that print the PKI structures are defined with those structures,
// in pki/reportpki.cpp, so base never includes the layers above it. A program
// that calls them links tal_pki.
#pragma once

#include "base/memfile.h"

#include <cstdint>
#include <string>

class ASNinteger;
class DistinguishedName;
class SignedCertificate;
class SubPubKeyInfo;

class ReportStream
{
public:
    explicit ReportStream(GenericFile* sink = nullptr, int32_t options = 0) : options(options), sink(sink) {}

    // Written as they are: "%ld", "%lu(0x%lx)", one byte.
    ReportStream& operator<<(long value);
    ReportStream& operator<<(unsigned long value);
    ReportStream& operator<<(char value);
    // A Windows-1250 text, converted to the output character set.
    ReportStream& operator<<(const char* text);
    // The name's text form with `options` (already in the output character
    // set, so not converted again). Defined in pki/reportpki.cpp.
    ReportStream& operator<<(const DistinguishedName& name);

    // A data item: UTF-8 text from a certificate, CRL, OCSP response,
    // time-stamp or signed document, its controls escaped (escapeControls) and
    // then in the output character set, so that it stays on its line.
    void writeData(const std::string& utf8);
    // The same for a data item in Windows-1250 (a URI, as this library keeps them).
    void writeWindows1250Data(const std::string& text);

    // "YYYY.MM.DD hh:mm:ss".
    void writeDateTime(int year, int month, int day, int hour, int minute, int second);
    // Any time value with the fields year, month, day, hour, minute, second
    // (X509time, ASNutct).
    template <class Time>
    void writeDateTime(const Time& time)
    {
        writeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
    }
    // The content octets without leading zero octets: up to 4 of them
    // "<value> (HEX: <value>)", longer ones "HEX: " and their digits.
    // Defined in pki/reportpki.cpp.
    void writeInteger(const ASNinteger& value);
    // The caller's format with its values, converted to the output character set.
    void writeFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The current UTC time "YYYY.MM.DD hh:mm:ss UTC" put into the caller's
    // format (its one "%s"), converted to the output character set.
    void writeUtcTime(const char* format);
    // Defined in pki/reportpki.cpp.
    void writeKey(const SubPubKeyInfo& key);
    void writeCertificate(const SignedCertificate& certificate);

    int32_t options;    // distinguished-name text options (DistinguishedName::toText)
    GenericFile* sink;  // not owned; null: every write does nothing

private:
    // Bytes as they are.
    void writeRaw(const std::string& text);
    // A Windows-1250 text converted to the output character set.
    void writeText(const std::string& text);
    void writeIntegerOctets(const uint8_t* content, size_t length);
};
