#include "crypto/selftest/lvselftest_text.h"

#include <cstdint>
#include <cstring>

namespace lvselftest {

// MemFile never writes through a view, so the text may stay const.
TextReader::TextReader(const char* text, unsigned int length)
    : m_file(reinterpret_cast<uint8_t*>(const_cast<char*>(text)),
             static_cast<int32_t>(length), false) {}

bool TextReader::readLine(std::string& line, std::size_t max) {
  line.clear();
  while (line.size() < max) {
    if (m_at == m_end) {
      // The stream is read a block at a time (a call per character cost more than the
      // tests over the lines).
      uint32_t got = 0;
      if (m_file.read(sizeof m_block, m_block, &got) != 0) {
        m_failed = true;
        return false;
      }
      if (got == 0)
        break;
      m_at = 0;
      m_end = got;
    }
    std::size_t n = m_end - m_at;
    if (n > max - line.size())
      n = max - line.size();
    const uint8_t* start = m_block + m_at;
    const void* feed = std::memchr(start, '\n', n);
    if (feed)
      n = static_cast<std::size_t>(static_cast<const uint8_t*>(feed) - start) + 1;
    line.append(reinterpret_cast<const char*>(start), n);
    m_at += n;
    if (feed)
      break;
  }
  return !line.empty();
}
}  // namespace lvselftest
