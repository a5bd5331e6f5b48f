#include "crypto/selftest/lvselftest_text.h"

#include <cstdint>

namespace lvselftest {

// MemFile never writes through a view, so the text may stay const.
TextReader::TextReader(const char* text, unsigned int length)
    : m_file(reinterpret_cast<uint8_t*>(const_cast<char*>(text)),
             static_cast<int32_t>(length), false) {}

bool TextReader::readLine(std::string& line, std::size_t max) {
  line.clear();
  while (line.size() < max) {
    uint8_t c = 0;
    uint32_t got = 0;
    if (m_file.read(1, &c, &got) != 0) {
      m_failed = true;
      return false;
    }
    if (got == 0)
      break;
    line.push_back(static_cast<char>(c));
    if (c == '\n')
      break;
  }
  return !line.empty();
}

}  // namespace lvselftest
