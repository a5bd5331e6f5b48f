// One work account for the whole of a document's verification, through
// tvXmlUnprotect: every route (public-key checks of its signatures, their
// paths and revocation; our canonicaliser and the digests; libxml2's XPath)
// charges the same account, its clock stops each route wherever it is read,
// and an account too small for the document's work refuses the document
// (140) rather than any signature's verdict. No clock is compared: the test
// hooks shrink the account or trip its clock.
#include "upo_fixture.h"

#include "api/ctxrevocation.h"
#include "base/ptrlist.h"
#include "base/workaccount.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/names/dname.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

using upofix::hostileVariant;
using upofix::readAll;
using upofix::UPO;

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// The receipt's signature and `extra` copies of it under one root, each copy's
// Ids renamed so that its references resolve to its own object: every copy is
// read, its signature checked with the signer's key, its path and revocation
// looked at (its value does not verify: its SignedInfo names other Ids).
std::string signatures(const std::string& receipt, int extra) {
  const size_t start = receipt.find("<ds:Signature");
  const std::string end = "</ds:Signature>";
  const size_t stop = receipt.rfind(end) + end.size();
  const std::string signature = receipt.substr(start, stop - start);
  std::string doc = receipt.substr(0, start) + "<r>" + signature;
  for (int i = 1; i <= extra; ++i) {
    const std::string k = std::to_string(i);
    doc += replaceAll(replaceAll(signature, "ID-UPO-", "ID-UPO-" + k + "-"), "Dokument-0",
                      "Dokument-" + k);
  }
  return doc + "</r>" + receipt.substr(stop);
}

// `references` references to the signed object, which holds a text of `octets`
// times `fill`.
std::string referencesToText(const std::string& receipt, size_t references, size_t octets,
                             char fill = 'x') {
  const std::string object =
      "<pot:Potwierdzenie xmlns:pot=\"http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/\">";
  std::string doc = receipt;
  doc.insert(doc.find(object) + object.size(), "<t>" + std::string(octets, fill) + "</t>");
  const size_t from = doc.find("<ds:Reference URI=\"#Dokument-0\"");
  const std::string end = "</ds:Reference>";
  const size_t to = doc.find(end, from) + end.size();
  const std::string one = doc.substr(from, to - from);
  std::string many;
  for (size_t i = 0; i < references; ++i) many += one;
  return doc.replace(from, to - from, many);
}

// An XPath filter over the whole document, beside Ids of `elements` elements.
std::string filterOver(const std::string& receipt, size_t elements) {
  const std::string object =
      "<pot:Potwierdzenie xmlns:pot=\"http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/\">";
  std::string doc = receipt;
  std::string many;
  for (size_t i = 0; i < elements; ++i) many += "<e Id=\"i" + std::to_string(i) + "\"/>";
  doc.insert(doc.find(object) + object.size(), many);
  doc.insert(doc.find("<ds:Reference URI=\"#Dokument-0\""),
             "<ds:Reference URI=\"\"><ds:Transforms><ds:Transform "
             "Algorithm=\"http://www.w3.org/TR/1999/REC-xpath-19991116\"><ds:XPath>count(ancestor::*) "
             "&gt;= 0</ds:XPath></ds:Transform></ds:Transforms><ds:DigestMethod "
             "Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/>"
             "<ds:DigestValue>AAAA</ds:DigestValue></ds:Reference>");
  return doc;
}

// A check with a 16,384-bit RSA key of a 64-bit exponent: two products a bit
// of the exponent, each 4 units a pair of the modulus's 256 words (some 2.7e8
// instructions), over a fixed part a signature's own work covers.
const uint64_t LARGE_KEY_CHECK = 2ull * 64 * 256 * 256 * 4;

class DocumentAccount : public upofix::UpoContext {
 protected:
  void TearDown() override {
    workAccountTripAfter(0);
    workAccountShrinkUnits(1);
    UpoContext::TearDown();
  }

  struct Outcome {
    int32_t rc = -1;
    int32_t status = 0;
    uint64_t spent = 0;
    uint64_t reads = 0;
  };

  Outcome unprotect(const std::string& text) {
    const upofix::Unprotected u = upofix::unprotectText(ctx, text);
    return Outcome{u.rc, u.status, workAccountLastSpent(), workAccountLastReads()};
  }

  void sampleStillVerifies(const std::string& receipt, const char* name) {
    const Outcome next = unprotect(receipt);
    EXPECT_EQ(next.rc, 0) << name;
    EXPECT_EQ(next.status, SIG_STATUS_VALID) << name;
  }
};

TEST_F(DocumentAccount, EveryRouteChargesTheDocumentsAccountAndItsClockStopsIt) {
  const std::string receipt = readAll(UPO + "upo.xml");
  // Paths and CRLs met once are kept by the context: every count is taken on a
  // second run, the same in each later one.
  unprotect(receipt);
  const Outcome sample = unprotect(receipt);
  ASSERT_EQ(sample.rc, 0);
  ASSERT_GT(sample.spent, 0u);
  const struct {
    const char* name;
    std::string doc;
    int32_t status;      // of the first signature, verified on a full account
    uint64_t routeWork;  // units the route adds to the sample's, at least
    int signatures;      // and at most as many signatures' work more (-1: unbounded here)
  } routes[] = {
      // Eight more signatures: each nearly as much work as the sample's one
      // (its value checked with the signer's key, its references digested);
      // the sample alone pays its document's once-only work (the signer's
      // names compared along the path, its certificates remembered).
      {"signature values", signatures(receipt, 8), SIG_STATUS_VALID, 8 * sample.spent * 9 / 10, 1},
      // Path building: four more signatures, each carrying a self-issued
      // certificate of a large key, checked as its own issuer.
      {"path building", hostileVariant("keys-e64", 4), SIG_STATUS_VALID, 4 * LARGE_KEY_CHECK, 4},
      // Revocation: a newer CRL without a key identifier, under eight
      // certificates named like its issuer, each of a large key.
      {"revocation", hostileVariant("intermediates-e64", 8), SIG_STATUS_INCOMPLETE,
       8 * LARGE_KEY_CHECK, 1},
      // Seventy canonicalisations and digests of a 256 KB text: each octet
      // half a unit read and escaped, two units in each of three digests (the
      // reference's and the running ones).
      {"our canonicaliser, digests", referencesToText(receipt, 70, 256 << 10), SIG_STATUS_NEGATIVE,
       70ull * (256 << 10) * 13 / 2, 2},
      // libxml2's filter over 3,000 elements: its bound paid before it runs
      // (the bound's own figures are held by the cost checks).
      {"libxml2's XPath", filterOver(receipt, 3000), SIG_STATUS_NEGATIVE, 3000, -1},
  };
  for (const auto& r : routes) {
    unprotect(r.doc);
    const Outcome full = unprotect(r.doc);
    ASSERT_EQ(full.rc, 0) << r.name;
    EXPECT_EQ(full.status, r.status) << r.name;
    EXPECT_GE(full.spent, sample.spent + r.routeWork) << r.name;
    if (r.signatures >= 0) {
      EXPECT_LE(full.spent, sample.spent + r.routeWork + static_cast<uint64_t>(r.signatures) * sample.spent)
          << r.name;
    }
    EXPECT_GT(full.reads, sample.reads) << r.name;
    printf("%-32s %8zu octets  %12llu units  %6llu clock reads\n", r.name, r.doc.size(),
           static_cast<unsigned long long>(full.spent), static_cast<unsigned long long>(full.reads));

    // The clock read as spent inside the route's share of the reads.
    for (uint64_t at : {sample.reads + 1, (sample.reads + full.reads) / 2, full.reads}) {
      workAccountTripAfter(static_cast<long>(at));
      EXPECT_EQ(unprotect(r.doc).rc, 140) << r.name << ", clock spent at read " << at;
      workAccountTripAfter(0);
      sampleStillVerifies(receipt, r.name);
    }

    // An account with room for the sample's work and half the route's.
    const uint64_t room = sample.spent + r.routeWork / 2;
    workAccountShrinkUnits(WorkAccount::documentUnits(r.doc.size()) / room);
    EXPECT_EQ(unprotect(r.doc).rc, 140) << r.name;
    workAccountShrinkUnits(1);
    sampleStillVerifies(receipt, r.name);
  }
}

// Each octet of a signed text costs its figure, measured as the difference
// two text sizes make over many references: half a unit for reading and
// escaping it, and two units for each octet it becomes in each of the three
// digests that read it (the reference's own and the two running ones: its
// algorithm's and the configured one).
TEST_F(DocumentAccount, EachCanonicalisedOctetCostsItsFigure) {
  const std::string receipt = readAll(UPO + "upo.xml");
  const size_t references = 20, octets = 64 << 10;
  const struct {
    const char* name;
    char fill;
    double unitsPerOctet;
  } rows[] = {
      {"plain text", 'x', 0.5 + 3 * 2 * 1},
      {"escaped text (&gt;, four octets out)", '>', 0.5 + 3 * 2 * 4},
  };
  unprotect(receipt);
  for (const auto& r : rows) {
    uint64_t spent[2] = {0, 0};
    for (size_t times : {1, 2}) {
      const std::string doc = referencesToText(receipt, references, times * octets, r.fill);
      unprotect(doc);
      const Outcome o = unprotect(doc);
      ASSERT_EQ(o.rc, 0) << r.name;
      spent[times - 1] = o.spent;
    }
    const double perOctet =
        static_cast<double>(spent[1] - spent[0]) / static_cast<double>(references * octets);
    EXPECT_NEAR(perOctet, r.unitsPerOctet, r.unitsPerOctet / 100) << r.name;
  }
}

// Work that charges nothing (reading a signature's properties, writing the
// report) is judged by the clock before each signature and after the last, so
// a document is refused whichever signature spent its time. A receipt's reads
// are then one before its signature, those of its work, and one after: the
// same count brings three copies of it to the read before the second, and one
// more into the second's work. A clock spent at the first read refuses the
// document before any signature is looked at, and one spent at the last read
// after all three.
TEST_F(DocumentAccount, TheClockIsReadBeforeEachSignatureAndAfterTheLast) {
  const std::string receipt = readAll(UPO + "upo.xml");
  const std::string three = signatures(receipt, 2);
  unprotect(three);
  const Outcome full = unprotect(three);
  ASSERT_EQ(full.rc, 0);
  unprotect(receipt);
  const uint64_t oneSignature = unprotect(receipt).reads;
  ASSERT_LT(oneSignature + 1, full.reads);
  const struct {
    uint64_t at;
    int headings;  // signatures begun in the report
  } rows[] = {{1, 0}, {oneSignature, 1}, {oneSignature + 1, 2}, {full.reads, 3}};
  for (const auto& r : rows) {
    workAccountTripAfter(static_cast<long>(r.at));
    EXPECT_EQ(unprotect(three).rc, 140) << r.at;
    workAccountTripAfter(0);
    const std::string report = talReportText(ctx);
    int headings = 0;
    for (size_t at = report.find("PODPIS NUMER"); at != std::string::npos;
         at = report.find("PODPIS NUMER", at + 1))
      ++headings;
    EXPECT_EQ(headings, r.headings) << r.at;
  }
}

// The account is the document's: one signature's work and its copies' come
// out of the same units, so a document of many signatures gets no more than
// the account of its size.
TEST_F(DocumentAccount, ManySignaturesShareOneAccount) {
  const std::string receipt = readAll(UPO + "upo.xml");
  const std::string one = referencesToText(receipt, 10, 64 << 10);
  unprotect(one);
  const Outcome single = unprotect(one);
  ASSERT_EQ(single.rc, 0);
  const std::string four = signatures(one, 3);
  // Room for two of the four signatures' work, the size of the four copies given.
  workAccountShrinkUnits(WorkAccount::documentUnits(four.size()) / (2 * single.spent));
  EXPECT_EQ(unprotect(four).rc, 140);
  workAccountShrinkUnits(WorkAccount::documentUnits(one.size()) / (2 * single.spent));
  EXPECT_EQ(unprotect(one).rc, 0);
  workAccountShrinkUnits(1);
  const Outcome all = unprotect(four);
  EXPECT_EQ(all.rc, 0);
  EXPECT_GE(all.spent, 3 * single.spent);
}

// What the document's decoded values hold is charged to its account's memory
// side: genuine receipts stay far inside it (a cumulative charge errs high, so
// this is what keeps them verified), and names of 3,000 attributes in a hundred
// carried certificates pass it, the heap with them, so the document is refused (140) before
// the process holds more than its figure, and the receipt still verifies.
TEST_F(DocumentAccount, WhatDecodesHoldIsChargedToTheDocumentsMemory) {
  const std::string receipt = readAll(UPO + "upo.xml");
  const struct {
    const char* name;
    std::string doc;
    int32_t rc;
    uint64_t most;  // of the allowance, at most one part in this many charged (0: passed)
  } rows[] = {
      {"upo.xml", receipt, 0, 50},
      {"upo-t.xml (time-stamped)", readAll(UPO + "upo-t.xml"), 0, 50},
      {"upo-ec.xml", readAll(UPO + "upo-ec.xml"), 0, 50},
      {"100 certificates of 3,000 attributes", hostileVariant("lookalikes-3000", 100), 140, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(unprotect(row.doc).rc, row.rc) << row.name;
    const uint64_t charged = workAccountLastMemory(), limit = workAccountLastMemoryLimit();
    EXPECT_GT(charged, 0u) << row.name;
    if (row.most)
      EXPECT_LT(charged, limit / row.most) << row.name;
    else
      EXPECT_GT(charged, limit) << row.name;
    sampleStillVerifies(receipt, row.name);
  }
}

// A refused document leaves the CRLs the context holds for the documents
// after it as they were, wherever its clock runs out: a newer CRL it carried,
// forged (no key identifier, impostors of its issuer's name), is not kept to
// make their revocation incomplete.
TEST_F(DocumentAccount, ARefusedDocumentKeepsNoCrlItBrought) {
  const std::string receipt = readAll(UPO + "upo.xml");
  const std::string forged = hostileVariant("intermediates-e64", 2);
  // Each clock trip in a fresh context: one that held the receipt's CRLs
  // already would hide those a refused document left.
  talCtx* counting = another();
  ASSERT_EQ(upofix::unprotectText(counting, forged).rc, 0);
  const uint64_t reads = workAccountLastReads();
  EXPECT_EQ(0, talDeinit(counting));
  for (uint64_t at = 1; at <= reads; ++at) {
    talCtx* fresh = another();
    const RevocationManager& m = contextServices(*fresh).manager;
    const SharedCrlList pending = m.pendingCrls, verified = m.verifiedCrls;
    workAccountTripAfter(static_cast<long>(at));
    EXPECT_EQ(upofix::unprotectText(fresh, forged).rc, 140) << "clock spent at read " << at;
    workAccountTripAfter(0);
    EXPECT_EQ(m.pendingCrls, pending) << "clock spent at read " << at;
    EXPECT_EQ(m.verifiedCrls, verified) << "clock spent at read " << at;
    EXPECT_EQ(upofix::unprotectText(fresh, receipt).status, SIG_STATUS_VALID) << "after read " << at;
    EXPECT_EQ(0, talDeinit(fresh));
  }
}

// The network road, with no server configured: a signer whose issuer no store
// holds is looked for by name, and the name is written as a directory's text
// first. An issuer of one RDN of thousands of attributes costs as many ticks,
// none of them reached by index (which walked the RDN again for each), and the
// account is charged for the walk; the verdict is the offline one (no path).
TEST_F(DocumentAccount, TheNetworkRoadWalksALongIssuerOnce) {
  const std::string forged = hostileVariant("rdn-signer-issuer", 4000);
  const struct {
    bool offline;
  } rows[] = {{true}, {false}};
  uint64_t spent[2] = {};
  for (const auto& row : rows) {
    ASSERT_EQ(0, talSetOption(ctx, TAL_OPTION_OFFLINE, row.offline ? 1 : 0));
    const uint64_t steps = pointerListIndexSteps();
    const uint64_t copies = rdnAttributeCopies();
    const Outcome o = unprotect(forged);
    EXPECT_EQ(o.rc, 0) << row.offline;
    EXPECT_EQ(o.status, SIG_STATUS_NOT_VERIFIABLE) << row.offline;
    EXPECT_LT(pointerListIndexSteps() - steps, 4000u) << row.offline;
    // Nor is the long issuer copied whole: not for the signer's pair, the
    // database's digest, the store's key or a comparison.
    EXPECT_LT(rdnAttributeCopies() - copies, 4000u) << row.offline;
    spent[row.offline ? 0 : 1] = o.spent;
  }
  // The walk's units at least: two an attribute.
  EXPECT_GE(spent[1], spent[0] + 2 * 4000);
}

}  // namespace
