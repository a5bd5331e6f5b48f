// libFuzzer target over a stored configuration: the bytes are loaded as a
// configuration file. A refused file must leave the configuration in memory
// as it was; an accepted one must answer every option without an invariant
// failure and write itself back as octets that load again to the same octets.
// The same bytes read through the plain decoder (no checks) must still never
// make an option read fail.
#include "api/pcfgfile.h"

#include "pki/common/algid.h"
#include "pki/common/extension.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

void readEverything(const TALCfgFile& cfg) {
  for (const auto& row : cfg.optionTable()) (void)cfg.getInt(row.first);
  (void)cfg.getAttr22(true);
  (void)cfg.getSymmetricAlgorithm(false);
  AlgorithmIdentifier alg;
  (void)cfg.getSignatureAlgorithmAttr(alg);
  ASNsequenceList<PolicyIdAndNote> policies;
  (void)cfg.getAttr1(policies);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TALCfgFile cfg;
  require(cfg.setInt(17, 45) == 1);
  std::vector<unsigned char> before;
  require(cfg.encodeVector(before) > 0);

  int r = cfg.load(data, size);
  std::vector<unsigned char> after;
  require(cfg.encodeVector(after) > 0);
  if (r != TALCFG_OK) {
    require(after == before);
  } else {
    readEverything(cfg);
    TALCfgFile again;
    require(again.load(after.data(), after.size()) == TALCFG_OK);
    std::vector<unsigned char> second;
    require(again.encodeVector(second) > 0 && second == after);
  }

  TALCfgFile raw;
  if (size < 1u << 20 && raw.decodeBuffer(data, static_cast<int>(size), 0) > 0) readEverything(raw);
  return 0;
}
