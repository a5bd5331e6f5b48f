// The DN attribute-type table and the matchers.
#include "store/crtstore.h"

#include "asn1/asnbitst.h"
#include "base/commonerror.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/x509/x509ext.h"
#include "store/dnutils.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

const DnAttributeType* dnAttributeTypeTable() {
  // Built on first use: the OID constants of another translation unit are
  // certainly constructed by then.
  static const DnAttributeType table[DN_ATTRIBUTE_TYPE_COUNT] = {
      {"Kraj", 'c', 0, &id_at_countryName, 2, "C"},
      {"Miejscowość", 'l', 1, &id_at_localityName, 128, "L"},
      {"Województwo", 's', 2, &id_at_stateOrProvinceName, 128, "ST"},
      {"Organizacja", 'o', 3, &id_at_organizationName, 64, "O"},
      {"Jednostka organizacyjna", 'u', 4, &id_at_organizationalUnitName, 32, "OU"},
      {"Nazwa powszechna", 'n', 5, &id_at_commonName, 64, "CN"},
      {"Tytuł", 't', 6, &id_at_title, 64, "T"},
      {"Adres", 'a', 7, &id_at_postalAddress, 30, "A"},
      {"E-mail", 'e', 8, &pkcs_9_at_emailAddress, 128, "Email"},
      {"Nazwisko", 'w', 9, &id_at_surname, 40, "SN"},
      {"Imię", 'i', 10, &id_at_givenName, 16, "G"},
      {"Unikalny identyfikator", 'k', 11, &id_at_uniqueIdentifier, 128, "UID"},
      {"Numer seryjny", 'r', 12, &id_at_serialNumber, 64, "SER_NUM"},
      {"Opis", 'd', 13, &id_at_description, 128, "DESCR"},
      {"Numer telefonu", 'f', 14, &id_at_telephoneNumber, 32, "PHONE"},
      {"Numer telefonu ISDN", 'm', 15, &id_at_internationalISDNNumber, 16, "PHONE_ISDN"},
      {"Nazwa domeny", 'z', 16, &domainComponent, 128, "DC"},
      {"Pseudonim", 'y', 17, &id_at_pseudonym, 128, "PS"},
      {"Adres ulicy", 'p', 18, &id_at_streetAddress, 128, "STREET"},
      {"Nazwa niestrukturalna", 'x', 19, &pkcs_9_at_unstructuredName, 128, "UNSTR_NAME"},
      {"Adres niestrukturalny", 'q', 20, &pkcs_9_at_unstructuredAddress, 128, "UNSTR_ADDR"},
      {"Kod pocztowy", 'b', 21, &id_at_postalCode, 128, "POSTAL_CODE"},
      {"Kwalifikator DN", 'g', 22, &id_at_dnQualifier, 128, "DN_QUAL"},
      {"Identyfikator użytkownika", 'h', 23, &userid, 128, "USER_ID"},
  };
  return table;
}

char findDnAttributeType(const ASNobjectId& oid) {
  const DnAttributeType* table = dnAttributeTypeTable();
  for (int i = 0; i < DN_ATTRIBUTE_TYPE_COUNT; ++i)
    if (*table[i].oid == oid) return table[i].code;
  return 0;
}

const DnAttributeType* dnAttributeTypeByCode(char code) {
  const DnAttributeType* table = dnAttributeTypeTable();
  for (int i = 0; code != 0 && i < DN_ATTRIBUTE_TYPE_COUNT; ++i)
    if (table[i].code == code) return &table[i];
  return nullptr;
}

bool dnAttributeTypeOid(char code, ASNobjectId& out) {
  const DnAttributeType* row = dnAttributeTypeByCode(code);
  if (!row) return false;
  out = *row->oid;
  return true;
}

const char* dnAttributeTypeName(char code) {
  const DnAttributeType* row = dnAttributeTypeByCode(code);
  return row ? row->displayName : nullptr;
}

const char* dnAttributeTypeLabel(char code) {
  const DnAttributeType* row = dnAttributeTypeByCode(code);
  return row ? row->label : nullptr;
}

// ------------------------------------------------------------- matchers

namespace {

// keyUsage bits (RFC 5280 4.2.1.3).
constexpr int KU_KEY_ENCIPHERMENT = 2;
constexpr int KU_DATA_ENCIPHERMENT = 3;

// The digest length of a hash id the object digests know, 0 for others.
int digestLength(int digestId) {
  if (digestId < 1 || digestId > 8) return 0;
  std::unique_ptr<LvHash> hash(lvHashCreateObject(static_cast<LvHashAlgo>(digestId)));
  return hash ? static_cast<int>(hash->getHashOctets()) : 0;
}

// The object's DER digested as the reference says, compared with its value.
bool matchDigest(const DigestReference& reference, const ASNobject& object) {
  const int n = digestLength(reference.digestId);
  if (n == 0 || reference.value.size() < static_cast<size_t>(n)) return false;
  unsigned char out[64];
  try {
    if (object.digest(reference.digestId, out, sizeof out) != 1) return false;
  } catch (const std::exception&) {
    return false;  // an object that cannot be encoded matches nothing
  }
  return std::memcmp(out, reference.value.data(), static_cast<size_t>(n)) == 0;
}

int nameRule(const DistinguishedName& certName, const DistinguishedName& name,
             const SignedCertificate& cert, bool encryptionOnly) {
  if (!(certName == name)) return CRTSTORE_NOT_FOUND;
  return encryptionOnly ? encryptionKeyRule(cert) : CRTSTORE_FOUND;
}

}  // namespace

int getExtensionValue(const Extensions& extensions, const ASNobjectId& oid, ASNobject& out) {
  const Extension* extension = findExtensionByOid(extensions, oid);
  if (!extension) return -1;
  try {
    const int r = out.decodeOctets(extension->extnValue);
    if (r == EASN_MEM) return 0;
    return r > 0 && r == extension->extnValue.length ? 1 : -2;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int encryptionKeyRule(const SignedCertificate& cert) {
  ASNbitstr usage;
  switch (getExtensionValue(*cert.tbsCertificate.extensions, id_ce_keyUsage, usage)) {
    case -1:
      return CRTSTORE_FOUND;
    case 1:
      return usage.getBit(KU_KEY_ENCIPHERMENT) || usage.getBit(KU_DATA_ENCIPHERMENT)
                 ? CRTSTORE_FOUND
                 : CRTSTORE_NOT_FOUND;
    case 0:
      return CRTSTORE_FAILED;
    default:
      return CRTSTORE_NOT_FOUND;
  }
}

int matchBySubject(const SignedCertificate& cert, const DistinguishedName& name,
                   bool encryptionOnly) {
  return nameRule(cert.tbsCertificate.subject, name, cert, encryptionOnly);
}

int matchByIssuer(const SignedCertificate& cert, const DistinguishedName& name,
                  bool encryptionOnly) {
  return nameRule(cert.tbsCertificate.issuer, name, cert, encryptionOnly);
}

int matchByEmail(const SignedCertificate& cert, const char* address, bool encryptionOnly) {
  if (!address) return CRTSTORE_NOT_FOUND;
  if (encryptionOnly) {
    int r = encryptionKeyRule(cert);
    if (r != CRTSTORE_FOUND) return r;
  }
  const DistinguishedName& subject = cert.tbsCertificate.subject;
  try {
    // One walk over the subject: reaching each attribute by index walked the
    // name again for every one (a square of a stranger's attribute count).
    std::string value;
    bool found = false;
    subject.forEachAttribute([&](const AttributeValue* attribute) {
      found = attribute && attribute->type == pkcs_9_at_emailAddress &&
              emailValueText(attribute->value, value) && sameEmailAddress(value, address);
      return !found;
    });
    if (found) return CRTSTORE_FOUND;
  } catch (const std::bad_alloc&) {
    return CRTSTORE_FAILED;
  }
  return CRTSTORE_NOT_FOUND;
}

bool matchCertificateSelector(const CertificateSelector& selector, const SignedCertificate& cert) {
  if (selector.hasIssuerSerial &&
      (!(cert.tbsCertificate.issuer == selector.issuer) ||
       !cert.tbsCertificate.serialNumber.equals(selector.serial)))
    return false;
  return matchDigest(selector.digest, cert);
}

bool matchCrlIdentifier(const CrlReference& reference, const SignedCertRevList& crl) {
  const TBSCertRevList& tbs = crl.tbsCertList;
  if (reference.hasIssuer) {
    if (!(tbs.issuer == reference.issuer) || !(tbs.thisUpdate == reference.issuedTime))
      return false;
    if (reference.hasNumber) {
      ASNinteger number;
      if (getExtensionValue(*tbs.crlExtensions, id_ce_cRLNumber, number) != 1 ||
          !number.equals(reference.number))
        return false;
    }
  }
  return matchDigest(reference.digest, crl);
}

namespace {

// producedAt and the responder as the reference names them.
bool sameResponderAndTime(const OcspReference& reference, const BasicOCSPResponse& response) {
  const ResponseData& data = response.tbsResponseData;
  if (!(data.producedAt == reference.producedAt)) return false;
  const ResponderID& responder = data.responderID;
  switch (responder.chosenIndex()) {
    case ResponderID::BY_KEY: {
      const ASNoctstr& hash = *responder.byKey;
      return reference.hasKeyHash && hash.length >= 0 &&
             reference.keyHash.size() == static_cast<size_t>(hash.length) &&
             (hash.length == 0 ||
              std::memcmp(hash.data(), reference.keyHash.data(), reference.keyHash.size()) == 0);
    }
    case ResponderID::BY_NAME:
      return reference.hasName && *responder.byName == reference.name;
    default:
      return false;  // nothing chosen identifies no responder
  }
}

}  // namespace

bool matchOcspIdentifier(const OcspReference& reference, const BasicOCSPResponse& response) {
  if (!sameResponderAndTime(reference, response)) return false;
  if (reference.hasDigest) return matchDigest(reference.digest, response);
  return reference.hasName || reference.hasKeyHash;
}

bool matchOcspResponse(const OcspReference& reference, const OCSPResponse& response) {
  if (!response.responseBytesPresent) return false;
  const ResponseBytes& bytes = *response.responseBytes;
  if (!(bytes.responseType == id_pkix_ocsp_basic)) return false;
  try {
    BasicOCSPResponse basic;
    // Read in place: nothing of the response is copied.
    const int r = basic.decodeOctets(bytes.response, static_cast<unsigned char>(ASN_FLAG_CONST));
    if (r <= 0 || r != bytes.response.length) return false;
    if (!sameResponderAndTime(reference, basic)) return false;
    // A reference's digest covers the whole OCSPResponse, as XAdES signers
    // and our own writer of references make it, not the basic response inside.
    if (reference.hasDigest) return matchDigest(reference.digest, response);
    return reference.hasName || reference.hasKeyHash;
  } catch (const std::exception&) {
    return false;
  }
}

// ------------------------------------------------------------- key identifiers

namespace {

bool sameOctets(const ASNoctstr& s, const uint8_t* bytes, int n) {
  return s.length == n && (n == 0 || std::memcmp(s.data(), bytes, static_cast<size_t>(n)) == 0);
}

bool issuerNamedIn(const GeneralNames& names, const DistinguishedName& issuer) {
  bool named = false;
  forEachDirectoryName(names, [&](const DistinguishedName& dn) {
    named = dn == issuer;
    return !named;
  });
  return named;
}

}  // namespace

void forEachDirectoryName(const GeneralNames& names,
                          const std::function<bool(const DistinguishedName&)>& visit) {
  for (POSITION pos = names.GetHeadPosition(); pos;) {
    const ASNany* name = names.GetNext(pos);
    if (!name || name->getTag() != 0xA4) continue;  // directoryName [4], explicit (Name is a CHOICE)
    const unsigned char* content = name->content();
    if (!content || name->length <= 0) continue;
    DistinguishedName dn;
    if (dn.decodeBuffer(content, name->length) == name->length && !visit(dn)) return;
  }
}

bool matchesKeyIdentifier(const SignedCertificate& x, const AuthorityKeyIdentifier& akid) {
  const TBSCertificate& tbs = x.tbsCertificate;
  if (akid.authorityCertIssuerPresent && akid.authorityCertSerialNumber.equals(tbs.serialNumber) &&
      issuerNamedIn(akid.authorityCertIssuer, tbs.issuer))
    return true;
  if (!akid.keyIdentifierPresent) return false;
  ASNoctstr ski;
  const int r = getExtensionValue(*tbs.extensions, id_ce_subjectKeyIdentifier, ski);
  if (r == 0) throwBadAllocation();
  if (r == 1) return ski.equals(akid.keyIdentifier);
  if (r == -2) return false;  // present but unreadable: no identifier to compare
  uint8_t sha1[20];
  if (!tbs.subjectPublicKeyInfo.keyIdentifier(sha1)) return false;
  const ASNoctstr& id = akid.keyIdentifier;
  if (id.length == 20) return sameOctets(id, sha1, 20);
  if (id.length == 8 && (id.data()[0] & 0xF0) == 0x40) {
    uint8_t guid[8];
    std::memcpy(guid, sha1 + 12, 8);
    guid[0] = static_cast<uint8_t>((guid[0] & 0x0F) | 0x40);
    return sameOctets(id, guid, 8);
  }
  return false;
}
