// Marks where a value computed from secrets becomes public (a signature, the length the
// protocol gives a shared secret). In a build for the constant-time tests (TAL_CT_VALGRIND),
// valgrind's memcheck is told that the octets are defined from here on, so that it reports
// only branches and memory indices that depend on what is still secret; elsewhere it is
// nothing.
#pragma once

#include <cstddef>

#ifdef TAL_CT_VALGRIND
#include <valgrind/memcheck.h>
inline void lvDeclassify(const void* p, std::size_t n) { VALGRIND_MAKE_MEM_DEFINED(p, n); }
#else
inline void lvDeclassify(const void*, std::size_t) {}
#endif
