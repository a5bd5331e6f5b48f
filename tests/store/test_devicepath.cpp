// The check of a path on the hardware device: the order of the checks, the
// mode of each, the key-size limit and the mapping of the device's answers.
#include "store/certmgr.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string serialOf(const SignedCertificate& c) {
  char text[256];
  return c.tbsCertificate.serialNumber.toHex(text, sizeof text) > 0 ? text : "";
}

std::vector<unsigned char> readFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/paths/rsa/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// An openssl RSA chain, end certificate first, trust point last.
CertificatePath rsaPath() {
  CertificatePath path;
  for (const char* name : {"ee.der", "int2.der", "int1.der", "root.der"}) {
    const std::vector<unsigned char> der = readFile(name);
    CertificateItem* item = new CertificateItem();
    EXPECT_EQ(item->certificate.edit().decodeBuffer(der.data(), static_cast<int>(der.size()), 0),
              static_cast<int>(der.size()))
        << name;
    path.AddTail(item);
  }
  return path;
}

struct Device : DeviceCertificateCheck {
  bool active = true;
  unsigned limit = 4096;
  int failAt = -1;  // the call (0 = first) that gets `answer`
  int32_t answer = 0;
  std::vector<int32_t> modes;
  std::vector<std::string> serials;
  bool hardwareDeviceActive() const override { return active; }
  unsigned deviceKeySizeLimit() const override { return limit; }
  int32_t verifyOnDevice(uint32_t, const SignedCertificate& c, int32_t mode) override {
    modes.push_back(mode);
    serials.push_back(serialOf(c));
    return static_cast<int>(modes.size()) - 1 == failAt ? answer : 0;
  }
};

TEST(DevicePath, AnswersAndOrder) {
  struct Row {
    const char* name;
    unsigned limit;
    int failAt;
    int32_t answer;
    int expected;
    size_t calls;
  };
  const Row rows[] = {
      {"every certificate passes", 4096, -1, 0, 0, 4},
      {"key longer than the device takes", 1024, -1, 0, 44, 0},
      {"device refuses the trust point", 4096, 0, 4, 1, 1},
      {"device refuses the end certificate", 4096, 3, 4, 1, 4},
      {"device cannot check an intermediate", 4096, 1, 20, 9, 2},
      {"any other answer handed back", 4096, 2, 7, 7, 3},
  };
  const CertificatePath path = rsaPath();
  ASSERT_EQ(path.GetCount(), 4);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Device d;
    d.limit = r.limit;
    d.failAt = r.failAt;
    d.answer = r.answer;
    EXPECT_EQ(CertificateManager::buildDevicePath(7, path, d), r.expected);
    ASSERT_EQ(d.modes.size(), r.calls);
    // The trust point first with mode 3, then towards the end certificate.
    for (size_t i = 0; i < d.modes.size(); ++i) EXPECT_EQ(d.modes[i], i == 0 ? 3 : 2);
  }
  Device order;
  ASSERT_EQ(CertificateManager::buildDevicePath(7, path, order), 0);
  std::vector<std::string> expected;
  for (POSITION p = path.GetTailPosition(); p;)
    expected.push_back(serialOf(CertificatePath::GetPrev(p)->certificate));
  ASSERT_NE(expected.front(), expected.back());
  EXPECT_EQ(order.serials, expected);
}

TEST(DevicePath, InvariantsOfTheCaller) {
  const CertificatePath path = rsaPath();
  CertificatePath empty;
  Device inactive;
  inactive.active = false;
  Device d;
  EXPECT_THROW(CertificateManager::buildDevicePath(7, path, inactive), std::runtime_error);
  EXPECT_THROW(CertificateManager::buildDevicePath(7, empty, d), std::runtime_error);
  EXPECT_THROW(CertificateManager::buildDevicePath(0, path, d), std::runtime_error);
}

}  // namespace
