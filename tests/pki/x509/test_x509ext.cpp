// Extension values: openssl-made values decode and re-encode to the same
// octets; hand-made encodings check the member rules.
#include "pki/x509/x509ext.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "pki/fixture_lines.h"
#include "pki/common/oids.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readPolicyFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/policy/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

using Factory = std::function<std::unique_ptr<ASNobject>()>;
template <class T>
Factory make() {
  return [] { return std::unique_ptr<ASNobject>(new T()); };
}

// Decodes, answers the result code; on success also the re-encoding.
int roundTrip(ASNobject& o, const Bytes& der, Bytes* out) {
  int r = o.decodeBuffer(der.data(), static_cast<int>(der.size()));
  if (r < 1) return r;
  if (out && o.encodeVector(*out) < 1) return -100;
  return r;
}

struct FileCase {
  const char* file;
  Factory type;
};

TEST(X509ExtValues, OpensslValuesReencodeUnchanged) {
  const FileCase cases[] = {
      {"ext_basic_constraints.der", make<BasicConstraints>()},
      {"ext_bc_empty.der", make<BasicConstraints>()},
      {"ext_bc_pathlen_only.der", make<BasicConstraints>()},
      {"ext_ext_key_usage.der", make<ExtendedKeyUsage>()},
      {"ext_cert_policies.der", make<CertificatePolicies>()},
      {"ext_policy_mappings.der", make<PolicyMappings>()},
      {"ext_policy_constraints.der", make<PolicyConstraints>()},
      {"ext_crl_dps.der", make<CRLDistributionPoints>()},
      {"ext_aia.der", make<AuthorityInfoAccess>()},
      {"ext_authority_key_id.der", make<AuthorityKeyIdentifier>()},
      {"ext_subject_alt_name.der", make<GeneralNames>()},
      {"ext_qc_statements.der", make<QcStatements>()},
      {"ext_idp_full.der", make<IssuingDistributionPoint>()},
      {"ext_idp_ca_indirect.der", make<IssuingDistributionPoint>()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Bytes der = readPolicyFile(c.file);
    ASSERT_FALSE(der.empty());
    for (unsigned char flags : {0, 1, 3}) {  // owned, in place, private copy
      auto o = c.type();
      ASSERT_EQ(o->decodeBuffer(der.data(), static_cast<int>(der.size()), flags),
                static_cast<int>(der.size()));
      Bytes out;
      ASSERT_GT(o->encodeVector(out), 0);
      EXPECT_EQ(pkitest::hex(out), pkitest::hex(der));
      EXPECT_EQ(o->encodedLength(), static_cast<int>(der.size()));
    }
  }
}

TEST(X509ExtValues, OpensslValuesHoldWhatWasWritten) {
  BasicConstraints bc;
  ASSERT_GT(bc.decodeVector(readPolicyFile("ext_basic_constraints.der")), 0);
  EXPECT_TRUE(bc.cA.get());
  ASSERT_TRUE(bc.pathLenConstraintPresent);
  EXPECT_EQ(bc.pathLenConstraint.toLong(), 3u);

  CertificatePolicies pols;
  ASSERT_GT(pols.decodeVector(readPolicyFile("ext_cert_policies.der")), 0);
  ASSERT_EQ(pols.GetCount(), 3);
  const PolicyInformation* first = pols.GetHead();
  EXPECT_TRUE(first->policyIdentifier.equalsText("1.2.616.1.113527.2.5.1.1"));
  ASSERT_EQ(first->policyQualifiers.GetCount(), 2);  // CPS and user notice
  EXPECT_TRUE(first->policyQualifiers.GetHead()->policyQualifierId.equalsText("1.3.6.1.5.5.7.2.1"));
  EXPECT_TRUE(first->policyQualifiers.GetTail()->policyQualifierId.equalsText("1.3.6.1.5.5.7.2.2"));
  EXPECT_NE(findExtensionByOid(pols, anyPolicy), nullptr);
  EXPECT_EQ(findExtensionByOid(pols, ASNobjectId("1.2.3.4.99")), nullptr);

  PolicyConstraints pc;
  ASSERT_GT(pc.decodeVector(readPolicyFile("ext_policy_constraints.der")), 0);
  ASSERT_TRUE(pc.requireExplicitPolicyPresent && pc.inhibitPolicyMappingPresent);
  EXPECT_EQ(pc.requireExplicitPolicy.toLong(), 2u);
  EXPECT_EQ(pc.inhibitPolicyMapping.toLong(), 1u);

  CRLDistributionPoints dps;
  ASSERT_GT(dps.decodeVector(readPolicyFile("ext_crl_dps.der")), 0);
  ASSERT_EQ(dps.GetCount(), 2);
  const DistributionPoint* dp2 = dps.GetTail();
  EXPECT_TRUE(dp2->distributionPointPresent && dp2->reasonsPresent && dp2->cRLIssuerPresent);
  EXPECT_EQ(dp2->distributionPoint.chosenIndex(), 0);  // fullName

  AuthorityKeyIdentifier aki;
  ASSERT_GT(aki.decodeVector(readPolicyFile("ext_authority_key_id.der")), 0);
  EXPECT_TRUE(aki.keyIdentifierPresent && aki.authorityCertIssuerPresent);

  ExtendedKeyUsage eku;
  ASSERT_GT(eku.decodeVector(readPolicyFile("ext_ext_key_usage.der")), 0);
  EXPECT_EQ(eku.GetCount(), 5);
  EXPECT_TRUE(eku.contains(id_kp_OCSPSigning) == false);
  EXPECT_TRUE(eku.contains(ASNobjectId("1.3.6.1.5.5.7.3.8")));  // timeStamping

  AuthorityInfoAccess aia;
  ASSERT_GT(aia.decodeVector(readPolicyFile("ext_aia.der")), 0);
  ASSERT_EQ(aia.GetCount(), 2);
  EXPECT_TRUE(aia.GetHead()->accessMethod == id_ad_ocsp);
  EXPECT_EQ(aia.GetHead()->accessLocation.getTag(), 0x86);

  QcStatements qcs;
  ASSERT_GT(qcs.decodeVector(readPolicyFile("ext_qc_statements.der")), 0);
  ASSERT_EQ(qcs.GetCount(), 3);
  EXPECT_FALSE(qcs.GetHead()->statementInfoPresent);
  EXPECT_TRUE(qcs.GetTail()->statementInfoPresent);

  IssuingDistributionPoint idp;
  ASSERT_GT(idp.decodeVector(readPolicyFile("ext_idp_full.der")), 0);
  EXPECT_TRUE(idp.distributionPointPresent && idp.onlySomeReasonsPresent &&
              idp.onlyContainsUserCerts.get());
  EXPECT_FALSE(idp.onlyContainsCACerts.get() || idp.indirectCRL.get());
}

struct HexCase {
  const char* name;
  Factory type;
  const char* der;
  int expect;             // decode result: 1 success (whole value), else the code
  const char* reencoded;  // on success: expected re-encoding ("" = same as input)
};

TEST(X509ExtValues, MemberRules) {
  const HexCase cases[] = {
      // BasicConstraints: the first element's tag number decides.
      {"bc empty", make<BasicConstraints>(), "3000", 1, ""},
      {"bc cA only", make<BasicConstraints>(), "30030101ff", 1, ""},
      {"bc explicit FALSE dropped", make<BasicConstraints>(), "3003010100", 1, "3000"},
      {"bc pathLen only", make<BasicConstraints>(), "3003020105", 1, ""},
      {"bc other tag", make<BasicConstraints>(), "3003040105", 0, nullptr},
      {"bc trailing", make<BasicConstraints>(), "30090101ff0201050201", 0, nullptr},
      // AuthorityKeyIdentifier.
      {"aki [0] only", make<AuthorityKeyIdentifier>(), "30048002abcd", 1, ""},
      {"aki [0][1][2]", make<AuthorityKeyIdentifier>(), "300f8002abcda1068204746573748201 07", 1,
       ""},
      {"aki [1] last", make<AuthorityKeyIdentifier>(), "300c8002abcda106820474657374", 0, nullptr},
      {"aki [2] without [1]", make<AuthorityKeyIdentifier>(), "30078002abcd820107", 0, nullptr},
      {"aki [1][0] no [2]", make<AuthorityKeyIdentifier>(), "300ca1068204746573748002abcd", 0,
       nullptr},
      {"aki repeated [0]", make<AuthorityKeyIdentifier>(), "30088002abcd8002abcd", 0, nullptr},
      {"aki universal", make<AuthorityKeyIdentifier>(), "30040402abcd", 0, nullptr},
      // Stricter than a plain reading: issuer and serial only together, in
      // that order (RFC 5280 4.2.1.1).
      {"aki [1] alone", make<AuthorityKeyIdentifier>(), "3008a106820474657374", 0, nullptr},
      {"aki [1][2] without [0]", make<AuthorityKeyIdentifier>(), "300ba106820474657374820107", 1,
       ""},
      {"aki [2][1]", make<AuthorityKeyIdentifier>(), "300b820107a106820474657374", 0, nullptr},
      // ExtendedKeyUsage is SIZE (1..MAX): an empty one would pass every
      // purpose check.
      {"eku one purpose", make<ExtendedKeyUsage>(), "300a06082b06010505070301", 1, ""},
      {"eku empty", make<ExtendedKeyUsage>(), "3000", 0, nullptr},
      {"eku empty indefinite", make<ExtendedKeyUsage>(), "30800000", 0, nullptr},
      // DistributionPoint: order free, each member once.
      {"dp [2] before [0]", make<DistributionPoint>(),
       "3014a2068604746573 74a00aa0088606687474703a2f", 1,
       "3014a00aa0088606687474703a2fa206860474657374"},
      {"dp rdn name", make<DistributionPoint>(), "300fa00da10b300906035504030c024341", 1, ""},
      {"dp repeated [1]", make<DistributionPoint>(), "3008810206408102 0640", 0, nullptr},
      {"dp [3]", make<DistributionPoint>(), "3004830100", 0, nullptr},
      // IssuingDistributionPoint.
      {"idp user TRUE", make<IssuingDistributionPoint>(), "30038101ff", 1, ""},
      {"idp explicit FALSE dropped", make<IssuingDistributionPoint>(), "3003810100", 1, "3000"},
      {"idp attribute certs [5]", make<IssuingDistributionPoint>(), "30038501ff", 0, nullptr},
      {"idp boolean twice TRUE", make<IssuingDistributionPoint>(), "30068101ff8101ff", 0, nullptr},
      {"idp universal", make<IssuingDistributionPoint>(), "30030101ff", 0, nullptr},
      {"idp fullName via A0", make<IssuingDistributionPoint>(), "300ca00aa0088606687474703a2f", 1,
       ""},
      // PolicyConstraints: [0] and [1] once each, any order.
      {"pc [1] then [0]", make<PolicyConstraints>(), "3006810101800102", 1, "3006800102810101"},
      {"pc repeated", make<PolicyConstraints>(), "3006800101800102", 0, nullptr},
      {"pc [2]", make<PolicyConstraints>(), "3003820101", 0, nullptr},
      {"pc long integer kept", make<PolicyConstraints>(), "3007800501000000 00", 1, ""},
      // AccessDescription: location is a GeneralName.
      {"ad uri", make<AccessDescription>(), "300c06082b060105050730018600", 1, ""},
      {"ad universal location", make<AccessDescription>(), "300c06082b060105050730011600", 0,
       nullptr},
      {"ad [9] location", make<AccessDescription>(), "300c06082b060105050730018900", 0, nullptr},
      // PolicyInformation: nothing after the qualifiers.
      {"pi oid only", make<PolicyInformation>(), "3005060355 1d20", 1, ""},
      {"pi empty qualifiers dropped", make<PolicyInformation>(), "30070603551d203000", 1,
       "30050603551d20"},
      {"pi trailing", make<PolicyInformation>(), "30090603551d2030000500", 0, nullptr},
      {"pm one oid", make<PolicyMapping>(), "3005060355 1d20", 0, nullptr},
      {"qc id only", make<QcStatement>(), "3008060604008e460101", 1, ""},
      {"qc with info", make<QcStatement>(), "300a060604008e4601010500", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string h;
    for (const char* p = c.der; *p; ++p)
      if (*p != ' ') h += *p;
    Bytes der = pkitest::unhex(h);
    auto o = c.type();
    Bytes out;
    int r = roundTrip(*o, der, &out);
    if (c.expect == 1) {
      ASSERT_EQ(r, static_cast<int>(der.size()));
      EXPECT_EQ(pkitest::hex(out), *c.reencoded ? std::string(c.reencoded) : h);
      EXPECT_EQ(o->encodedLength(), static_cast<int>(out.size()));
    } else {
      EXPECT_EQ(r, c.expect);
    }
  }
}

TEST(X509ExtValues, DecodingResetsOptionalMembers) {
  AuthorityKeyIdentifier aki;
  ASSERT_GT(aki.decodeVector(pkitest::unhex("300f8002abcda106820474657374820107")), 0);
  ASSERT_GT(aki.decodeVector(pkitest::unhex("30048002abcd")), 0);
  EXPECT_FALSE(aki.authorityCertIssuerPresent);
  EXPECT_EQ(aki.authorityCertIssuer.GetCount(), 0);
  BasicConstraints bc;
  ASSERT_GT(bc.decodeVector(pkitest::unhex("30060101ff020101")), 0);
  ASSERT_GT(bc.decodeVector(pkitest::unhex("3000")), 0);
  EXPECT_FALSE(bc.cA.get());
  EXPECT_FALSE(bc.pathLenConstraintPresent);
}

TEST(X509ExtValues, CopiesAndOidSets) {
  CertificatePolicies pols;
  const Bytes polsDer = readPolicyFile("ext_cert_policies.der");
  ASSERT_GT(pols.decodeVector(polsDer, 1), 0);  // read in place
  PolicyInformation copy;
  copy = *pols.GetHead();
  copy = *pols.GetHead();  // refilled, not appended
  EXPECT_EQ(copy.policyQualifiers.GetCount(), 2);
  Bytes a, b;
  ASSERT_GT(copy.encodeVector(a), 0);
  ASSERT_GT(pols.GetHead()->encodeVector(b), 0);
  EXPECT_EQ(a, b);

  CRLDistributionPoints dps, dpsCopy;
  ASSERT_GT(dps.decodeVector(readPolicyFile("ext_crl_dps.der")), 0);
  dpsCopy.assign(dps);
  ASSERT_GT(dps.encodeVector(a), 0);
  ASSERT_GT(dpsCopy.encodeVector(b), 0);
  EXPECT_EQ(a, b);

  OidSet set;
  EXPECT_EQ(set.addOid(anyPolicy), 1);
  EXPECT_EQ(set.addOid(anyPolicy), 1);
  EXPECT_EQ(set.addOid(id_ce_keyUsage), 1);
  EXPECT_EQ(set.GetCount(), 2);
  EXPECT_TRUE(set.contains(id_ce_keyUsage));
  set.clear();
  EXPECT_FALSE(set.contains(anyPolicy));
}

}  // namespace
