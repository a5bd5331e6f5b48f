// Test helpers of the EC tests: hexadecimal, and the curve parameters that
// tests/data/ec/make_fixtures.py took from `openssl ecparam`.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ectest {

typedef std::vector<std::uint8_t> Bytes;

inline Bytes hex(const std::string& h) {
  Bytes out;
  std::string s = h;
  if (s.size() % 2) s = "0" + s;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
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
  return std::string(TAL_TEST_DATA_DIR) + "/ec/" + name;
}

struct CurveParams {
  std::string name;
  Bytes p, a, b, G, n, h, seed;
};

inline const std::map<std::string, CurveParams>& curves() {
  static std::map<std::string, CurveParams> all;
  if (all.empty()) {
    std::ifstream in(dataPath("curves.txt"));
    if (!in) throw std::runtime_error("curves.txt missing");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream ls(line);
      CurveParams c;
      std::string p, a, b, G, n, h, seed;
      ls >> c.name >> p >> a >> b >> G >> n >> h >> seed;
      c.p = hex(p);
      c.a = hex(a);
      c.b = hex(b);
      c.G = hex(G);
      c.n = hex(n);
      c.h = hex(h);
      if (seed != "-") c.seed = hex(seed);
      all[c.name] = c;
    }
  }
  return all;
}

inline const CurveParams& curve(const std::string& name) { return curves().at(name); }

}  // namespace ectest
