// Helpers of the number and RSA tests: hexadecimal data, the Python-made
// vectors, and generators that misbehave on purpose.
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/rbg/lvrbg.h"

namespace numtest {

using Bytes = std::vector<LvOctet>;

inline Bytes hexBytes(std::string hex) {
  if (hex.size() % 2) hex = "0" + hex;
  Bytes out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<LvOctet>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

inline LvN num(const Bytes& b) { return LvN(b.data(), static_cast<unsigned int>(b.size())); }
inline LvN fromHex(const std::string& hex) { return num(hexBytes(hex)); }

inline std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/rsa/" + name;
}

// "name hex" lines, as make_openssl_fixtures.sh writes the key components.
inline std::map<std::string, Bytes> keyFile(const std::string& name) {
  std::ifstream f(dataPath(name));
  std::map<std::string, Bytes> out;
  std::string k, v;
  while (f >> k >> v) out[k] = hexBytes(v);
  return out;
}

// Rows of num_vectors.txt (made by tests/data/rsa/make_num_vectors.py), or of
// another vector file, whose first word is tag.
inline std::vector<std::vector<std::string>> vectors(const std::string& tag,
                                                     const std::string& file = "num_vectors.txt") {
  std::ifstream f(dataPath(file));
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream is(line);
    std::vector<std::string> row;
    std::string w;
    while (is >> w) row.push_back(w);
    if (!row.empty() && row[0] == tag) rows.push_back(row);
  }
  return rows;
}

// A generator that hands out given octets: a fixed octet for ever (a broken
// source), or a recorded sequence (to replay a known salt).
class ScriptedRbg : public LvRbg {
 public:
  explicit ScriptedRbg(LvOctet o) : fixed(o), replay(false) {}
  explicit ScriptedRbg(Bytes o) : octets(std::move(o)), fixed(0), replay(true) {}
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; ++i) dst[i] = replay ? octets.at(pos++) : fixed;
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 0; }
  const char* getName() const override { return "scripted"; }

 private:
  Bytes octets;
  LvOctet fixed;
  bool replay;
  size_t pos = 0;
};

}  // namespace numtest
