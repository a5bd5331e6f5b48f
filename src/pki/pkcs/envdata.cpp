#include "pki/pkcs/envdata.h"

#include "base/commonerror.h"

#include <new>

using cmsasn::opt;

namespace {

const char* const SRC = "libcms/envdata";

}  // namespace

// ---------------------------------------------------------------------------
// OriginatorInfoASN

OriginatorInfoASN::OriginatorInfoASN(unsigned char t)
    : cmsasn::Sequence<OriginatorInfoASN>(t),
      certs(0xA0),
      certsPresent(0),
      crls(0xA1),
      crlsPresent(0) {}

OriginatorInfoASN::~OriginatorInfoASN() = default;

cmsasn::AllMembers<2> OriginatorInfoASN::allMembers() { return {&certs, &crls}; }

void OriginatorInfoASN::restoreDefaults() { certsPresent = crlsPresent = 0; }

int OriginatorInfoASN::decodeMembers(cmsasn::MemberReader& r) {
  int x;
  // certs [0] before crls [1], each at most once.
  while (!r.done()) {
    const int id = r.peek();
    if (id == 0xA0 && !certsPresent && !crlsPresent) {
      if ((x = r.read(certs)) < 1) return x;
      certsPresent = 1;
    } else if (id == 0xA1 && !crlsPresent) {
      if ((x = r.read(crls)) < 1) return x;
      crlsPresent = 1;
    } else {
      return 0;
    }
  }
  return r.finish();
}

cmsasn::Members<2> OriginatorInfoASN::members() const {
  return {opt(certs, certsPresent), opt(crls, crlsPresent)};
}

// ---------------------------------------------------------------------------
// The recipient infos

KeyTransRecipientInfo::KeyTransRecipientInfo(unsigned char t)
    : cmsasn::Sequence<KeyTransRecipientInfo>(t),
      version(),
      rid(),
      keyEncryptionAlgorithm(),
      encryptedKey() {
  version.set(0u);
}

KeyTransRecipientInfo::~KeyTransRecipientInfo() = default;

cmsasn::AllMembers<4> KeyTransRecipientInfo::allMembers() {
  return {&version, &rid, &keyEncryptionAlgorithm, &encryptedKey};
}

void KeyTransRecipientInfo::restoreDefaults() { version.set(0u); }

int KeyTransRecipientInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  // The subjectKeyIdentifier [0] form of rid is not taken.
  if ((x = r.readTagged(rid, 0x30)) < 1) return x;
  if ((x = r.readTagged(keyEncryptionAlgorithm, 0x30)) < 1) return x;
  if ((x = r.read(encryptedKey)) < 1) return x;
  return r.finish();
}

cmsasn::Members<4> KeyTransRecipientInfo::members() const {
  return {&version, &rid, &keyEncryptionAlgorithm, &encryptedKey};
}

KEKIdentifier::KEKIdentifier(unsigned char t)
    : cmsasn::Sequence<KEKIdentifier>(t), keyIdentifier() {}

KEKIdentifier::~KEKIdentifier() = default;

cmsasn::AllMembers<1> KEKIdentifier::allMembers() { return {&keyIdentifier}; }

void KEKIdentifier::restoreDefaults() {}

int KEKIdentifier::decodeMembers(cmsasn::MemberReader& r) {
  const int x = r.read(keyIdentifier);
  if (x < 1) return x;
  return r.finish();
}

cmsasn::Members<1> KEKIdentifier::members() const { return {&keyIdentifier}; }

KEKRecipientInfo::KEKRecipientInfo(unsigned char t)
    : cmsasn::Sequence<KEKRecipientInfo>(t),
      version(),
      kekid(),
      keyEncryptionAlgorithm(),
      encryptedKey() {
  version.set(4u);
}

KEKRecipientInfo::~KEKRecipientInfo() = default;

cmsasn::AllMembers<4> KEKRecipientInfo::allMembers() {
  return {&version, &kekid, &keyEncryptionAlgorithm, &encryptedKey};
}

void KEKRecipientInfo::restoreDefaults() { version.set(4u); }

int KEKRecipientInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  if ((x = r.readTagged(kekid, 0x30)) < 1) return x;
  if ((x = r.readTagged(keyEncryptionAlgorithm, 0x30)) < 1) return x;
  if ((x = r.read(encryptedKey)) < 1) return x;
  return r.finish();
}

cmsasn::Members<4> KEKRecipientInfo::members() const {
  return {&version, &kekid, &keyEncryptionAlgorithm, &encryptedKey};
}

PasswordRecipientInfo::PasswordRecipientInfo(unsigned char t)
    : cmsasn::Sequence<PasswordRecipientInfo>(t),
      version(),
      keyEncryptionAlgorithm(),
      encryptedKey() {}

PasswordRecipientInfo::~PasswordRecipientInfo() = default;

cmsasn::AllMembers<3> PasswordRecipientInfo::allMembers() {
  return {&version, &keyEncryptionAlgorithm, &encryptedKey};
}

void PasswordRecipientInfo::restoreDefaults() {}

int PasswordRecipientInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  // A keyDerivationAlgorithm [0] stands here in such a recipient info.
  if ((x = r.readTagged(keyEncryptionAlgorithm, 0x30)) < 1) return x;
  if ((x = r.read(encryptedKey)) < 1) return x;
  return r.finish();
}

cmsasn::Members<3> PasswordRecipientInfo::members() const {
  return {&version, &keyEncryptionAlgorithm, &encryptedKey};
}

RecipientInfo::RecipientInfo()
    : ASNchoice(0), ktri(), kekri(0xA2), pwri(0xA3), list{&ktri, &kekri, &pwri, nullptr} {
  choose(KTRI);
}

int RecipientInfo::decode(GenericFile* in, int length, unsigned char f) {
  // The framework matches alternatives on class and number only.
  const int next = asnPeekIdentifier(in);
  if (next != 0x30 && next != 0xA2 && next != 0xA3) {
    m_chosenObject = nullptr;
    return 0;
  }
  return ASNchoice::decode(in, length, f);
}

// ---------------------------------------------------------------------------
// EnvelopedData

EnvelopedData::EnvelopedData(unsigned char t)
    : cmsasn::Sequence<EnvelopedData>(t),
      version(),
      originatorInfo(0xA0),
      originatorInfoPresent(0),
      recipientInfos(),
      encryptedContentInfo(),
      unprotectedAttrs(0xA1),
      unprotectedAttrsPresent(0) {}

EnvelopedData::~EnvelopedData() = default;

cmsasn::AllMembers<5> EnvelopedData::allMembers() {
  return {&version, &originatorInfo, &recipientInfos, &encryptedContentInfo, &unprotectedAttrs};
}

void EnvelopedData::restoreDefaults() {
  originatorInfoPresent = unprotectedAttrsPresent = 0;
  encryptedContentInfo.recipientInfos = nullptr;
}

int EnvelopedData::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  const int id = r.peek();
  if (id >= 0 && (id & 0xC0) == 0x80 && (id & 0x1F) == 0) {
    if ((x = r.readTagged(originatorInfo, 0xA0)) < 1) return x;
    originatorInfoPresent = 1;
  }
  if ((x = r.readTagged(recipientInfos, 0x31)) < 1) return x;
  if ((x = r.readTagged(encryptedContentInfo, 0x30)) < 1) return x;
  encryptedContentInfo.recipientInfos = &recipientInfos;
  if (!r.done()) {
    if ((x = r.readTagged(unprotectedAttrs, 0xA1)) < 1) return x;
    unprotectedAttrsPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<5> EnvelopedData::members() const {
  return {&version, opt(originatorInfo, originatorInfoPresent), &recipientInfos,
          &encryptedContentInfo, opt(unprotectedAttrs, unprotectedAttrsPresent)};
}

int EnvelopedData::createStreamCtx() {
  return cmsasn::newStreamCtx<CmsMemberStreamCtx>(streamCtx);
}

void EnvelopedData::resetStreamCtx() {
  ASNobject::resetStreamCtx();
  cmsasn::resetMemberStreams(allMembers());
}

void EnvelopedData::freeStreamCtx() {
  ASNobject::freeStreamCtx();
  cmsasn::freeMemberStreams(allMembers());
}

int64_t EnvelopedData::streamLength(int64_t expected) const {
  return cmsasn::streamedMembersLength(members(), expected);
}

// decodeState: 0 version, 1 the identifier after it, 2 originatorInfo, 3
// recipientInfos started by the peeked octets, 4 recipientInfos, 5
// encryptedContentInfo, 6 the identifier after it, 7 unprotectedAttrs, 8 done.
int EnvelopedData::streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  auto* c = static_cast<CmsMemberStreamCtx*>(streamCtx);
  if (!c->started) {
    cmsasn::freeMemberStreams(allMembers());
    // Nothing an earlier decode read (in place) outlives this one.
    resetMembers();
    c->started = 1;
  }
  if (contentLength == 0) {
    c->contentSize = 0;
    return 1;
  }
  int64_t r;
  for (;;) {
    switch (c->decodeState) {
      case 0:
        if ((r = cmsStreamMember(version, in, contentLength, c, out)) < 1) return static_cast<int>(r);
        c->consumed += r;
        c->decodeState = 1;
        break;
      case 1:
        if ((r = cmsStreamPeek(in, contentLength, c)) < 1) return static_cast<int>(r);
        if ((c->lookahead[0] & 0xC0) != 0x80)
          c->decodeState = 3;
        else if ((c->lookahead[0] & 0x1F) == 0)
          c->decodeState = 2;
        else
          return 0;
        break;
      case 2:
        if ((r = cmsStreamMemberPeeked(originatorInfo, in, contentLength, c, out)) < 1) return static_cast<int>(r);
        c->consumed += r;
        originatorInfoPresent = 1;
        c->decodeState = 4;
        break;
      case 3:
      case 4:
        r = c->decodeState == 3 ? cmsStreamMemberPeeked(recipientInfos, in, contentLength, c, out)
                                : cmsStreamMember(recipientInfos, in, contentLength, c, out);
        if (r < 1) return static_cast<int>(r);
        c->consumed += r;
        // A consumer picks its recipient before the encrypted content comes.
        encryptedContentInfo.recipientInfos = &recipientInfos;
        c->decodeState = 5;
        break;
      case 5:
        if ((r = cmsStreamMember(encryptedContentInfo, in, contentLength, c, out)) < 1) return static_cast<int>(r);
        c->consumed += r;
        encryptedContentInfo.recipientInfos = &recipientInfos;
        c->decodeState = 6;
        break;
      case 6:
        if (contentLength >= 0 && c->consumed >= contentLength) {
          c->decodeState = 8;
          break;
        }
        if ((r = cmsStreamPeek(in, contentLength, c)) < 1) return static_cast<int>(r);
        if (contentLength < 0 && c->lookahead[0] == 0 && c->lookahead[1] == 0) {
          c->eocCount = 2;  // the end-of-contents is read
          c->decodeState = 8;
          break;
        }
        if (c->lookahead[0] != 0xA1) return 0;
        c->decodeState = 7;
        break;
      case 7:
        if ((r = cmsStreamMemberPeeked(unprotectedAttrs, in, contentLength, c, out)) < 1) return static_cast<int>(r);
        c->consumed += r;
        unprotectedAttrsPresent = 1;
        c->decodeState = 8;
        break;
      default:
        c->contentSize = c->consumed;
        if (contentLength < 0) return 1;
        return c->consumed == contentLength ? 1 : 0;
    }
  }
}

int EnvelopedData::streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  return cmsasn::streamEncodeMembers(members(), streamCtx, in, length, last, out);
}
