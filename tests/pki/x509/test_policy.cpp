// Policy processing: chains made by openssl compared with what
// `openssl verify -policy_check` said of them, and certificates whose
// extensions are set directly for the rules and the hostile cases.
#include "pki/x509/pathverifier.h"
#include "threadtime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pki/fixture_lines.h"
#include "pki/common/oids.h"

namespace {

using Bytes = std::vector<unsigned char>;
using CertPtr = std::unique_ptr<SignedCertificate>;

const std::string kDir = std::string(TAL_TEST_DATA_DIR) + "/pki/policy/";

Bytes readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

ASNobjectId P(int n) { return ASNobjectId(("1.3.6.1.4.1.99999." + std::to_string(n)).c_str()); }

std::unique_ptr<CertificatePolicies> policyList(const std::vector<ASNobjectId>& oids) {
  std::unique_ptr<CertificatePolicies> s(new CertificatePolicies());
  for (const auto& o : oids) EXPECT_EQ(addPolicyOid(*s, o), 1);
  return s;
}
#define policySet(...) (*policyList(__VA_ARGS__))

// ---- chains from openssl ----

// What openssl's verdict becomes in this system's result codes.
int expectedCode(const std::string& verdict) {
  static const std::map<std::string, int> codes = {
      {"OK", 0}, {"path_length_constraint_exceeded", 3}, {"invalid_CA_certificate", 2}};
  auto it = codes.find(verdict);
  return it == codes.end() ? -1 : it->second;
}

TEST(PolicyProcessing, AgreesWithOpensslVerify) {
  // Where the result differs from openssl on purpose:
  //  - openssl's "no explicit policy" is 6 (no valid policy) or 10 (none in
  //    the initial set);
  //  - an empty certificatePolicies is refused as undecodable (4), where
  //    openssl reads it as a certificate without policies.
  const std::map<std::string, int> differs = {
      {"p1p2_then_p2_ask_p1", 10}, {"any_p1_then_p2p3", 10},
      {"p1_any_map_then_p2", 10}, {"empty_policies", 4}};
  auto rows = pkitest::readFixture("policy/expected.txt");
  ASSERT_GE(rows.size(), 25u);
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 3u);
    SCOPED_TRACE(r[0]);
    // The trust anchor is outside the path, as in openssl.
    std::vector<CertPtr> certs;
    std::vector<const SignedCertificate*> path;
    for (const char* name : {"ca1", "ca2", "leaf"}) {
      Bytes der = readBytes(kDir + "chain_" + r[0] + "/" + name + ".der");
      certs.emplace_back(new SignedCertificate());
      ASSERT_EQ(certs.back()->decodeVector(der), static_cast<int>(der.size()));
      path.push_back(certs.back().get());
    }
    bool explicitPolicy = false;
    CertificatePolicies initial;
    std::istringstream flags(r[1]);
    for (std::string f; std::getline(flags, f, ',');) {
      if (f == "-explicit_policy") {
        explicitPolicy = true;
      } else if (f != "-policy") {
        ASSERT_EQ(addPolicyOid(initial, ASNobjectId(f.c_str())), 1);
      }
    }
    X509PathVerifier v;
    const int got = v.checkCertificatePolicies(path, explicitPolicy, false, initial);
    auto d = differs.find(r[0]);
    if (d != differs.end()) {
      EXPECT_EQ(got, d->second);
    } else if (r[2] == "no_explicit_policy") {
      EXPECT_EQ(got, 6);
    } else {
      EXPECT_EQ(got, expectedCode(r[2])) << r[2];
    }
  }
}

// ---- certificates built here ----

struct Ext {
  const ASNobjectId* oid;
  Bytes value;
};

Bytes hexBytes(const char* h) { return pkitest::unhex(h); }

Bytes policiesValue(const std::vector<ASNobjectId>& oids) {
  Bytes out;
  EXPECT_GT(policySet(oids).encodeVector(out), 0);
  return out;
}

Bytes mappingsValue(const std::vector<std::pair<ASNobjectId, ASNobjectId>>& pairs) {
  PolicyMappings m;
  for (const auto& p : pairs) {
    PolicyMapping* e = m.addNew();
    e->issuerDomainPolicy = p.first;
    e->subjectDomainPolicy = p.second;
  }
  Bytes out;
  EXPECT_GT(m.encodeVector(out), 0);
  return out;
}

CertPtr makeCert(const char* subject, const char* issuer, const std::vector<Ext>& exts) {
  CertPtr c(new SignedCertificate());
  c->tbsCertificate.subject = DistinguishedName(0, subject, static_cast<int>(strlen(subject)));
  c->tbsCertificate.issuer = DistinguishedName(0, issuer, static_cast<int>(strlen(issuer)));
  for (const auto& e : exts) {
    Extension* x = c->tbsCertificate.extensions->addNew();
    x->extnID = *e.oid;
    x->extnValue.set(e.value.data(), static_cast<int>(e.value.size()));
  }
  return c;
}

// A chain CN=Anchor <- CN=C0 <- CN=C1 <- ...; `selfIssued` marks certificates whose
// issuer is their own subject.
struct Chain {
  std::vector<CertPtr> certs;
  void add(const std::vector<Ext>& exts, bool selfIssued = false) {
    const std::string subject = "CN=C" + std::to_string(certs.size());
    const std::string issuer = selfIssued      ? subject
                               : certs.empty() ? std::string("CN=Anchor")
                                               : "CN=C" + std::to_string(certs.size() - 1);
    certs.push_back(makeCert(subject.c_str(), issuer.c_str(), exts));
  }
  std::vector<const SignedCertificate*> path() const {
    std::vector<const SignedCertificate*> p;
    for (const auto& c : certs) p.push_back(c.get());
    return p;
  }
};

const Bytes kCa = hexBytes("30030101ff");
Ext bc(const char* hex) { return {&id_ce_basicConstraints, hexBytes(hex)}; }
Ext pols(const std::vector<ASNobjectId>& oids) {
  return {&id_ce_certificatePolicies, policiesValue(oids)};
}
Ext maps(const std::vector<std::pair<ASNobjectId, ASNobjectId>>& m) {
  return {&id_ce_policyMappings, mappingsValue(m)};
}
Ext pcons(const char* hex) { return {&id_ce_policyConstraints, hexBytes(hex)}; }
Ext inhibitAny(const char* hex) { return {&id_ce_inhibitAnyPolicy, hexBytes(hex)}; }

struct RuleCase {
  const char* name;
  std::vector<std::vector<Ext>> certs;
  std::vector<bool> selfIssued;  // empty: none
  bool explicitPolicy;
  bool inhibitMapping;
  std::vector<ASNobjectId> initial;
  int expect;
};

TEST(PolicyProcessing, Rules) {
  const ASNobjectId any = anyPolicy;
  // C0 inhibits mapping from the third certificate after it; C1 sets its
  // own, longer value; C3 maps P1 to P2 and the end entity asserts P2.
  auto inhibitUnder2 = [&](const char* c1Constraints) {
    return std::vector<std::vector<Ext>>{{pols({any}), pcons("3003810102")},
                                         {pols({any}), pcons(c1Constraints)},
                                         {pols({any})},
                                         {pols({P(1)}), maps({{P(1), P(2)}})},
                                         {pols({P(2)})}};
  };
  const std::vector<RuleCase> cases = {
      {"empty path", {}, {}, false, false, {any}, 13},
      {"no policies, explicit", {{bc("30030101ff")}, {}}, {}, true, false, {any}, 6},
      {"no policies", {{bc("30030101ff")}, {}}, {}, false, false, {any}, 0},
      {"all anyPolicy", {{pols({any})}, {pols({any})}}, {}, true, false, {P(1)}, 0},
      {"issuer without basicConstraints",
       {{pols({any})}, {bc("3000")}},
       {},
       false,
       false,
       {any},
       0},
      {"last certificate's basicConstraints unread",
       {{pols({any})}, {bc("05")}},
       {},
       false,
       false,
       {any},
       0},
      {"issuer basicConstraints unreadable", {{bc("3003040101")}, {}}, {}, false, false, {any}, 1},
      {"issuer not CA", {{bc("3000")}, {}}, {}, false, false, {any}, 2},
      {"pathLen 0 at n-3",
       {{bc("30060101ff020100")}, {bc("30030101ff")}, {}},
       {},
       false,
       false,
       {any},
       3},
      {"pathLen 0 at n-2",
       {{bc("30030101ff")}, {bc("30060101ff020100")}, {}},
       {},
       false,
       false,
       {any},
       0},
      {"pathLen 0 self-issued",
       {{bc("30060101ff020100")}, {bc("30030101ff")}, {}},
       {true, false, false},
       false,
       false,
       {any},
       0},
      {"pathLen 5 octets",
       {{bc("300a0101ff02050100000000")}, {bc("30030101ff")}, {}},
       {},
       false,
       false,
       {any},
       1},
      {"pathLen 2^32-1",
       {{bc("300a0101ff020500ffffffff")}, {bc("30030101ff")}, {}},
       {},
       false,
       false,
       {any},
       0},
      {"policies unreadable",
       {{{&id_ce_certificatePolicies, hexBytes("3003020100")}}, {}},
       {},
       false,
       false,
       {any},
       4},
      {"mappings unreadable",
       {{pols({any}), {&id_ce_policyMappings, hexBytes("300130")}}, {}},
       {},
       false,
       false,
       {any},
       8},
      {"constraints unreadable", {{pcons("3003820100")}, {}}, {}, false, false, {any}, 9},
      {"requireExplicitPolicy 5 octets",
       {{pcons("3007800501000000 00")}, {}},
       {},
       false,
       false,
       {any},
       9},
      {"inhibitPolicyMapping 5 octets",
       {{pols({any}), pcons("3007810501000000 00")}, {}},
       {},
       false,
       false,
       {any},
       9},
      {"requireExplicitPolicy 0 at once",
       {{pcons("3003800100")}, {pols({any})}, {}},
       {},
       false,
       false,
       {any},
       6},
      {"requireExplicitPolicy 2 counted",
       {{pcons("3003800102"), pols({any})}, {pols({any})}, {}},
       {},
       false,
       false,
       {any},
       6},
      {"requireExplicitPolicy 3 not reached",
       {{pcons("3003800103"), pols({any})}, {pols({any})}, {}},
       {},
       false,
       false,
       {any},
       0},
      {"requireExplicitPolicy 2 self-issued skipped",
       {{pcons("3003800102"), pols({any})}, {pols({any})}, {}},
       {false, true, false},
       false,
       false,
       {any},
       0},
      {"requireExplicitPolicy 2^31",
       {{pcons("300780050080000000"), pols({any})}, {}, {}},
       {},
       false,
       false,
       {any},
       0},
      // A subordinate CA cannot lengthen a superior's count: values of 2^31
      // and more, or read as negative, leave the smaller count in force.
      {"requireExplicitPolicy 2^31 under 2",
       {{pcons("3003800102"), pols({any})}, {pcons("300780050080000000"), pols({any})}, {}},
       {},
       false,
       false,
       {any},
       6},
      {"requireExplicitPolicy -1 under 2",
       {{pcons("3003800102"), pols({any})}, {pcons("30068004ffffffff"), pols({any})}, {}},
       {},
       false,
       false,
       {any},
       6},
      {"inhibitPolicyMapping 2^31 under 2", inhibitUnder2("300781050080000000"), {}, true, false,
       {P(1)}, 6},
      {"inhibitPolicyMapping FFFFFFFF under 2", inhibitUnder2("30068104ffffffff"), {}, true, false,
       {P(1)}, 6},
      // An empty certificatePolicies is not a valid value.
      {"empty policies under anyPolicy",
       {{pols({any})}, {{&id_ce_certificatePolicies, hexBytes("3000")}}, {pols({any})}},
       {},
       false,
       false,
       {any},
       4},
      {"empty policies under P1",
       {{pols({P(1)})}, {{&id_ce_certificatePolicies, hexBytes("3000")}}},
       {},
       false,
       false,
       {any},
       4},
      // Each row is decided on its own policy, not on the first row's.
      {"anyPolicy P1, then P2, then P1",
       {{pols({any, P(1)})}, {pols({P(2)})}, {pols({P(1)})}},
       {},
       true,
       false,
       {P(1)},
       6},
      {"P1 anyPolicy, then P2, then P2",
       {{pols({P(1), any})}, {pols({P(2)})}, {pols({P(2)})}},
       {},
       true,
       false,
       {P(2)},
       0},
      {"P1 anyPolicy, then anyPolicy, then P1",
       {{pols({P(1), any})}, {pols({any})}, {pols({P(1)})}},
       {},
       true,
       false,
       {P(1)},
       0},
      {"mapping under anyPolicy keeps anyPolicy",
       {{pols({any}), maps({{P(1), P(2)}})}, {pols({P(5)})}, {pols({P(5)})}},
       {},
       true,
       false,
       {P(5)},
       0},
      {"mapping beside anyPolicy maps the named row",
       {{pols({any, P(1)}), maps({{P(1), P(2)}, {P(3), P(4)}})}, {pols({P(2), P(4)})}},
       {},
       true,
       false,
       {P(3)},
       0},
      {"anyPolicy does not spread to a policy a named row carries",
       {{pols({P(1), any}), maps({{P(1), P(2)}})}, {pols({P(2)})}},
       {},
       true,
       false,
       {P(2)},
       10},
      {"P1 P2 then P2", {{pols({P(1), P(2)})}, {pols({P(2)})}}, {}, true, false, {P(2)}, 0},
      {"P1 P2 then P2, initial P1",
       {{pols({P(1), P(2)})}, {pols({P(2)})}},
       {},
       true,
       false,
       {P(1)},
       10},
      {"initial set mismatch without explicit",
       {{pols({P(1)})}, {pols({P(1)})}},
       {},
       false,
       false,
       {P(2)},
       0},
      {"mapping P1 to P2",
       {{pols({P(1)}), maps({{P(1), P(2)}})}, {pols({P(2)})}},
       {},
       true,
       false,
       {P(1)},
       0},
      {"mapping inhibited",
       {{pols({P(1)}), maps({{P(1), P(2)}})}, {pols({P(1), P(2)})}},
       {},
       true,
       true,
       {P(1)},
       6},
      {"mapping under anyPolicy",
       {{pols({any}), maps({{P(1), P(2)}, {P(1), P(3)}})}, {pols({P(3)})}},
       {},
       true,
       false,
       {P(1)},
       0},
      {"inhibit 0 stops later mappings",
       {{pols({any}), pcons("3003810100")}, {pols({P(1)}), maps({{P(1), P(2)}})}, {pols({P(2)})}},
       {},
       true,
       false,
       {any},
       6},
      // inhibitAnyPolicy: once it runs out, a certificate's anyPolicy no
      // longer stands for the policy a row expects, except in a self-issued
      // intermediate certificate.
      {"anyPolicy not inhibited", {{pols({P(1)})}, {pols({any})}, {pols({P(1)})}}, {}, true, false,
       {any}, 0},
      {"inhibitAnyPolicy 0", {{pols({P(1)}), inhibitAny("020100")}, {pols({any})}, {pols({P(1)})}},
       {}, true, false, {any}, 6},
      {"inhibitAnyPolicy 0, self-issued intermediate",
       {{pols({P(1)}), inhibitAny("020100")}, {pols({any})}, {pols({P(1)})}},
       {false, true, false}, true, false, {any}, 0},
      {"inhibitAnyPolicy 0, end certificate's anyPolicy",
       {{pols({any}), inhibitAny("020100")}, {pols({any})}}, {}, true, false, {any}, 6},
      {"inhibitAnyPolicy 0, self-issued end certificate",
       {{pols({P(1)}), inhibitAny("020100")}, {pols({any})}}, {false, true}, true, false, {any}, 6},
      {"inhibitAnyPolicy 1: the next certificate's anyPolicy counts",
       {{pols({P(1)}), inhibitAny("020101")}, {pols({any})}, {pols({P(1)})}}, {}, true, false,
       {any}, 0},
      {"inhibitAnyPolicy 1: the one after does not",
       {{pols({P(1)}), inhibitAny("020101")}, {pols({any})}, {pols({any})}, {pols({P(1)})}}, {},
       true, false, {any}, 6},
      {"inhibitAnyPolicy 1: self-issued certificates do not count down",
       {{pols({P(1)}), inhibitAny("020101")}, {pols({any})}, {pols({any})}, {pols({P(1)})}},
       {false, true, false, false}, true, false, {any}, 0},
      {"inhibitAnyPolicy 2 below 1 keeps the shorter",
       {{pols({P(1)}), inhibitAny("020101")}, {pols({any}), inhibitAny("020102")}, {pols({any})},
        {pols({P(1)})}}, {}, true, false, {any}, 6},
      {"inhibitAnyPolicy without explicit policy", {{pols({P(1)}), inhibitAny("020100")},
       {pols({any})}, {pols({P(1)})}}, {}, false, false, {any}, 0},
      {"inhibitAnyPolicy unreadable", {{pols({any}), inhibitAny("0500")}, {pols({any})}}, {}, false,
       false, {any}, 9},
      {"inhibitAnyPolicy 5 octets", {{pols({any}), inhibitAny("02050100000000")}, {pols({any})}}, {},
       false, false, {any}, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chain chain;
    for (size_t i = 0; i < c.certs.size(); ++i)
      chain.add(c.certs[i], !c.selfIssued.empty() && c.selfIssued[i]);
    X509PathVerifier v;
    EXPECT_EQ(v.checkCertificatePolicies(chain.path(), c.explicitPolicy, c.inhibitMapping,
                                         policySet(c.initial)),
              c.expect);
  }
}

TEST(PolicyProcessing, TableAfterSteps) {
  // anyPolicy then P1 P2: two rows; P2 next keeps only the P2 row.
  Chain chain;
  chain.add({pols({anyPolicy})});
  chain.add({pols({P(1), P(2)})});
  chain.add({pols({P(2)})});
  X509PathVerifier v;
  ASSERT_EQ(v.checkCertificatePolicies(chain.path(), true, false, policySet({P(2)})), 0);
  ASSERT_EQ(v.policyTable().rowCount(), 1);
  EXPECT_TRUE(v.policyTable().row(0)[1].policyIdentifier == P(2));
  EXPECT_TRUE(v.policyTable().row(0)[0].policyIdentifier == anyPolicy);

  // Mappings under anyPolicy: the anyPolicy row stays as it is (openssl
  // keeps it too: chain map_any_then_p5), and beside it one row per mapping,
  // each flagged; the list keeps each distinct mapping once.
  Chain m;
  m.add({pols({anyPolicy}), maps({{P(1), P(2)}, {P(1), P(3)}, {P(1), P(2)}})});
  m.add({pols({anyPolicy})});
  ASSERT_EQ(v.checkCertificatePolicies(m.path(), false, false, policySet({anyPolicy})), 0);
  EXPECT_EQ(v.policyTable().rowCount(), 4);
  EXPECT_EQ(v.mappingList().GetCount(), 2);
  EXPECT_TRUE(v.policyTable().row(0)[0].policyIdentifier == anyPolicy);
  EXPECT_TRUE(v.policyTable().row(0)[1].policyIdentifier == anyPolicy);
  EXPECT_TRUE(v.policyTable().row(1)[0].policyIdentifier == P(1));
  EXPECT_TRUE(v.policyTable().row(2)[1].policyIdentifier == P(3));
  EXPECT_TRUE(v.policyTable().row(3)[1].policyIdentifier == P(2));

  // A row naming P1 beside an anyPolicy row ends where a certificate lists
  // neither P1 nor anyPolicy; the anyPolicy row is split (openssl agrees:
  // chain any_p1_then_p2p3).
  Chain s;
  s.add({pols({anyPolicy, P(1)})});
  s.add({pols({P(2), P(3)})});
  s.add({pols({anyPolicy})});
  ASSERT_EQ(v.checkCertificatePolicies(s.path(), false, false, policySet({anyPolicy})), 0);
  ASSERT_EQ(v.policyTable().rowCount(), 2);
  EXPECT_TRUE(v.policyTable().row(0)[1].policyIdentifier == P(2));
  EXPECT_TRUE(v.policyTable().row(1)[1].policyIdentifier == P(3));
  EXPECT_TRUE(v.policyTable().row(0)[0].policyIdentifier == anyPolicy);

  // The end step judges each row by its own first named policy.
  Chain e;
  e.add({pols({P(1), anyPolicy})});
  e.add({pols({P(2), P(1)})});
  ASSERT_EQ(v.checkCertificatePolicies(e.path(), true, false, policySet({P(2)})), 0);
  ASSERT_EQ(v.finalTable().rowCount(), 1);
  EXPECT_TRUE(v.finalTable().row(0)[0].policyIdentifier == anyPolicy);
  EXPECT_TRUE(v.finalTable().row(0)[1].policyIdentifier == P(2));
}

TEST(PolicyProcessing, QualifiersAreMerged) {
  CertificatePolicies withQualifiers;
  ASSERT_GT(withQualifiers.decodeVector(readBytes(kDir + "ext_cert_policies.der")), 0);
  withQualifiers.deleteTail();  // anyPolicy: its qualifiers would be merged instead
  Bytes value;
  ASSERT_GT(withQualifiers.encodeVector(value), 0);
  Chain chain;
  chain.add({pols({ASNobjectId("1.2.616.1.113527.2.5.1.1")})});
  chain.add({{&id_ce_certificatePolicies, value}});
  X509PathVerifier v;
  ASSERT_EQ(v.checkCertificatePolicies(chain.path(), true, false,
                                       policySet({ASNobjectId("1.2.616.1.113527.2.5.1.1")})),
            0);
  EXPECT_EQ(v.policyTable().row(0)[1].policyQualifiers.GetCount(), 2);
}

// Thousands of policies or mappings: a bounded table and a bounded time.
TEST(PolicyProcessing, HostilePathsAreBounded) {
  std::vector<ASNobjectId> many;
  for (int i = 0; i < 20000; ++i) many.push_back(P(i));
  std::vector<std::pair<ASNobjectId, ASNobjectId>> fan;
  for (int i = 0; i < 3000; ++i) fan.push_back({P(0), P(i)});
  std::vector<std::pair<ASNobjectId, ASNobjectId>> same(5000, {P(0), P(1)});

  struct Case {
    const char* name;
    std::vector<std::vector<Ext>> certs;
    int expect;
  };
  const Ext manyPolicies = pols(many);
  const std::vector<Case> cases = {
      {"20000 policies under anyPolicy", {{manyPolicies}, {manyPolicies}, {}}, 13},
      {"20000 policies against rows", {{pols({P(5), P(7)})}, {manyPolicies}, {manyPolicies}}, 0},
      {"3000-way fan-out twice",
       {{pols({anyPolicy}), maps(fan)}, {pols({anyPolicy}), maps(fan)}, {}},
       13},
      {"5000 equal mappings",
       {{pols({P(0)}), maps(same)}, {pols({P(1)}), maps(same)}, {pols({P(1)})}},
       13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chain chain;
    for (const auto& e : c.certs) chain.add(e);
    X509PathVerifier v;
    // The table's cells are the work bound; this thread's processor time is
    // checked only against a hang, far beyond a busy machine's.
    const double t0 = threadSeconds();
    EXPECT_EQ(v.checkCertificatePolicies(chain.path(), false, false, policySet({anyPolicy})),
              c.expect);
    EXPECT_LE(int64_t(v.policyTable().rowCount()) * int64_t(v.policyTable().columnCount()),
              PolicyTable::kMaxCells);
    EXPECT_LT(threadSeconds() - t0, 300.0);
  }
  // A path longer than the table allows is refused, not processed.
  Chain longPath;
  for (int i = 0; i < PolicyTable::kMaxCells + 1; ++i) longPath.add({});
  X509PathVerifier v;
  EXPECT_EQ(v.checkCertificatePolicies(longPath.path(), false, false, policySet({anyPolicy})), 13);
}

// ---- the table and list operations ----

TEST(PolicyTableOps, RowsFlagsAndCopies) {
  PolicyTable t;
  EXPECT_EQ(t.addRow(), -1);  // no columns yet
  t.reset(3);
  ASSERT_EQ(t.addRow(), 0);
  ASSERT_EQ(t.addRow(), 1);
  t.row(0)[0].policyIdentifier = P(1);
  t.row(1)[0].policyIdentifier = P(2);
  t.setRowMapped(1, true);
  EXPECT_EQ(t.duplicateRow(1), 2);
  EXPECT_TRUE(t.isRowMapped(2));
  EXPECT_TRUE(t.row(2)[0].policyIdentifier == P(2));
  EXPECT_EQ(t.duplicateRow(7), -1);
  EXPECT_EQ(t.duplicateRow(-1), -1);
  t.removeRow(0);  // later rows and flags move up
  EXPECT_EQ(t.rowCount(), 2);
  EXPECT_TRUE(t.isRowMapped(0) && t.isRowMapped(1));
  EXPECT_EQ(t.row(2), nullptr);
  EXPECT_FALSE(t.isRowMapped(5));
  t.setRowMapped(5, true);  // ignored
  PolicyTable copy;
  copy.assign(t);
  EXPECT_EQ(copy.columnCount(), 3u);
  EXPECT_EQ(copy.rowCount(), 2);
  EXPECT_TRUE(copy.isRowMapped(1));
  EXPECT_TRUE(copy.row(1)[0].policyIdentifier == P(2));
  t.clearRowFlags();
  EXPECT_FALSE(t.isRowMapped(0));
  t.clear();
  EXPECT_EQ(t.rowCount(), 0);
  EXPECT_EQ(t.columnCount(), 3u);
  t.reset(PolicyTable::kMaxCells);
  EXPECT_EQ(t.addRow(), 0);
  EXPECT_EQ(t.addRow(), -1);  // past the bound
}

PolicyQualifierInfo* addQualifier(PolicyQualifiers& q, const char* id) {
  PolicyQualifierInfo* e = q.addNew();
  if (*id) e->policyQualifierId = ASNobjectId(id);
  e->qualifier.setEncoding(0x16, reinterpret_cast<const unsigned char*>("x"), 1);
  return e;
}

TEST(PolicyTableOps, MergeAndFind) {
  PolicyQualifiers target, source;
  addQualifier(target, "1.3.6.1.5.5.7.2.1");
  addQualifier(source, "1.3.6.1.5.5.7.2.1");
  addQualifier(source, "1.3.6.1.5.5.7.2.2");
  EXPECT_EQ(mergeByOid(target, source), 1);
  EXPECT_EQ(target.GetCount(), 2);
  EXPECT_EQ(mergeByOid(target, source), 1);
  EXPECT_EQ(target.GetCount(), 2);
  // The search of the target ends at a qualifier without an id.
  PolicyQualifiers gap;
  addQualifier(gap, "");
  addQualifier(gap, "1.3.6.1.5.5.7.2.1");
  EXPECT_EQ(mergeByOid(gap, source), 1);
  EXPECT_EQ(gap.GetCount(), 4);
  // Too many qualifiers to copy into every row.
  PolicyQualifiers big;
  for (int i = 0; i <= kMaxMergedQualifiers; ++i)
    addQualifier(big, ("1.2.3." + std::to_string(i)).c_str());
  PolicyQualifiers empty;
  EXPECT_EQ(mergeByOid(empty, big), 0);

  PolicyMappings list;
  PolicyMapping m;
  m.issuerDomainPolicy = P(1);
  m.subjectDomainPolicy = P(2);
  EXPECT_FALSE(findPolicyMapping(list, &m));
  *list.addNew() = m;
  EXPECT_TRUE(findPolicyMapping(list, &m));
  EXPECT_FALSE(findPolicyMapping(list, nullptr));
  m.subjectDomainPolicy = P(3);
  EXPECT_FALSE(findPolicyMapping(list, &m));
}

}  // namespace
