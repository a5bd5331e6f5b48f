// Constant-time checks under valgrind's memcheck: a secret is marked as
// undefined memory, so every branch or memory index that depends on it is
// reported as a use of an uninitialised value. Results are marked defined
// again before the program looks at them.
#pragma once
#include <cstddef>
#include <valgrind/memcheck.h>

inline void ctSecret(const void* p, size_t n) { VALGRIND_MAKE_MEM_UNDEFINED(p, n); }
inline void ctPublic(const void* p, size_t n) { VALGRIND_MAKE_MEM_DEFINED(p, n); }
inline bool ctUnderValgrind() { return RUNNING_ON_VALGRIND != 0; }
