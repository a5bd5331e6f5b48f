// One context verifying many documents, as a service does (talInitEx once,
// tvXmlUnprotect per receipt): the CRLs earlier documents left never make a
// later genuine receipt's verdict worse than in a fresh context, nor its work
// (the account's units) grow with the documents before it.
#include "upo_fixture.h"

#include "base/workaccount.h"

#include <algorithm>
#include <map>

namespace {

using upofix::hostileVariant;
using upofix::readAll;
using upofix::unprotectText;
using upofix::UPO;
using upofix::withForgedCrl;

const char* const GENUINE[] = {"upo.xml", "upo-ec.xml", "upo-issuer-serial.xml", "upo-enveloped.xml",
                               "upo-t.xml"};

// A later answer at least as good as a fresh context's: the same, or valid
// (what the context learned may complete a verification).
bool asGood(const upofix::Unprotected& later, const upofix::Unprotected& fresh) {
  return later.rc == fresh.rc && (later.status == fresh.status || later.status == SIG_STATUS_VALID);
}

// The receipt with one base64 character of each carried CRL changed near its
// end, in the signature value, by the document's number: no two documents
// carry an equal CRL, as when each is made anew.
std::string distinct(std::string receipt, int document) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string close = "</xades:EncapsulatedCRLValue>";
  for (size_t at = receipt.find(close); at != std::string::npos; at = receipt.find(close, at + 1)) {
    char& c = receipt[at - 8];
    const size_t was = alphabet.find(c);
    c = alphabet[(was + 1 + static_cast<size_t>(document)) % 64];
  }
  return receipt;
}

// The receipt with its carried CRLs turned round by `by` places: each
// document brings others first.
std::string rotated(const std::string& receipt, size_t by) {
  const std::string open = "<xades:EncapsulatedCRLValue>", close = "</xades:EncapsulatedCRLValue>";
  const size_t from = receipt.find(open), to = receipt.rfind(close) + close.size();
  std::vector<std::string> values;
  for (size_t at = from; at < to;) {
    const size_t end = receipt.find(close, at) + close.size();
    values.push_back(receipt.substr(at, end - at));
    at = end;
  }
  std::rotate(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(by % values.size()), values.end());
  std::string joined;
  for (const std::string& v : values) joined += v;
  return receipt.substr(0, from) + joined + receipt.substr(to);
}

class ContextCrls : public upofix::UpoContext {
 protected:
  // Each genuine receipt's answer and work in a fresh context.
  std::map<std::string, std::pair<upofix::Unprotected, uint64_t>> fresh() {
    std::map<std::string, std::pair<upofix::Unprotected, uint64_t>> out;
    for (const char* name : GENUINE) {
      talCtx* c = another();
      const upofix::Unprotected u = unprotectText(c, readAll(UPO + name));
      out[name] = {u, workAccountLastSpent()};
      EXPECT_EQ(0, talDeinit(c));
    }
    return out;
  }

  size_t held() const {
    const RevocationManager& m = contextServices(*ctx).manager;
    return m.pendingCrls.size() + m.verifiedCrls.size();
  }
};

// Receipts of 1,000 junk CRLs each between genuine ones, 50 of each: every
// genuine answer as in a fresh context, the work of the 50th of each kind as
// the second's (the first fills what later ones find), and what the context
// keeps within its bounds.
TEST_F(ContextCrls, JunkCrlsBetweenGenuineReceipts) {
  const auto alone = fresh();
  const std::string junk = hostileVariant("crl-values", 1000);
  std::vector<uint64_t> junkUnits;
  upofix::Unprotected first;
  std::map<std::string, std::vector<uint64_t>> genuineUnits;
  for (int i = 0; i < 50; ++i) {
    SCOPED_TRACE(i);
    const size_t before = held();
    const upofix::Unprotected j = unprotectText(ctx, distinct(junk, i));
    junkUnits.push_back(workAccountLastSpent());
    // The junk receipt's own answer no worse than the first time.
    if (i == 0) first = j;
    EXPECT_TRUE(asGood(j, first)) << j.status;
    EXPECT_LE(held(), before + MAX_CRLS_KEPT_PER_DOCUMENT);
    const char* name = GENUINE[i % 5];
    const upofix::Unprotected g = unprotectText(ctx, readAll(UPO + name));
    genuineUnits[name].push_back(workAccountLastSpent());
    EXPECT_TRUE(asGood(g, alone.at(name).first)) << name << " " << g.status;
  }
  EXPECT_LE(junkUnits.back(), junkUnits[1] + junkUnits[1] / 50);
  for (const auto& g : genuineUnits) {
    SCOPED_TRACE(g.first);
    EXPECT_LE(g.second.back(), g.second[1] + g.second[1] / 50);
  }
  EXPECT_LE(held(), MAX_CRLS_HELD);
  EXPECT_LE(contextServices(*ctx).manager.pendingCrls.octets() +
                contextServices(*ctx).manager.verifiedCrls.octets(),
            MAX_CRL_OCTETS_HELD);
}

// A forged CRL of the receipts' intermediate, newer than the genuine one,
// left behind by a document that never needed it (its signer expired, so its
// status is never asked): the next genuine receipt tries it, and, as it fails,
// answers as if it had never been learned. A document that carries the
// forgery itself still cannot have its signer cleared by the older CRL. The
// work of the genuine receipt stays flat over twenty rounds.
TEST_F(ContextCrls, AForgedCrlAnEarlierDocumentLeftBlocksNothing) {
  const auto alone = fresh();
  const struct {
    std::string document;
    int32_t status;  // its own answer
  } earlier[] = {
      {withForgedCrl(readAll(UPO + "upo-expired.xml")), -1},
      {withForgedCrl(readAll(UPO + "upo.xml")), SIG_STATUS_INCOMPLETE},
  };
  for (const auto& row : earlier) {
    SCOPED_TRACE(row.status);
    std::vector<uint64_t> units;
    for (int round = 0; round < 20; ++round) {
      const upofix::Unprotected e = unprotectText(ctx, row.document);
      if (row.status >= 0) EXPECT_EQ(row.status, e.status);
      const upofix::Unprotected g = unprotectText(ctx, readAll(UPO + "upo.xml"));
      units.push_back(workAccountLastSpent());
      EXPECT_TRUE(asGood(g, alone.at("upo.xml").first)) << g.status;
    }
    EXPECT_LE(units.back(), units[1] + units[1] / 50);
  }
}

// Receipts that carry no revocation data answer incomplete in a fresh
// context; after a receipt that brought its CRLs, valid, also when documents
// of junk CRLs of a hundred issuers each came between, more than the context
// keeps (a verified CRL is kept before those never verified).
TEST_F(ContextCrls, CrlsAnEarlierDocumentBroughtCompleteALaterOne) {
  const char* const bare[] = {"upo-bare.xml", "upo-t-bare.xml", "upo-plain.xml"};
  std::map<std::string, upofix::Unprotected> alone;
  for (const char* name : bare) {
    talCtx* c = another();
    alone[name] = unprotectText(c, readAll(UPO + name));
    EXPECT_EQ(SIG_STATUS_INCOMPLETE, alone[name].status) << name;
    EXPECT_EQ(0, talDeinit(c));
  }
  EXPECT_EQ(SIG_STATUS_VALID, unprotectText(ctx, readAll(UPO + "upo.xml")).status);
  const std::string junk = hostileVariant("crl-issuers", 100);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(0, unprotectText(ctx, rotated(distinct(junk, i), MAX_CRLS_KEPT_PER_DOCUMENT * i)).rc);
  EXPECT_EQ(MAX_CRLS_HELD, held());
  for (const char* name : bare) EXPECT_EQ(SIG_STATUS_VALID, unprotectText(ctx, readAll(UPO + name)).status) << name;
}

// The CRL verified through its issuer's path, not a trust point: the line that
// says so ends before the next begins.
TEST_F(ContextCrls, CrlVerifiedByAPathEndsItsLine) {
  EXPECT_EQ(0, unprotectText(ctx, readAll(UPO + "upo.xml")).rc);
  const std::string report = talReportText(ctx);
  const std::string line = "punkt zaufania ";
  size_t at = report.find(line);
  ASSERT_NE(std::string::npos, at);
  for (; at != std::string::npos; at = report.find(line, at + 1))
    EXPECT_EQ("\r\n", report.substr(at + line.size(), 2));
}

}  // namespace
