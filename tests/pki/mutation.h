// Random mutations of DER values for the tests that compare a quick reader
// with the full decoder.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace pkitest {

// One change at octet `at` (0 for an empty value): a bit flipped, the octet
// replaced by one of `interesting`, one of them inserted before it, the
// octet removed, or the value cut there.
inline void mutateAt(std::vector<unsigned char>& b, size_t at, std::mt19937& rng,
                     const unsigned char* interesting, size_t count) {
  switch (rng() % 5) {
    case 0:
      if (!b.empty()) b[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
      break;
    case 1:
      if (!b.empty()) b[at] = interesting[rng() % count];
      break;
    case 2:
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), interesting[rng() % count]);
      break;
    case 3:
      if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    default:
      b.resize(at);
  }
}

}  // namespace pkitest
