// PKCS#12 files (RFC 7292): the PFX with its authenticated safe, bags and
// MAC. Writing always uses password privacy (shrouded keys, encrypted
// safes) and password integrity (HMAC-SHA-1). Reading checks the MAC first
// (HMAC-SHA-1 or SHA-2) and then decrypts with the same password (the two
// PKCS#12 schemes, or PBES2 with AES as openssl 3 writes it).
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "asn1/continfo.h"
#include "pki/common/algid.h"
#include "pki/cms/attribute.h"
#include "pki/x509/cert.h"
#include "pki/cms/cmsmembers.h"
#include "pki/pkcs/encntinf.h"
#include "pki/pkcs/encpkinf.h"

#include <memory>

class RSAPrivateKey;
class DSAPrivateKey;
class ECPrivateKey;

// Appends a copy of every CRL of `source` to `target`, in order (a CRL read
// in place is copied with its received octets), then takes over the
// source's ownership flag. Throws std::bad_alloc "bad allocation" when a
// copy cannot be made or appended.
void addCopy(TypedPointerList<SignedCertRevList>& target,
             const TypedPointerList<SignedCertRevList>& source);

// Most iterations one reading may spend over all its derivations (MAC and
// every decryption): a file of many items each at PBE_MAX_ITERATIONS would
// otherwise cost that many times over.
constexpr uint32_t PFX_MAX_TOTAL_ITERATIONS = 2 * PBE_MAX_ITERATIONS;

// Octets of a password or MAC salt that a derivation block holds. Reading
// takes the whole password first (RFC 7292); when the MAC does not match
// and the password or salt is longer, it tries the cut to the first 64
// octets that some writers use, and decrypts with the cut password when
// that MAC matches.
constexpr int PFX_CUT_OCTETS = 64;

class SafeBag : public cmsasn::Sequence<SafeBag> {
 public:
  explicit SafeBag(unsigned char valueTag = 0xA0);
  ~SafeBag() override;
  SafeBag(const SafeBag& other);
  // Through the encoding: throws std::bad_alloc "bad allocation" when the
  // source does not encode or the copy does not decode.
  SafeBag& operator=(const SafeBag& other);

  // localKeyId (OCTET STRING) when given, then friendlyName (BMPString,
  // UTF-16 big-endian octets as given). Throws std::bad_alloc.
  void setAttributes(const unsigned char* friendlyName, int friendlyNameLength,
                     const unsigned char* localKeyId, int localKeyIdLength);
  // An attribute {oid, SET OF value}: 1, or 0 when it cannot be made.
  int addAttribute(const ASNobjectId& oid, const ASNobject& value);

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<4> allMembers() { return {&bagId, &bagValue.get(), &bagValue, &bagAttributes}; }
  void restoreDefaults() { bagAttributesPresent = 0; }

  ASNobjectId bagId;
  ASNexpl<ASNany> bagValue;
  Attributes bagAttributes;
  unsigned char bagAttributesPresent;
};

using SafeContents = ASNsequenceList<SafeBag>;

class CertBag : public cmsasn::Sequence<CertBag> {
 public:
  explicit CertBag(unsigned char tag = 0);
  ~CertBag() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<3> allMembers() { return {&certId, &certValue.get(), &certValue}; }
  void restoreDefaults() {}

  ASNobjectId certId;
  ASNexpl<ASNoctstr> certValue;
};

class MacData : public cmsasn::Sequence<MacData> {
 public:
  explicit MacData(unsigned char tag = 0);
  ~MacData() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<3> allMembers() { return {&mac, &macSalt, &iterations}; }
  void restoreDefaults() { iterations.set(1u); }

  DigestInfo mac;
  ASNoctstr macSalt;
  ASNinteger iterations;  // DEFAULT 1, written only when not 1
};

// PKCS#7 EncryptedData: version (0 when built), encryptedContentInfo.
class EncryptedData : public cmsasn::Sequence<EncryptedData> {
 public:
  explicit EncryptedData(unsigned char tag = 0);
  ~EncryptedData() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<2> allMembers() { return {&version, &encryptedContentInfo}; }
  void restoreDefaults() { version.set(0u); }

  ASNinteger version;
  EncryptedContentInfo encryptedContentInfo;
};

class Pfx : public cmsasn::Sequence<Pfx> {
 public:
  Pfx();
  ~Pfx() override;
  Pfx(const Pfx&) = delete;
  Pfx& operator=(const Pfx&) = delete;

  // ---- writing ----
  // Version 3, authSafe id-data, no bags or keys collected: 1.
  int initAuthSafe();
  // Each 1, or 0 (nothing added) when the item cannot be made.
  int addCertBag(const SignedCertificate& cert, const unsigned char* friendlyName,
                 int friendlyNameLength, const unsigned char* localKeyId, int localKeyIdLength);
  int addRsaKey(const RSAPrivateKey& key, const unsigned char* friendlyName, int friendlyNameLength,
                const unsigned char* localKeyId, int localKeyIdLength);
  int addDsaKey(const DSAPrivateKey& key, const unsigned char* friendlyName, int friendlyNameLength,
                const unsigned char* localKeyId, int localKeyIdLength);
  int addEcKey(const ECPrivateKey& key, const unsigned char* friendlyName, int friendlyNameLength,
               const unsigned char* localKeyId, int localKeyIdLength);
  // A bag of any id holding the value's encoding; written encrypted inside
  // a secretBag. 1, or 0.
  int addBag(const ASNobject* value, const ASNobjectId* bagOid);
  SafeBag* appendSafeBag(const ASNobject& value, const ASNobjectId& bagOid);
  // Fills the authenticated safe, authSafe and MAC with cipher 4 or 7, the
  // password and salts that follow from SHA-1 of the seed: 1, or 0 (the
  // authenticated safe is then empty).
  int build(int cipherId, const unsigned char* password, int passwordLength,
            const unsigned char* seed, int seedLength);

  // ---- reading (of a decoded Pfx) ----
  // 1 every safe walked; 0 the MAC does not match or a decryption is
  // refused (a wrong password); -1 a safe, bag or certificate that does not
  // decode or is not taken; -2 an integrity or encryption algorithm other
  // than HMAC-SHA-1/SHA-2, the two PBE schemes and PBES2 (PBKDF2 over
  // HMAC-SHA-1/SHA-2, AES-CBC), bad parameters, or more
  // iterations than PFX_MAX_TOTAL_ITERATIONS in all; -3 any other exception;
  // -4 out of memory.
  // Items read before a failure stay in the lists. Key and certificate
  // attribute lists (when given) get one TypedPointerList<Attribute> per item.
  // `text`, when given, is the password as typed, which PBES2 takes
  // (pbeDecrypt); `password` stays its BMPString.
  int parsePfx(TypedPointerList<PrivateKeyInfo>& keys, TypedPointerList<SignedCertificate>& certs,
               TypedPointerList<SafeBag>& bags, const unsigned char* password,
               int passwordLength, PointerList* keyAttributes = nullptr,
               PointerList* certAttributes = nullptr, const unsigned char* text = nullptr,
               int textLength = 0) const;
  int extract(TypedPointerList<PrivateKeyInfo>& keys, TypedPointerList<SignedCertificate>& certs,
              TypedPointerList<SafeBag>& bags, const unsigned char* password,
              int passwordLength) const;
  // 1 the MAC over the authSafe content matches, 0 it does not (or the
  // password is empty), -2 not HMAC-SHA-1 or SHA-2, or bad parameters.
  int verifyMac(const unsigned char* password, int passwordLength) const;
  // As verifyMac, with only the first saltLength octets of the MAC salt.
  int verifyMac(const unsigned char* password, int passwordLength, int saltLength) const;

  // The members and the authenticated safe; the items collected for
  // writing stay.
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<7> allMembers() {
    return {&version,  &authSafe.value(), &authSafe.content,  &authSafe.contentType,
            &authSafe, &macData,          &authenticatedSafe};
  }
  void restoreDefaults() { authSafe.contentPresent = 0; }

  ASNinteger version;
  ContentInfo<ASNoctstr> authSafe;
  MacData macData;
  ASNsequenceList<ContentInfo<ASNany>> authenticatedSafe;  // the decoded authSafe octets
  std::unique_ptr<SafeContents> certBags;
  std::unique_ptr<SafeContents> keyBags;
  std::unique_ptr<ASNsequenceList<PrivateKeyInfo>> keys;
  std::unique_ptr<SafeContents> otherBags;

 private:
  template <class Key>
  int addKey(const Key& key, const unsigned char* friendlyName, int friendlyNameLength,
             const unsigned char* localKeyId, int localKeyIdLength);
  int buildSafes(int cipherId, const unsigned char* password, int passwordLength,
                 unsigned char* saltState);
  bool computeMac(const unsigned char* password, int passwordLength, const unsigned char* salt);
};
