// Asking time-stamp servers for an RFC 3161 token over a digest: the
// request, the servers one after another, the answer's checks, the new
// token's verification, and the report lines and warning bits of failures.
#pragma once

#include "cms/tsverify.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What a request needs of the library context(s), the message protection
// and the network manager. The caller's context takes the report lines and
// warning bits; the options, the signing key and the network may come from a
// second context (the implementation decides).
class TimeStampRequestEnv {
 public:
  virtual ~TimeStampRequestEnv();
  virtual void write(const std::string& text) = 0;
  virtual void addWarning(uint32_t bits) = 0;
  virtual int32_t option(int32_t number) = 0;
  // The request protected as a signed message (flags 130): a result code,
  // the protected octets in `out`.
  virtual int32_t protectRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& out) = 0;
  // The message of a result code of the library (its one table of codes); "" without one.
  virtual std::string resultText(int32_t code) = 0;
  // NetworkManager::queryForTimeStamp.
  virtual int32_t queryForTimeStamp(const uint8_t* request, size_t length, TimeStampResponse& response,
                                    uint32_t serverMask) = 0;
  // The driver that verifies the new token.
  virtual TimeStampDriver& driver() = 0;
};

// The rejection lines of a PKIStatusInfo (nothing for status 0 and 1).
void reportTimeStampRejection(TimeStampRequestEnv& env, const PKIStatusInfo& info);

// The DER TimeStampReq: version 1, the digest with its algorithm's OID (no
// parameters), certReq TRUE. Invariant failures for a digest id without OID
// or a digest of another length.
std::vector<uint8_t> buildTimeStampRequest(const uint8_t* digest, size_t length, int32_t hashId);

// One request; the token, when one is kept, in *token. 0 (a token, or a
// failure tolerated under option 4), 100, 124, 127, 128 or 173.
int32_t requestTimeStampToken(TimeStampRequestEnv& env, const uint8_t* digest, size_t length, int32_t hashId,
                              TimeStampToken& fresh, bool* keep);

// requestTimeStamp: the kept token appended to `out`.
template <class Token>
int32_t requestTimeStamp(TimeStampRequestEnv& env, const uint8_t* digest, size_t length, int32_t hashId,
                         TimeStampTokens<Token>& out) {
  auto token = std::make_unique<Token>();
  bool keep = false;
  const int32_t r = requestTimeStampToken(env, digest, length, hashId, *token, &keep);
  if (keep) {
    out.items.push_back(token.get());
    token.release();
  }
  return r;
}
