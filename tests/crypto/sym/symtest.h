// Helpers of the symmetric and generator tests: hexadecimal text and the
// key = value record files of the known-answer suites.
#pragma once

#include <cctype>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/basic/lvoctmem.h"

namespace symtest {

typedef std::vector<LvOctet> Bytes;

inline Bytes hex(const std::string& s) {
  if (s.size() % 2) throw std::runtime_error("odd hex: " + s);
  Bytes out(s.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<LvOctet>(std::stoul(s.substr(2 * i, 2), nullptr, 16));
  return out;
}

inline std::string toHex(const LvOctet* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}
inline std::string toHex(const Bytes& b) { return toHex(b.data(), b.size()); }

// The REASON line of a library exception's text.
inline std::string reasonOf(const LvException& e) {
  std::string w = e.what();
  size_t a = w.find("REASON: ");
  size_t b = w.find('\n', a);
  return w.substr(a + 8, b - a - 8);
}

inline std::string dataPath(const std::string& rel) {
  return std::string(TAL_TEST_DATA_DIR) + "/" + rel;
}

inline std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// Records of "NAME = value" lines separated by blank lines; "[SECTION]"
// lines give every following record the field "SECTION"; '#' starts a
// comment line.
typedef std::map<std::string, std::string> Record;

inline std::vector<Record> readRecords(const std::string& rel) {
  std::ifstream in(dataPath(rel));
  if (!in) throw std::runtime_error("cannot open " + rel);
  std::vector<Record> out;
  Record cur;
  std::string section, line;
  auto flush = [&]() {
    if (!cur.empty()) {
      cur["SECTION"] = section;
      out.push_back(cur);
      cur.clear();
    }
  };
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      flush();
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    cur[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  flush();
  return out;
}

}  // namespace symtest
