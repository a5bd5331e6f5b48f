// CMS EncryptedContentInfo (RFC 5652 6.1): the content type, the content
// encryption algorithm and the optional encrypted content, read whole or
// while it streams in (the encrypted octets passing through to an output,
// never held), written whole or while they are produced. It also carries
// the PKCS#12 password-based encryption of a safe (pbesha1.h).
#pragma once

#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "crypto/basic/lvoctmem.h"
#include "pki/common/algid.h"
#include "pki/cms/cmsmembers.h"

class RecipientInfo;
template <class T>
class ASNsetList;
using RecipientInfos = ASNsetList<RecipientInfo>;

// Streaming state of a member-by-member structure: decodeState is the
// member being read; `taken` the octets read from a definite content so
// far, `consumed` the octets of the members completed; the look-ahead
// holds the two octets peeked to tell an optional member or the
// end-of-contents.
class CmsMemberStreamCtx : public ASNStreamCtx {
 public:
  int reset() override;

  int64_t taken = 0;
  int64_t consumed = 0;
  unsigned char lookahead[2] = {0, 0};
  int32_t lookaheadCount = 0;
  uint8_t started = 0;
  uint8_t memberStarted = 0;  // the member in progress has had its first octets
};

class EncryptedContentInfo : public cmsasn::Sequence<EncryptedContentInfo> {
 public:
  explicit EncryptedContentInfo(unsigned char tag = 0);
  ~EncryptedContentInfo() override;
  EncryptedContentInfo(const EncryptedContentInfo&) = delete;
  // Member-wise copy: tag and flags, the members, the presence flag and the
  // recipient-set reference (the copy refers to the source's set).
  EncryptedContentInfo& operator=(const EncryptedContentInfo& other);

  // Empties the encrypted content, marks it present and drops the
  // recipient-set reference. Type and algorithm stay unless they were read
  // in place (then they are emptied with the rest: their octets may be gone).
  void clear() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<3> allMembers();
  // The encrypted content present; the recipient-set reference stays (the
  // enveloping decoder sets it before this content streams in).
  void restoreDefaults();

  int createStreamCtx() override;
  void resetStreamCtx() override;
  void freeStreamCtx() override;
  int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override;
  int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override;
  int64_t streamLength(int64_t expected) const override;
  bool streamsThrough() const override { return true; }

  // Encrypts the DER of `object` with cipher 4 (three-key triple DES) or 7
  // (40-bit RC2): contentType id-data, the scheme with {salt, iterations},
  // the ciphertext. 1, or -1 (empty salt or password, memory, cipher). Any
  // other cipher id is the invariant failure "0" of "libcms/encntinf".
  int encryptWithPassword(int cipherId, const unsigned char* password, int passwordLength,
                          const unsigned char* salt, int saltLength, uint32_t iterations,
                          const ASNobject& object);
  // Decrypts into `target`: 1; 0 the cipher refused the data or the
  // password is empty (a wrong password); -1 memory; -2 not the scheme of
  // `cipherId`, no or bad parameters (empty salt, iteration count over four
  // octets or above PBE_MAX_ITERATIONS), refused before any derivation.
  int decryptWithPassword(int cipherId, const unsigned char* password, int passwordLength,
                          ASNoctstr& target) const;

  ASNobjectId contentType;
  AlgorithmIdentifier contentEncryptionAlgorithm;
  ASNoctstr encryptedContent;  // [0] IMPLICIT, optional
  unsigned char encryptedContentPresent;
  // The recipient infos of the enclosing EnvelopedData (not owned); set by
  // its streaming decoder before the encrypted content arrives.
  const RecipientInfos* recipientInfos;
};

// Shared by the streamed structures of the enveloped message: feeds one
// member, which never sees an octet beyond a definite content.
int64_t cmsStreamMember(ASNobject& member, GenericFile* in, int64_t contentLength, CmsMemberStreamCtx* c,
                    GenericFile* out);
// Peeks the two octets after a member into c->lookahead: 1, EASN_MORE, or
// EASN_FILE; with a definite content they count as taken.
int cmsStreamPeek(GenericFile* in, int64_t contentLength, CmsMemberStreamCtx* c);
// Starts a member with the two peeked octets, then goes on from `in`.
int64_t cmsStreamMemberPeeked(ASNobject& member, GenericFile* in, int64_t contentLength,
                          CmsMemberStreamCtx* c, GenericFile* out);
