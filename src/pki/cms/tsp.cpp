#include "pki/cms/tsp.h"

using cmsasn::opt;

// ---------------------------------------------------------------------------
// TimeStampRequest

TimeStampRequest::TimeStampRequest(unsigned char t)
    : cmsasn::Sequence<TimeStampRequest>(t),
      version(),
      messageImprint(),
      reqPolicy(),
      nonce(),
      certReq(),
      extensions(0xA0),
      reqPolicyPresent(0),
      noncePresent(0),
      certReqPresent(0),
      extensionsPresent(0) {
  version.set(1);
  certReq.set(false);
}

TimeStampRequest::~TimeStampRequest() = default;

cmsasn::AllMembers<6> TimeStampRequest::allMembers() {
  return {&version, &messageImprint, &reqPolicy, &nonce, &certReq, &extensions};
}

void TimeStampRequest::restoreDefaults() {
  version.set(1);
  certReq.set(false);
  reqPolicyPresent = noncePresent = certReqPresent = extensionsPresent = 0;
}

int TimeStampRequest::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(version);
  if (x < 1) return x;
  if ((x = r.readTagged(messageImprint, 0x30)) < 1) return x;
  x = cmsasn::readOptionals<4>(r, {{{0x06, &reqPolicy, &reqPolicyPresent},
                                    {0x02, &nonce, &noncePresent},
                                    {0x01, &certReq, &certReqPresent},
                                    {0xA0, &extensions, &extensionsPresent}}});
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<6> TimeStampRequest::members() const {
  // certReq is written whenever its flag is set, FALSE too: a received
  // request re-encodes as it came (a built one sets the flag only for TRUE).
  return {&version,
          &messageImprint,
          opt(reqPolicy, reqPolicyPresent),
          opt(nonce, noncePresent),
          opt(certReq, certReqPresent),
          opt(extensions, extensionsPresent)};
}

// ---------------------------------------------------------------------------
// PKIStatusInfo

PKIStatusInfo::PKIStatusInfo(unsigned char t)
    : cmsasn::Sequence<PKIStatusInfo>(t),
      status(),
      statusString(),
      failInfo(),
      statusStringPresent(0),
      failInfoPresent(0) {}

PKIStatusInfo::~PKIStatusInfo() = default;

cmsasn::AllMembers<3> PKIStatusInfo::allMembers() { return {&status, &statusString, &failInfo}; }

void PKIStatusInfo::restoreDefaults() { statusStringPresent = failInfoPresent = 0; }

int PKIStatusInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(status);
  if (x < 1) return x;
  if (!r.done() && r.peek() != 0x03) {
    if ((x = r.readTagged(statusString, 0x30)) < 1) return x;
    statusStringPresent = 1;
  }
  if (!r.done()) {
    if ((x = r.readTagged(failInfo, 0x03)) < 1) return x;
    failInfoPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> PKIStatusInfo::members() const {
  return {&status, opt(statusString, statusStringPresent), opt(failInfo, failInfoPresent)};
}

// ---------------------------------------------------------------------------
// TimeStampResponse

TimeStampResponse::TimeStampResponse(unsigned char t)
    : cmsasn::Sequence<TimeStampResponse>(t),
      status(),
      timeStampToken(),
      timeStampTokenPresent(0) {}

TimeStampResponse::~TimeStampResponse() = default;

cmsasn::AllMembers<5> TimeStampResponse::allMembers() {
  return {&status, &timeStampToken.value(), &timeStampToken.content, &timeStampToken.contentType,
          &timeStampToken};
}

void TimeStampResponse::restoreDefaults() {
  timeStampToken.contentPresent = 0;
  timeStampTokenPresent = 0;
}

int TimeStampResponse::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(status, 0x30);
  if (x < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(timeStampToken, 0x30)) < 1) return x;
    timeStampTokenPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<2> TimeStampResponse::members() const {
  return {&status, opt(timeStampToken, timeStampTokenPresent)};
}

// ---------------------------------------------------------------------------
// Accuracy

Accuracy::Accuracy(unsigned char t)
    : cmsasn::Sequence<Accuracy>(t),
      seconds(),
      millis(0x80),
      micros(0x81),
      secondsPresent(0),
      millisPresent(0),
      microsPresent(0) {}

Accuracy::Accuracy(const Accuracy& other) : Accuracy(other.tag) { *this = other; }

Accuracy::~Accuracy() = default;

Accuracy& Accuracy::operator=(const Accuracy& other) {
  if (this == &other) return *this;
  cmsasn::refuseConstTarget(*this);
  cmsasn::Sequence<Accuracy>::operator=(other);
  seconds = other.seconds;
  millis = other.millis;
  micros = other.micros;
  secondsPresent = other.secondsPresent;
  millisPresent = other.millisPresent;
  microsPresent = other.microsPresent;
  return *this;
}

cmsasn::AllMembers<3> Accuracy::allMembers() { return {&seconds, &millis, &micros}; }

void Accuracy::restoreDefaults() { secondsPresent = millisPresent = microsPresent = 0; }

int Accuracy::decodeMembers(cmsasn::MemberReader& r) {
  const int x = cmsasn::readOptionals<3>(r, {{{0x02, &seconds, &secondsPresent},
                                              {0x80, &millis, &millisPresent},
                                              {0x81, &micros, &microsPresent}}});
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<3> Accuracy::members() const {
  return {opt(seconds, secondsPresent), opt(millis, millisPresent), opt(micros, microsPresent)};
}

// ---------------------------------------------------------------------------
// TimeStampTokenInfo

TimeStampTokenInfo::TimeStampTokenInfo(unsigned char t)
    : cmsasn::Sequence<TimeStampTokenInfo>(t),
      version(),
      policy(),
      messageImprint(),
      serialNumber(),
      genTime(),
      accuracy(),
      ordering(),
      nonce(),
      tsa(0xA0),
      extensions(0xA1),
      accuracyPresent(0),
      orderingPresent(0),
      noncePresent(0),
      tsaPresent(0),
      extensionsPresent(0) {
  version.set(1);
  ordering.set(false);
}

TimeStampTokenInfo::~TimeStampTokenInfo() = default;

cmsasn::AllMembers<10> TimeStampTokenInfo::allMembers() {
  return {&version,  &policy,   &messageImprint, &serialNumber, &genTime,
          &accuracy, &ordering, &nonce,          &tsa,          &extensions};
}

void TimeStampTokenInfo::restoreDefaults() {
  version.set(1);
  ordering.set(false);
  accuracyPresent = orderingPresent = noncePresent = tsaPresent = extensionsPresent = 0;
}

int TimeStampTokenInfo::decodeMembers(cmsasn::MemberReader& r) {
  for (ASNobject* m : std::initializer_list<ASNobject*>{&version, &policy, &messageImprint,
                                                        &serialNumber, &genTime}) {
    const int x = r.read(*m);
    if (x < 1) return x;
  }
  const int x = cmsasn::readOptionals<5>(r, {{{0x30, &accuracy, &accuracyPresent},
                                              {0x01, &ordering, &orderingPresent},
                                              {0x02, &nonce, &noncePresent},
                                              {0xA0, &tsa, &tsaPresent},
                                              {0xA1, &extensions, &extensionsPresent}}},
                                             true);
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<10> TimeStampTokenInfo::members() const {
  // ordering likewise: written whenever its flag is set.
  return {&version,
          &policy,
          &messageImprint,
          &serialNumber,
          &genTime,
          opt(accuracy, accuracyPresent),
          opt(ordering, orderingPresent),
          opt(nonce, noncePresent),
          opt(tsa, tsaPresent),
          opt(extensions, extensionsPresent)};
}

// ---------------------------------------------------------------------------
// TimeStampToken

TimeStampToken::TimeStampToken() = default;

TimeStampToken::~TimeStampToken() = default;
