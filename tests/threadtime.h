// This thread's processor time: what a check of a cost reads when no count of
// work can be had. Other threads and the machine's load take no share of it,
// as they take of the wall time.
#pragma once

#include <ctime>

inline double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
