// Scratch database directories and made-up certificate records for the tests
// of the file-backed database.
#pragma once

#include "removedatexit.h"
#include "store/dbtal.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

inline std::string scratchDbDir(const std::string& what)
{
  std::string dir =
      scratchfiles::removedAtExit("/tmp/talvorin-dbtal-" + std::to_string(::getpid()) + "-" + what);
  std::system(("rm -rf '" + dir + "'").c_str());
  return dir;
}

inline std::unique_ptr<DbTal> openDb(const std::string& dir, bool create = false)
{
  std::unique_ptr<DbTal> db(new DbTal);
  db->connect(dir);
  if (create)
    db->create();
  return db;
}

// A hash made from a number: the number's base-255 digits (so no two numbers
// share one), then the salt; no octet is zero, so raw-text keys keep all 20.
inline DbHash hashOf(uint32_t id, uint8_t salt)
{
  DbHash h;
  for (size_t i = 0; i < h.size(); ++i) {
    h[i] = static_cast<uint8_t>(1 + (salt * 7u + i) % 255);
    if (i < 5) h[i] = static_cast<uint8_t>(1 + id % 255), id /= 255;
  }
  return h;
}

inline DbBytes derOf(uint32_t id, size_t size = 40)
{
  std::string text = "cert-" + std::to_string(id) + "-";
  text.resize(size, static_cast<char>('a' + id % 26));
  return DbBytes(text.begin(), text.end());
}

inline bool insertNumbered(DbCrtBase& crt, uint32_t id, bool isCa = false)
{
  DbDnFieldList fields{{'c', "PL"}, {'n', "NAME " + std::to_string(id)}};
  return crt.insertCert(hashOf(id, 1), hashOf(id % 7, 2), hashOf(id, 3), hashOf(id, 4),
                        "user" + std::to_string(id) + "@example.com", derOf(id), fields, isCa);
}

inline DbBytes derTlv(uint8_t tag, const DbBytes& content)
{
  // Sized once and filled: GCC 12 warns of a bound (-Warray-bounds) in the
  // inlined growth of the one-octet vector that inserts would take.
  const size_t n = content.size();
  uint8_t head[5] = {tag, static_cast<uint8_t>(n)};
  size_t headLength = 2;
  if (n >= 0x80) {
    head[1] = 0x83;
    head[2] = static_cast<uint8_t>(n >> 16);
    head[3] = static_cast<uint8_t>(n >> 8);
    head[4] = static_cast<uint8_t>(n);
    headLength = 5;
  }
  DbBytes out(headLength + n);
  std::copy(head, head + headLength, out.begin());
  std::copy(content.begin(), content.end(), out.begin() + static_cast<std::ptrdiff_t>(headLength));
  return out;
}

inline DbBytes derInt(int n)
{
  DbBytes content;
  for (int v = n; ; v >>= 8) {
    content.insert(content.begin(), static_cast<uint8_t>(v));
    if (v >= -128 && v < 128) break;
  }
  return derTlv(0x02, content);
}

// An index in the store's outline: SEQUENCE { next INTEGER, SEQUENCE OF SEQUENCE { number INTEGER } }.
inline DbBytes indexOf(const std::vector<int>& numbers)
{
  DbBytes items;
  for (int n : numbers) {
    DbBytes item = derTlv(0x30, derInt(n));
    items.insert(items.end(), item.begin(), item.end());
  }
  DbBytes content = derInt(numbers.empty() ? 0 : numbers.back() + 1);
  DbBytes list = derTlv(0x30, items);
  content.insert(content.end(), list.begin(), list.end());
  return derTlv(0x30, content);
}

inline DbBytes crlOf(int n) { return derOf(1000000 + static_cast<uint32_t>(n), 64); }
