// Loading the openssl-made fixtures of tests/data/store/revoc/.
#pragma once

#include "pki/ocsp/ocspresp.h"
#include "revocation_double.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace revfix {

const std::string kDir = std::string(TAL_TEST_DATA_DIR) + "/store/revoc/";

template <class T>
std::unique_ptr<T> get(const std::string& name) {
  auto x = revdouble::load<T>(kDir + name);
  EXPECT_TRUE(x) << name;
  return x;
}

// The basic response inside an OCSPResponse file.
inline std::unique_ptr<BasicOCSPResponse> basic(const std::string& name) {
  auto r = get<OCSPResponse>(name);
  if (!r) return nullptr;
  auto b = std::make_unique<BasicOCSPResponse>();
  EXPECT_GT(b->decodeOctets(r->responseBytes.inner.response), 0) << name;
  return b;
}

}  // namespace revfix
