// Scratch folders and raw byte access for the database file tests.
#pragma once

#include "removedatexit.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

inline std::string scratchPath(const std::string& what)
{
  std::string dir = scratchfiles::removedAtExit("/tmp/talvorin-filedb-" + std::to_string(::getpid()));
  ::mkdir(dir.c_str(), 0700);
  std::string path = dir + "/" + what;
  std::remove((path + ".idx").c_str());
  std::remove((path + ".dta").c_str());
  std::remove(path.c_str());
  return path;
}

inline std::vector<uint8_t> readBytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
inline void setLe32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
