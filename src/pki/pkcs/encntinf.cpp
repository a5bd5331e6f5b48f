#include "pki/pkcs/encntinf.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "pki/common/oids.h"
#include "pki/pkcs/pbesha1.h"

#include <new>

namespace {

const char* const SRC = "libcms/encntinf";

}  // namespace

// ---------------------------------------------------------------------------
// Streaming helpers

int CmsMemberStreamCtx::reset() {
  taken = 0;
  consumed = 0;
  lookahead[0] = lookahead[1] = 0;
  lookaheadCount = 0;
  started = 0;
  memberStarted = 0;
  return ASNStreamCtx::reset();
}

int64_t cmsStreamMember(ASNobject& member, GenericFile* in, int64_t contentLength, CmsMemberStreamCtx* c,
                    GenericFile* out) {
  if (contentLength < 0) return member.decodeStream(in, out);
  const int64_t left = contentLength - c->taken;
  ASNBoundedFile bounded(in, left);
  const int64_t r = member.decodeStream(&bounded, out);
  c->taken += left - bounded.remaining();
  if (r == EASN_MORE && bounded.remaining() == 0) return 0;
  return r;
}

int cmsStreamPeek(GenericFile* in, int64_t contentLength, CmsMemberStreamCtx* c) {
  if (contentLength < 0) return asnFillLookahead(in, c->lookahead, &c->lookaheadCount);
  const int64_t left = contentLength - c->taken;
  if (left < 2) return 0;
  ASNBoundedFile bounded(in, left);
  const int r = asnFillLookahead(&bounded, c->lookahead, &c->lookaheadCount);
  c->taken += left - bounded.remaining();
  return r;
}

int64_t cmsStreamMemberPeeked(ASNobject& member, GenericFile* in, int64_t contentLength,
                          CmsMemberStreamCtx* c, GenericFile* out) {
  int64_t r = EASN_MORE;
  if (!c->memberStarted) {
    c->memberStarted = 1;
    c->lookaheadCount = 0;
    r = member.decodeStreamBuffer(c->lookahead, 2, out);
  }
  if (r == EASN_MORE) r = cmsStreamMember(member, in, contentLength, c, out);
  if (r != EASN_MORE) c->memberStarted = 0;
  return r;
}

// ---------------------------------------------------------------------------
// EncryptedContentInfo

EncryptedContentInfo::EncryptedContentInfo(unsigned char t)
    : cmsasn::Sequence<EncryptedContentInfo>(t),
      contentType(),
      contentEncryptionAlgorithm(),
      encryptedContent(0x80),
      encryptedContentPresent(1),
      recipientInfos(nullptr) {}

EncryptedContentInfo::~EncryptedContentInfo() = default;

EncryptedContentInfo& EncryptedContentInfo::operator=(const EncryptedContentInfo& o) {
  if (this == &o) return *this;
  cmsasn::refuseConstTarget(*this);
  ASNobject::operator=(o);
  contentType = o.contentType;
  contentEncryptionAlgorithm = o.contentEncryptionAlgorithm;
  encryptedContent = o.encryptedContent;
  encryptedContent.tag = o.encryptedContent.tag;
  encryptedContentPresent = o.encryptedContentPresent;
  recipientInfos = o.recipientInfos;
  return *this;
}

void EncryptedContentInfo::clear() {
  // Values read in place go with the rest: the octets they view may be
  // released already (a re-decode of an enclosing value releases them first).
  if ((contentType.flags | contentEncryptionAlgorithm.flags) & ASN_FLAG_CONST) {
    cmsasn::Sequence<EncryptedContentInfo>::clear();
  } else {
    const ASNobjectId type(contentType);
    const AlgorithmIdentifier algorithm(contentEncryptionAlgorithm);
    cmsasn::Sequence<EncryptedContentInfo>::clear();
    contentType = type;
    contentEncryptionAlgorithm = algorithm;
  }
  recipientInfos = nullptr;
}

cmsasn::AllMembers<3> EncryptedContentInfo::allMembers() {
  return {&contentType, &contentEncryptionAlgorithm, &encryptedContent};
}

void EncryptedContentInfo::restoreDefaults() { encryptedContentPresent = 1; }

int EncryptedContentInfo::decodeMembers(cmsasn::MemberReader& r) {
  encryptedContentPresent = 0;
  int x = r.readTagged(contentType, 0x06);
  if (x < 1) return x;
  if ((x = r.readTagged(contentEncryptionAlgorithm, 0x30)) < 1) return x;
  if (!r.done()) {
    const int id = r.peek();
    if (id != 0x80 && id != 0xA0) return 0;
    if ((x = r.read(encryptedContent)) < 1) return x;
    encryptedContentPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> EncryptedContentInfo::members() const {
  return {&contentType, &contentEncryptionAlgorithm,
          cmsasn::opt(encryptedContent, encryptedContentPresent)};
}

int EncryptedContentInfo::createStreamCtx() {
  return cmsasn::newStreamCtx<CmsMemberStreamCtx>(streamCtx);
}

void EncryptedContentInfo::resetStreamCtx() {
  ASNobject::resetStreamCtx();
  cmsasn::resetMemberStreams(allMembers());
}

void EncryptedContentInfo::freeStreamCtx() {
  ASNobject::freeStreamCtx();
  cmsasn::freeMemberStreams(allMembers());
}

int64_t EncryptedContentInfo::streamLength(int64_t expected) const {
  return cmsasn::streamedMembersLength(members(), expected);
}

int EncryptedContentInfo::streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  auto* c = static_cast<CmsMemberStreamCtx*>(streamCtx);
  if (!c->started) {
    cmsasn::freeMemberStreams(allMembers());
    // Nothing an earlier decode read (in place) outlives this one.
    resetMembers();
    encryptedContentPresent = 0;
    // The encrypted octets pass through; they are never held.
    const int p = encryptedContent.setStreamPassThrough(true);
    if (p < 1) return p == 0 ? EASN_MEM : p;
    c->started = 1;
  }
  if (contentLength >= 0 && contentLength < 2) return 0;
  int64_t r;
  for (;;) {
    switch (c->decodeState) {
      case 0:
        if ((r = cmsStreamMember(contentType, in, contentLength, c, out)) < 1) return static_cast<int>(r);
        c->consumed += r;
        c->decodeState = 1;
        break;
      case 1:
        if ((r = cmsStreamMember(contentEncryptionAlgorithm, in, contentLength, c, out)) < 1)
          return static_cast<int>(r);
        c->consumed += r;
        c->decodeState = 2;
        break;
      case 2:
        if (contentLength >= 0) {
          if (c->consumed >= contentLength) {
            c->decodeState = 5;
            break;
          }
          c->decodeState = 3;
          break;
        }
        if ((r = cmsStreamPeek(in, contentLength, c)) < 1) return static_cast<int>(r);
        if (c->lookahead[0] == 0 && c->lookahead[1] == 0) {
          c->eocCount = 2;  // the end-of-contents is read
          c->decodeState = 5;
          break;
        }
        if (c->lookahead[0] != 0x80 && c->lookahead[0] != 0xA0) return 0;
        c->decodeState = 4;
        break;
      case 3:
      case 4:
        r = c->decodeState == 3
                ? cmsStreamMember(encryptedContent, in, contentLength, c, out)
                : cmsStreamMemberPeeked(encryptedContent, in, contentLength, c, out);
        if (r < 1) return static_cast<int>(r);
        c->consumed += r;
        encryptedContentPresent = 1;
        c->decodeState = 5;
        break;
      default:
        c->contentSize = c->consumed;
        if (contentLength < 0) return 1;
        return c->consumed == contentLength ? 1 : 0;
    }
  }
}

int EncryptedContentInfo::streamEncodeStep(GenericFile* in, int64_t length, bool last,
                                           GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  return cmsasn::streamEncodeMembers(members(), streamCtx, in, length, last, out);
}

// ---------------------------------------------------------------------------
// Password-based encryption of a safe

int EncryptedContentInfo::encryptWithPassword(int cipherId, const unsigned char* password,
                                              int passwordLength, const unsigned char* salt,
                                              int saltLength, uint32_t iterations,
                                              const ASNobject& object) {
  const PbeScheme* scheme = pbeSchemeByCipher(cipherId);
  checkInvariant(scheme != nullptr, SRC, __LINE__, "0");
  contentType = id_data;
  const int r = pbeEncrypt(*scheme, password, passwordLength, salt, saltLength, iterations, object,
                           contentEncryptionAlgorithm, encryptedContent, SRC);
  if (r == 1) encryptedContentPresent = 1;
  return r;
}

int EncryptedContentInfo::decryptWithPassword(int cipherId, const unsigned char* password,
                                              int passwordLength, ASNoctstr& target) const {
  const PbeScheme* scheme = pbeSchemeByCipher(cipherId);
  checkInvariant(scheme != nullptr, SRC, __LINE__, "0");
  LvOctMem plain;
  const int d = pbeDecrypt(contentEncryptionAlgorithm, scheme, password, passwordLength,
                           encryptedContent, plain, SRC);
  if (d != 1) return d;
  return target.set(plain.ptr(), static_cast<int>(plain.getLength())) == 1 ? 1 : -1;
}
