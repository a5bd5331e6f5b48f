// Invariant reporter and the common error table shared by the whole library.
#pragma once

#include <cstdint>
#include <new>

// Every failed internal condition goes through here; it throws
// std::runtime_error with the fixed Polish text and never ends the process.
[[noreturn]] void invariantBroken(const char* sourceName, int line, const char* conditionText,
                                 const char* detail);
// Inline: the check sits on hot paths, and only a failure needs the reporter.
inline void checkInvariant(bool condition, const char* sourceName, int line,
                           const char* conditionText, const char* detail = nullptr)
{
    if (!condition)
        invariantBroken(sourceName, line, conditionText, detail);
}

// Message of a common error code 0..53 (Windows-1250), or null outside that range.
const char* commonErrorText(uint32_t code);

// Allocation failure of the buffers, lists and ASN.1 setters: a std::bad_alloc
// whose text is "bad allocation".
class BadAllocation : public std::bad_alloc
{
public:
    const char* what() const noexcept override;
};

// Throws BadAllocation (used where an allocation failure must leave as an exception).
[[noreturn]] void throwBadAllocation();
