// The XML-DSig, XAdES, XML Encryption and XSLT vocabulary: namespaces, prefixes,
// element names and algorithm URIs. Each constant is a literal (zero-terminated,
// so data() may be handed to libxml2) compared by exact bytes, length included.
#pragma once

#include <string_view>

namespace xmlc {

// Namespaces.
inline constexpr std::string_view NS_DSIG = "http://www.w3.org/2000/09/xmldsig#";
inline constexpr std::string_view NS_XSLT = "http://www.w3.org/1999/XSL/Transform";
inline constexpr std::string_view NS_XADES = "http://uri.etsi.org/01903/v1.3.2#";
inline constexpr std::string_view NS_XADES111 = "http://uri.etsi.org/01903/v1.1.1#";
inline constexpr std::string_view NS_XADES141 = "http://uri.etsi.org/01903/v1.4.1#";
inline constexpr std::string_view NS_XENC = "http://www.w3.org/2001/04/xmlenc#";
inline constexpr std::string_view NS_WSSE =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";

// Prefixes.
inline constexpr std::string_view PFX_DSIG = "ds";
inline constexpr std::string_view PFX_XADES = "xades";
inline constexpr std::string_view PFX_XSLT = "xsl";
inline constexpr std::string_view PFX_XENC = "xenc";
inline constexpr std::string_view PFX_WSSE = "wsse";

// Reference types and encodings.
inline constexpr std::string_view TYPE_OBJECT = "http://www.w3.org/2000/09/xmldsig#Object";
inline constexpr std::string_view TYPE_MANIFEST = "http://www.w3.org/2000/09/xmldsig#Manifest";
inline constexpr std::string_view TYPE_SIGNED_PROPERTIES_111 =
    "http://uri.etsi.org/01903/v1.1.1#SignedProperties";
inline constexpr std::string_view TYPE_SIGNED_PROPERTIES =
    "http://uri.etsi.org/01903#SignedProperties";
inline constexpr std::string_view TYPE_COUNTERSIGNED_SIGNATURE =
    "http://uri.etsi.org/01903#CountersignedSignature";
inline constexpr std::string_view ENCODING_BASE64 = "http://www.w3.org/2000/09/xmldsig#base64";
inline constexpr std::string_view ENCODING_DER = "http://uri.etsi.org/01903/v1.2.2#DER";
inline constexpr std::string_view ENCODING_BER = "http://uri.etsi.org/01903/v1.2.2#BER";

// Commitment types, in their order of codes.
inline constexpr std::string_view COMMITMENT_TYPES[] = {
    "http://uri.etsi.org/01903/v1.2.2#ProofOfOrigin",
    "http://uri.etsi.org/01903/v1.2.2#ProofOfReceipt",
    "http://uri.etsi.org/01903/v1.2.2#ProofOfDelivery",
    "http://uri.etsi.org/01903/v1.2.2#ProofOfSender",
    "http://uri.etsi.org/01903/v1.2.2#ProofOfApproval",
    "http://uri.etsi.org/01903/v1.2.2#ProofOfCreation",
};

// Transform and canonicalisation algorithms.
inline constexpr std::string_view ALG_C14N = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
inline constexpr std::string_view ALG_C14N_COMMENTS =
    "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
inline constexpr std::string_view ALG_EXC_C14N = "http://www.w3.org/2001/10/xml-exc-c14n#";
inline constexpr std::string_view ALG_EXC_C14N_COMMENTS =
    "http://www.w3.org/2001/10/xml-exc-c14n#WithComments";
// The exclusive canonicalisation URI is also the namespace of InclusiveNamespaces.
inline constexpr std::string_view NS_EXC_C14N = ALG_EXC_C14N;
inline constexpr std::string_view ALG_BASE64 = "http://www.w3.org/2000/09/xmldsig#base64";
inline constexpr std::string_view ALG_ENVELOPED =
    "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
inline constexpr std::string_view ALG_XPATH = "http://www.w3.org/TR/1999/REC-xpath-19991116";
inline constexpr std::string_view ALG_XSLT = "http://www.w3.org/TR/1999/REC-xslt-19991116";

// Digest algorithms.
inline constexpr std::string_view DIGEST_MD5 = "http://www.w3.org/2001/04/xmldsig-more#md5";
inline constexpr std::string_view DIGEST_SHA1 = "http://www.w3.org/2000/09/xmldsig#sha1";
inline constexpr std::string_view DIGEST_SHA224 = "http://www.w3.org/2001/04/xmldsig-more#sha224";
inline constexpr std::string_view DIGEST_SHA256 = "http://www.w3.org/2001/04/xmlenc#sha256";
inline constexpr std::string_view DIGEST_SHA384 = "http://www.w3.org/2001/04/xmldsig-more#sha384";
inline constexpr std::string_view DIGEST_SHA512 = "http://www.w3.org/2001/04/xmlenc#sha512";
inline constexpr std::string_view DIGEST_RIPEMD160 = "http://www.w3.org/2001/04/xmlenc#ripemd160";

// Signature algorithms.
inline constexpr std::string_view SIG_RSA_SHA1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
inline constexpr std::string_view SIG_RSA_SHA256 =
    "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
inline constexpr std::string_view SIG_RSA_SHA384 =
    "http://www.w3.org/2001/04/xmldsig-more#rsa-sha384";
inline constexpr std::string_view SIG_RSA_SHA512 =
    "http://www.w3.org/2001/04/xmldsig-more#rsa-sha512";
inline constexpr std::string_view SIG_DSA_SHA1 = "http://www.w3.org/2000/09/xmldsig#dsa-sha1";
inline constexpr std::string_view SIG_ECDSA_SHA1 =
    "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha1";
inline constexpr std::string_view SIG_ECDSA_SHA224 =
    "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha224";
inline constexpr std::string_view SIG_ECDSA_SHA256 =
    "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha256";
inline constexpr std::string_view SIG_ECDSA_SHA384 =
    "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha384";
inline constexpr std::string_view SIG_ECDSA_SHA512 =
    "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha512";

// XML Encryption: content ciphers, key transport, elements.
inline constexpr std::string_view ENC_TRIPLEDES_CBC = "http://www.w3.org/2001/04/xmlenc#tripledes-cbc";
inline constexpr std::string_view ENC_AES128_CBC = "http://www.w3.org/2001/04/xmlenc#aes128-cbc";
inline constexpr std::string_view ENC_AES192_CBC = "http://www.w3.org/2001/04/xmlenc#aes192-cbc";
inline constexpr std::string_view ENC_AES256_CBC = "http://www.w3.org/2001/04/xmlenc#aes256-cbc";
inline constexpr std::string_view ENC_RSA_1_5 = "http://www.w3.org/2001/04/xmlenc#rsa-1_5";
inline constexpr std::string_view XENC_ENCRYPTED_DATA = "EncryptedData";
inline constexpr std::string_view XENC_ENCRYPTED_KEY = "EncryptedKey";
inline constexpr std::string_view XENC_ENCRYPTION_METHOD = "EncryptionMethod";
inline constexpr std::string_view XENC_CIPHER_DATA = "CipherData";
inline constexpr std::string_view XENC_CIPHER_VALUE = "CipherValue";

// XSLT elements.
inline constexpr std::string_view XSL_STYLESHEET = "stylesheet";
inline constexpr std::string_view XSL_INCLUDE = "include";

// XML-DSig elements.
inline constexpr std::string_view DS_SIGNATURE = "Signature";
inline constexpr std::string_view DS_SIGNED_INFO = "SignedInfo";
inline constexpr std::string_view DS_CANONICALIZATION_METHOD = "CanonicalizationMethod";
inline constexpr std::string_view DS_SIGNATURE_METHOD = "SignatureMethod";
inline constexpr std::string_view DS_SIGNATURE_VALUE = "SignatureValue";
inline constexpr std::string_view DS_KEY_INFO = "KeyInfo";
inline constexpr std::string_view DS_REFERENCE = "Reference";
inline constexpr std::string_view DS_DIGEST_METHOD = "DigestMethod";
inline constexpr std::string_view DS_DIGEST_VALUE = "DigestValue";
inline constexpr std::string_view DS_OBJECT = "Object";
inline constexpr std::string_view DS_TRANSFORMS = "Transforms";
inline constexpr std::string_view DS_TRANSFORM = "Transform";
inline constexpr std::string_view DS_XPATH = "XPath";
inline constexpr std::string_view DS_X509_DATA = "X509Data";
inline constexpr std::string_view DS_X509_ISSUER_SERIAL = "X509IssuerSerial";
inline constexpr std::string_view DS_X509_CERTIFICATE = "X509Certificate";
inline constexpr std::string_view DS_X509_SUBJECT_NAME = "X509SubjectName";
inline constexpr std::string_view DS_X509_ISSUER_NAME = "X509IssuerName";
inline constexpr std::string_view DS_X509_SERIAL_NUMBER = "X509SerialNumber";
inline constexpr std::string_view DS_X509_CRL = "X509CRL";
inline constexpr std::string_view DS_COUNTER_SIGNATURE = "CounterSignature";
inline constexpr std::string_view DS_MANIFEST = "Manifest";
inline constexpr std::string_view DS_SIGNATURE_PROPERTIES = "SignatureProperties";
inline constexpr std::string_view EXC_INCLUSIVE_NAMESPACES = "InclusiveNamespaces";

// XAdES elements.
inline constexpr std::string_view XADES_QUALIFYING_PROPERTIES = "QualifyingProperties";
inline constexpr std::string_view XADES_SIGNED_PROPERTIES = "SignedProperties";
inline constexpr std::string_view XADES_SIGNED_SIGNATURE_PROPERTIES = "SignedSignatureProperties";
inline constexpr std::string_view XADES_SIGNED_DATA_OBJECT_PROPERTIES =
    "SignedDataObjectProperties";
inline constexpr std::string_view XADES_SIGNING_TIME = "SigningTime";
inline constexpr std::string_view XADES_SIGNING_CERTIFICATE = "SigningCertificate";
// EN 319 132-1, in the 1.3.2 namespace.
inline constexpr std::string_view XADES_SIGNING_CERTIFICATE_V2 = "SigningCertificateV2";
inline constexpr std::string_view XADES_ISSUER_SERIAL_V2 = "IssuerSerialV2";
inline constexpr std::string_view XADES_SIGNATURE_POLICY_IDENTIFIER = "SignaturePolicyIdentifier";
inline constexpr std::string_view XADES_SIGNATURE_PRODUCTION_PLACE = "SignatureProductionPlace";
inline constexpr std::string_view XADES_SIGNER_ROLE = "SignerRole";
inline constexpr std::string_view XADES_CERT = "Cert";
inline constexpr std::string_view XADES_CERT_DIGEST = "CertDigest";
inline constexpr std::string_view XADES_ISSUER_SERIAL = "IssuerSerial";
inline constexpr std::string_view XADES_UNSIGNED_PROPERTIES = "UnsignedProperties";
inline constexpr std::string_view XADES_UNSIGNED_SIGNATURE_PROPERTIES =
    "UnsignedSignatureProperties";
inline constexpr std::string_view XADES_SIGNATURE_TIME_STAMP = "SignatureTimeStamp";
inline constexpr std::string_view XADES_INCLUDE = "Include";
inline constexpr std::string_view XADES_ENCAPSULATED_TIME_STAMP = "EncapsulatedTimeStamp";
inline constexpr std::string_view XADES_ARCHIVE_TIME_STAMP = "ArchiveTimeStamp";
inline constexpr std::string_view XADES_COUNTER_SIGNATURE = "CounterSignature";
inline constexpr std::string_view XADES_COMPLETE_CERTIFICATE_REFS = "CompleteCertificateRefs";
inline constexpr std::string_view XADES_COMPLETE_REVOCATION_REFS = "CompleteRevocationRefs";
inline constexpr std::string_view XADES_ATTRIBUTE_CERTIFICATE_REFS = "AttributeCertificateRefs";
inline constexpr std::string_view XADES_ATTRIBUTE_REVOCATION_REFS = "AttributeRevocationRefs";
inline constexpr std::string_view XADES_CERTIFICATE_VALUES = "CertificateValues";
inline constexpr std::string_view XADES_REVOCATION_VALUES = "RevocationValues";
inline constexpr std::string_view XADES_SIG_AND_REFS_TIME_STAMP = "SigAndRefsTimeStamp";
inline constexpr std::string_view XADES_REFS_ONLY_TIME_STAMP = "RefsOnlyTimeStamp";
inline constexpr std::string_view XADES_CERT_REFS = "CertRefs";
inline constexpr std::string_view XADES_CRL_REFS = "CRLRefs";
inline constexpr std::string_view XADES_OCSP_REFS = "OCSPRefs";
inline constexpr std::string_view XADES_CRL_REF = "CRLRef";
inline constexpr std::string_view XADES_OCSP_REF = "OCSPRef";
inline constexpr std::string_view XADES_DIGEST_ALG_AND_VALUE = "DigestAlgAndValue";
inline constexpr std::string_view XADES_CRL_IDENTIFIER = "CRLIdentifier";
inline constexpr std::string_view XADES_ISSUER = "Issuer";
inline constexpr std::string_view XADES_ISSUE_TIME = "IssueTime";
inline constexpr std::string_view XADES_NUMBER = "Number";
inline constexpr std::string_view XADES_OCSP_IDENTIFIER = "OCSPIdentifier";
inline constexpr std::string_view XADES_BY_NAME = "ByName";
inline constexpr std::string_view XADES_BY_KEY = "ByKey";
inline constexpr std::string_view XADES_RESPONDER_ID = "ResponderID";
inline constexpr std::string_view XADES_PRODUCED_AT = "ProducedAt";
inline constexpr std::string_view XADES_ENCAPSULATED_X509_CERTIFICATE =
    "EncapsulatedX509Certificate";
inline constexpr std::string_view XADES_CRL_VALUES = "CRLValues";
inline constexpr std::string_view XADES_OCSP_VALUES = "OCSPValues";
inline constexpr std::string_view XADES_ENCAPSULATED_CRL_VALUE = "EncapsulatedCRLValue";
inline constexpr std::string_view XADES_ENCAPSULATED_OCSP_VALUE = "EncapsulatedOCSPValue";
inline constexpr std::string_view XADES_HASH_DATA_INFO = "HashDataInfo";
inline constexpr std::string_view XADES_COMMITMENT_TYPE_INDICATION = "CommitmentTypeIndication";
inline constexpr std::string_view XADES_COMMITMENT_TYPE_ID = "CommitmentTypeId";
inline constexpr std::string_view XADES_ALL_SIGNED_DATA_OBJECTS = "AllSignedDataObjects";
inline constexpr std::string_view XADES_OBJECT_REFERENCE = "ObjectReference";
inline constexpr std::string_view XADES_COMMITMENT_TYPE_QUALIFIERS = "CommitmentTypeQualifiers";
inline constexpr std::string_view XADES_IDENTIFIER = "Identifier";
inline constexpr std::string_view XADES_DATA_OBJECT_FORMAT = "DataObjectFormat";
inline constexpr std::string_view XADES_TIME_STAMP_VALIDATION_DATA = "TimeStampValidationData";
inline constexpr std::string_view XADES_SIGNATURE_POLICY_IMPLIED = "SignaturePolicyImplied";

}  // namespace xmlc
