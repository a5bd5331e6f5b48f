// Shared by the PKCS#8, PKCS#12 and enveloped-message tests: the fixtures
// of tests/data/pki/pkcs, hexadecimal texts, passwords in the BMPString
// form the structures take.
#pragma once

#include "test_cms_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
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

// Files written for openssl to read: named by the process, since test runs side
// by side share the temporary folder, and removed when the scope ends.
class OpensslFiles {
 public:
  explicit OpensslFiles(const std::string& stem)
      : base(::testing::TempDir() + stem + "_" + std::to_string(getpid())) {}
  ~OpensslFiles() {
    for (const std::string& p : made) std::remove(p.c_str());
  }
  OpensslFiles(const OpensslFiles&) = delete;
  OpensslFiles& operator=(const OpensslFiles&) = delete;
  std::string path(const std::string& suffix) {
    made.push_back(base + suffix);
    return made.back();
  }

 private:
  std::string base;
  std::vector<std::string> made;
};

}  // namespace pkcstest
