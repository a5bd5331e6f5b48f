// The DN attribute-type table.
#include "store/crtstore.h"

#include "pki/common/oids.h"

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
