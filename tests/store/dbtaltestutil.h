// Scratch database directories and made-up certificate records for the tests
// of the file-backed database.
#pragma once

#include "store/dbtal.h"

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

inline std::string scratchDbDir(const std::string& what)
{
  std::string dir = "/tmp/talvorin-dbtal-" + std::to_string(::getpid()) + "-" + what;
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

// A hash made from a number; no octet is zero, so raw-text keys keep all 20.
inline DbHash hashOf(uint32_t id, uint8_t salt)
{
  DbHash h;
  for (size_t i = 0; i < h.size(); ++i)
    h[i] = static_cast<uint8_t>(1 + ((id >> (8 * (i % 4))) + salt + i) % 255);
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
