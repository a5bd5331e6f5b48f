#include "cms/tsverify.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "pki/common/siganddigoid.h"

#include <cstdio>
#include <memory>

namespace {

const char* const SRC = "API/signatureproperties";
const char* const CRLF = "\r\n";

std::string octetsOf(const ASNoctstr& v) {
  return v.data() ? std::string(reinterpret_cast<const char*>(v.data()), size_t(v.length)) : std::string();
}

// The imprint's digest id and length; false when the OID is unknown.
bool imprintDigest(const TimeStampToken& token, int32_t* hashId, int32_t* length) {
  int len = 0, id = 0;
  if (!digestOidToType(token.tstInfo.messageImprint.digestAlgorithm.algorithm, &len, &id))
    return false;
  *hashId = id;
  *length = len;
  return true;
}

const char* digestName(int32_t hashId) { return digestTypeToOid(hashId, nullptr, nullptr); }

void copyVerdict(const SigInfo& from, TimeStampToken& token) {
  token.status = from.status;
  token.qualification = from.qualification;
  token.reason = from.reason;
  token.checked = true;
  const SignedCertificate* signer = from.properties ? from.properties->signerCertificate : nullptr;
  if (signer) {
    token.signerCertificate = std::make_unique<SignedCertificate>(*signer);
    token.signerIssuer = std::make_unique<DistinguishedName>(signer->tbsCertificate.issuer);
    token.signerSubject = std::make_unique<DistinguishedName>(signer->tbsCertificate.subject);
  }
}

// The digest-regulation line: only SHA-1 and RIPEMD-160 are named there.
void digestRegulation(TimeStampDriver& driver, int32_t hashId) {
  if (hashId == 1 || hashId == 7)
    return;
  std::string line = "Wykryto algorytm funkcji skrótu niewymieniony w Rozporządzeniu Rady Ministrów !!!";
  if (const char* name = digestName(hashId))
    line += std::string(": ") + name;
  driver.write(line + CRLF);
  driver.addWarning(WARN_DIGEST_NOT_SHA1_RIPEMD160);
}

// The T-form steps once the signer is known (or the search is repeated at
// once by the driver): tokens, the time T, the basic form.
void timeStampedSteps(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props, const ASNgenTime* t,
                      const ASNgenTime* v) {
  SignatureTimeStampTokens* tokens = props.signatureTimeStamps();
  checkInvariant(tokens != nullptr, SRC, __LINE__, "timeStamps != NULL");
  const ASNgenTime* tokenTime = t ? t : (props.form == SIG_FORM_A ? v : nullptr);
  if (!verifyTimeStampTokens(driver, info, props, *tokens, tokenTime, v))
    return;

  // The tokens stay with the SigInfo for the C API.
  const bool hadTokens = !tokens->items.empty();
  info.timeStampTokens.items.splice(info.timeStampTokens.items.end(), tokens->items);
  SignatureTimeStampToken* chosen = nullptr;
  for (SignatureTimeStampToken* token : info.timeStampTokens.items)
    if (token && token->used)
      chosen = token;

  ASNgenTime timeT;
  const ASNgenTime* at = nullptr;
  if (chosen) {
    timeT = chosen->tstInfo.genTime;
    at = &timeT;
    if (t && *t < chosen->tstInfo.genTime) {
      timeT = *t;
      chosen->used = false;
    }
  } else if (t) {
    timeT = *t;
    at = &timeT;
  } else if (props.form >= SIG_FORM_C) {
    driver.write(std::string(CRLF) + "Uwaga: Brak poprawnie zweryfikowanego znacznika czasu " +
                 "i nie podano z zewnątrz czasu weryfikacji podpisu!" + CRLF);
  }

  driver.verifyBasicForm(info, props, at, v);

  if (chosen && chosen->status == SIG_STATUS_INCOMPLETE && info.status == SIG_STATUS_VALID) {
    driver.write(std::string("Podpis uznany za niekompletnie zweryfikowany ponieważ znacznik czasu jest "
                             "niekompletnie zweryfikowany") + CRLF);
    info.status = SIG_STATUS_INCOMPLETE;
    info.reason = chosen->reason;
  } else if (!chosen && !t && hadTokens && info.status == SIG_STATUS_VALID) {
    // Every token failed and no outside time was given: the signature holds
    // only for now, and the time its form claims is not proven. A full
    // verdict at the current time would hide that; the latest token's
    // reason says why.
    const SignatureTimeStampToken* latest = info.timeStampTokens.items.front();
    driver.write(std::string("Podpis uznany za niekompletnie zweryfikowany ponieważ żaden znacznik czasu "
                             "nie został poprawnie zweryfikowany") + CRLF);
    info.status = SIG_STATUS_INCOMPLETE;
    info.reason = latest && latest->reason ? latest->reason : SIG_REASON_MALFORMED;
  }
}

}  // namespace

TimeStampDriver::~TimeStampDriver() = default;

std::string reportTimeText(const ASNgenTime& t) {
  char b[48];
  std::snprintf(b, sizeof b, "%04d.%02d.%02d %02d:%02d:%02d", int(t.year), int(t.month), int(t.day),
                int(t.hour), int(t.minute), int(t.second));
  return b;
}

void verifyTimeStampToken(TimeStampDriver& driver, TimeStampToken& token, SigInfo& tokenInfo,
                          SignatureProperties* parent, const std::vector<std::string>& digests,
                          int32_t hashId, const ASNgenTime* t, const ASNgenTime* v, bool archive,
                          bool collect, SignatureCrtValues* target) {
  int32_t id = 0, length = 0;
  if (!imprintDigest(token, &id, &length) || id != hashId) {
    tokenInfo.status = SIG_STATUS_NOT_VERIFIABLE;
    tokenInfo.reason = SIG_REASON_MALFORMED;
    return;
  }
  const std::string hashed = octetsOf(token.tstInfo.messageImprint.digest);
  bool matched = false;
  if (int32_t(hashed.size()) == length) {
    for (const std::string& digest : digests) {
      checkInvariant(int32_t(digest.size()) == length, SRC, __LINE__, "digest.size() == tsDigestLen");
      if (digest == hashed)
        matched = true;
    }
  }
  if (!matched) {
    tokenInfo.status = SIG_STATUS_NEGATIVE;
    tokenInfo.reason = SIG_REASON_DIGEST_MISMATCH;
    return;
  }

  const SignedData& sd = token.token.value();
  auto* props = new SignaturePropertiesPkcs7(driver.context(), &sd, sd.signerInfos.GetHead(), true, false);
  tokenInfo.setProperties(props);

  TokenExtras extras;
  SignatureCrtValues* ownCerts = parent ? parent->certificateValues() : nullptr;
  SignatureRevValues* ownRevs = parent ? parent->revocationValues() : nullptr;
  SignatureCrtValues* tsCerts = parent ? parent->timeStampCertificateValues() : nullptr;
  SignatureRevValues* tsRevs = parent ? parent->timeStampRevocationValues() : nullptr;
  if (tsCerts && !tsCerts->items.empty())
    extras.certificates = tsCerts;
  else if (driver.contextCertificates())
    extras.certificates = driver.contextCertificates();
  else
    extras.certificates = ownCerts;
  if (tsRevs && !tsRevs->items.empty())
    extras.revocations = tsRevs;
  else if (driver.contextRevocations())
    extras.revocations = driver.contextRevocations();
  else
    extras.revocations = ownRevs;
  extras.carried = parent ? parent->carriedCertificates() : nullptr;

  driver.verifyTokenAt(tokenInfo, *props, extras, t, v, archive, collect, target);
}

bool verifyTimeStampTokens(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                           SignatureTimeStampTokens& tokens, const ASNgenTime* t, const ASNgenTime* v) {
  tokens.sortTokens();
  if (!driver.findSigner(info, props))
    return false;

  ASNgenTime reference;
  if (v)
    reference = *v;
  else
    driver.now(reference);
  driver.write(std::string(CRLF) + "Weryfikacja znaczników czasu na czas: " + reportTimeText(reference) + " UTC" +
               CRLF);

  SignatureTimeStampToken* chosen = nullptr;
  bool fullyValid = false;
  for (SignatureTimeStampToken* token : tokens.items) {
    if (!token)
      continue;
    const ASNgenTime& genTime = token->tstInfo.genTime;
    driver.write(std::string(CRLF) + "Znacznik czasu: " + reportTimeText(genTime) + " UTC" + CRLF);

    int32_t id = 0, length = 0;
    checkInvariant(imprintDigest(*token, &id, &length), SRC, __LINE__, "imprint digest algorithm");
    std::vector<std::string> digests;
    props.timeStampImprintData(*token, id, digests);

    SigInfo tokenInfo;
    verifyTimeStampToken(driver, *token, tokenInfo, &props, digests, id, t, v, driver.archive, driver.collect,
                         nullptr);
    copyVerdict(tokenInfo, *token);

    if (reference < genTime) {
      driver.write(std::string(CRLF) +
                   "Uwaga: czas ze znacznika czasu jest późniejszy od czasu na który jest weryfikowany! " + CRLF);
      token->status = SIG_STATUS_NOT_VERIFIABLE;
      token->reason = SIG_REASON_TIMESTAMP_LATER;
      continue;
    }
    if (token->status == SIG_STATUS_NOT_VERIFIABLE || token->status == SIG_STATUS_NEGATIVE)
      continue;
    if (info.qualification != SIG_QUALIFICATION_ORDINARY && token->qualification == SIG_QUALIFICATION_ORDINARY)
      continue;
    if (!(info.qualification == SIG_QUALIFICATION_ORDINARY && token->qualification == SIG_QUALIFICATION_ORDINARY))
      digestRegulation(driver, id);
    if (token->status == SIG_STATUS_INCOMPLETE) {
      if (!fullyValid && !(reference < genTime)) {
        reference = genTime;
        chosen = token;
      }
    } else if (token->status == SIG_STATUS_VALID && !fullyValid) {
      reference = genTime;
      chosen = token;
      fullyValid = true;
      if (driver.option(12) == 0)
        break;
    }
  }
  if (chosen)
    chosen->used = true;
  driver.write(CRLF);
  return true;
}

void verifyTimeStampedForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                           const ASNgenTime* t, const ASNgenTime* v) {
  timeStampedSteps(driver, info, props, t, v);
}

void verifyCompleteForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                        const ASNgenTime* t, const ASNgenTime* v) {
  if (!driver.findSigner(info, props))
    return;
  if (props.isTimeStamp) {
    driver.verifyBasicForm(info, props, nullptr, v);
    return;
  }
  SignatureTimeStampTokens* tokens = props.signatureTimeStamps();
  if (tokens && !tokens->items.empty())
    timeStampedSteps(driver, info, props, t, t ? t : v);
  else
    driver.verifyBasicForm(info, props, t, t ? t : v);
}

void verifyArchiveForm(TimeStampDriver& driver, SigInfo& info, SignatureProperties& props,
                       const ASNgenTime* t, const ASNgenTime* v) {
  driver.archive = true;
  if (!driver.findSigner(info, props))
    return;
  ArchiveTimeStampTokens* tokens = props.archiveTimeStamps();
  checkInvariant(tokens != nullptr, SRC, __LINE__, "tokens != NULL");
  checkInvariant(tokens->items.size() >= 1, SRC, __LINE__, "tokens->size() >= 1");
  tokens->sortTokens();

  ASNgenTime archiveTime;
  if (v)
    archiveTime = *v;
  else
    driver.now(archiveTime);
  driver.archive = false;

  bool incomplete = false;
  int32_t incompleteReason = 0;
  bool first = true;
  for (ArchiveTimeStampToken* token : tokens->items) {
    if (!token)
      continue;
    int32_t id = 0, length = 0;
    checkInvariant(imprintDigest(*token, &id, &length), SRC, __LINE__, "imprint digest algorithm");
    const char* name = digestName(id);
    driver.write(std::string(CRLF) + "Weryfikacja archiwalnego znacznika czasu (" + (name ? name : "") + ", " +
                 reportTimeText(token->tstInfo.genTime) + ")" + CRLF + "na czas: " +
                 reportTimeText(archiveTime) + " UTC" + CRLF + CRLF);

    std::vector<std::string> digests;
    props.archiveImprintData(*token, id, digests);
    SigInfo tokenInfo;
    verifyTimeStampToken(driver, *token, tokenInfo, &props, digests, id, nullptr, &archiveTime, driver.archive,
                         driver.collect, nullptr);
    driver.archive = true;
    copyVerdict(tokenInfo, *token);

    const bool latest = first;
    first = false;
    if (latest && token->status == SIG_STATUS_INCOMPLETE) {
      incomplete = true;
      incompleteReason = token->reason;
      const char* text = signatureReasonText(token->reason);
      driver.write(std::string("Niepełna weryfikacja archiwalnego znacznika czasu: ") + "Powód: " +
                   (text ? text : "") + CRLF);
    } else if (token->status != SIG_STATUS_VALID) {
      const char* line = signatureStatusReportLine(token->status, true);
      const char* text = signatureReasonText(token->reason);
      driver.write(std::string("Błąd weryfikacji archiwalnego znacznika czasu: ") + (line ? line : "") + CRLF +
                   "Powód: " + (text ? text : "") + CRLF);
      info.status = SIG_STATUS_NOT_VERIFIABLE;
      info.reason = SIG_REASON_ARCHIVE_TIMESTAMP;
      return;
    }
    if (info.qualification != SIG_QUALIFICATION_ORDINARY && token->qualification == SIG_QUALIFICATION_ORDINARY)
      driver.write(std::string("Uwaga: archiwalny znacznik czasu jest niekwalifikowany, a certyfikat jest "
                               "kwalifikowany ") + "lub nieznany!" + CRLF);
    archiveTime = token->tstInfo.genTime;
  }

  driver.archive = true;
  verifyCompleteForm(driver, info, props, t, &archiveTime);
  if (incomplete && info.status == SIG_STATUS_VALID) {
    info.status = SIG_STATUS_INCOMPLETE;
    info.reason = incompleteReason;
  }
}
