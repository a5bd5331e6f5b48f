#include "store/pathclock.h"

#include "pki/common/x509time.h"
#include "pki/x509/cert.h"
#include "platform/clock.h"

bool PathClock::nowAsTime(X509time& out) const {
  out = X509time(TAG_GENERAL_TIME);
  return out.setFromTime64(now(), true);
}

int PathClock::checkValidity(const TBSCertificate& tbs) const {
  X509time t(TAG_GENERAL_TIME);
  if (!nowAsTime(t)) return -2;
  return tbs.checkValidity(t);
}

bool PathClock::isPast(const X509time& t) const { return t.isBeforeTime64(now()); }

int64_t SystemPathClock::now() const { return platform::currentTime(); }

const PathClock& systemPathClock() {
  static const SystemPathClock clock;
  return clock;
}
