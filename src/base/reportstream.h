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

// A document's report is at most REPORT_BOUND_BASE octets plus the document's
// own; each octet written into it costs WORK_REPORT_OCTET units of the
// document's work account (made, converted and copied: some fifteen
// instructions an octet, as a digest's).
constexpr uint64_t REPORT_BOUND_BASE = 1u << 20;
constexpr uint64_t WORK_REPORT_OCTET = 2;
// Room a bounded report keeps past its cut line for the library's last word
// on the document (why it was refused).
constexpr uint32_t REPORT_LAST_WORD_ROOM = 128;
// The last line of a report cut at its bound (Windows-1250).
extern const char* const REPORT_CUT_LINE;

// The report of the library context's operation under way. Unbounded until a
// document's verification bounds it; from then until it is cleared every write
// passes here, whoever makes it: it is paid to the thread's work account (and
// ticks its net), it is dropped once that account is over, and a write that
// would pass the bound ends the report with REPORT_CUT_LINE instead, after
// which nothing more is written. The block never grows past the bound (and the
// zero text() ends it with).
class ReportBuffer : public MemFile
{
public:
    // Bounds the report from here on by a document of `octets` octets.
    void bound(uint64_t octets);
    // The bound in octets, 0 when there is none.
    int32_t limit() const { return most; }
    bool isCut() const { return cut; }
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    bool writesDropped() const override;
    // The library's last word on the document (why it was refused): written
    // after a cut too, into the room kept for it, and paid by no account.
    void lastWord(const char* text);
    // Empty and unbounded again.
    void clear() override;
    // The report as a text, ended in place by a zero that is no part of it
    // (the next write replaces it); null when memory runs out.
    const char* text();

protected:
    // The bound and the zero text() ends it with.
    int32_t capacityLimit() const override { return most > 0 ? most + 1 : INT32_MAX; }

private:
    // Ends the report with the cut line, on a line of its own.
    void cutHere();
    // What a write must leave free under the bound: the cut line, a line end
    // before it and the last word's room.
    uint64_t kept() const { return cutLine.size() + 2 + REPORT_LAST_WORD_ROOM; }

    int32_t most = 0;
    bool cut = false;
    std::string cutLine; // REPORT_CUT_LINE in the output character set
};

// For tests: documents bound their reports on this thread (true, as built) or
// leave them unbounded and unpaid, as before there was a bound (false).
void reportBoundsOn(bool on);

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

    // Whether writes still reach a sink (none past a bounded report's cut):
    // writers make nothing they would write otherwise.
    bool accepts() const { return sink && !sink->writesDropped(); }

    int32_t options;    // distinguished-name text options (DistinguishedName::toText)
    GenericFile* sink;  // not owned; null: every write does nothing

private:
    // Bytes as they are.
    void writeRaw(const std::string& text);
    // A Windows-1250 text converted to the output character set.
    void writeText(const std::string& text);
    void writeIntegerOctets(const uint8_t* content, size_t length);
};
