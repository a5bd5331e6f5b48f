// CMS EnvelopedData (RFC 5652 6): originator info, the recipient infos
// (key transport to an issuer and serial number, a previously distributed
// key-encryption key, or a password without key derivation) and the
// encrypted content; read whole or while it streams in, written whole or
// while the content is produced. Choosing a recipient and unwrapping the
// content-encryption key are the message layer's. Key agreement [1] and
// other [4] recipient infos are not accepted.
#pragma once

#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "pki/common/algid.h"
#include "pki/cms/attribute.h"
#include "pki/x509/crl.h"
#include "pki/pkcs/encntinf.h"
#include "pki/cms/sgndata.h"

class OriginatorInfoASN : public cmsasn::Sequence<OriginatorInfoASN> {
 public:
  explicit OriginatorInfoASN(unsigned char tag = 0);
  ~OriginatorInfoASN() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<2> allMembers();
  void restoreDefaults();

  CmsSet<SignedCertificate> certs;  // [0] IMPLICIT, optional
  unsigned char certsPresent;
  CmsSet<SignedCertRevList> crls;  // [1] IMPLICIT, optional
  unsigned char crlsPresent;
};

class KeyTransRecipientInfo : public cmsasn::Sequence<KeyTransRecipientInfo> {
 public:
  explicit KeyTransRecipientInfo(unsigned char tag = 0);
  ~KeyTransRecipientInfo() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<4> members() const;
  cmsasn::AllMembers<4> allMembers();
  void restoreDefaults();

  ASNinteger version;  // 0 when built
  IssuerAndSerialNumber rid;
  AlgorithmIdentifier keyEncryptionAlgorithm;
  ASNoctstr encryptedKey;
};

// KEKIdentifier: the keyIdentifier alone (no date, no other attribute).
class KEKIdentifier : public cmsasn::Sequence<KEKIdentifier> {
 public:
  explicit KEKIdentifier(unsigned char tag = 0);
  ~KEKIdentifier() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<1> members() const;
  cmsasn::AllMembers<1> allMembers();
  void restoreDefaults();

  ASNoctstr keyIdentifier;
};

class KEKRecipientInfo : public cmsasn::Sequence<KEKRecipientInfo> {
 public:
  explicit KEKRecipientInfo(unsigned char tag = 0);
  ~KEKRecipientInfo() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<4> members() const;
  cmsasn::AllMembers<4> allMembers();
  void restoreDefaults();

  ASNinteger version;  // 4 when built
  KEKIdentifier kekid;
  AlgorithmIdentifier keyEncryptionAlgorithm;
  ASNoctstr encryptedKey;
};

// PasswordRecipientInfo without the keyDerivationAlgorithm member: one
// that names a key derivation does not decode.
class PasswordRecipientInfo : public cmsasn::Sequence<PasswordRecipientInfo> {
 public:
  explicit PasswordRecipientInfo(unsigned char tag = 0);
  ~PasswordRecipientInfo() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();

  ASNinteger version;
  AlgorithmIdentifier keyEncryptionAlgorithm;
  ASNoctstr encryptedKey;
};

class RecipientInfo : public ASNchoice {
 public:
  enum { KTRI = 0, KEKRI = 1, PWRI = 2 };
  // ktri chosen.
  RecipientInfo();
  ASNobject* const* objectList() const override { return list; }
  // Only the identifiers 30, A2 and A3 are taken.
  int decode(GenericFile* in, int length, unsigned char flags) override;

  KeyTransRecipientInfo ktri;
  KEKRecipientInfo kekri;     // [2] IMPLICIT
  PasswordRecipientInfo pwri;  // [3] IMPLICIT

 private:
  ASNobject* list[4];
};

class EnvelopedData : public cmsasn::Sequence<EnvelopedData> {
 public:
  explicit EnvelopedData(unsigned char tag = 0);
  ~EnvelopedData() override;
  EnvelopedData(const EnvelopedData&) = delete;
  EnvelopedData& operator=(const EnvelopedData&) = delete;

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<5> members() const;
  cmsasn::AllMembers<5> allMembers();
  void restoreDefaults();

  int createStreamCtx() override;
  void resetStreamCtx() override;
  void freeStreamCtx() override;
  // Reads the content as it arrives; the encrypted content passes through
  // to `out` (when given). The recipient infos are complete, and referred
  // to by the EncryptedContentInfo, before the encrypted content is read.
  int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override;
  int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override;
  int64_t streamLength(int64_t expected) const override;
  bool streamsThrough() const override { return true; }

  ASNinteger version;
  OriginatorInfoASN originatorInfo;  // [0] IMPLICIT, optional
  unsigned char originatorInfoPresent;
  RecipientInfos recipientInfos;
  EncryptedContentInfo encryptedContentInfo;
  CmsSet<Attribute> unprotectedAttrs;  // [1] IMPLICIT, optional
  unsigned char unprotectedAttrsPresent;
};

// The enveloped message: ContentInfo { id-envelopedData, [0] EXPLICIT EnvelopedData }.
using EnvelopedMessage = ContentInfo<EnvelopedData>;
