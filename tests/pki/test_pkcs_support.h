// Shared by the PKCS#8, PKCS#12 and enveloped-message tests: passwords in
// the BMPString form the structures take.
#pragma once

#include <string>
#include <vector>

namespace pkcstest {

// The BMPString (UTF-16 big-endian) of an ASCII password with its terminator.
inline std::vector<unsigned char> bmp(const std::string& s) {
  std::vector<unsigned char> b;
  for (char c : s) {
    b.push_back(0);
    b.push_back(static_cast<unsigned char>(c));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

}  // namespace pkcstest
