// The certificates made by openssl for the key manager's tests (tests/data/keys).
#pragma once

#include "pki/x509/cert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline SignedCertificate loadCertificate(const char* name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/" + name, std::ios::binary);
  std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  SignedCertificate c;
  EXPECT_GT(c.decodeVector(der), 0) << name;
  return c;
}
