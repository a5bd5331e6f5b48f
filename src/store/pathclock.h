// The one clock of certification paths and revocation: path building, path
// verification and the revocation checks read the time only through a
// PathClock, so a test (or a verification as of a timemark) fixes the
// instant every comparison is made at. No unit of those reads time() itself.
#pragma once

#include <cstdint>

class X509time;
class TBSCertificate;

class PathClock {
 public:
  virtual ~PathClock() = default;
  // Seconds since 1970-01-01 UTC.
  virtual int64_t now() const = 0;

  // now() as a GeneralizedTime in UTC; false when it cannot be represented.
  bool nowAsTime(X509time& out) const;
  // -1 before notBefore, 1 after notAfter, 0 inside, at now(); -2 when now()
  // cannot be represented as a time.
  int checkValidity(const TBSCertificate& tbs) const;
  // The time is earlier than now() (an expired nextUpdate, a passed deadline).
  bool isPast(const X509time& t) const;
};

// The platform clock (which platform::setTestTime can also fix).
class SystemPathClock final : public PathClock {
 public:
  int64_t now() const override;
};

// Answers the instant it holds.
class FixedPathClock final : public PathClock {
 public:
  explicit FixedPathClock(int64_t seconds = 0) : seconds(seconds) {}
  int64_t now() const override { return seconds; }
  void set(int64_t s) { seconds = s; }

 private:
  int64_t seconds;
};

// The shared system clock: what a manager reads until it is given another.
const PathClock& systemPathClock();
