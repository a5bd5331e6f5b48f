#include "pki/keys/dhparams.h"

#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"

// The member loops are the ones every key structure shares.
using keyasn::decodeMembers;
using keyasn::digestMembers;
using keyasn::encodeMembers;
using keyasn::membersLength;

// ---- PKCS#3 DHParameter ----

Pkcs3DHParameter::Pkcs3DHParameter(unsigned char t)
    : ASNsequenceF(t), prime(), base(), privateValueLength(), privateValueLengthPresent(0) {}

Pkcs3DHParameter::~Pkcs3DHParameter() = default;

void Pkcs3DHParameter::clear() {
  prime.clear();
  base.clear();
  privateValueLength.clear();
  privateValueLengthPresent = 0;
}

int Pkcs3DHParameter::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const members[] = {&prime, &base};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), members, 2, &taken);
  if (r != 1) return r;
  if (taken < length) {
    ASNobject* const optional[] = {&privateValueLength};
    r = decodeMembers(in, length, memberFlags(), optional, 1, &taken);
    if (r != 1) return r;
    privateValueLengthPresent = 1;
  }
  return taken == length ? 1 : 0;
}

int Pkcs3DHParameter::encodeContent(GenericFile* out) const {
  const ASNobject* const members[] = {&prime, &base,
                                      privateValueLengthPresent ? &privateValueLength : nullptr};
  return encodeMembers(out, members, 3);
}

int Pkcs3DHParameter::contentLength() const {
  const ASNobject* const members[] = {&prime, &base,
                                      privateValueLengthPresent ? &privateValueLength : nullptr};
  return membersLength(members, 3);
}

void Pkcs3DHParameter::digestContent(LvHash* hash) const {
  const ASNobject* const members[] = {&prime, &base,
                                      privateValueLengthPresent ? &privateValueLength : nullptr};
  digestMembers(hash, members, 3);
}

// ---- X9.42 ValidationParms ----

X942ValidationParams::X942ValidationParams(unsigned char t)
    : ASNsequenceF(t), seed(), pgenCounter() {}

X942ValidationParams::~X942ValidationParams() = default;

void X942ValidationParams::clear() {
  seed.clear();
  pgenCounter.clear();
}

int X942ValidationParams::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const members[] = {&seed, &pgenCounter};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), members, 2, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int X942ValidationParams::encodeContent(GenericFile* out) const {
  const ASNobject* const members[] = {&seed, &pgenCounter};
  return encodeMembers(out, members, 2);
}

int X942ValidationParams::contentLength() const {
  const ASNobject* const members[] = {&seed, &pgenCounter};
  return membersLength(members, 2);
}

void X942ValidationParams::digestContent(LvHash* hash) const {
  const ASNobject* const members[] = {&seed, &pgenCounter};
  digestMembers(hash, members, 2);
}

// ---- X9.42 DomainParameters ----

X942DomainParameters::X942DomainParameters(unsigned char t)
    : ASNsequenceF(t),
      p(),
      g(),
      q(),
      j(),
      validationParms(),
      jPresent(0),
      validationParmsPresent(0) {}

X942DomainParameters::~X942DomainParameters() = default;

void X942DomainParameters::clear() {
  p.clear();
  g.clear();
  q.clear();
  j.clear();
  validationParms.clear();
  jPresent = 0;
  validationParmsPresent = 0;
}

int X942DomainParameters::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const members[] = {&p, &g, &q};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), members, 3, &taken);
  if (r != 1) return r;
  for (int extra = 0; extra < 2 && taken < length; ++extra) {
    if (length - taken < 2) return 0;
    const int id = asnPeekIdentifier(in);
    if (id < 0) return EASN_FILE;
    ASNobject* member;
    unsigned char* flag;
    if (id == 0x02 && !jPresent && !validationParmsPresent) {
      member = &j;
      flag = &jPresent;
    } else if (id == 0x30 && !validationParmsPresent) {
      member = &validationParms;
      flag = &validationParmsPresent;
    } else {
      return 0;
    }
    ASNobject* const one[] = {member};
    r = decodeMembers(in, length, memberFlags(), one, 1, &taken);
    if (r != 1) return r;
    *flag = 1;
  }
  return taken == length ? 1 : 0;
}

int X942DomainParameters::encodeContent(GenericFile* out) const {
  const ASNobject* const members[] = {&p, &g, &q, jPresent ? &j : nullptr,
                                      validationParmsPresent ? &validationParms : nullptr};
  return encodeMembers(out, members, 5);
}

int X942DomainParameters::contentLength() const {
  const ASNobject* const members[] = {&p, &g, &q, jPresent ? &j : nullptr,
                                      validationParmsPresent ? &validationParms : nullptr};
  return membersLength(members, 5);
}

void X942DomainParameters::digestContent(LvHash* hash) const {
  const ASNobject* const members[] = {&p, &g, &q, jPresent ? &j : nullptr,
                                      validationParmsPresent ? &validationParms : nullptr};
  digestMembers(hash, members, 5);
}

// ---- key-algorithm kinds ----

int keyAlgorithmKind(const ASNobjectId& oid) {
  // Addresses only: no start-up order. The first matching row wins, so
  // the PSS and OAEP rows stand before the general RSA ones.
  static const struct {
    const ASNobjectId* oid;
    int kind;
  } rows[] = {
      {&id_RSASSA_PSS, KEYALG_RSA_PSS},
      {&id_RSAES_OAEP, KEYALG_RSA_OAEP},
      {&rsaEncryption, KEYALG_RSA},
      {&id_ea_rsa, KEYALG_RSA},
      {&id_dsa, KEYALG_DSA},
      {&id_ecPublicKey, KEYALG_EC},
      {&dhKeyAgreement, KEYALG_DH_PKCS3},
      {&dhpublicnumber, KEYALG_DH_X942},
      {&id_ecDH, KEYALG_ECDH},
      {&id_ecMQV, KEYALG_ECMQV},
      {&id_keyExchangeAlgorithm, KEYALG_KEA},
      {&id_GostR3410_2001, KEYALG_GOST2001},
      {&id_GostR3410_94, KEYALG_GOST94},
  };
  for (const auto& row : rows)
    if (*row.oid == oid) return row.kind;
  return KEYALG_UNKNOWN;
}

bool isEcKeyAlgorithm(const ASNobjectId& oid) {
  return oid == id_ecPublicKey || oid == id_ecDH || oid == id_ecMQV;
}
