#include "api/tlistpoints.h"

#include <utility>
#include <vector>

namespace {
bool inForce(int32_t status) {
  return status == TSL_STATUS_UNDER_SUPERVISION || status == TSL_STATUS_SUPERVISION_IN_CESSATION ||
         status == TSL_STATUS_ACCREDITED;
}
}  // namespace

TrustedListService trustPointsOf(const TrustedList& list) {
  const std::vector<const TrustedService*>* byKind[4] = {
      &list.caPkcServices(), &list.caQcServices(), &list.tsaServices(), &list.ocspServices()};
  TrustedListService points;
  for (int kind = 0; kind < 4; ++kind)
    for (const TrustedService* service : *byKind[kind])
      if (service->certificate && inForce(service->status))
        points.points[kind].emplace_back(new SignedCertificate(*service->certificate));
  return points;
}

std::string registerTrustedList(TrustedListRegistry& registry, KeyManager& keys,
                                std::unique_ptr<TrustedList> list) {
  TrustedListService points;
  if (list) points = trustPointsOf(*list);
  std::string name = registry.add(std::move(list));
  keys.setTrustedListService(name, std::move(points));
  return name;
}
