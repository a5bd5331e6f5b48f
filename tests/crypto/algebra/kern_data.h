// Reading the known-answer files of the word-kernel tests (made by tests/data/kern/gen_kern.py
// with python3 integers). Numbers are big-endian hexadecimal; they become word vectors here
// with a parser of the test's own, so the kernels never check themselves.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/algebra/longv.h"

namespace kern {

typedef std::vector<LvWord> Words;

inline std::vector<std::vector<std::string>> readCases(const std::string& name) {
  std::vector<std::vector<std::string>> out;
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/kern/" + name);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::vector<std::string> f;
    std::string s;
    while (ls >> s) f.push_back(s);
    if (!f.empty()) out.push_back(f);
  }
  return out;
}

// Hexadecimal text to exactly n words (n = 0: as many as the text needs, at least one).
inline Words hexWords(const std::string& hex, size_t n = 0) {
  Words w;
  int shift = 0;
  LvWord cur = 0;
  for (size_t i = hex.size(); i > 0; --i) {
    char c = hex[i - 1];
    LvWord v = (c >= '0' && c <= '9') ? LvWord(c - '0') : LvWord((c | 0x20) - 'a' + 10);
    cur |= v << shift;
    shift += 4;
    if (shift == 32) {
      w.push_back(cur);
      cur = 0;
      shift = 0;
    }
  }
  if (shift) w.push_back(cur);
  while (w.size() > 1 && w.back() == 0) w.pop_back();
  if (w.empty()) w.push_back(0);
  if (n) w.resize(n, 0);
  return w;
}

// Significant words only (at least one).
inline Words trimmed(const LvWord* w, size_t n) {
  while (n > 1 && w[n - 1] == 0) --n;
  return Words(w, w + (n ? n : 1));
}
inline Words trimmed(const Words& w) { return trimmed(w.data(), w.size()); }

inline std::string hexOf(const Words& w) {
  std::string s;
  char buf[9];
  for (size_t i = w.size(); i > 0; --i) {
    snprintf(buf, sizeof buf, "%08x", w[i - 1]);
    s += buf;
  }
  return s;
}

}  // namespace kern
