// libFuzzer target over the stored settings of a software profile: the registry value's text
// (the configuration's DER as hexadecimal) read back as the key manager reads it, then loaded as
// a configuration file. A text that reads must give DER whose hexadecimal reads back to the
// same octets; a configuration that loads must store and read back unchanged, and the
// configuration manager and key manager read its policies, algorithms and root lists (either
// stored form: certificates with their words, or bare certificates).
#include "api/cfgmgr.h"
#include "api/pcfgfile.h"
#include "keys/keymanager.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
void require(bool ok) {
  if (!ok) std::abort();
}
const size_t MAX_OCTETS = 1u << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t length = size;
  // The registry keeps the text with its terminator.
  if (length > 0 && data[length - 1] == 0) --length;
  std::vector<uint8_t> der;
  if (!settingsFromHex(reinterpret_cast<const char*>(data), length, MAX_OCTETS, der)) {
    require(der.empty());
    return 0;
  }
  require(der.size() * 2 == length);
  std::string text = settingsToHex(der);
  std::vector<uint8_t> again;
  require(settingsFromHex(text.data(), text.size(), MAX_OCTETS, again) && again == der);

  TALCfgFile cfg;
  if (cfg.load(der.data(), der.size()) != TALCFG_OK) return 0;
  for (const auto& row : cfg.optionTable()) (void)cfg.getInt(row.first);
  std::vector<unsigned char> stored;
  require(cfg.encodeVector(stored) > 0);
  std::string storedText = settingsToHex(std::vector<uint8_t>(stored.begin(), stored.end()));
  std::vector<uint8_t> readBack;
  require(settingsFromHex(storedText.data(), storedText.size(), MAX_OCTETS, readBack));
  TALCfgFile second;
  require(second.load(readBack.data(), readBack.size()) == TALCFG_OK);
  std::vector<unsigned char> secondStored;
  require(second.encodeVector(secondStored) > 0 && secondStored == stored);

  ConfigurationManager manager;
  require(manager.loadConfiguration(der.data(), der.size()) == 1);
  OidSet policies;
  (void)manager.getAcceptablePolicies(policies);
  AlgorithmIdentifier algorithm;
  (void)manager.getSignatureAlgorithm(algorithm, false);
  (void)manager.getDigestAlgorithm(false, true);
  KeyManager keys;
  require(keys.init(&manager) == KM_OK);
  int32_t roots = keys.loadRoots(0);
  require(roots == KM_OK || roots == KM_SETTINGS_FORMAT);
  if (roots != KM_OK) {
    require(!keys.hasRoots());
    return 0;
  }
  // Roots read from the settings are kind 1, whichever form stored them.
  for (bool qualified : {true, false}) {
    const RootList& list = keys.rootList(qualified);
    for (POSITION pos = list.GetHeadPosition(); pos;) require(list.GetNext(pos)->word() == 1);
  }
  return 0;
}
