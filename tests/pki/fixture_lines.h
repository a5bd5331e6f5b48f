// Reads the line-per-case fixtures of the PKI structure tests: whitespace
// separated fields, the first naming the kind of case.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pkitest {

inline std::vector<std::vector<std::string>> readFixture(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/" + name);
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream s(line);
    std::vector<std::string> fields;
    std::string w;
    while (s >> w) fields.push_back(w);
    if (!fields.empty()) rows.push_back(fields);
  }
  return rows;
}

inline std::vector<unsigned char> unhex(const std::string& h) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string hex(const std::vector<unsigned char>& v) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (unsigned char c : v) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

// The row of a kind with a label (fields[0], fields[1]); null when missing.
inline const std::vector<std::string>* findRow(const std::vector<std::vector<std::string>>& rows,
                                               const std::string& kind, const std::string& label) {
  for (const auto& r : rows)
    if (r.size() >= 3 && r[0] == kind && r[1] == label) return &r;
  return nullptr;
}

}  // namespace pkitest
