#include "cms/tsrequest.h"

#include "base/commonerror.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"

#include <algorithm>

namespace {

const char* const SRC = "SRC/timestamptokenlist";
const char* const CRLF = "\r\n";
const char* const FETCH = "Błąd pobrania znacznika czasu: ";
const char* const VERIFY = "Błąd weryfikacji znacznika czasu: ";

const int32_t RC_MEM = 100;
const int32_t RC_REQ_SIGN = 124;
const int32_t RC_VERIFY = 127;
const int32_t RC_ALL_SERVERS = 128;
const int32_t RC_REJECTED = 173;

// PKIFailureInfo bits (RFC 3161) that have a text.
const char* failureText(int bit) {
  switch (bit) {
    case 0: return "Błędny algorytm";
    case 2: return "Błędne żądanie";
    case 5: return "Błędny format danych w żądaniu";
    case 14: return "Niedostępne źródło wiarygodnego czasu";
    case 15: return "Nieakceptowana polityka";
    case 16: return "Nieakceptowane rozszerzenie";
    case 17: return "Brak szczegółowych informacji o błędzie";
    case 25: return "Błąd wewnętrzny serwera znacznika czasu";
    default: return nullptr;
  }
}

// The token of the answer with its TSTInfo, read in place over a private
// copy of its octets (as a token read from a signature is): its carried
// certificates keep the octets their issuers signed, DER or not. False when
// the content is not a TSTInfo.
bool takeToken(const TimeStampResponse& response, TimeStampToken& token) {
  std::vector<unsigned char> der;
  if (response.timeStampToken.encodeVector(der) < 1)
    return false;
  if (token.token.decodeBuffer(der.data(), int(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY) !=
      int(der.size()))
    return false;
  const auto& encap = token.token.value().encapContentInfo;
  const ASNoctstr& content = encap.value();
  return encap.contentPresent && encap.contentType == id_ct_TSTInfo && content.length > 0 &&
         token.tstInfo.decodeOctets(content) == content.length;
}

// Under option 4 a failure is a warning bit and the request ends with 0.
int32_t tolerated(TimeStampRequestEnv& env, uint32_t bit, int32_t code) {
  if (env.option(4) != 0) {
    env.addWarning(bit);
    return 0;
  }
  return code;
}

}  // namespace

TimeStampRequestEnv::~TimeStampRequestEnv() = default;

void reportTimeStampRejection(TimeStampRequestEnv& env, const PKIStatusInfo& info) {
  const uint32_t status = info.status.toLong();
  if (status <= 1)
    return;
  if (status > 4) {
    env.write(std::string("Nieznany powód odrzucenia żądania przez serwer znacznika czasu") + CRLF);
    return;
  }
  env.write(std::string("Żądanie wystawienia znacznika czasu zostało przez serwer odrzucone") + CRLF + "Powód:" +
            CRLF);
  bool texts = false;
  if (info.statusStringPresent) {
    for (POSITION pos = info.statusString.GetHeadPosition(); pos;) {
      const ASNany* text = info.statusString.GetNext(pos);
      if (!text || !text->content())
        continue;
      const size_t n = std::min<size_t>(size_t(std::max<int32_t>(text->length, 0)), 1024);
      env.write(std::string(reinterpret_cast<const char*>(text->content()), n) + CRLF);
      texts = true;
    }
  }
  if (info.failInfoPresent) {
    int highest = -1;
    for (int bit = info.failInfo.bitCount() - 1; bit >= 0 && highest < 0; --bit)
      if (info.failInfo.getBit(bit))
        highest = bit;
    if (const char* text = highest >= 0 ? failureText(highest) : nullptr)
      env.write(std::string(text) + CRLF);
    else if (!texts)
      env.write(CRLF);
    return;
  }
  if (!texts)
    env.write(std::string(" serwer znacznika czasu nie podał przyczyny błędu") + CRLF);
}

std::vector<uint8_t> buildTimeStampRequest(const uint8_t* digest, size_t length, int32_t hashId) {
  const ASNobjectId* oid = nullptr;
  int digestLength = 0;
  checkInvariant(digestTypeToOid(hashId, &oid, &digestLength) && oid, SRC, __LINE__, "digest algorithm OID");
  checkInvariant(size_t(digestLength) == length, SRC, __LINE__, "dataDigestLen == hashBytes");
  TimeStampRequest request;
  request.version.set(1);
  request.messageImprint.digestAlgorithm.algorithm = *oid;
  request.messageImprint.digestAlgorithm.parametersPresent = 0;
  if (request.messageImprint.digest.set(digest, int(length)) != 1)
    throw std::bad_alloc();
  request.certReq.set(true);
  request.certReqPresent = 1;
  std::vector<uint8_t> der;
  if (request.encodeVector(der) < 1)
    throw std::bad_alloc();
  return der;
}

int32_t requestTimeStampToken(TimeStampRequestEnv& env, const uint8_t* digest, size_t length, int32_t hashId,
                              TimeStampToken& fresh, bool* keep) {
  *keep = false;
  std::vector<uint8_t> request = buildTimeStampRequest(digest, length, hashId);
  if (env.option(3) != 0) {
    std::vector<uint8_t> signedRequest;
    const int32_t r = env.protectRequest(request, signedRequest);
    if (r > 10) {
      env.write(std::string("Błąd pobierania znacznika czasu: ") +
                "podpisanie żądania znacznika nie powiodło się. talProtectMessageGF zwróciła: " + env.resultText(r) +
                CRLF);
      return tolerated(env, WARN_TIMESTAMP_REQUEST_UNSIGNED, RC_REQ_SIGN);
    }
    request.swap(signedRequest);
  }

  const std::string expected(reinterpret_cast<const char*>(digest), length);
  for (int i = 0; i < 32; ++i) {
    TimeStampResponse response;
    const int32_t r = env.queryForTimeStamp(request.data(), request.size(), response, 1u << i);
    switch (r) {
      case 0: {
        const uint32_t status = response.status.status.toLong();
        if (status > 1) {
          reportTimeStampRejection(env, response.status);
          return tolerated(env, WARN_TIMESTAMP_RESPONSE_REFUSED, status <= 4 ? RC_REJECTED : RC_VERIFY);
        }
        if (!response.timeStampTokenPresent) {
          env.write(std::string(VERIFY) + "Odpowiedź serwera nie zawiera znacznika czasu" + CRLF);
          return tolerated(env, WARN_TIMESTAMP_RESPONSE_REFUSED, RC_VERIFY);
        }
        if (!takeToken(response, fresh)) {
          env.write(std::string(VERIFY) + "błędny format znacznika czasu" + CRLF);
          if (env.option(4) == 0)
            return RC_VERIFY;
          env.addWarning(WARN_TIMESTAMP_RESPONSE_REFUSED);
          continue;
        }
        SigInfo tokenInfo;
        verifyTimeStampToken(env.driver(), fresh, tokenInfo, nullptr, {expected}, hashId, nullptr, nullptr, false,
                             false, nullptr);
        fresh.status = tokenInfo.status;
        fresh.reason = tokenInfo.reason;
        fresh.qualification = tokenInfo.qualification;
        fresh.checked = true;
        if (fresh.status != SIG_STATUS_INCOMPLETE && fresh.status != SIG_STATUS_VALID) {
          env.write(std::string(VERIFY) + "znacznik czasu niezaakceptowany z powodu wyniku weryfikacji" + CRLF);
          if (env.option(4) == 0)
            return RC_VERIFY;
          env.addWarning(WARN_TIMESTAMP_RESPONSE_REFUSED);
          // A token that could not be checked here (status 1) may still be
          // checked later; one proven wrong (status 2: another imprint, a
          // bad signature) is never kept, nor one whose imprint was never
          // compared (another digest algorithm than asked for: no
          // properties were built for it).
          *keep = fresh.status == SIG_STATUS_NOT_VERIFIABLE && tokenInfo.properties != nullptr;
          return 0;
        }
        *keep = true;
        return 0;
      }
      case 1:
        return RC_MEM;
      case 2:
      case 26:
      case 50:
      case 51: {
        const char* text = commonErrorText(uint32_t(r));
        env.write(std::string(FETCH) + (text ? text : "") + CRLF);
        break;
      }
      case 17:
      case 19:
      case 20:
      case 21:
      case 25:
        env.write(std::string(FETCH) + "błąd operacji sieciowych" + CRLF);
        break;
      case 27:
        env.write(std::string(FETCH) + "żądanie zostało odrzucone" + CRLF);
        break;
      case 28:
        env.write(std::string(VERIFY) + "błędny format znacznika czasu" + CRLF);
        return tolerated(env, WARN_TIMESTAMP_RESPONSE_REFUSED, RC_VERIFY);
      case 31:
        i = 32;
        break;
      default:
        checkInvariant(false, SRC, __LINE__, "network result");
    }
  }
  env.write(std::string(FETCH) + "Z żadnego serwera nie udało się pobrać znacznika czasu !!!" + CRLF);
  return tolerated(env, WARN_NO_TIMESTAMP_SERVER, RC_ALL_SERVERS);
}
