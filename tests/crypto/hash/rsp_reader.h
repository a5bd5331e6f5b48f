// Reader of the known-answer files (NIST .rsp style "Key = value" groups).
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace rsp {

struct Record {
  std::string section;  // the last "[...]" line before the record
  std::map<std::string, std::string> fields;
  const std::string& operator[](const std::string& key) const {
    static const std::string empty;
    auto it = fields.find(key);
    return it == fields.end() ? empty : it->second;
  }
  bool has(const std::string& key) const { return fields.count(key) != 0; }
};

inline std::vector<std::uint8_t> unhex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string tohex(const std::uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

inline std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Records are separated by blank lines; '#' lines are comments.
inline std::vector<Record> load(const std::string& path) {
  std::ifstream in(path);
  std::vector<Record> out;
  Record cur;
  std::string section, line;
  auto flush = [&]() {
    if (!cur.fields.empty()) {
      cur.section = section;
      out.push_back(cur);
    }
    cur = Record();
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
    cur.fields[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  flush();
  return out;
}

// The message of a record: Len is in bits, "Msg = 00" stands for empty.
inline std::vector<std::uint8_t> message(const Record& r) {
  std::vector<std::uint8_t> m = unhex(r["Msg"]);
  m.resize(std::stoul(r["Len"]) / 8);
  return m;
}

inline std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/hash/" + name;
}

}  // namespace rsp
