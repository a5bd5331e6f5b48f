#include "pki/common/oids.h"

#include "platform/buildconst.h"

#include <algorithm>
#include <cstring>
#include <vector>

// Definition order follows the registry tables. oidName relies on
// id_keyExchangeAlgorithm being the last one defined (built last).

// Configuration-file attribute ids, PKCS#12 private bag ids, hold instructions, ETSI and
// qualified-certificate statements.
const ASNobjectId privateOid_2_5_1(TAL_ENTERPRISE_ARC ".2.5.1");
const ASNobjectId privateOid_2_5_2(TAL_ENTERPRISE_ARC ".2.5.2");
const ASNobjectId privateOid_2_5_3(TAL_ENTERPRISE_ARC ".2.5.3");
const ASNobjectId privateOid_2_5_4(TAL_ENTERPRISE_ARC ".2.5.4");
const ASNobjectId privateOid_2_5_5(TAL_ENTERPRISE_ARC ".2.5.5");
const ASNobjectId privateOid_2_5_6(TAL_ENTERPRISE_ARC ".2.5.6");
const ASNobjectId privateOid_2_5_7(TAL_ENTERPRISE_ARC ".2.5.7");
const ASNobjectId privateOid_2_5_8(TAL_ENTERPRISE_ARC ".2.5.8");
const ASNobjectId privateOid_2_5_9(TAL_ENTERPRISE_ARC ".2.5.9");
const ASNobjectId privateOid_2_5_10(TAL_ENTERPRISE_ARC ".2.5.10");
const ASNobjectId privateOid_2_5_11(TAL_ENTERPRISE_ARC ".2.5.11");
const ASNobjectId privateOid_2_5_12(TAL_ENTERPRISE_ARC ".2.5.12");
const ASNobjectId privateOid_2_5_13(TAL_ENTERPRISE_ARC ".2.5.13");
const ASNobjectId privateOid_2_5_14(TAL_ENTERPRISE_ARC ".2.5.14");
const ASNobjectId privateOid_2_5_15(TAL_ENTERPRISE_ARC ".2.5.15");
const ASNobjectId privateOid_2_5_16(TAL_ENTERPRISE_ARC ".2.5.16");
const ASNobjectId privateOid_2_5_17(TAL_ENTERPRISE_ARC ".2.5.17");
const ASNobjectId privateOid_2_5_18(TAL_ENTERPRISE_ARC ".2.5.18");
const ASNobjectId privateOid_2_5_19(TAL_ENTERPRISE_ARC ".2.5.19");
const ASNobjectId privateOid_2_5_20(TAL_ENTERPRISE_ARC ".2.5.20");
const ASNobjectId privateOid_2_5_21(TAL_ENTERPRISE_ARC ".2.5.21");
const ASNobjectId privateOid_2_5_22(TAL_ENTERPRISE_ARC ".2.5.22");
const ASNobjectId privateOid_2_5_23(TAL_ENTERPRISE_ARC ".2.5.23");
const ASNobjectId privateOid_2_5_24(TAL_ENTERPRISE_ARC ".2.5.24");
const ASNobjectId privateOid_2_5_25(TAL_ENTERPRISE_ARC ".2.5.25");
const ASNobjectId privateOid_2_5_26(TAL_ENTERPRISE_ARC ".2.5.26");
const ASNobjectId privateOid_2_5_27(TAL_ENTERPRISE_ARC ".2.5.27");
const ASNobjectId privateOid_2_5_28(TAL_ENTERPRISE_ARC ".2.5.28");
const ASNobjectId privateOid_2_5_29(TAL_ENTERPRISE_ARC ".2.5.29");
const ASNobjectId privateOid_2_5_30(TAL_ENTERPRISE_ARC ".2.5.30");
const ASNobjectId privateOid_2_5_31(TAL_ENTERPRISE_ARC ".2.5.31");
const ASNobjectId privateOid_2_5_32(TAL_ENTERPRISE_ARC ".2.5.32");
const ASNobjectId privateOid_2_5_33(TAL_ENTERPRISE_ARC ".2.5.33");
const ASNobjectId privateOid_2_5_35(TAL_ENTERPRISE_ARC ".2.5.35");
const ASNobjectId privateOid_2_5_36(TAL_ENTERPRISE_ARC ".2.5.36");
const ASNobjectId privateOid_2_5_37(TAL_ENTERPRISE_ARC ".2.5.37");
const ASNobjectId privateOid_2_5_38(TAL_ENTERPRISE_ARC ".2.5.38");
const ASNobjectId privateOid_2_5_39(TAL_ENTERPRISE_ARC ".2.5.39");
const ASNobjectId privateOid_2_5_40(TAL_ENTERPRISE_ARC ".2.5.40");
const ASNobjectId privateOid_2_5_41(TAL_ENTERPRISE_ARC ".2.5.41");
const ASNobjectId privateOid_2_5_42(TAL_ENTERPRISE_ARC ".2.5.42");
const ASNobjectId privateOid_2_6_1(TAL_ENTERPRISE_ARC ".2.6.1");
const ASNobjectId privateOid_2_6_2(TAL_ENTERPRISE_ARC ".2.6.2");
const ASNobjectId privateOid_2_6_3(TAL_ENTERPRISE_ARC ".2.6.3");
const ASNobjectId id_holdinstruction_none("1.2.840.10040.2.1");
const ASNobjectId id_holdinstruction_callissuer("1.2.840.10040.2.2");
const ASNobjectId id_holdinstruction_reject("1.2.840.10040.2.3");
const ASNobjectId id_kp_OCSPSigning("1.3.6.1.5.5.7.3.9");
const ASNobjectId id_at_postalCode("2.5.4.17");
const ASNobjectId id_aa_signingCertificateV2("1.2.840.113549.1.9.16.2.47");
const ASNobjectId id_aa_ets_archiveTimestampV2("1.2.840.113549.1.9.16.2.48");
const ASNobjectId id_etsi_qcs_QcRetentionPeriod("0.4.0.1862.1.3");
const ASNobjectId id_etsi_qcs_QcSSCD("0.4.0.1862.1.4");
const ASNobjectId id_etsi_qcs("0.4.0.1862.1");
const ASNobjectId id_spq_ets_uri("1.2.840.113549.1.9.16.5.1");
const ASNobjectId id_spq_ets_unotice("1.2.840.113549.1.9.16.5.2");
const ASNobjectId id_qcs_pkixQCSyntax_v1("1.3.6.1.5.5.7.11.1");
const ASNobjectId id_qcs_pkixQCSyntax_v2("1.3.6.1.5.5.7.11.2");
const ASNobjectId oid_0_4_0_194122_1("0.4.0.194122.1");

// Hashes, signature and cipher algorithms, attribute types, CMS and PKCS#12 content and bag
// types, CMS/ESS/CAdES attributes, Netscape extensions, key purposes, access methods.
const ASNobjectId id_md2("1.2.840.113549.2.2");
const ASNobjectId id_md5("1.2.840.113549.2.5");
const ASNobjectId id_sha1("1.3.14.3.2.26");
const ASNobjectId id_sha224("2.16.840.1.101.3.4.2.4");
const ASNobjectId id_sha256("2.16.840.1.101.3.4.2.1");
const ASNobjectId id_sha384("2.16.840.1.101.3.4.2.2");
const ASNobjectId id_sha512("2.16.840.1.101.3.4.2.3");
const ASNobjectId id_ripemd160("1.0.10118.3.0.49");
const ASNobjectId id_ea_rsa("2.5.8.1.1");
const ASNobjectId rsaEncryption("1.2.840.113549.1.1.1");
const ASNobjectId md2WithRSAEncryption("1.2.840.113549.1.1.2");
const ASNobjectId md5WithRSAEncryption("1.2.840.113549.1.1.4");
const ASNobjectId sha1WithRSASignature("1.3.14.3.2.29");
const ASNobjectId sha1WithRSAEncryption("1.2.840.113549.1.1.5");
const ASNobjectId sha224WithRSAEncryption("1.2.840.113549.1.1.14");
const ASNobjectId sha256WithRSAEncryption("1.2.840.113549.1.1.11");
const ASNobjectId sha384WithRSAEncryption("1.2.840.113549.1.1.12");
const ASNobjectId sha512WithRSAEncryption("1.2.840.113549.1.1.13");
const ASNobjectId rsaOAEPEncryptionSET("1.2.840.113549.1.1.6");
const ASNobjectId rc2_cbc("1.2.840.113549.3.2");
const ASNobjectId desCBC("1.3.14.3.2.7");
const ASNobjectId des_ede3_cbc("1.2.840.113549.3.7");
const ASNobjectId desx_cbc("1.2.840.113549.3.6");
const ASNobjectId id_aes128_CBC("2.16.840.1.101.3.4.1.2");
const ASNobjectId id_aes192_CBC("2.16.840.1.101.3.4.1.22");
const ASNobjectId id_aes256_CBC("2.16.840.1.101.3.4.1.42");
const ASNobjectId id_dsa("1.2.840.10040.4.1");
const ASNobjectId id_dsa_with_sha1("1.2.840.10040.4.3");
const ASNobjectId oid_1_3_36_8_5_1_2_2("1.3.36.8.5.1.2.2");
const ASNobjectId IDEA_CBC("1.3.6.1.4.1.188.7.1.1.2");
const ASNobjectId id_at_serialNumber("2.5.4.5");
const ASNobjectId id_at_countryName("2.5.4.6");
const ASNobjectId id_at_localityName("2.5.4.7");
const ASNobjectId id_at_stateOrProvinceName("2.5.4.8");
const ASNobjectId id_at_streetAddress("2.5.4.9");
const ASNobjectId id_at_organizationName("2.5.4.10");
const ASNobjectId id_at_organizationalUnitName("2.5.4.11");
const ASNobjectId id_at_title("2.5.4.12");
const ASNobjectId id_at_description("2.5.4.13");
const ASNobjectId id_at_postalAddress("2.5.4.16");
const ASNobjectId id_at_telephoneNumber("2.5.4.20");
const ASNobjectId id_at_internationalISDNNumber("2.5.4.25");
const ASNobjectId pkcs_9_at_emailAddress("1.2.840.113549.1.9.1");
const ASNobjectId id_at_commonName("2.5.4.3");
const ASNobjectId id_at_surname("2.5.4.4");
const ASNobjectId id_at_givenName("2.5.4.42");
const ASNobjectId id_at_uniqueIdentifier("2.5.4.45");
const ASNobjectId id_at_pseudonym("2.5.4.65");
const ASNobjectId domainComponent("0.9.2342.19200300.100.1.25");
const ASNobjectId pkcs_9_at_unstructuredName("1.2.840.113549.1.9.2");
const ASNobjectId pkcs_9_at_unstructuredAddress("1.2.840.113549.1.9.8");
const ASNobjectId pkcs_9_at_challengePassword("1.2.840.113549.1.9.7");
const ASNobjectId id_data("1.2.840.113549.1.7.1");
const ASNobjectId id_signedData("1.2.840.113549.1.7.2");
const ASNobjectId id_envelopedData("1.2.840.113549.1.7.3");
const ASNobjectId id_signedAndEnvelopedData("1.2.840.113549.1.7.4");
const ASNobjectId id_digestedData("1.2.840.113549.1.7.5");
const ASNobjectId id_encryptedData("1.2.840.113549.1.7.6");
const ASNobjectId keyBag("1.2.840.113549.1.12.10.1.1");
const ASNobjectId certBag("1.2.840.113549.1.12.10.1.3");
const ASNobjectId pkcs8ShroudedKeyBag("1.2.840.113549.1.12.10.1.2");
const ASNobjectId secretBag("1.2.840.113549.1.12.10.1.5");
const ASNobjectId pbeWithSHAAnd3_KeyTripleDES_CBC("1.2.840.113549.1.12.1.3");
const ASNobjectId pbeWithSHAAnd40BitRC2_CBC("1.2.840.113549.1.12.1.6");
const ASNobjectId x509Certificate("1.2.840.113549.1.9.22.1");
const ASNobjectId pkcs_9_at_friendlyName("1.2.840.113549.1.9.20");
const ASNobjectId pkcs_9_at_localKeyId("1.2.840.113549.1.9.21");
const ASNobjectId pkcs8ShroudedKeyBag_2("1.2.840.113549.1.12.10.1.2");
const ASNobjectId rsaEncryption_2("1.2.840.113549.1.1.1");
const ASNobjectId id_messageDigest("1.2.840.113549.1.9.4");
const ASNobjectId id_aa_signingCertificate("1.2.840.113549.1.9.16.2.12");
const ASNobjectId id_contentType("1.2.840.113549.1.9.3");
const ASNobjectId id_signingTime("1.2.840.113549.1.9.5");
const ASNobjectId pkcs_9_at_randomNonce("1.2.840.113549.1.9.25.3");
const ASNobjectId pkcs_9_at_sequenceNumber("1.2.840.113549.1.9.25.4");
const ASNobjectId id_countersignature("1.2.840.113549.1.9.6");
const ASNobjectId id_aa_ets_certificateRefs("1.2.840.113549.1.9.16.2.21");
const ASNobjectId id_aa_ets_revocationRefs("1.2.840.113549.1.9.16.2.22");
const ASNobjectId id_aa_ets_certValues("1.2.840.113549.1.9.16.2.23");
const ASNobjectId id_aa_ets_revocationValues("1.2.840.113549.1.9.16.2.24");
const ASNobjectId id_aa_ets_escTimeStamp("1.2.840.113549.1.9.16.2.25");
const ASNobjectId id_aa_ets_archiveTimestamp("1.2.840.113549.1.9.16.2.27");
const ASNobjectId id_aa_contentHint("1.2.840.113549.1.9.16.2.4");
const ASNobjectId oid_1_2_840_113549_1_9_10("1.2.840.113549.1.9.10");
const ASNobjectId plOrgOid1(TAL_PL_ORG_OID1);
const ASNobjectId id_ct_TSTInfo("1.2.840.113549.1.9.16.1.4");
const ASNobjectId id_aa_timeStampToken("1.2.840.113549.1.9.16.2.14");
const ASNobjectId id_aa_ets_sigPolicyId("1.2.840.113549.1.9.16.2.15");
const ASNobjectId pkcs_9_at_extensionRequest("1.2.840.113549.1.9.14");
const ASNobjectId id_aa_ets_commitmentType("1.2.840.113549.1.9.16.2.16");
const ASNobjectId id_cti_ets_proofOfOrigin("1.2.840.113549.1.9.16.6.1");
const ASNobjectId id_cti_ets_proofOfReceipt("1.2.840.113549.1.9.16.6.2");
const ASNobjectId id_cti_ets_proofOfDelivery("1.2.840.113549.1.9.16.6.3");
const ASNobjectId id_cti_ets_proofOfSender("1.2.840.113549.1.9.16.6.4");
const ASNobjectId id_cti_ets_proofOfApproval("1.2.840.113549.1.9.16.6.5");
const ASNobjectId id_cti_ets_proofOfCreation("1.2.840.113549.1.9.16.6.6");
const ASNobjectId netscape_cert_type("2.16.840.1.113730.1.1");
const ASNobjectId netscape_base_url("2.16.840.1.113730.1.2");
const ASNobjectId netscape_revocation_url("2.16.840.1.113730.1.3");
const ASNobjectId netscape_ca_revocation_url("2.16.840.1.113730.1.4");
const ASNobjectId netscape_cert_sequence("2.16.840.1.113730.2.5");
const ASNobjectId oid_2_16_840_1_113730_2_6("2.16.840.1.113730.2.6");
const ASNobjectId netscape_renewal_url("2.16.840.1.113730.1.7");
const ASNobjectId netscape_ca_policy_url("2.16.840.1.113730.1.8");
const ASNobjectId oid_2_16_840_1_113730_1_9("2.16.840.1.113730.1.9");
const ASNobjectId oid_2_16_840_1_113730_1_10("2.16.840.1.113730.1.10");
const ASNobjectId oid_2_16_840_1_113730_1_11("2.16.840.1.113730.1.11");
const ASNobjectId netscape_ssl_server_name("2.16.840.1.113730.1.12");
const ASNobjectId netscape_comment("2.16.840.1.113730.1.13");
const ASNobjectId id_kp_timeStamping("1.3.6.1.5.5.7.3.8");
const ASNobjectId id_PasswordBasedMac("1.2.840.113533.7.66.13");
const ASNobjectId hMAC_SHA1("1.3.6.1.5.5.8.1.2");
const ASNobjectId id_regCtrl_regToken("1.3.6.1.5.5.7.5.1.1");
const ASNobjectId anyPolicy("2.5.29.32.0");
const ASNobjectId id_qt_cps("1.3.6.1.5.5.7.2.1");
const ASNobjectId id_qt_unotice("1.3.6.1.5.5.7.2.2");
const ASNobjectId id_ad_ocsp("1.3.6.1.5.5.7.48.1");
const ASNobjectId id_pkix_ocsp_basic("1.3.6.1.5.5.7.48.1.1");
const ASNobjectId id_pkix_ocsp_nonce("1.3.6.1.5.5.7.48.1.2");
const ASNobjectId oid_2_0_2("2.0.2");
const ASNobjectId id_etsi_qcs_QcCompliance("0.4.0.1862.1.1");
const ASNobjectId id_etsi_qcs_QcLimitValue("0.4.0.1862.1.2");
const ASNobjectId plOrgOid2(TAL_PL_ORG_OID2);
const ASNobjectId privateOid_2_1_1_1(TAL_ENTERPRISE_ARC ".2.1.1.1");
const ASNobjectId privateOid_2_1_2(TAL_ENTERPRISE_ARC ".2.1.2");
const ASNobjectId id_kp_serverAuth("1.3.6.1.5.5.7.3.1");
const ASNobjectId id_kp_clientAuth("1.3.6.1.5.5.7.3.2");
const ASNobjectId id_kp_emailProtection("1.3.6.1.5.5.7.3.4");
const ASNobjectId id_kp_timeStamping_2("1.3.6.1.5.5.7.3.8");
const ASNobjectId szOID_KP_SMARTCARD_LOGON("1.3.6.1.4.1.311.20.2.2");
const ASNobjectId szOID_EFS_CRYPTO("1.3.6.1.4.1.311.10.3.4");
const ASNobjectId szOID_KP_CTL_USAGE_SIGNING("1.3.6.1.4.1.311.10.3.1");
const ASNobjectId szOID_NTDS_REPLICATION("1.3.6.1.4.1.311.25.1");
const ASNobjectId szOID_NT_PRINCIPAL_NAME("1.3.6.1.4.1.311.20.2.3");
const ASNobjectId privateOid_4_3(TAL_ENTERPRISE_ARC ".4.3");
const ASNobjectId privateOid_4_4(TAL_ENTERPRISE_ARC ".4.4");
const ASNobjectId privateOid_4_5(TAL_ENTERPRISE_ARC ".4.5");
const ASNobjectId privateOid_4_6(TAL_ENTERPRISE_ARC ".4.6");
const ASNobjectId privateOid_4_7(TAL_ENTERPRISE_ARC ".4.7");
const ASNobjectId id_ad_ocsp_2("1.3.6.1.5.5.7.48.1");
const ASNobjectId id_ad_caIssuers("1.3.6.1.5.5.7.48.2");
const ASNobjectId id_ad_timeStamping("1.3.6.1.5.5.7.48.3");
const ASNobjectId id_ad_caRepository("1.3.6.1.5.5.7.48.5");
const ASNobjectId oid_1_2_840_113549_3_40("1.2.840.113549.3.40");
const ASNobjectId oid_1_2_840_113549_3_41("1.2.840.113549.3.41");
const ASNobjectId rc2_ecb("1.2.840.113549.3.3");
const ASNobjectId desECB("1.3.14.3.2.6");
const ASNobjectId id_bc64_tdea("1.0.18033.3.1.1");
const ASNobjectId id_bc128_aes("1.0.18033.3.2.1");
const ASNobjectId id_bc64_tdea_2("1.0.18033.3.1.1");
const ASNobjectId id_bc64_tdea_3("1.0.18033.3.1.1");

// The DES-EEE and DES-XEEEX identifiers (the main table's last two rows), then the GOST keys.
const ASNobjectId privateOid_4_1(TAL_ENTERPRISE_ARC ".4.1");
const ASNobjectId privateOid_4_2(TAL_ENTERPRISE_ARC ".4.2");
const ASNobjectId id_GostR3410_2001("1.2.643.2.2.19");
const ASNobjectId id_GostR3410_94("1.2.643.2.2.20");

// Certificate and CRL extensions, RSA-PSS/OAEP, Diffie-Hellman, EC-DSA, named curves and
// the X9.62 field and basis types.
const ASNobjectId id_ce_subjectDirectoryAttributes("2.5.29.9");
const ASNobjectId id_ce_subjectKeyIdentifier("2.5.29.14");
const ASNobjectId id_ce_keyUsage("2.5.29.15");
const ASNobjectId id_ce_privateKeyUsagePeriod("2.5.29.16");
const ASNobjectId id_ce_subjectAltName("2.5.29.17");
const ASNobjectId id_ce_issuerAltName("2.5.29.18");
const ASNobjectId id_ce_basicConstraints("2.5.29.19");
const ASNobjectId id_ce_cRLNumber("2.5.29.20");
const ASNobjectId id_ce_cRLReasons("2.5.29.21");
const ASNobjectId id_ce_holdInstructionCode("2.5.29.23");
const ASNobjectId id_ce_invalidityDate("2.5.29.24");
const ASNobjectId id_ce_deltaCRLIndicator("2.5.29.27");
const ASNobjectId id_ce_issuingDistributionPoint("2.5.29.28");
const ASNobjectId id_ce_certificateIssuer("2.5.29.29");
const ASNobjectId id_ce_nameConstraints("2.5.29.30");
const ASNobjectId id_ce_cRLDistributionPoints("2.5.29.31");
const ASNobjectId id_ce_certificatePolicies("2.5.29.32");
const ASNobjectId id_ce_policyMappings("2.5.29.33");
const ASNobjectId id_ce_authorityKeyIdentifier("2.5.29.35");
const ASNobjectId id_ce_policyConstraints("2.5.29.36");
const ASNobjectId id_ce_extKeyUsage("2.5.29.37");
const ASNobjectId id_ce_cRLStreamIdentifier("2.5.29.40");
const ASNobjectId id_ce_cRLScope("2.5.29.44");
const ASNobjectId id_ce_statusReferrals("2.5.29.45");
const ASNobjectId id_ce_freshestCRL("2.5.29.46");
const ASNobjectId id_ce_orderedList("2.5.29.47");
const ASNobjectId id_ce_baseUpdateTime("2.5.29.51");
const ASNobjectId id_ce_deltaInfo("2.5.29.53");
const ASNobjectId id_ce_inhibitAnyPolicy("2.5.29.54");
const ASNobjectId id_pe_qcStatements("1.3.6.1.5.5.7.1.3");
const ASNobjectId szOID_ENROLL_CERTTYPE_EXTENSION("1.3.6.1.4.1.311.20.2");
const ASNobjectId id_pe_authorityInfoAccess("1.3.6.1.5.5.7.1.1");
const ASNobjectId id_pe_subjectInfoAccess("1.3.6.1.5.5.7.1.11");
const ASNobjectId rfc822Mailbox("0.9.2342.19200300.100.1.3");
const ASNobjectId userid("0.9.2342.19200300.100.1.1");
const ASNobjectId id_at_dnQualifier("2.5.4.46");
const ASNobjectId id_RSASSA_PSS("1.2.840.113549.1.1.10");
const ASNobjectId id_RSAES_OAEP("1.2.840.113549.1.1.7");
const ASNobjectId id_mgf1("1.2.840.113549.1.1.8");
const ASNobjectId id_pSpecified("1.2.840.113549.1.1.9");
const ASNobjectId dhKeyAgreement("1.2.840.113549.1.3.1");
const ASNobjectId dhpublicnumber("1.2.840.10046.2.1");
const ASNobjectId id_ecSigType("1.2.840.10045.4");
const ASNobjectId ecdsa_with_SHA1("1.2.840.10045.4.1");
const ASNobjectId ecdsa_with_Recommended("1.2.840.10045.4.2");
const ASNobjectId ecdsa_with_SHA2("1.2.840.10045.4.3");
const ASNobjectId ecdsa_with_SHA224("1.2.840.10045.4.3.1");
const ASNobjectId ecdsa_with_SHA256("1.2.840.10045.4.3.2");
const ASNobjectId ecdsa_with_SHA384("1.2.840.10045.4.3.3");
const ASNobjectId ecdsa_with_SHA512("1.2.840.10045.4.3.4");
const ASNobjectId ellipticCurve("1.3.132.0");
const ASNobjectId primeCurve("1.2.840.10045.3.1");
const ASNobjectId secp112r1("1.3.132.0.6");
const ASNobjectId secp112r2("1.3.132.0.7");
const ASNobjectId secp128r1("1.3.132.0.28");
const ASNobjectId secp128r2("1.3.132.0.29");
const ASNobjectId secp160k1("1.3.132.0.9");
const ASNobjectId secp160r1("1.3.132.0.8");
const ASNobjectId secp160r2("1.3.132.0.30");
const ASNobjectId secp192k1("1.3.132.0.31");
const ASNobjectId prime192v1("1.2.840.10045.3.1.1");
const ASNobjectId secp224k1("1.3.132.0.32");
const ASNobjectId secp224r1("1.3.132.0.33");
const ASNobjectId secp256k1("1.3.132.0.10");
const ASNobjectId prime256v1("1.2.840.10045.3.1.7");
const ASNobjectId secp384r1("1.3.132.0.34");
const ASNobjectId secp521r1("1.3.132.0.35");
const ASNobjectId sect113r1("1.3.132.0.4");
const ASNobjectId sect113r2("1.3.132.0.5");
const ASNobjectId sect131r1("1.3.132.0.22");
const ASNobjectId sect131r2("1.3.132.0.23");
const ASNobjectId sect163k1("1.3.132.0.1");
const ASNobjectId sect163r1("1.3.132.0.2");
const ASNobjectId sect163r2("1.3.132.0.15");
const ASNobjectId sect193r1("1.3.132.0.24");
const ASNobjectId sect193r2("1.3.132.0.25");
const ASNobjectId sect233k1("1.3.132.0.26");
const ASNobjectId sect233r1("1.3.132.0.27");
const ASNobjectId sect239k1("1.3.132.0.3");
const ASNobjectId sect283k1("1.3.132.0.16");
const ASNobjectId sect283r1("1.3.132.0.17");
const ASNobjectId sect409k1("1.3.132.0.36");
const ASNobjectId sect409r1("1.3.132.0.37");
const ASNobjectId sect571k1("1.3.132.0.38");
const ASNobjectId sect571r1("1.3.132.0.39");
const ASNobjectId brainpoolP160r1("1.3.36.3.3.2.8.1.1.1");
const ASNobjectId brainpoolP160t1("1.3.36.3.3.2.8.1.1.2");
const ASNobjectId brainpoolP192r1("1.3.36.3.3.2.8.1.1.3");
const ASNobjectId brainpoolP192t1("1.3.36.3.3.2.8.1.1.4");
const ASNobjectId brainpoolP224r1("1.3.36.3.3.2.8.1.1.5");
const ASNobjectId brainpoolP224t1("1.3.36.3.3.2.8.1.1.6");
const ASNobjectId brainpoolP256r1("1.3.36.3.3.2.8.1.1.7");
const ASNobjectId brainpoolP256t1("1.3.36.3.3.2.8.1.1.8");
const ASNobjectId brainpoolP320r1("1.3.36.3.3.2.8.1.1.9");
const ASNobjectId brainpoolP320t1("1.3.36.3.3.2.8.1.1.10");
const ASNobjectId brainpoolP384r1("1.3.36.3.3.2.8.1.1.11");
const ASNobjectId brainpoolP384t1("1.3.36.3.3.2.8.1.1.12");
const ASNobjectId brainpoolP512r1("1.3.36.3.3.2.8.1.1.13");
const ASNobjectId brainpoolP512t1("1.3.36.3.3.2.8.1.1.14");
const ASNobjectId c2pnb163v1("1.2.840.10045.3.0.1");
const ASNobjectId c2pnb163v2("1.2.840.10045.3.0.2");
const ASNobjectId c2pnb163v3("1.2.840.10045.3.0.3");
const ASNobjectId c2pnb176w1("1.2.840.10045.3.0.4");
const ASNobjectId c2tnb191v1("1.2.840.10045.3.0.5");
const ASNobjectId c2tnb191v2("1.2.840.10045.3.0.6");
const ASNobjectId c2tnb191v3("1.2.840.10045.3.0.7");
const ASNobjectId c2onb191v4("1.2.840.10045.3.0.8");
const ASNobjectId c2onb191v5("1.2.840.10045.3.0.9");
const ASNobjectId c2pnb208w1("1.2.840.10045.3.0.10");
const ASNobjectId c2tnb239v1("1.2.840.10045.3.0.11");
const ASNobjectId c2tnb239v2("1.2.840.10045.3.0.12");
const ASNobjectId c2tnb239v3("1.2.840.10045.3.0.13");
const ASNobjectId c2onb239v4("1.2.840.10045.3.0.14");
const ASNobjectId c2onb239v5("1.2.840.10045.3.0.15");
const ASNobjectId c2pnb272w1("1.2.840.10045.3.0.16");
const ASNobjectId c2pnb304w1("1.2.840.10045.3.0.17");
const ASNobjectId c2tnb359v1("1.2.840.10045.3.0.18");
const ASNobjectId c2pnb368w1("1.2.840.10045.3.0.19");
const ASNobjectId c2tnb431r1("1.2.840.10045.3.0.20");
const ASNobjectId prime192v2("1.2.840.10045.3.1.2");
const ASNobjectId prime192v3("1.2.840.10045.3.1.3");
const ASNobjectId prime239v1("1.2.840.10045.3.1.4");
const ASNobjectId prime239v2("1.2.840.10045.3.1.5");
const ASNobjectId prime239v3("1.2.840.10045.3.1.6");
const ASNobjectId wap_wsg_idm_ecid_wtls1("2.23.43.1.4.1");
const ASNobjectId wap_wsg_idm_ecid_wtls3("2.23.43.1.4.3");
const ASNobjectId wap_wsg_idm_ecid_wtls4("2.23.43.1.4.4");
const ASNobjectId wap_wsg_idm_ecid_wtls5("2.23.43.1.4.5");
const ASNobjectId wap_wsg_idm_ecid_wtls10("2.23.43.1.4.10");
const ASNobjectId wap_wsg_idm_ecid_wtls11("2.23.43.1.4.11");
const ASNobjectId wap_wsg_idm_ecid_wtls6("2.23.43.1.4.6");
const ASNobjectId wap_wsg_idm_ecid_wtls7("2.23.43.1.4.7");
const ASNobjectId wap_wsg_idm_ecid_wtls8("2.23.43.1.4.8");
const ASNobjectId wap_wsg_idm_ecid_wtls9("2.23.43.1.4.9");
const ASNobjectId wap_wsg_idm_ecid_wtls12("2.23.43.1.4.12");
const ASNobjectId prime_field("1.2.840.10045.1.1");
const ASNobjectId characteristic_two_field("1.2.840.10045.1.2");
const ASNobjectId gnBasis("1.2.840.10045.1.2.3.1");
const ASNobjectId tpBasis("1.2.840.10045.1.2.3.2");
const ASNobjectId ppBasis("1.2.840.10045.1.2.3.3");
const ASNobjectId id_ecPublicKey("1.2.840.10045.2.1");
const ASNobjectId oid_1_2_840_10045_2_2("1.2.840.10045.2.2");
const ASNobjectId oid_1_3_132_1_0("1.3.132.1.0");
const ASNobjectId id_ecDH("1.3.132.1.12");
const ASNobjectId id_ecMQV("1.3.132.1.13");
const ASNobjectId id_keyExchangeAlgorithm("2.16.840.1.101.2.1.1.22");

namespace {

const OidRegistryEntry kRegistry[] = {
    {"privateOid-2-5-1", &privateOid_2_5_1, false},
    {"privateOid-2-5-2", &privateOid_2_5_2, false},
    {"privateOid-2-5-3", &privateOid_2_5_3, false},
    {"privateOid-2-5-4", &privateOid_2_5_4, false},
    {"privateOid-2-5-5", &privateOid_2_5_5, false},
    {"privateOid-2-5-6", &privateOid_2_5_6, false},
    {"privateOid-2-5-7", &privateOid_2_5_7, false},
    {"privateOid-2-5-8", &privateOid_2_5_8, false},
    {"privateOid-2-5-9", &privateOid_2_5_9, false},
    {"privateOid-2-5-10", &privateOid_2_5_10, false},
    {"privateOid-2-5-11", &privateOid_2_5_11, false},
    {"privateOid-2-5-12", &privateOid_2_5_12, false},
    {"privateOid-2-5-13", &privateOid_2_5_13, false},
    {"privateOid-2-5-14", &privateOid_2_5_14, false},
    {"privateOid-2-5-15", &privateOid_2_5_15, false},
    {"privateOid-2-5-16", &privateOid_2_5_16, false},
    {"privateOid-2-5-17", &privateOid_2_5_17, false},
    {"privateOid-2-5-18", &privateOid_2_5_18, false},
    {"privateOid-2-5-19", &privateOid_2_5_19, false},
    {"privateOid-2-5-20", &privateOid_2_5_20, false},
    {"privateOid-2-5-21", &privateOid_2_5_21, false},
    {"privateOid-2-5-22", &privateOid_2_5_22, false},
    {"privateOid-2-5-23", &privateOid_2_5_23, false},
    {"privateOid-2-5-24", &privateOid_2_5_24, false},
    {"privateOid-2-5-25", &privateOid_2_5_25, false},
    {"privateOid-2-5-26", &privateOid_2_5_26, false},
    {"privateOid-2-5-27", &privateOid_2_5_27, false},
    {"privateOid-2-5-28", &privateOid_2_5_28, false},
    {"privateOid-2-5-29", &privateOid_2_5_29, false},
    {"privateOid-2-5-30", &privateOid_2_5_30, false},
    {"privateOid-2-5-31", &privateOid_2_5_31, false},
    {"privateOid-2-5-32", &privateOid_2_5_32, false},
    {"privateOid-2-5-33", &privateOid_2_5_33, false},
    {"privateOid-2-5-35", &privateOid_2_5_35, false},
    {"privateOid-2-5-36", &privateOid_2_5_36, false},
    {"privateOid-2-5-37", &privateOid_2_5_37, false},
    {"privateOid-2-5-38", &privateOid_2_5_38, false},
    {"privateOid-2-5-39", &privateOid_2_5_39, false},
    {"privateOid-2-5-40", &privateOid_2_5_40, false},
    {"privateOid-2-5-41", &privateOid_2_5_41, false},
    {"privateOid-2-5-42", &privateOid_2_5_42, false},
    {"privateOid-2-6-1", &privateOid_2_6_1, false},
    {"privateOid-2-6-2", &privateOid_2_6_2, false},
    {"privateOid-2-6-3", &privateOid_2_6_3, false},
    {"id-holdinstruction-none", &id_holdinstruction_none, true},
    {"id-holdinstruction-callissuer", &id_holdinstruction_callissuer, true},
    {"id-holdinstruction-reject", &id_holdinstruction_reject, true},
    {"id-kp-OCSPSigning", &id_kp_OCSPSigning, true},
    {"id-at-postalCode", &id_at_postalCode, true},
    {"id-aa-signingCertificateV2", &id_aa_signingCertificateV2, true},
    {"id-aa-ets-archiveTimestampV2", &id_aa_ets_archiveTimestampV2, true},
    {"id-etsi-qcs-QcRetentionPeriod", &id_etsi_qcs_QcRetentionPeriod, true},
    {"id-etsi-qcs-QcSSCD", &id_etsi_qcs_QcSSCD, true},
    {"id-etsi-qcs", &id_etsi_qcs, true},
    {"id-spq-ets-uri", &id_spq_ets_uri, true},
    {"id-spq-ets-unotice", &id_spq_ets_unotice, true},
    {"id-qcs-pkixQCSyntax-v1", &id_qcs_pkixQCSyntax_v1, true},
    {"id-qcs-pkixQCSyntax-v2", &id_qcs_pkixQCSyntax_v2, true},
    {"oid-0-4-0-194122-1", &oid_0_4_0_194122_1, false},
    {"id-md2", &id_md2, true},
    {"id-md5", &id_md5, true},
    {"id-sha1", &id_sha1, true},
    {"id-sha224", &id_sha224, true},
    {"id-sha256", &id_sha256, true},
    {"id-sha384", &id_sha384, true},
    {"id-sha512", &id_sha512, true},
    {"id-ripemd160", &id_ripemd160, true},
    {"id-ea-rsa", &id_ea_rsa, true},
    {"rsaEncryption", &rsaEncryption, true},
    {"md2WithRSAEncryption", &md2WithRSAEncryption, true},
    {"md5WithRSAEncryption", &md5WithRSAEncryption, true},
    {"sha1WithRSASignature", &sha1WithRSASignature, true},
    {"sha1WithRSAEncryption", &sha1WithRSAEncryption, true},
    {"sha224WithRSAEncryption", &sha224WithRSAEncryption, true},
    {"sha256WithRSAEncryption", &sha256WithRSAEncryption, true},
    {"sha384WithRSAEncryption", &sha384WithRSAEncryption, true},
    {"sha512WithRSAEncryption", &sha512WithRSAEncryption, true},
    {"rsaOAEPEncryptionSET", &rsaOAEPEncryptionSET, true},
    {"rc2-cbc", &rc2_cbc, true},
    {"desCBC", &desCBC, true},
    {"des-ede3-cbc", &des_ede3_cbc, true},
    {"desx-cbc", &desx_cbc, true},
    {"id-aes128-CBC", &id_aes128_CBC, true},
    {"id-aes192-CBC", &id_aes192_CBC, true},
    {"id-aes256-CBC", &id_aes256_CBC, true},
    {"id-dsa", &id_dsa, true},
    {"id-dsa-with-sha1", &id_dsa_with_sha1, true},
    {"oid-1-3-36-8-5-1-2-2", &oid_1_3_36_8_5_1_2_2, false},
    {"IDEA-CBC", &IDEA_CBC, true},
    {"id-at-serialNumber", &id_at_serialNumber, true},
    {"id-at-countryName", &id_at_countryName, true},
    {"id-at-localityName", &id_at_localityName, true},
    {"id-at-stateOrProvinceName", &id_at_stateOrProvinceName, true},
    {"id-at-streetAddress", &id_at_streetAddress, true},
    {"id-at-organizationName", &id_at_organizationName, true},
    {"id-at-organizationalUnitName", &id_at_organizationalUnitName, true},
    {"id-at-title", &id_at_title, true},
    {"id-at-description", &id_at_description, true},
    {"id-at-postalAddress", &id_at_postalAddress, true},
    {"id-at-telephoneNumber", &id_at_telephoneNumber, true},
    {"id-at-internationalISDNNumber", &id_at_internationalISDNNumber, true},
    {"pkcs-9-at-emailAddress", &pkcs_9_at_emailAddress, true},
    {"id-at-commonName", &id_at_commonName, true},
    {"id-at-surname", &id_at_surname, true},
    {"id-at-givenName", &id_at_givenName, true},
    {"id-at-uniqueIdentifier", &id_at_uniqueIdentifier, true},
    {"id-at-pseudonym", &id_at_pseudonym, true},
    {"domainComponent", &domainComponent, true},
    {"pkcs-9-at-unstructuredName", &pkcs_9_at_unstructuredName, true},
    {"pkcs-9-at-unstructuredAddress", &pkcs_9_at_unstructuredAddress, true},
    {"pkcs-9-at-challengePassword", &pkcs_9_at_challengePassword, true},
    {"id-data", &id_data, true},
    {"id-signedData", &id_signedData, true},
    {"id-envelopedData", &id_envelopedData, true},
    {"id-signedAndEnvelopedData", &id_signedAndEnvelopedData, true},
    {"id-digestedData", &id_digestedData, true},
    {"id-encryptedData", &id_encryptedData, true},
    {"keyBag", &keyBag, true},
    {"certBag", &certBag, true},
    {"pkcs8ShroudedKeyBag", &pkcs8ShroudedKeyBag, true},
    {"secretBag", &secretBag, true},
    {"pbeWithSHAAnd3-KeyTripleDES-CBC", &pbeWithSHAAnd3_KeyTripleDES_CBC, true},
    {"pbeWithSHAAnd40BitRC2-CBC", &pbeWithSHAAnd40BitRC2_CBC, true},
    {"x509Certificate", &x509Certificate, true},
    {"pkcs-9-at-friendlyName", &pkcs_9_at_friendlyName, true},
    {"pkcs-9-at-localKeyId", &pkcs_9_at_localKeyId, true},
    {"pkcs8ShroudedKeyBag-2", &pkcs8ShroudedKeyBag_2, true},
    {"rsaEncryption-2", &rsaEncryption_2, true},
    {"id-messageDigest", &id_messageDigest, true},
    {"id-aa-signingCertificate", &id_aa_signingCertificate, true},
    {"id-contentType", &id_contentType, true},
    {"id-signingTime", &id_signingTime, true},
    {"pkcs-9-at-randomNonce", &pkcs_9_at_randomNonce, true},
    {"pkcs-9-at-sequenceNumber", &pkcs_9_at_sequenceNumber, true},
    {"id-countersignature", &id_countersignature, true},
    {"id-aa-ets-certificateRefs", &id_aa_ets_certificateRefs, true},
    {"id-aa-ets-revocationRefs", &id_aa_ets_revocationRefs, true},
    {"id-aa-ets-certValues", &id_aa_ets_certValues, true},
    {"id-aa-ets-revocationValues", &id_aa_ets_revocationValues, true},
    {"id-aa-ets-escTimeStamp", &id_aa_ets_escTimeStamp, true},
    {"id-aa-ets-archiveTimestamp", &id_aa_ets_archiveTimestamp, true},
    {"id-aa-contentHint", &id_aa_contentHint, true},
    {"oid-1-2-840-113549-1-9-10", &oid_1_2_840_113549_1_9_10, false},
    {"plOrgOid1", &plOrgOid1, false},
    {"id-ct-TSTInfo", &id_ct_TSTInfo, true},
    {"id-aa-timeStampToken", &id_aa_timeStampToken, true},
    {"id-aa-ets-sigPolicyId", &id_aa_ets_sigPolicyId, true},
    {"pkcs-9-at-extensionRequest", &pkcs_9_at_extensionRequest, true},
    {"id-aa-ets-commitmentType", &id_aa_ets_commitmentType, true},
    {"id-cti-ets-proofOfOrigin", &id_cti_ets_proofOfOrigin, true},
    {"id-cti-ets-proofOfReceipt", &id_cti_ets_proofOfReceipt, true},
    {"id-cti-ets-proofOfDelivery", &id_cti_ets_proofOfDelivery, true},
    {"id-cti-ets-proofOfSender", &id_cti_ets_proofOfSender, true},
    {"id-cti-ets-proofOfApproval", &id_cti_ets_proofOfApproval, true},
    {"id-cti-ets-proofOfCreation", &id_cti_ets_proofOfCreation, true},
    {"netscape-cert-type", &netscape_cert_type, true},
    {"netscape-base-url", &netscape_base_url, true},
    {"netscape-revocation-url", &netscape_revocation_url, true},
    {"netscape-ca-revocation-url", &netscape_ca_revocation_url, true},
    {"netscape-cert-sequence", &netscape_cert_sequence, true},
    {"oid-2-16-840-1-113730-2-6", &oid_2_16_840_1_113730_2_6, false},
    {"netscape-renewal-url", &netscape_renewal_url, true},
    {"netscape-ca-policy-url", &netscape_ca_policy_url, true},
    {"oid-2-16-840-1-113730-1-9", &oid_2_16_840_1_113730_1_9, false},
    {"oid-2-16-840-1-113730-1-10", &oid_2_16_840_1_113730_1_10, false},
    {"oid-2-16-840-1-113730-1-11", &oid_2_16_840_1_113730_1_11, false},
    {"netscape-ssl-server-name", &netscape_ssl_server_name, true},
    {"netscape-comment", &netscape_comment, true},
    {"id-kp-timeStamping", &id_kp_timeStamping, true},
    {"id-PasswordBasedMac", &id_PasswordBasedMac, true},
    {"hMAC-SHA1", &hMAC_SHA1, true},
    {"id-regCtrl-regToken", &id_regCtrl_regToken, true},
    {"anyPolicy", &anyPolicy, true},
    {"id-qt-cps", &id_qt_cps, true},
    {"id-qt-unotice", &id_qt_unotice, true},
    {"id-ad-ocsp", &id_ad_ocsp, true},
    {"id-pkix-ocsp-basic", &id_pkix_ocsp_basic, true},
    {"id-pkix-ocsp-nonce", &id_pkix_ocsp_nonce, true},
    {"oid-2-0-2", &oid_2_0_2, false},
    {"id-etsi-qcs-QcCompliance", &id_etsi_qcs_QcCompliance, true},
    {"id-etsi-qcs-QcLimitValue", &id_etsi_qcs_QcLimitValue, true},
    {"plOrgOid2", &plOrgOid2, false},
    {"privateOid-2-1-1-1", &privateOid_2_1_1_1, false},
    {"privateOid-2-1-2", &privateOid_2_1_2, false},
    {"id-kp-serverAuth", &id_kp_serverAuth, true},
    {"id-kp-clientAuth", &id_kp_clientAuth, true},
    {"id-kp-emailProtection", &id_kp_emailProtection, true},
    {"id-kp-timeStamping-2", &id_kp_timeStamping_2, true},
    {"szOID_KP_SMARTCARD_LOGON", &szOID_KP_SMARTCARD_LOGON, true},
    {"szOID_EFS_CRYPTO", &szOID_EFS_CRYPTO, true},
    {"szOID_KP_CTL_USAGE_SIGNING", &szOID_KP_CTL_USAGE_SIGNING, true},
    {"szOID_NTDS_REPLICATION", &szOID_NTDS_REPLICATION, true},
    {"szOID_NT_PRINCIPAL_NAME", &szOID_NT_PRINCIPAL_NAME, true},
    {"privateOid-4-3", &privateOid_4_3, false},
    {"privateOid-4-4", &privateOid_4_4, false},
    {"privateOid-4-5", &privateOid_4_5, false},
    {"privateOid-4-6", &privateOid_4_6, false},
    {"privateOid-4-7", &privateOid_4_7, false},
    {"id-ad-ocsp-2", &id_ad_ocsp_2, true},
    {"id-ad-caIssuers", &id_ad_caIssuers, true},
    {"id-ad-timeStamping", &id_ad_timeStamping, true},
    {"id-ad-caRepository", &id_ad_caRepository, true},
    {"oid-1-2-840-113549-3-40", &oid_1_2_840_113549_3_40, false},
    {"oid-1-2-840-113549-3-41", &oid_1_2_840_113549_3_41, false},
    {"rc2-ecb", &rc2_ecb, true},
    {"desECB", &desECB, true},
    {"id-bc64-tdea", &id_bc64_tdea, true},
    {"id-bc128-aes", &id_bc128_aes, true},
    {"id-bc64-tdea-2", &id_bc64_tdea_2, true},
    {"id-bc64-tdea-3", &id_bc64_tdea_3, true},
    {"privateOid-4-1", &privateOid_4_1, false},
    {"privateOid-4-2", &privateOid_4_2, false},
    {"id-GostR3410-2001", &id_GostR3410_2001, true},
    {"id-GostR3410-94", &id_GostR3410_94, true},
    {"id-ce-subjectDirectoryAttributes", &id_ce_subjectDirectoryAttributes, true},
    {"id-ce-subjectKeyIdentifier", &id_ce_subjectKeyIdentifier, true},
    {"id-ce-keyUsage", &id_ce_keyUsage, true},
    {"id-ce-privateKeyUsagePeriod", &id_ce_privateKeyUsagePeriod, true},
    {"id-ce-subjectAltName", &id_ce_subjectAltName, true},
    {"id-ce-issuerAltName", &id_ce_issuerAltName, true},
    {"id-ce-basicConstraints", &id_ce_basicConstraints, true},
    {"id-ce-cRLNumber", &id_ce_cRLNumber, true},
    {"id-ce-cRLReasons", &id_ce_cRLReasons, true},
    {"id-ce-holdInstructionCode", &id_ce_holdInstructionCode, true},
    {"id-ce-invalidityDate", &id_ce_invalidityDate, true},
    {"id-ce-deltaCRLIndicator", &id_ce_deltaCRLIndicator, true},
    {"id-ce-issuingDistributionPoint", &id_ce_issuingDistributionPoint, true},
    {"id-ce-certificateIssuer", &id_ce_certificateIssuer, true},
    {"id-ce-nameConstraints", &id_ce_nameConstraints, true},
    {"id-ce-cRLDistributionPoints", &id_ce_cRLDistributionPoints, true},
    {"id-ce-certificatePolicies", &id_ce_certificatePolicies, true},
    {"id-ce-policyMappings", &id_ce_policyMappings, true},
    {"id-ce-authorityKeyIdentifier", &id_ce_authorityKeyIdentifier, true},
    {"id-ce-policyConstraints", &id_ce_policyConstraints, true},
    {"id-ce-extKeyUsage", &id_ce_extKeyUsage, true},
    {"id-ce-cRLStreamIdentifier", &id_ce_cRLStreamIdentifier, true},
    {"id-ce-cRLScope", &id_ce_cRLScope, true},
    {"id-ce-statusReferrals", &id_ce_statusReferrals, true},
    {"id-ce-freshestCRL", &id_ce_freshestCRL, true},
    {"id-ce-orderedList", &id_ce_orderedList, true},
    {"id-ce-baseUpdateTime", &id_ce_baseUpdateTime, true},
    {"id-ce-deltaInfo", &id_ce_deltaInfo, true},
    {"id-ce-inhibitAnyPolicy", &id_ce_inhibitAnyPolicy, true},
    {"id-pe-qcStatements", &id_pe_qcStatements, true},
    {"szOID_ENROLL_CERTTYPE_EXTENSION", &szOID_ENROLL_CERTTYPE_EXTENSION, true},
    {"id-pe-authorityInfoAccess", &id_pe_authorityInfoAccess, true},
    {"id-pe-subjectInfoAccess", &id_pe_subjectInfoAccess, true},
    {"rfc822Mailbox", &rfc822Mailbox, true},
    {"userid", &userid, true},
    {"id-at-dnQualifier", &id_at_dnQualifier, true},
    {"id-RSASSA-PSS", &id_RSASSA_PSS, true},
    {"id-RSAES-OAEP", &id_RSAES_OAEP, true},
    {"id-mgf1", &id_mgf1, true},
    {"id-pSpecified", &id_pSpecified, true},
    {"dhKeyAgreement", &dhKeyAgreement, true},
    {"dhpublicnumber", &dhpublicnumber, true},
    {"id-ecSigType", &id_ecSigType, true},
    {"ecdsa-with-SHA1", &ecdsa_with_SHA1, true},
    {"ecdsa-with-Recommended", &ecdsa_with_Recommended, true},
    {"ecdsa-with-SHA2", &ecdsa_with_SHA2, true},
    {"ecdsa-with-SHA224", &ecdsa_with_SHA224, true},
    {"ecdsa-with-SHA256", &ecdsa_with_SHA256, true},
    {"ecdsa-with-SHA384", &ecdsa_with_SHA384, true},
    {"ecdsa-with-SHA512", &ecdsa_with_SHA512, true},
    {"ellipticCurve", &ellipticCurve, true},
    {"primeCurve", &primeCurve, true},
    {"secp112r1", &secp112r1, true},
    {"secp112r2", &secp112r2, true},
    {"secp128r1", &secp128r1, true},
    {"secp128r2", &secp128r2, true},
    {"secp160k1", &secp160k1, true},
    {"secp160r1", &secp160r1, true},
    {"secp160r2", &secp160r2, true},
    {"secp192k1", &secp192k1, true},
    {"prime192v1", &prime192v1, true},
    {"secp224k1", &secp224k1, true},
    {"secp224r1", &secp224r1, true},
    {"secp256k1", &secp256k1, true},
    {"prime256v1", &prime256v1, true},
    {"secp384r1", &secp384r1, true},
    {"secp521r1", &secp521r1, true},
    {"sect113r1", &sect113r1, true},
    {"sect113r2", &sect113r2, true},
    {"sect131r1", &sect131r1, true},
    {"sect131r2", &sect131r2, true},
    {"sect163k1", &sect163k1, true},
    {"sect163r1", &sect163r1, true},
    {"sect163r2", &sect163r2, true},
    {"sect193r1", &sect193r1, true},
    {"sect193r2", &sect193r2, true},
    {"sect233k1", &sect233k1, true},
    {"sect233r1", &sect233r1, true},
    {"sect239k1", &sect239k1, true},
    {"sect283k1", &sect283k1, true},
    {"sect283r1", &sect283r1, true},
    {"sect409k1", &sect409k1, true},
    {"sect409r1", &sect409r1, true},
    {"sect571k1", &sect571k1, true},
    {"sect571r1", &sect571r1, true},
    {"brainpoolP160r1", &brainpoolP160r1, true},
    {"brainpoolP160t1", &brainpoolP160t1, true},
    {"brainpoolP192r1", &brainpoolP192r1, true},
    {"brainpoolP192t1", &brainpoolP192t1, true},
    {"brainpoolP224r1", &brainpoolP224r1, true},
    {"brainpoolP224t1", &brainpoolP224t1, true},
    {"brainpoolP256r1", &brainpoolP256r1, true},
    {"brainpoolP256t1", &brainpoolP256t1, true},
    {"brainpoolP320r1", &brainpoolP320r1, true},
    {"brainpoolP320t1", &brainpoolP320t1, true},
    {"brainpoolP384r1", &brainpoolP384r1, true},
    {"brainpoolP384t1", &brainpoolP384t1, true},
    {"brainpoolP512r1", &brainpoolP512r1, true},
    {"brainpoolP512t1", &brainpoolP512t1, true},
    {"c2pnb163v1", &c2pnb163v1, true},
    {"c2pnb163v2", &c2pnb163v2, true},
    {"c2pnb163v3", &c2pnb163v3, true},
    {"c2pnb176w1", &c2pnb176w1, true},
    {"c2tnb191v1", &c2tnb191v1, true},
    {"c2tnb191v2", &c2tnb191v2, true},
    {"c2tnb191v3", &c2tnb191v3, true},
    {"c2onb191v4", &c2onb191v4, true},
    {"c2onb191v5", &c2onb191v5, true},
    {"c2pnb208w1", &c2pnb208w1, true},
    {"c2tnb239v1", &c2tnb239v1, true},
    {"c2tnb239v2", &c2tnb239v2, true},
    {"c2tnb239v3", &c2tnb239v3, true},
    {"c2onb239v4", &c2onb239v4, true},
    {"c2onb239v5", &c2onb239v5, true},
    {"c2pnb272w1", &c2pnb272w1, true},
    {"c2pnb304w1", &c2pnb304w1, true},
    {"c2tnb359v1", &c2tnb359v1, true},
    {"c2pnb368w1", &c2pnb368w1, true},
    {"c2tnb431r1", &c2tnb431r1, true},
    {"prime192v2", &prime192v2, true},
    {"prime192v3", &prime192v3, true},
    {"prime239v1", &prime239v1, true},
    {"prime239v2", &prime239v2, true},
    {"prime239v3", &prime239v3, true},
    {"wap-wsg-idm-ecid-wtls1", &wap_wsg_idm_ecid_wtls1, true},
    {"wap-wsg-idm-ecid-wtls3", &wap_wsg_idm_ecid_wtls3, true},
    {"wap-wsg-idm-ecid-wtls4", &wap_wsg_idm_ecid_wtls4, true},
    {"wap-wsg-idm-ecid-wtls5", &wap_wsg_idm_ecid_wtls5, true},
    {"wap-wsg-idm-ecid-wtls10", &wap_wsg_idm_ecid_wtls10, true},
    {"wap-wsg-idm-ecid-wtls11", &wap_wsg_idm_ecid_wtls11, true},
    {"wap-wsg-idm-ecid-wtls6", &wap_wsg_idm_ecid_wtls6, true},
    {"wap-wsg-idm-ecid-wtls7", &wap_wsg_idm_ecid_wtls7, true},
    {"wap-wsg-idm-ecid-wtls8", &wap_wsg_idm_ecid_wtls8, true},
    {"wap-wsg-idm-ecid-wtls9", &wap_wsg_idm_ecid_wtls9, true},
    {"wap-wsg-idm-ecid-wtls12", &wap_wsg_idm_ecid_wtls12, true},
    {"prime-field", &prime_field, true},
    {"characteristic-two-field", &characteristic_two_field, true},
    {"gnBasis", &gnBasis, true},
    {"tpBasis", &tpBasis, true},
    {"ppBasis", &ppBasis, true},
    {"id-ecPublicKey", &id_ecPublicKey, true},
    {"oid-1-2-840-10045-2-2", &oid_1_2_840_10045_2_2, false},
    {"oid-1-3-132-1-0", &oid_1_3_132_1_0, false},
    {"id-ecDH", &id_ecDH, true},
    {"id-ecMQV", &id_ecMQV, true},
    {"id-keyExchangeAlgorithm", &id_keyExchangeAlgorithm, true},
};

bool lessDer(const ASNobjectId* a, const ASNobjectId* b) {
  int n = std::min(a->length, b->length);
  int r = n > 0 ? std::memcmp(a->data(), b->data(), static_cast<size_t>(n)) : 0;
  return r != 0 ? r < 0 : a->length < b->length;
}

// Rows with a standard name, ordered by DER content; among equal values the
// first in registry order comes first. Built on first use, after start-up.
const std::vector<const OidRegistryEntry*>& namedIndex() {
  static const std::vector<const OidRegistryEntry*> index = [] {
    std::vector<const OidRegistryEntry*> v;
    for (const OidRegistryEntry& e : kRegistry)
      if (e.standard) v.push_back(&e);
    std::stable_sort(v.begin(), v.end(), [](const OidRegistryEntry* a, const OidRegistryEntry* b) {
      return lessDer(a->oid, b->oid);
    });
    return v;
  }();
  return index;
}

}  // namespace

const OidRegistryEntry* oidRegistry(size_t* count) {
  if (count) *count = sizeof(kRegistry) / sizeof(kRegistry[0]);
  return kRegistry;
}

const char* oidName(const ASNobjectId& oid) {
  // Called from another unit's start-up before this unit's constants exist
  // (the last one defined is still empty), nothing can match: answer
  // without building, and so without caching, the index.
  if (oid.length <= 0 || id_keyExchangeAlgorithm.length <= 0) return nullptr;
  const auto& index = namedIndex();
  auto it = std::lower_bound(
      index.begin(), index.end(), &oid,
      [](const OidRegistryEntry* e, const ASNobjectId* o) { return lessDer(e->oid, o); });
  if (it != index.end() && *(*it)->oid == oid) return (*it)->name;
  return nullptr;
}

bool oidToText(const ASNobjectId& oid, std::string& out) {
  out.clear();
  if (const char* name = oidName(oid)) {
    out = name;
    return true;
  }
  return oid.toString(out);
}
