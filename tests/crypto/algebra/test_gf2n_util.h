// Helpers of the GF(2^m) and binary-curve tests: hexadecimal and the data folder.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace gf2ntest {

typedef std::vector<std::uint8_t> Bytes;

inline Bytes hex(std::string s) {
  if (s.size() % 2) s = "0" + s;
  Bytes out;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

// Big-endian octets of exactly n octets (left-padded or cut from the left).
inline Bytes hexN(const std::string& s, std::size_t n) {
  Bytes b = hex(s);
  while (b.size() > n && b[0] == 0) b.erase(b.begin());
  if (b.size() < n) b.insert(b.begin(), n - b.size(), 0);
  return b;
}

inline std::string toHex(const std::uint8_t* p, std::size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; i++) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

inline std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/gf2n/" + name;
}

inline std::vector<std::string> lines(const std::string& name) {
  std::ifstream in(dataPath(name));
  if (!in) throw std::runtime_error(name + " missing");
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') out.push_back(line);
  return out;
}

}  // namespace gf2ntest
