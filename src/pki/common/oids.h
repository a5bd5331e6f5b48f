// The registry of OBJECT IDENTIFIER constants that the PKI structures compare
// against and write. Each constant is named after the standard ASN.1 value
// name of its OID with every '-' replaced by '_'; an OID without such a name
// is named oid_ followed by its arcs, one under the maker's enterprise arc
// privateOid_ followed by its sub-arcs (the arcs themselves are build
// constants, src/platform/buildconst.h). Some values occur under two or three
// names (rsaEncryption_2, pkcs8ShroudedKeyBag_2, id_kp_timeStamping_2,
// id_ad_ocsp_2, id_bc64_tdea_2/_3); they compare equal.
//
// Start-up order: the constants are built by dynamic initialisation of this
// translation unit. A static object in ANOTHER translation unit that is built
// from them (a table of attribute OIDs, a default algorithm) must not be a
// namespace-scope object: the order between translation units is unspecified
// and it could copy a constant not built yet. Build such tables as
// function-local statics (constructed on first use), as the DN attribute
// table does. Once built the constants are read-only and shared by threads.
#pragma once

#include "asn1/asnobjid.h"

#include <cstddef>
#include <string>

// Configuration-file attribute ids, PKCS#12 private bag ids, hold instructions, ETSI and
// qualified-certificate statements.
extern const ASNobjectId privateOid_2_5_1;
extern const ASNobjectId privateOid_2_5_2;
extern const ASNobjectId privateOid_2_5_3;
extern const ASNobjectId privateOid_2_5_4;
extern const ASNobjectId privateOid_2_5_5;
extern const ASNobjectId privateOid_2_5_6;
extern const ASNobjectId privateOid_2_5_7;
extern const ASNobjectId privateOid_2_5_8;
extern const ASNobjectId privateOid_2_5_9;
extern const ASNobjectId privateOid_2_5_10;
extern const ASNobjectId privateOid_2_5_11;
extern const ASNobjectId privateOid_2_5_12;
extern const ASNobjectId privateOid_2_5_13;
extern const ASNobjectId privateOid_2_5_14;
extern const ASNobjectId privateOid_2_5_15;
extern const ASNobjectId privateOid_2_5_16;
extern const ASNobjectId privateOid_2_5_17;
extern const ASNobjectId privateOid_2_5_18;
extern const ASNobjectId privateOid_2_5_19;
extern const ASNobjectId privateOid_2_5_20;
extern const ASNobjectId privateOid_2_5_21;
extern const ASNobjectId privateOid_2_5_22;
extern const ASNobjectId privateOid_2_5_23;
extern const ASNobjectId privateOid_2_5_24;
extern const ASNobjectId privateOid_2_5_25;
extern const ASNobjectId privateOid_2_5_26;
extern const ASNobjectId privateOid_2_5_27;
extern const ASNobjectId privateOid_2_5_28;
extern const ASNobjectId privateOid_2_5_29;
extern const ASNobjectId privateOid_2_5_30;
extern const ASNobjectId privateOid_2_5_31;
extern const ASNobjectId privateOid_2_5_32;
extern const ASNobjectId privateOid_2_5_33;
extern const ASNobjectId privateOid_2_5_35;
extern const ASNobjectId privateOid_2_5_36;
extern const ASNobjectId privateOid_2_5_37;
extern const ASNobjectId privateOid_2_5_38;
extern const ASNobjectId privateOid_2_5_39;
extern const ASNobjectId privateOid_2_5_40;
extern const ASNobjectId privateOid_2_5_41;
extern const ASNobjectId privateOid_2_5_42;
extern const ASNobjectId privateOid_2_6_1;
extern const ASNobjectId privateOid_2_6_2;
extern const ASNobjectId privateOid_2_6_3;
extern const ASNobjectId id_holdinstruction_none;
extern const ASNobjectId id_holdinstruction_callissuer;
extern const ASNobjectId id_holdinstruction_reject;
extern const ASNobjectId id_kp_OCSPSigning;
extern const ASNobjectId id_at_postalCode;
extern const ASNobjectId id_aa_signingCertificateV2;
extern const ASNobjectId id_aa_ets_archiveTimestampV2;
extern const ASNobjectId id_etsi_qcs_QcRetentionPeriod;
extern const ASNobjectId id_etsi_qcs_QcSSCD;
extern const ASNobjectId id_etsi_qcs;
extern const ASNobjectId id_spq_ets_uri;
extern const ASNobjectId id_spq_ets_unotice;
extern const ASNobjectId id_qcs_pkixQCSyntax_v1;
extern const ASNobjectId id_qcs_pkixQCSyntax_v2;
extern const ASNobjectId oid_0_4_0_194122_1;

// Hashes, signature and cipher algorithms, attribute types, CMS and PKCS#12 content and bag
// types, CMS/ESS/CAdES attributes, Netscape extensions, key purposes, access methods.
extern const ASNobjectId id_md2;
extern const ASNobjectId id_md5;
extern const ASNobjectId id_sha1;
extern const ASNobjectId id_sha224;
extern const ASNobjectId id_sha256;
extern const ASNobjectId id_sha384;
extern const ASNobjectId id_sha512;
extern const ASNobjectId id_ripemd160;
extern const ASNobjectId id_ea_rsa;
extern const ASNobjectId rsaEncryption;
extern const ASNobjectId md2WithRSAEncryption;
extern const ASNobjectId md5WithRSAEncryption;
extern const ASNobjectId sha1WithRSASignature;
extern const ASNobjectId sha1WithRSAEncryption;
extern const ASNobjectId sha224WithRSAEncryption;
extern const ASNobjectId sha256WithRSAEncryption;
extern const ASNobjectId sha384WithRSAEncryption;
extern const ASNobjectId sha512WithRSAEncryption;
extern const ASNobjectId rsaOAEPEncryptionSET;
extern const ASNobjectId rc2_cbc;
extern const ASNobjectId desCBC;
extern const ASNobjectId des_ede3_cbc;
extern const ASNobjectId desx_cbc;
extern const ASNobjectId id_aes128_CBC;
extern const ASNobjectId id_aes192_CBC;
extern const ASNobjectId id_aes256_CBC;
extern const ASNobjectId id_dsa;
extern const ASNobjectId id_dsa_with_sha1;
extern const ASNobjectId oid_1_3_36_8_5_1_2_2;
extern const ASNobjectId IDEA_CBC;
extern const ASNobjectId id_at_serialNumber;
extern const ASNobjectId id_at_countryName;
extern const ASNobjectId id_at_localityName;
extern const ASNobjectId id_at_stateOrProvinceName;
extern const ASNobjectId id_at_streetAddress;
extern const ASNobjectId id_at_organizationName;
extern const ASNobjectId id_at_organizationalUnitName;
extern const ASNobjectId id_at_title;
extern const ASNobjectId id_at_description;
extern const ASNobjectId id_at_postalAddress;
extern const ASNobjectId id_at_telephoneNumber;
extern const ASNobjectId id_at_internationalISDNNumber;
extern const ASNobjectId pkcs_9_at_emailAddress;
extern const ASNobjectId id_at_commonName;
extern const ASNobjectId id_at_surname;
extern const ASNobjectId id_at_givenName;
extern const ASNobjectId id_at_uniqueIdentifier;
extern const ASNobjectId id_at_pseudonym;
extern const ASNobjectId domainComponent;
extern const ASNobjectId pkcs_9_at_unstructuredName;
extern const ASNobjectId pkcs_9_at_unstructuredAddress;
extern const ASNobjectId pkcs_9_at_challengePassword;
extern const ASNobjectId id_data;
extern const ASNobjectId id_signedData;
extern const ASNobjectId id_envelopedData;
extern const ASNobjectId id_signedAndEnvelopedData;
extern const ASNobjectId id_digestedData;
extern const ASNobjectId id_encryptedData;
extern const ASNobjectId keyBag;
extern const ASNobjectId certBag;
extern const ASNobjectId pkcs8ShroudedKeyBag;
extern const ASNobjectId secretBag;
extern const ASNobjectId pbeWithSHAAnd3_KeyTripleDES_CBC;
extern const ASNobjectId pbeWithSHAAnd40BitRC2_CBC;
extern const ASNobjectId x509Certificate;
extern const ASNobjectId pkcs_9_at_friendlyName;
extern const ASNobjectId pkcs_9_at_localKeyId;
extern const ASNobjectId pkcs8ShroudedKeyBag_2;
extern const ASNobjectId rsaEncryption_2;
extern const ASNobjectId id_messageDigest;
extern const ASNobjectId id_aa_signingCertificate;
extern const ASNobjectId id_contentType;
extern const ASNobjectId id_signingTime;
extern const ASNobjectId pkcs_9_at_randomNonce;
extern const ASNobjectId pkcs_9_at_sequenceNumber;
extern const ASNobjectId id_countersignature;
extern const ASNobjectId id_aa_ets_certificateRefs;
extern const ASNobjectId id_aa_ets_revocationRefs;
extern const ASNobjectId id_aa_ets_certValues;
extern const ASNobjectId id_aa_ets_revocationValues;
extern const ASNobjectId id_aa_ets_escTimeStamp;
extern const ASNobjectId id_aa_ets_archiveTimestamp;
extern const ASNobjectId id_aa_contentHint;
extern const ASNobjectId oid_1_2_840_113549_1_9_10;
extern const ASNobjectId plOrgOid1;
extern const ASNobjectId id_ct_TSTInfo;
extern const ASNobjectId id_aa_timeStampToken;
extern const ASNobjectId id_aa_ets_sigPolicyId;
extern const ASNobjectId pkcs_9_at_extensionRequest;
extern const ASNobjectId id_aa_ets_commitmentType;
extern const ASNobjectId id_cti_ets_proofOfOrigin;
extern const ASNobjectId id_cti_ets_proofOfReceipt;
extern const ASNobjectId id_cti_ets_proofOfDelivery;
extern const ASNobjectId id_cti_ets_proofOfSender;
extern const ASNobjectId id_cti_ets_proofOfApproval;
extern const ASNobjectId id_cti_ets_proofOfCreation;
extern const ASNobjectId netscape_cert_type;
extern const ASNobjectId netscape_base_url;
extern const ASNobjectId netscape_revocation_url;
extern const ASNobjectId netscape_ca_revocation_url;
extern const ASNobjectId netscape_cert_sequence;
extern const ASNobjectId oid_2_16_840_1_113730_2_6;
extern const ASNobjectId netscape_renewal_url;
extern const ASNobjectId netscape_ca_policy_url;
extern const ASNobjectId oid_2_16_840_1_113730_1_9;
extern const ASNobjectId oid_2_16_840_1_113730_1_10;
extern const ASNobjectId oid_2_16_840_1_113730_1_11;
extern const ASNobjectId netscape_ssl_server_name;
extern const ASNobjectId netscape_comment;
extern const ASNobjectId id_kp_timeStamping;
extern const ASNobjectId id_PasswordBasedMac;
extern const ASNobjectId hMAC_SHA1;
extern const ASNobjectId id_regCtrl_regToken;
extern const ASNobjectId anyPolicy;
extern const ASNobjectId id_qt_cps;
extern const ASNobjectId id_qt_unotice;
extern const ASNobjectId id_ad_ocsp;
extern const ASNobjectId id_pkix_ocsp_basic;
extern const ASNobjectId id_pkix_ocsp_nonce;
extern const ASNobjectId oid_2_0_2;
extern const ASNobjectId id_etsi_qcs_QcCompliance;
extern const ASNobjectId id_etsi_qcs_QcLimitValue;
extern const ASNobjectId plOrgOid2;
extern const ASNobjectId privateOid_2_1_1_1;
extern const ASNobjectId privateOid_2_1_2;
extern const ASNobjectId id_kp_serverAuth;
extern const ASNobjectId id_kp_clientAuth;
extern const ASNobjectId id_kp_emailProtection;
extern const ASNobjectId id_kp_timeStamping_2;
extern const ASNobjectId szOID_KP_SMARTCARD_LOGON;
extern const ASNobjectId szOID_EFS_CRYPTO;
extern const ASNobjectId szOID_KP_CTL_USAGE_SIGNING;
extern const ASNobjectId szOID_NTDS_REPLICATION;
extern const ASNobjectId szOID_NT_PRINCIPAL_NAME;
extern const ASNobjectId privateOid_4_3;
extern const ASNobjectId privateOid_4_4;
extern const ASNobjectId privateOid_4_5;
extern const ASNobjectId privateOid_4_6;
extern const ASNobjectId privateOid_4_7;
extern const ASNobjectId id_ad_ocsp_2;
extern const ASNobjectId id_ad_caIssuers;
extern const ASNobjectId id_ad_timeStamping;
extern const ASNobjectId id_ad_caRepository;
extern const ASNobjectId oid_1_2_840_113549_3_40;
extern const ASNobjectId oid_1_2_840_113549_3_41;
extern const ASNobjectId rc2_ecb;
extern const ASNobjectId desECB;
extern const ASNobjectId id_bc64_tdea;
extern const ASNobjectId id_bc128_aes;
extern const ASNobjectId id_bc64_tdea_2;
extern const ASNobjectId id_bc64_tdea_3;

// The DES-EEE and DES-XEEEX identifiers (the main table's last two rows), then the GOST keys.
extern const ASNobjectId privateOid_4_1;
extern const ASNobjectId privateOid_4_2;
extern const ASNobjectId id_GostR3410_2001;
extern const ASNobjectId id_GostR3410_94;

// Certificate and CRL extensions, RSA-PSS/OAEP, Diffie-Hellman, EC-DSA, named curves and
// the X9.62 field and basis types.
extern const ASNobjectId id_ce_subjectDirectoryAttributes;
extern const ASNobjectId id_ce_subjectKeyIdentifier;
extern const ASNobjectId id_ce_keyUsage;
extern const ASNobjectId id_ce_privateKeyUsagePeriod;
extern const ASNobjectId id_ce_subjectAltName;
extern const ASNobjectId id_ce_issuerAltName;
extern const ASNobjectId id_ce_basicConstraints;
extern const ASNobjectId id_ce_cRLNumber;
extern const ASNobjectId id_ce_cRLReasons;
extern const ASNobjectId id_ce_holdInstructionCode;
extern const ASNobjectId id_ce_invalidityDate;
extern const ASNobjectId id_ce_deltaCRLIndicator;
extern const ASNobjectId id_ce_issuingDistributionPoint;
extern const ASNobjectId id_ce_certificateIssuer;
extern const ASNobjectId id_ce_nameConstraints;
extern const ASNobjectId id_ce_cRLDistributionPoints;
extern const ASNobjectId id_ce_certificatePolicies;
extern const ASNobjectId id_ce_policyMappings;
extern const ASNobjectId id_ce_authorityKeyIdentifier;
extern const ASNobjectId id_ce_policyConstraints;
extern const ASNobjectId id_ce_extKeyUsage;
extern const ASNobjectId id_ce_cRLStreamIdentifier;
extern const ASNobjectId id_ce_cRLScope;
extern const ASNobjectId id_ce_statusReferrals;
extern const ASNobjectId id_ce_freshestCRL;
extern const ASNobjectId id_ce_orderedList;
extern const ASNobjectId id_ce_baseUpdateTime;
extern const ASNobjectId id_ce_deltaInfo;
extern const ASNobjectId id_ce_inhibitAnyPolicy;
extern const ASNobjectId id_pe_qcStatements;
extern const ASNobjectId szOID_ENROLL_CERTTYPE_EXTENSION;
extern const ASNobjectId id_pe_authorityInfoAccess;
extern const ASNobjectId id_pe_subjectInfoAccess;
extern const ASNobjectId rfc822Mailbox;
extern const ASNobjectId userid;
extern const ASNobjectId id_at_dnQualifier;
extern const ASNobjectId id_RSASSA_PSS;
extern const ASNobjectId id_RSAES_OAEP;
extern const ASNobjectId id_mgf1;
extern const ASNobjectId id_pSpecified;
extern const ASNobjectId dhKeyAgreement;
extern const ASNobjectId dhpublicnumber;
extern const ASNobjectId id_ecSigType;
extern const ASNobjectId ecdsa_with_SHA1;
extern const ASNobjectId ecdsa_with_Recommended;
extern const ASNobjectId ecdsa_with_SHA2;
extern const ASNobjectId ecdsa_with_SHA224;
extern const ASNobjectId ecdsa_with_SHA256;
extern const ASNobjectId ecdsa_with_SHA384;
extern const ASNobjectId ecdsa_with_SHA512;
extern const ASNobjectId ellipticCurve;
extern const ASNobjectId primeCurve;
extern const ASNobjectId secp112r1;
extern const ASNobjectId secp112r2;
extern const ASNobjectId secp128r1;
extern const ASNobjectId secp128r2;
extern const ASNobjectId secp160k1;
extern const ASNobjectId secp160r1;
extern const ASNobjectId secp160r2;
extern const ASNobjectId secp192k1;
extern const ASNobjectId prime192v1;
extern const ASNobjectId secp224k1;
extern const ASNobjectId secp224r1;
extern const ASNobjectId secp256k1;
extern const ASNobjectId prime256v1;
extern const ASNobjectId secp384r1;
extern const ASNobjectId secp521r1;
extern const ASNobjectId sect113r1;
extern const ASNobjectId sect113r2;
extern const ASNobjectId sect131r1;
extern const ASNobjectId sect131r2;
extern const ASNobjectId sect163k1;
extern const ASNobjectId sect163r1;
extern const ASNobjectId sect163r2;
extern const ASNobjectId sect193r1;
extern const ASNobjectId sect193r2;
extern const ASNobjectId sect233k1;
extern const ASNobjectId sect233r1;
extern const ASNobjectId sect239k1;
extern const ASNobjectId sect283k1;
extern const ASNobjectId sect283r1;
extern const ASNobjectId sect409k1;
extern const ASNobjectId sect409r1;
extern const ASNobjectId sect571k1;
extern const ASNobjectId sect571r1;
extern const ASNobjectId brainpoolP160r1;
extern const ASNobjectId brainpoolP160t1;
extern const ASNobjectId brainpoolP192r1;
extern const ASNobjectId brainpoolP192t1;
extern const ASNobjectId brainpoolP224r1;
extern const ASNobjectId brainpoolP224t1;
extern const ASNobjectId brainpoolP256r1;
extern const ASNobjectId brainpoolP256t1;
extern const ASNobjectId brainpoolP320r1;
extern const ASNobjectId brainpoolP320t1;
extern const ASNobjectId brainpoolP384r1;
extern const ASNobjectId brainpoolP384t1;
extern const ASNobjectId brainpoolP512r1;
extern const ASNobjectId brainpoolP512t1;
extern const ASNobjectId c2pnb163v1;
extern const ASNobjectId c2pnb163v2;
extern const ASNobjectId c2pnb163v3;
extern const ASNobjectId c2pnb176w1;
extern const ASNobjectId c2tnb191v1;
extern const ASNobjectId c2tnb191v2;
extern const ASNobjectId c2tnb191v3;
extern const ASNobjectId c2onb191v4;
extern const ASNobjectId c2onb191v5;
extern const ASNobjectId c2pnb208w1;
extern const ASNobjectId c2tnb239v1;
extern const ASNobjectId c2tnb239v2;
extern const ASNobjectId c2tnb239v3;
extern const ASNobjectId c2onb239v4;
extern const ASNobjectId c2onb239v5;
extern const ASNobjectId c2pnb272w1;
extern const ASNobjectId c2pnb304w1;
extern const ASNobjectId c2tnb359v1;
extern const ASNobjectId c2pnb368w1;
extern const ASNobjectId c2tnb431r1;
extern const ASNobjectId prime192v2;
extern const ASNobjectId prime192v3;
extern const ASNobjectId prime239v1;
extern const ASNobjectId prime239v2;
extern const ASNobjectId prime239v3;
extern const ASNobjectId wap_wsg_idm_ecid_wtls1;
extern const ASNobjectId wap_wsg_idm_ecid_wtls3;
extern const ASNobjectId wap_wsg_idm_ecid_wtls4;
extern const ASNobjectId wap_wsg_idm_ecid_wtls5;
extern const ASNobjectId wap_wsg_idm_ecid_wtls10;
extern const ASNobjectId wap_wsg_idm_ecid_wtls11;
extern const ASNobjectId wap_wsg_idm_ecid_wtls6;
extern const ASNobjectId wap_wsg_idm_ecid_wtls7;
extern const ASNobjectId wap_wsg_idm_ecid_wtls8;
extern const ASNobjectId wap_wsg_idm_ecid_wtls9;
extern const ASNobjectId wap_wsg_idm_ecid_wtls12;
extern const ASNobjectId prime_field;
extern const ASNobjectId characteristic_two_field;
extern const ASNobjectId gnBasis;
extern const ASNobjectId tpBasis;
extern const ASNobjectId ppBasis;
extern const ASNobjectId id_ecPublicKey;
extern const ASNobjectId oid_1_2_840_10045_2_2;
extern const ASNobjectId oid_1_3_132_1_0;
extern const ASNobjectId id_ecDH;
extern const ASNobjectId id_ecMQV;
extern const ASNobjectId id_keyExchangeAlgorithm;

// One row of the registry: the constant and its name as written in the
// standards ("id-sha1"); standard is false for the oid-, privateOid- and
// plOrgOid names, which no standard gives.
struct OidRegistryEntry {
  const char* name;
  const ASNobjectId* oid;
  bool standard;
};

// Every constant of the registry, in registry order (360 rows).
const OidRegistryEntry* oidRegistry(size_t* count);

// The standard name of an OID ("id-sha1", "rsaEncryption"), the first name
// in registry order when several constants share the value; null when the
// registry knows no standard name for it.
const char* oidName(const ASNobjectId& oid);

// The standard name of an OID, or its dotted text when no name is known.
// False (out empty) when the OID is empty or its content is not a valid OID.
bool oidToText(const ASNobjectId& oid, std::string& out);
