// libFuzzer target over trusted lists from strangers: the guarded parse, every
// service's type, status, supply points and certificate, the operator's names,
// and registration. A fault is a TalApiException 170; anything else, or a
// record outside the indexes' rules, is a finding.
#include "base/talexception.h"
#include "xmlsig/trustedlist.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
void check(const TrustedList& list) {
  const std::vector<const TrustedService*>* indexes[4] = {
      &list.caPkcServices(), &list.caQcServices(), &list.tsaServices(), &list.ocspServices()};
  size_t indexed = 0;
  for (int k = 0; k < 4; ++k) {
    for (const TrustedService* s : *indexes[k]) {
      const int32_t t = s->type;
      const bool fits = (k == 0 && t == TSL_TYPE_CA_PKC) || (k == 1 && t == TSL_TYPE_CA_QC) ||
                        (k == 2 && t == TSL_TYPE_TSA) ||
                        (k == 3 && (t == TSL_TYPE_OCSP || t == TSL_TYPE_OCSP_QC));
      if (!fits || s->status < 1 || s->status > 7) abort();
      if (s->certificate && s->der.empty()) abort();
    }
    indexed += indexes[k]->size();
  }
  if (indexed > list.services().size()) abort();
  for (int language = -1; language < 3; ++language)
    if (const char* name = list.getSchemeOperatorName(language)) (void)std::strlen(name);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto list = std::make_unique<TrustedList>();
  try {
    list->loadFromMemory(data, size);
  } catch (const TalApiException& e) {
    if (e.getCode() != tslrc::INV_TSL_FORMAT) abort();
  }
  check(*list);
  TrustedListRegistry registry;
  try {
    registry.add(std::move(list));
  } catch (const TalApiException& e) {
    if (e.getCode() != tslrc::INV_TSL_FORMAT) abort();
  }
  return 0;
}
