#include "pki/cms/sgndata.h"

#include "base/commonerror.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

const char* const SRC = "libcms/sgndata";

// The content of a definite-length element is copied in pieces of this size.
constexpr uint32_t COPY_CHUNK = 16384;

}  // namespace

// ---------------------------------------------------------------------------
// CertificateChoices

CertificateChoices::CertificateChoices()
    : ASNchoice(0),
      certificate(),
      extendedCertificate(0xA0),
      v1AttrCert(0xA1),
      v2AttrCert(0xA2),
      other(0xA3),
      list{&certificate, &extendedCertificate, &v1AttrCert, &v2AttrCert, &other, nullptr} {}

CertificateChoices::CertificateChoices(const CertificateChoices& o) : CertificateChoices() {
  ASNchoice::operator=(o);
}

CertificateChoices& CertificateChoices::operator=(const CertificateChoices& o) {
  cmsasn::refuseConstTarget(*this);
  ASNchoice::operator=(o);
  return *this;
}

ASNobject* const* CertificateChoices::objectList() const { return list; }

int CertificateChoices::decode(GenericFile* in, int length, unsigned char f) {
  // The framework matches alternatives on class and number only; a
  // primitive context tag is none of these alternatives.
  const int next = asnPeekIdentifier(in);
  if (next < 0) return 0;
  if (next != 0x30 && (next < 0xA0 || next > 0xA3)) {
    m_chosenObject = nullptr;
    return 0;
  }
  return ASNchoice::decode(in, length, f);
}

// ---------------------------------------------------------------------------
// SignerInfo

SignerInfo::SignerInfo(unsigned char t)
    : cmsasn::Sequence<SignerInfo>(t),
      version(),
      issuerAndSerialNumber(),
      subjectKeyIdentifier(0x80),
      sidIsKeyIdentifier(0),
      digestAlgorithm(),
      signedAttrs(0xA0),
      signedAttrsPresent(0),
      signatureAlgorithm(),
      signature(),
      unsignedAttrs(0xA1),
      unsignedAttrsPresent(0) {}

SignerInfo::SignerInfo(const SignerInfo& other) : SignerInfo(other.tag) { *this = other; }

SignerInfo::~SignerInfo() = default;

SignerInfo& SignerInfo::operator=(const SignerInfo& other) {
  if (this == &other) return *this;
  cmsasn::refuseConstTarget(*this);
  cmsasn::Sequence<SignerInfo>::operator=(other);
  version = other.version;
  issuerAndSerialNumber = other.issuerAndSerialNumber;
  subjectKeyIdentifier = other.subjectKeyIdentifier;
  subjectKeyIdentifier.tag = other.subjectKeyIdentifier.tag;
  sidIsKeyIdentifier = other.sidIsKeyIdentifier;
  digestAlgorithm = other.digestAlgorithm;
  // The signature covers the signed attributes as received: a set read in
  // place keeps its octets in the copy.
  signedAttrs.clear();
  dropView(signedAttrs);
  if (copyAsViewed(signedAttrs, other.signedAttrs) != 1)
    signedAttrs.copyElements(other.signedAttrs);
  signedAttrsPresent = other.signedAttrsPresent;
  signatureAlgorithm = other.signatureAlgorithm;
  signature = other.signature;
  unsignedAttrs.clear();
  dropView(unsignedAttrs);
  unsignedAttrs.copyElements(other.unsignedAttrs);
  unsignedAttrsPresent = other.unsignedAttrsPresent;
  return *this;
}

cmsasn::AllMembers<8> SignerInfo::allMembers() {
  return {&version,         &issuerAndSerialNumber, &subjectKeyIdentifier, &digestAlgorithm,
          &signedAttrs,     &signatureAlgorithm,    &signature,            &unsignedAttrs};
}

void SignerInfo::restoreDefaults() {
  sidIsKeyIdentifier = 0;
  signedAttrsPresent = 0;
  unsignedAttrsPresent = 0;
}

int SignerInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(version);
  if (x < 1) return x;
  // sid: IssuerAndSerialNumber, or subjectKeyIdentifier [0] (primitive, or
  // constructed as BER allows an OCTET STRING).
  const int sid = r.peek();
  if (sid == 0x80 || sid == 0xA0) {
    if ((x = r.read(subjectKeyIdentifier)) < 1) return x;
    sidIsKeyIdentifier = 1;
  } else if (sid == 0x30) {
    if ((x = r.read(issuerAndSerialNumber)) < 1) return x;
  } else {
    return 0;
  }
  if ((x = r.read(digestAlgorithm)) < 1) return x;
  if (r.peek() == 0xA0) {
    if ((x = r.read(signedAttrs)) < 1) return x;
    signedAttrsPresent = 1;
  }
  if ((x = r.readTagged(signatureAlgorithm, 0x30)) < 1) return x;
  if ((x = r.read(signature)) < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(unsignedAttrs, 0xA1)) < 1) return x;
    unsignedAttrsPresent = 1;
  }
  return r.finish();
}

namespace {

void appendHeader(std::vector<unsigned char>& out, unsigned char id, size_t n) {
  out.push_back(id);
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
    return;
  }
  int k = 0;
  for (size_t v = n; v; v >>= 8) ++k;
  out.push_back(static_cast<unsigned char>(0x80 | k));
  while (k-- > 0) out.push_back(static_cast<unsigned char>(n >> (8 * k)));
}

}  // namespace

int SignerInfo::signedAttrsDigestInput(std::vector<unsigned char>& out) const {
  out.clear();
  if (!signedAttrsPresent) return 0;
  try {
    std::vector<std::vector<unsigned char>> attrs;
    for (POSITION pos = signedAttrs.GetHeadPosition(); pos;) {
      const Attribute* a = signedAttrs.GetNext(pos);
      if (!a) continue;
      std::vector<unsigned char> values;
      for (POSITION v = a->attrValues.GetHeadPosition(); v;) {
        const ASNany* value = a->attrValues.GetNext(v);
        if (!value) continue;
        std::vector<unsigned char> e;
        const int r = value->encodeVector(e);
        if (r < 1) return r == EASN_MEM ? EASN_MEM : 0;
        values.insert(values.end(), e.begin(), e.end());
      }
      const unsigned char* oid = a->attrType.data();
      const size_t oidLength = static_cast<size_t>(a->attrType.length);
      if (!oid || oidLength == 0) return 0;
      std::vector<unsigned char> body;
      appendHeader(body, 0x06, oidLength);
      body.insert(body.end(), oid, oid + oidLength);
      appendHeader(body, 0x31, values.size());
      body.insert(body.end(), values.begin(), values.end());
      std::vector<unsigned char> attr;
      appendHeader(attr, 0x30, body.size());
      attr.insert(attr.end(), body.begin(), body.end());
      attrs.push_back(std::move(attr));
    }
    if (!signedAttrs.keepOrder) std::sort(attrs.begin(), attrs.end());
    size_t total = 0;
    for (const auto& a : attrs) total += a.size();
    if (total > static_cast<size_t>(ASN_MAX_LENGTH)) return 0;
    appendHeader(out, 0x31, total);
    for (const auto& a : attrs) out.insert(out.end(), a.begin(), a.end());
  } catch (const std::bad_alloc&) {
    out.clear();
    return EASN_MEM;
  }
  return 1;
}

cmsasn::Members<7> SignerInfo::members() const {
  return {&version,
          sidIsKeyIdentifier ? static_cast<const ASNobject*>(&subjectKeyIdentifier)
                             : &issuerAndSerialNumber,
          &digestAlgorithm,
          cmsasn::opt(signedAttrs, signedAttrsPresent),
          &signatureAlgorithm,
          &signature,
          cmsasn::opt(unsignedAttrs, unsignedAttrsPresent)};
}

// ---------------------------------------------------------------------------
// ElementCollector

void ElementCollector::reset() {
  buffer.clear();
  phase = 0;
  depth = 0;
  lengthLeft = 0;
  lengthAccum = 0;
  copyLeft = 0;
  identifier = 0;
}

int ElementCollector::append(const unsigned char* p, uint32_t n) {
  return buffer.write(n, p) == 0 ? 1 : EASN_MEM;
}

int ElementCollector::step(GenericFile* in, int64_t bound, bool eocAllowed) {
  if (bound < 0 || bound > ASN_MAX_LENGTH) bound = ASN_MAX_LENGTH;
  for (;;) {
    if (phase == 3) {
      // Content of a definite element: copied as it comes, never parsed.
      unsigned char chunk[COPY_CHUNK];
      while (copyLeft > 0) {
        const uint32_t want = copyLeft < COPY_CHUNK ? static_cast<uint32_t>(copyLeft) : COPY_CHUNK;
        uint32_t got = 0;
        if (in->read(want, chunk, &got) != 0) return EASN_FILE;
        if (got == 0) return EASN_MORE;
        if (append(chunk, got) != 1) return EASN_MEM;
        copyLeft -= got;
      }
      if (depth == 0) return 1;
      phase = 0;
      continue;
    }
    // Every octet of the element must lie within what it may take.
    if (buffer.length() >= bound) return 0;
    uint8_t b = 0;
    uint32_t got = 0;
    if (in->read(1, &b, &got) != 0) return EASN_FILE;
    if (got == 0) return EASN_MORE;
    if (phase == 0) {
      const bool top = buffer.length() == 0;
      if (b == 0 && (depth > 0 || (top && eocAllowed))) {
        // An end-of-contents candidate: its length octet must be 00.
        identifier = 0;
        phase = 1;
        if (!top && append(&b, 1) != 1) return EASN_MEM;
        continue;
      }
      // High tag numbers are not read anywhere; universal 0 is no value.
      if ((b & 0x1F) == 0x1F || (b & 0xDF) == 0) return 0;
      identifier = b;
      phase = 1;
      if (append(&b, 1) != 1) return EASN_MEM;
      continue;
    }
    if (phase == 1) {
      if (identifier == 0) {
        if (b != 0) return 0;
        if (depth == 0) return 2;  // end of the enclosing set, not an element
        if (append(&b, 1) != 1) return EASN_MEM;
        phase = 0;
        if (--depth == 0) return 1;
        continue;
      }
      if (append(&b, 1) != 1) return EASN_MEM;
      if (b == 0x80) {
        if (!(identifier & 0x20) || depth >= ASN_MAX_DEPTH) return 0;
        ++depth;
        phase = 0;
        continue;
      }
      if (b < 0x80) {
        copyLeft = b;
      } else {
        lengthLeft = b & 0x7F;
        if (lengthLeft > 4) return 0;
        lengthAccum = 0;
        phase = 2;
        continue;
      }
    } else {  // phase 2
      if (append(&b, 1) != 1) return EASN_MEM;
      lengthAccum = (lengthAccum << 8) | b;
      if (--lengthLeft > 0) continue;
      copyLeft = lengthAccum;
    }
    // A definite length is known: it must fit in what the element may take.
    if (copyLeft > bound - buffer.length()) return 0;
    phase = 3;
  }
}

// ---------------------------------------------------------------------------
// SignedDataStreamCtx

int SignedDataStreamCtx::reset() {
  consumed = 0;
  encapTaken = 0;
  setPhase = 0;
  setLength = 0;
  setTaken = 0;
  setLengthLeft = -1;
  setLengthAccum = 0;
  setHeaderSize = 0;
  peek[0] = peek[1] = 0;
  peekCount = 0;
  identifierHeld = 0;
  started = 0;
  collector.reset();
  return ASNStreamCtx::reset();
}

// ---------------------------------------------------------------------------
// SignedData

SignedData::SignedData(unsigned char t)
    : cmsasn::Sequence<SignedData>(t),
      version(),
      digestAlgorithms(),
      encapContentInfo(),
      certificates(0xA0, 0x0F),
      certificatesPresent(0),
      crls(0xA1, 0x02),
      crlsPresent(0),
      signerInfos() {}

SignedData::~SignedData() = default;

cmsasn::AllMembers<9> SignedData::allMembers() {
  return {&version,          &digestAlgorithms,          &encapContentInfo.value(),
          &encapContentInfo.content, &encapContentInfo.contentType, &encapContentInfo,
          &certificates,     &crls,                      &signerInfos};
}

void SignedData::restoreDefaults() {
  encapContentInfo.contentPresent = 0;
  certificatesPresent = 0;
  crlsPresent = 0;
}

int SignedData::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(version);
  if (x < 1) return x;
  if ((x = r.readTagged(digestAlgorithms, 0x31)) < 1) return x;
  if ((x = r.readTagged(encapContentInfo, 0x30)) < 1) return x;
  // certificates [0], then crls [1], each at most once, then signerInfos.
  for (;;) {
    const int id = r.peek();
    if (id == 0xA0 && !certificatesPresent && !crlsPresent) {
      if ((x = r.read(certificates)) < 1) return x;
      certificatesPresent = 1;
    } else if (id == 0xA1 && !crlsPresent) {
      if ((x = r.read(crls)) < 1) return x;
      crlsPresent = 1;
    } else if (id == 0x31) {
      if ((x = r.read(signerInfos)) < 1) return x;
      return r.finish();
    } else {
      return 0;
    }
  }
}

cmsasn::Members<6> SignedData::members() const {
  return {&version,
          &digestAlgorithms,
          &encapContentInfo,
          cmsasn::opt(certificates, certificatesPresent),
          cmsasn::opt(crls, crlsPresent),
          &signerInfos};
}

int SignedData::createStreamCtx() { return cmsasn::newStreamCtx<SignedDataStreamCtx>(streamCtx); }

void SignedData::resetStreamCtx() {
  ASNobject::resetStreamCtx();
  cmsasn::resetMemberStreams(members());
}

void SignedData::freeStreamCtx() {
  ASNobject::freeStreamCtx();
  cmsasn::freeMemberStreams(allMembers());
}

int64_t SignedData::streamLength(int64_t expected) const {
  // -1 (no length can be announced) makes the streamed encoding fail.
  int64_t n = 0;
  for (const ASNobject* m : members())
    if (m) n = asnAddStreamed(n, asnStreamedTotal(*m, expected));
  return n;
}

// One member read whole from its collected encoding.
int SignedData::streamElement(ASNobject& member, GenericFile* in, SignedDataStreamCtx* c,
                              int64_t limit) {
  const int r = c->collector.step(in, limit - c->consumed, false);
  if (r != 1) return r == 2 ? 0 : r;
  const int n = c->collector.size();
  const int d = member.decodeBuffer(c->collector.data(), n, 0);
  c->collector.reset();
  if (d < 1) return d;
  if (d != n) return 0;
  c->consumed += n;
  return 1;
}

// A set whose identifier octet (c->peek[0]) has been read: its length, then
// its elements one by one, each decoded whole from its collected encoding.
template <class T>
int SignedData::streamSet(CmsSet<T>& set, GenericFile* in, SignedDataStreamCtx* c, int64_t limit) {
  if (c->setPhase == 0) {
    if (c->setLengthLeft < 0 && c->setHeaderSize == 0) {
      // A streamed set is held privately, whatever it was before.
      CmsSet<T> blank(set.tag);
      set.ASNobject::operator=(blank);
      set.clear();
      c->setHeaderSize = 1;
    }
    while (c->setPhase == 0) {
      uint8_t b = 0;
      uint32_t got = 0;
      if (in->read(1, &b, &got) != 0) return EASN_FILE;
      if (got == 0) return EASN_MORE;
      ++c->setHeaderSize;
      if (c->setLengthLeft < 0) {
        if (b == 0x80) {
          c->setLength = -1;
          c->setPhase = 1;
        } else if (b < 0x80) {
          c->setLength = b;
          c->setPhase = 1;
        } else {
          c->setLengthLeft = b & 0x7F;
          c->setLengthAccum = 0;
          if (c->setLengthLeft > 4) return 0;
        }
        continue;
      }
      c->setLengthAccum = (c->setLengthAccum << 8) | b;
      if (--c->setLengthLeft == 0) {
        if (c->setLengthAccum > static_cast<uint32_t>(ASN_MAX_LENGTH)) return 0;
        c->setLength = static_cast<int32_t>(c->setLengthAccum);
        c->setPhase = 1;
      }
    }
    c->setLengthLeft = -1;
    c->consumed += c->setHeaderSize;
    c->setHeaderSize = 0;
    c->setTaken = 0;
    if (c->setLength >= 0 && c->setLength > limit - c->consumed) return 0;
    set.tag = c->peek[0];
    if (c->setLength < 0)
      set.flags |= ASN_FLAG_INDEFINITE;
    else
      set.flags &= ~ASN_FLAG_INDEFINITE;
  }
  for (;;) {
    if (c->setLength >= 0 && c->setTaken == c->setLength) break;
    const int64_t bound = c->setLength >= 0 ? c->setLength - c->setTaken : limit - c->consumed;
    const int r = c->collector.step(in, bound, c->setLength < 0);
    if (r == 2) {
      c->collector.reset();
      c->consumed += 2;
      break;
    }
    if (r != 1) return r;
    const int n = c->collector.size();
    // Certificates and CRLs are read in place over a private copy of their
    // octets, as in a whole decode read in place: a signature over a TBS that
    // is not DER is then checked over the octets received.
    const bool signedValues =
        std::is_same<T, SignedCertificate>::value || std::is_same<T, SignedCertRevList>::value;
    const int t =
        set.takeElement(c->collector.data(), n, signedValues ? ASN_FLAG_CONST | ASN_FLAG_COPY : 0);
    c->collector.reset();
    if (t != 1) return t;
    c->setTaken += n;
    c->consumed += n;
    // A set is held: the whole-value bound applies to it as to any held value.
    if (c->setTaken > ASN_MAX_LENGTH) return 0;
    if (!set.withinBudget(c->setTaken)) return EASN_MEM;
  }
  c->setPhase = 0;
  set.keepOrder = 1;
  return 1;
}

// The identifier octet of the next member into c->peek[0]: 1, or 0 when the
// content has ended (no signerInfos).
int SignedData::streamIdentifier(GenericFile* in, SignedDataStreamCtx* c, int64_t limit) {
  if (c->peekCount == 0) {
    if (limit - c->consumed < 2) return 0;
    uint32_t got = 0;
    if (in->read(1, c->peek, &got) != 0) return EASN_FILE;
    if (got == 0) return EASN_MORE;
    c->peekCount = 1;
  }
  c->peekCount = 0;
  return 1;
}

int SignedData::streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  auto* c = static_cast<SignedDataStreamCtx*>(streamCtx);
  if (!c->started) {
    clear();
    encapContentInfo.freeStreamCtx();
    // The content passes through; it is never held.
    const int p = encapContentInfo.value().setStreamPassThrough(true);
    if (p < 1) return p == 0 ? EASN_MEM : p;
    c->started = 1;
  }
  // An empty content is a finished value of nothing, as EnvelopedData's.
  if (contentLength == 0) {
    c->contentSize = 0;
    return 1;
  }
  const int64_t limit = contentLength >= 0 ? contentLength : ASN_MAX_STREAM_LENGTH;
  int r;
  for (;;) {
    switch (c->decodeState) {
      case 0:
        if ((r = streamElement(version, in, c, limit)) < 1) return r;
        c->decodeState = 1;
        break;
      case 1:
        if (!c->identifierHeld) {
          if ((r = streamIdentifier(in, c, limit)) < 1) return r;
          if (c->peek[0] != 0x31) return 0;
          c->identifierHeld = 1;
        }
        if ((r = streamSet(digestAlgorithms, in, c, limit)) < 1) return r;
        c->identifierHeld = 0;
        c->decodeState = 2;
        break;
      case 2: {
        int64_t n;
        if (contentLength < 0) {
          n = encapContentInfo.decodeStream(in, out);
        } else {
          // The member sees no octet beyond this value's content.
          const int64_t left = limit - c->consumed - c->encapTaken;
          ASNBoundedFile bounded(in, left);
          n = encapContentInfo.decodeStream(&bounded, out);
          c->encapTaken += left - bounded.remaining();
          if (n == EASN_MORE && bounded.remaining() == 0) return 0;
        }
        if (n < 1) return static_cast<int>(n);
        c->consumed += n;
        c->decodeState = 3;
        break;
      }
      case 3:
      case 5:
        if ((r = streamIdentifier(in, c, limit)) < 1) return r;
        if (c->peek[0] == 0xA0 && c->decodeState == 3)
          c->decodeState = 4;
        else if (c->peek[0] == 0xA1 && !crlsPresent)
          c->decodeState = 6;
        else if (c->peek[0] == 0x31)
          c->decodeState = 7;
        else
          return 0;
        break;
      case 4:
        if ((r = streamSet(certificates, in, c, limit)) < 1) return r;
        certificatesPresent = 1;
        c->decodeState = 5;
        break;
      case 6:
        if ((r = streamSet(crls, in, c, limit)) < 1) return r;
        crlsPresent = 1;
        c->decodeState = 5;
        break;
      case 7:
        if ((r = streamSet(signerInfos, in, c, limit)) < 1) return r;
        c->decodeState = 8;
        break;
      case 8:
        c->contentSize = c->consumed;
        if (contentLength < 0) return 1;
        return c->consumed == contentLength ? 1 : 0;
      default:
        return 0;
    }
  }
}

int SignedData::streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) {
  checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
  // No length octets can announce the whole: refused before any member.
  if (streamCtx->encodeState == 0 && !(flags & ASN_FLAG_INDEFINITE) && streamLength(length) < 0)
    return 0;
  return cmsasn::streamEncodeMembers(members(), streamCtx, in, length, last, out);
}
