// Time-stamp requests: the request against openssl ts -query's, and each
// network result, server answer and token verdict (answers made by openssl
// ts -reply, tests/data/cms/gen.sh) with its report lines, warning bits and
// result under option 4 off and on. The network manager and the message
// protection are doubles; the token is checked for real by the driver double.
#include "cms/tsdriver_double.h"

#include "base/commonerror.h"
#include "cms/tsrequest.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using cmstest::Bytes;
using cmstest::cmsFile;
using cmstest::DriverDouble;

struct Answer {
  int32_t net;
  std::string file;     // a response made by openssl (net 0)
  int32_t status = -1;  // else a bare PKIStatusInfo with this status
};

class EnvDouble : public TimeStampRequestEnv {
 public:
  void write(const std::string& text) override { report += text; }
  void addWarning(uint32_t bits) override { warnings |= bits; }
  int32_t option(int32_t number) override { return options[number]; }
  int32_t protectRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& out) override {
    out = request;
    out.insert(out.begin(), {0xEE, 0xEE});  // stands for the signed message
    return protectResult;
  }
  std::string resultText(int32_t code) override { return "kod " + std::to_string(code); }
  int32_t queryForTimeStamp(const uint8_t* request, size_t length, TimeStampResponse& response,
                            uint32_t serverMask) override {
    sent.assign(request, request + length);
    masks.push_back(serverMask);
    const Answer a = masks.size() <= answers.size() ? answers[masks.size() - 1] : Answer{31, ""};
    if (a.net == 0 && !a.file.empty()) {
      const std::string der = cmsFile(a.file);
      EXPECT_EQ(
          response.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()), int(der.size()),
                                inPlace ? ASN_FLAG_CONST | ASN_FLAG_COPY : 0),
          int(der.size()));
    } else if (a.net == 0) {
      response.status.status.set(uint32_t(a.status));
    }
    return a.net;
  }
  TimeStampDriver& driver() override { return drv; }

  std::string report;
  uint32_t warnings = 0;
  std::map<int32_t, int32_t> options;
  int32_t protectResult = 0;
  std::vector<Answer> answers;
  std::vector<uint32_t> masks;
  Bytes sent;
  DriverDouble drv;
  bool inPlace = false;  // the answer read as the network manager reads it
};

std::string sha(int hashId, const std::string& data) {
  const Bytes h = cmstest::hashOf(hashId, Bytes(data.begin(), data.end()));
  return std::string(h.begin(), h.end());
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(TimeStampRequest, RequestIsOpensslsWithoutNullParameters) {
  const std::string digest = sha(3, cmsFile("data.txt"));
  const std::vector<uint8_t> ours = buildTimeStampRequest(reinterpret_cast<const uint8_t*>(digest.data()), 32, 3);
  const std::string theirs = cmsFile("req_cert.tsq");
  TimeStampRequest a, b;
  ASSERT_EQ(a.decodeBuffer(ours.data(), int(ours.size()), 0), int(ours.size()));
  ASSERT_EQ(b.decodeBuffer(reinterpret_cast<const unsigned char*>(theirs.data()), int(theirs.size()), 0),
            int(theirs.size()));
  EXPECT_EQ(a.version.toLong(), b.version.toLong());
  EXPECT_TRUE(a.messageImprint.digestAlgorithm.algorithm == b.messageImprint.digestAlgorithm.algorithm);
  EXPECT_EQ(a.messageImprint.digestAlgorithm.parametersPresent, 0);
  EXPECT_EQ(cmstest::octets(a.messageImprint.digest), cmstest::octets(b.messageImprint.digest));
  EXPECT_TRUE(a.certReqPresent && a.certReq.get());
  EXPECT_FALSE(a.noncePresent || a.reqPolicyPresent || a.extensionsPresent);
  // openssl's request less the two NULL octets is ours.
  Bytes expected(theirs.begin(), theirs.end());
  ASSERT_EQ(expected.at(20), 0x05);
  expected.erase(expected.begin() + 20, expected.begin() + 22);
  expected[1] -= 2;
  expected[4 + 1 + 1] -= 2;  // messageImprint
  expected[8] -= 2;          // its AlgorithmIdentifier
  EXPECT_EQ(Bytes(ours.begin(), ours.end()), expected);
  // A digest of another length or an id without OID is the caller's fault.
  EXPECT_THROW(buildTimeStampRequest(reinterpret_cast<const uint8_t*>(digest.data()), 20, 3), std::runtime_error);
  EXPECT_THROW(buildTimeStampRequest(reinterpret_cast<const uint8_t*>(digest.data()), 16, 6), std::runtime_error);
}

struct Case {
  const char* name;
  std::vector<Answer> answers;
  int32_t option4;
  int hashId;          // the digest asked for: of data.txt (3 or 1), or 0 for other data
  int32_t result;
  bool kept;
  uint32_t warnings;
  const char* tail;    // how the report ends
  size_t asked;        // servers asked
};

TEST(TimeStampRequest, NetworkResultsAnswersAndVerdicts) {
  const std::string none = "Z żadnego serwera nie udało się pobrać znacznika czasu !!!\r\n";
  const std::string net = "Błąd pobrania znacznika czasu: błąd operacji sieciowych\r\n";
  const Case cases[] = {
      {"unreachable, then a good token", {{17, ""}, {0, "resp_full_v2.tsr"}}, 0, 3, 0, true, 0, net.c_str(), 2},
      {"rejected policy, option 4", {{0, "resp_reject_policy.tsr"}}, 1, 3, 0, false, 0x200,
       "Requested policy is not supported.\r\nNieakceptowana polityka\r\n", 1},
      {"rejected policy", {{0, "resp_reject_policy.tsr"}}, 0, 3, 173, false, 0, "Nieakceptowana polityka\r\n", 1},
      {"rejected algorithm", {{0, "resp_reject_digest.tsr"}}, 0, 3, 173, false, 0,
       "Message digest algorithm is not supported.\r\nBłędny algorytm\r\n", 1},
      {"waiting", {{0, "", 3}}, 0, 3, 173, false, 0, " serwer znacznika czasu nie podał przyczyny błędu\r\n", 1},
      {"status 5", {{0, "", 5}}, 0, 3, 127, false, 0,
       "Nieznany powód odrzucenia żądania przez serwer znacznika czasu\r\n", 1},
      {"granted without a token", {{0, "", 0}}, 0, 3, 127, false, 0,
       "Błąd weryfikacji znacznika czasu: Odpowiedź serwera nie zawiera znacznika czasu\r\n", 1},
      {"granted without a token, option 4", {{0, "", 0}}, 1, 3, 0, false, 0x200, "czasu\r\n", 1},
      {"no server", {{31, ""}}, 0, 3, 128, false, 0, none.c_str(), 1},
      {"no server, option 4", {{31, ""}}, 1, 3, 0, false, 0x400, none.c_str(), 1},
      {"out of memory", {{1, ""}}, 0, 3, 100, false, 0, "", 1},
      {"refused, then none", {{27, ""}}, 0, 3, 128, false, 0, none.c_str(), 2},
      {"undecodable answer", {{28, ""}}, 0, 3, 127, false, 0,
       "Błąd weryfikacji znacznika czasu: błędny format znacznika czasu\r\n", 1},
      {"undecodable answer, option 4", {{28, ""}}, 1, 3, 0, false, 0x200, "", 1},
      // The imprint is not the digest asked for: status 2, never kept.
      {"another imprint", {{0, "resp_full_v2.tsr"}}, 0, 0, 127, false, 0,
       "znacznik czasu niezaakceptowany z powodu wyniku weryfikacji\r\n", 1},
      {"another imprint, option 4", {{0, "resp_full_v2.tsr"}}, 1, 0, 0, false, 0x200,
       "znacznik czasu niezaakceptowany z powodu wyniku weryfikacji\r\n", 1},
      // Without its TSA certificate the token cannot be checked here (status 1): kept under option 4 only.
      {"unverifiable here", {{0, "resp_plain_v1.tsr"}}, 0, 1, 127, false, 0, "wyniku weryfikacji\r\n", 1},
      {"unverifiable here, option 4", {{0, "resp_plain_v1.tsr"}}, 1, 1, 0, true, 0x200, "wyniku weryfikacji\r\n", 1},
      // The imprint's algorithm is not the one asked for (SHA-256 for SHA-512): status 1, yet the
      // imprint was never compared, so it is not kept either.
      {"another imprint algorithm", {{0, "resp_full_v2.tsr"}}, 0, 5, 127, false, 0, "wyniku weryfikacji\r\n", 1},
      {"another imprint algorithm, option 4", {{0, "resp_full_v2.tsr"}}, 1, 5, 0, false, 0x200,
       "wyniku weryfikacji\r\n", 1},
  };
  const std::string data = cmsFile("data.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EnvDouble env;
    env.answers = c.answers;
    env.options[4] = c.option4;
    const std::string digest = c.hashId ? sha(c.hashId, data) : sha(3, "other data");
    SignatureTimeStampTokens out;
    EXPECT_EQ(requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), digest.size(),
                               c.hashId ? c.hashId : 3, out),
              c.result);
    EXPECT_EQ(out.items.size(), c.kept ? 1u : 0u);
    EXPECT_EQ(env.warnings, c.warnings);
    EXPECT_EQ(env.masks.size(), c.asked);
    for (size_t i = 0; i < env.masks.size(); ++i) EXPECT_EQ(env.masks[i], 1u << i);
    const std::string tail = c.tail;
    ASSERT_GE(env.report.size(), tail.size()) << env.report;
    EXPECT_EQ(env.report.substr(env.report.size() - tail.size()), tail) << env.report;
    if (c.kept) { EXPECT_TRUE(out.items.front()->checked); }
  }
}

// The TSA certificate carried in the answer is signed over a TBS that is not
// DER (openssl verifies the answer: tests/data/cms/gen_nonder_tsa.sh): the
// token taken from the answer keeps its octets, so the signing-certificate
// digest and the signature check out, and the token is kept with them.
TEST(TimeStampRequest, TsaCertificateSignedOverNonDer) {
  const std::string digest = sha(3, cmsFile("data.txt"));
  EnvDouble env;
  env.inPlace = true;
  env.answers = {{0, "resp_nonder_tsa.tsr"}};
  SignatureTimeStampTokens out;
  EXPECT_EQ(requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), 32, 3, out), 0)
      << env.report;
  ASSERT_EQ(out.items.size(), 1u);
  EXPECT_EQ(out.items.front()->status, SIG_STATUS_VALID);
  EXPECT_EQ(env.warnings, 0u);
  const CertificateSet& carried = out.items.front()->token.value().certificates;
  ASSERT_EQ(carried.GetCount(), 1);
  const std::string tsa = cmsFile("nonder_tsa.der");
  ASSERT_TRUE(carried.GetHead());
  EXPECT_EQ(cmstest::encodeOf(*carried.GetHead()), Bytes(tsa.begin(), tsa.end()));
}

TEST(TimeStampRequest, EveryServerFailsTheNetwork) {
  const std::string digest = sha(3, cmsFile("data.txt"));
  for (int32_t option4 : {0, 1}) {
    SCOPED_TRACE(option4);
    EnvDouble env;
    env.options[4] = option4;
    env.answers.assign(32, Answer{21, ""});
    SignatureTimeStampTokens out;
    EXPECT_EQ(requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), 32, 3, out),
              option4 ? 0 : 128);
    EXPECT_EQ(env.masks.size(), 32u);
    EXPECT_EQ(env.masks.back(), 0x80000000u);
    EXPECT_EQ(countOf(env.report, "błąd operacji sieciowych\r\n"), 32u);
    EXPECT_EQ(countOf(env.report, "Z żadnego serwera"), 1u);
    EXPECT_EQ(env.warnings, option4 ? 0x400u : 0u);
  }
  // Results with the network layer's own text, and one the table does not know.
  for (int32_t r : {2, 26, 50, 51}) {
    EnvDouble env;
    env.answers = {{r, ""}};
    SignatureTimeStampTokens out;
    requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), 32, 3, out);
    EXPECT_EQ(env.report.find(std::string("Błąd pobrania znacznika czasu: ") + commonErrorText(uint32_t(r)) + "\r\n"),
              0u);
  }
  EnvDouble env;
  env.answers = {{99, ""}};
  SignatureTimeStampTokens out;
  EXPECT_THROW(requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), 32, 3, out),
               std::runtime_error);
}

TEST(TimeStampRequest, SignedRequest) {
  const std::string digest = sha(3, cmsFile("data.txt"));
  const struct {
    int32_t protect, option4, result;
    uint32_t warnings;
    bool sent;
  } cases[] = {{0, 0, 0, 0, true}, {40, 0, 124, 0, false}, {40, 1, 0, 0x40, false}, {10, 0, 0, 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.protect);
    EnvDouble env;
    env.options[3] = 1;
    env.options[4] = c.option4;
    env.protectResult = c.protect;
    env.answers = {{0, "resp_full_v2.tsr"}};
    SignatureTimeStampTokens out;
    EXPECT_EQ(requestTimeStamp(env, reinterpret_cast<const uint8_t*>(digest.data()), 32, 3, out), c.result);
    EXPECT_EQ(env.warnings, c.warnings);
    EXPECT_EQ(!env.masks.empty(), c.sent);
    if (c.sent) EXPECT_EQ(env.sent.at(0), 0xEE);  // the protected message went, not the bare request
    else EXPECT_NE(env.report.find("talProtectMessageGF zwróciła: kod 40\r\n"), std::string::npos);
  }
}

}  // namespace
