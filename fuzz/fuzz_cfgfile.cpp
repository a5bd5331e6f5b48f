// libFuzzer target over a stored configuration: the bytes are loaded as a
// configuration file. A refused file must leave the configuration in memory
// as it was; an accepted one must answer every option without an invariant
// failure and write itself back as octets that load again to the same octets.
// The same bytes read through the plain decoder (no checks) must still never
// make an option read fail. The key manager's root lists are read in both forms.
#include "api/pcfgfile.h"

#include "keys/certdesc.h"
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
  // The key manager's root lists, in either stored form: a list that reads writes itself back
  // as octets that read again to the same octets, its words within 32 bits.
  for (bool first : {true, false}) {
    ASNsequenceList<SignedCertificateWithDesc> roots;
    if ((first ? cfg.getAttr11(roots) : cfg.getAttr8(roots)) == 1) {
      std::vector<unsigned char> der, again;
      for (POSITION pos = roots.GetHeadPosition(); pos;) (void)roots.GetNext(pos)->word();
      if (roots.encodeVector(der) > 0) {
        ASNsequenceList<SignedCertificateWithDesc> back;
        require(back.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY) ==
                static_cast<int>(der.size()));
        require(back.encodeVector(again) > 0 && again == der);
      }
    }
    ASNsequenceList<SignedCertificate> bare;
    (void)(first ? cfg.getAttr11(bare) : cfg.getAttr8(bare));
  }
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
