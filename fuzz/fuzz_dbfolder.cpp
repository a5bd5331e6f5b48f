// libFuzzer target over a database folder: the input, split at each
// "\n--8<--\n", gives in turn "certific.idx", "certific.dta", "crl_idx.asn",
// "imports.dat", and the journals "certific.dta.jnl" and "certific.idx.jnl"
// of a fresh database (files not given stay fresh, journals absent). Every
// query must answer with a result or an exception, and every walk must end.
#include "base/file.h"
#include "store/crldb.h"
#include "store/dbcrltal.h"
#include "store/dbtal.h"
#include "removedatexit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

const char* const FILES[] = {"certific.idx", "certific.dta",     "crl_idx.asn",
                             "imports.dat",  "certific.dta.jnl", "certific.idx.jnl"};
const char SEPARATOR[] = "\n--8<--\n";

void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static const std::string base =
      scratchfiles::removedAtExit("/tmp/fuzz_dbfolder-" + std::to_string(::getpid()));
  static const std::string dir = base + "/db";
  static const std::string fresh = base + "/fresh";
  static bool made = false;
  if (!made) {
    std::system(("rm -rf '" + base + "'").c_str());
    DbTal model;
    model.connect(fresh);
    model.create();
    made = true;
  }
  // Files a run left (CRL files, backups) go; the fresh ones come back.
  std::vector<std::string> left;
  try {
    listDirectory(dir, left, nullptr);
  } catch (const std::exception&) {
  }
  for (const std::string& name : left) deleteFile((dir + "/" + name).c_str());
  DbTal db;
  db.connect(dir);
  if (!db.copyDb(fresh)) std::abort();
  const uint8_t* at = data;
  const uint8_t* end = data + size;
  for (const char* file : FILES) {
    if (at > end) break;
    const uint8_t* cut = static_cast<const uint8_t*>(memmem(at, static_cast<size_t>(end - at), SEPARATOR, sizeof SEPARATOR - 1));
    const uint8_t* stop = cut ? cut : end;
    writeFile(dir + "/" + file, at, static_cast<size_t>(stop - at));
    at = stop + sizeof SEPARATOR - 1;
    if (!cut) break;
  }
  (void)db.verify();
  try {
    DbCertList list;
    DbHash hash{};
    db.crt()->findBySerNumHash(list, hash);
    db.crt()->findBySbjDnFld(list, 'c', "PL");
    long steps = 0;
    for (bool on = db.crt()->first(); on; on = db.crt()->next()) {
      if (++steps > 1000000) std::abort();  // an endless walk
      DbBytes der;
      db.crt()->get(der);
    }
  } catch (const std::exception&) {
  }
  try {
    DbCrlGuard guard(0);
    DbBytes index;
    db.crl()->getCrlIndex(index, guard);
    int32_t newest;
    (void)crlIndexNewestNumber(index, newest);
    CrlIndex decoded;
    (void)decoded.decodeVector(index);
  } catch (const std::exception&) {
  }
  try {
    uint32_t number;
    db.srv()->getImportNumber(1, "ldap", number);
  } catch (const std::exception&) {
  }
  return 0;
}
