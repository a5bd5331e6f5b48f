// Time: the current time (a clock the tests can set) and local broken-down time.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Seconds since 1970-01-01 UTC: the system clock, or the time a test has set.
int64_t currentTime();
// Makes currentTime answer a fixed time (tests); clearTestTime returns to the system clock.
void setTestTime(int64_t seconds);
void clearTestTime();

// Local broken-down time of a 64-bit time; false when it cannot be represented.
bool toLocalTime(int64_t seconds, struct tm& out);
// UTC broken-down time of a 64-bit time, and back.
bool toUtcTime(int64_t seconds, struct tm& out);
int64_t fromUtcTime(const struct tm& in);

} // namespace platform
