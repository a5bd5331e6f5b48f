// Reading of the built-in vector texts, shared by the test groups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "base/memfile.h"

namespace lvselftest {

// A stream over the characters of one text (exact length, not copied).
class TextReader {
 public:
  TextReader(const char* text, unsigned int length);
  // The next line with its line feed (when it has one), at most `max`
  // characters: a longer line is returned in pieces. False at the end of the
  // text or on a read error (see failed()).
  bool readLine(std::string& line, std::size_t max);
  bool failed() const { return m_failed; }

 private:
  MemFile m_file;
  uint8_t m_block[4096];
  std::size_t m_at = 0, m_end = 0;
  bool m_failed = false;
};

// The lines a group writes after its last test when all passed.
void groupEnd(std::ostream& report);

}  // namespace lvselftest
