// Shared by the PKCS#8, PKCS#12 and enveloped-message tests: the fixtures
// of tests/data/pki/pkcs, hexadecimal texts, passwords in the BMPString
// form the structures take.
#pragma once

#include "test_cms_support.h"

#include "removedatexit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pkcstest {

inline std::vector<unsigned char> pkcs(const std::string& name) {
  return cmstest::readData("pkcs/" + name);
}

inline std::vector<unsigned char> fromHex(const std::string& h) {
  std::vector<unsigned char> b;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    b.push_back(static_cast<unsigned char>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return b;
}

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

// A file written for openssl to read: named by the process, since test runs
// side by side share the temporary folder, and removed when the process exits.
inline std::string scratchFile(const std::string& name) {
  return scratchfiles::removedAtExit(::testing::TempDir() + std::to_string(getpid()) + "_" + name);
}

}  // namespace pkcstest
