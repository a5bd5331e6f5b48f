#include "platform/clock.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<bool> testTimeSet{false};
std::atomic<int64_t> testTime{0};
} // namespace

int64_t currentTime()
{
    if (testTimeSet.load())
        return testTime.load();
    return static_cast<int64_t>(std::time(nullptr));
}

void setTestTime(int64_t seconds)
{
    testTime.store(seconds);
    testTimeSet.store(true);
}

void clearTestTime()
{
    testTimeSet.store(false);
}

bool toLocalTime(int64_t seconds, struct tm& out)
{
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, &out) != nullptr;
}

bool toUtcTime(int64_t seconds, struct tm& out)
{
    time_t t = static_cast<time_t>(seconds);
    return gmtime_r(&t, &out) != nullptr;
}

int64_t fromUtcTime(const struct tm& in)
{
    struct tm copy = in;
    return static_cast<int64_t>(timegm(&copy));
}

} // namespace platform
