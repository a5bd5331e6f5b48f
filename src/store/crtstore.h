// The table of DN attribute types the certificate searches, reports and name
// builders share (display name, one-letter code, OID, value bound, label),
// and the matchers of certificates, CRLs and OCSP responses.
#pragma once

#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "pki/common/extension.h"
#include "pki/common/x509time.h"
#include "pki/names/dname.h"

#include <cstdint>
#include <functional>
#include <vector>

struct DnAttributeType {
  const char* displayName;  // Windows-1250
  char code;
  int index;
  const ASNobjectId* oid;
  int upperBound;
  const char* label;
};

constexpr int DN_ATTRIBUTE_TYPE_COUNT = 24;

// The 24 rows, built from the OID constants on first use (thread-safe).
const DnAttributeType* dnAttributeTypeTable();

// The code of an attribute type, 0 when it is not in the table.
char findDnAttributeType(const ASNobjectId& oid);
// The row of a code, null when unknown.
const DnAttributeType* dnAttributeTypeByCode(char code);
// The OID of a code; false when the code is unknown.
bool dnAttributeTypeOid(char code, ASNobjectId& out);
// The display name and the short label of a code (null when unknown).
const char* dnAttributeTypeName(char code);
const char* dnAttributeTypeLabel(char code);

// ------------------------------------------------------------- matchers
// The certificate matchers of the stores, the certificate database layer and
// the signature-reference checks.

class SignedCertificate;
class SignedCertRevList;
class BasicOCSPResponse;
class OCSPResponse;

// Answers of the matchers and the store lookups.
enum {
  CRTSTORE_FOUND = 0,
  CRTSTORE_FAILED = 1,  // allocation or decoding failure
  CRTSTORE_NOT_FOUND = 14
};

// 1 decoded into `out`, -1 the extension is absent, -2 present but its value
// does not decode (or does not end where the value does), 0 memory ran out.
int getExtensionValue(const Extensions& extensions, const ASNobjectId& oid, ASNobject& out);

// The rule of encryption-only searches: without keyUsage a certificate is
// accepted; with it, keyEncipherment or dataEncipherment must be set. A
// keyUsage that does not decode is not accepted. CRTSTORE_FOUND,
// CRTSTORE_NOT_FOUND or CRTSTORE_FAILED (memory).
int encryptionKeyRule(const SignedCertificate& cert);

// The subject (issuer) name equals `name`, then the encryption-key rule when
// encryptionOnly.
int matchBySubject(const SignedCertificate& cert, const DistinguishedName& name,
                   bool encryptionOnly);
int matchByIssuer(const SignedCertificate& cert, const DistinguishedName& name,
                  bool encryptionOnly);
// The encryption-key rule when encryptionOnly, then some emailAddress
// attribute of the subject equals the whole address, letter case aside (a
// longer address that merely begins with the value is another mailbox).
int matchByEmail(const SignedCertificate& cert, const char* address, bool encryptionOnly);

class AuthorityKeyIdentifier;
class GeneralNames;
// visit(const DistinguishedName&) for each directoryName of `names` that
// decodes, in order, until it returns false.
void forEachDirectoryName(const GeneralNames& names,
                          const std::function<bool(const DistinguishedName&)>& visit);
// Issuer certificate `x` against an authority key identifier: by issuer name
// and serial number, else by key identifier (subjectKeyIdentifier, else the
// SHA-1 of the key or its 8-octet form of RFC 5280 4.2.1.2 method 2).
bool matchesKeyIdentifier(const SignedCertificate& x, const AuthorityKeyIdentifier& akid);

// A digest (hash id 1..8 as ASNobject::digest) and its value; a value shorter
// than the hash's digest never matches, the first digest-length octets of a
// longer one are compared.
struct DigestReference {
  int digestId = 0;
  std::vector<uint8_t> value;
};

// A certificate reference (digest, optionally issuer and serial).
struct CertificateSelector {
  DigestReference digest;
  bool hasIssuerSerial = false;
  DistinguishedName issuer;
  ASNinteger serial;
};

// A CRL reference: digest, optionally issuer with issue time, and then
// optionally a CRL number.
struct CrlReference {
  DigestReference digest;
  bool hasIssuer = false;
  DistinguishedName issuer;
  X509time issuedTime;
  bool hasNumber = false;
  ASNinteger number;
};

// An OCSP response reference: optional digest, the responder by name and/or
// by key hash, and producedAt.
struct OcspReference {
  bool hasDigest = false;
  DigestReference digest;
  bool hasName = false;
  DistinguishedName name;
  bool hasKeyHash = false;
  std::vector<uint8_t> keyHash;
  X509time producedAt;
};

bool matchCertificateSelector(const CertificateSelector& selector, const SignedCertificate& cert);
bool matchCrlIdentifier(const CrlReference& reference, const SignedCertRevList& crl);
bool matchOcspIdentifier(const OcspReference& reference, const BasicOCSPResponse& response);
// A response carrying bytes of type id-pkix-ocsp-basic whose
// BasicOCSPResponse decodes, then matchOcspIdentifier's responder and time
// tests; a digest is compared over the whole OCSPResponse (XAdES OCSPRef).
bool matchOcspResponse(const OcspReference& reference, const OCSPResponse& response);
