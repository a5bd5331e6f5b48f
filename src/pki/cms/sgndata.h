// CMS signed messages (RFC 5652): SignedData with its signer infos, the
// certificate choices and the sets a signed message carries. A SignedData is
// read whole, read while it streams in (the encapsulated content passing
// through to an output, never held), written whole or written while the
// content is produced. The classes code structure only: digests and
// signatures are the signature layer's.
//
// Sets read from a message keep their received order (so signed attributes
// and re-encoded tokens hash as received) until they are changed; they may
// come with indefinite length (BER, as streaming signers write), read whole
// and streamed alike.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "asn1/asnsetl.h"
#include "asn1/continfo.h"
#include "base/memfile.h"
#include "pki/common/algid.h"
#include "pki/cms/attribute.h"
#include "pki/x509/cert.h"
#include "pki/cms/cmsmembers.h"
#include "pki/x509/crl.h"

#include <memory>
#include <new>
#include <vector>

// SET OF a CHOICE whose first alternative is the universal SEQUENCE T: the
// certificates (CertificateChoices) and crls (RevocationInfoChoice) of a
// signed message. The set is the list of the T elements, which is what
// callers read; elements of the other alternatives (constructed context tags
// the set accepts) are kept as received, with their place, so that the set
// re-encodes and hashes as it arrived.
template <class T>
class CmsChoiceSet : public CmsSet<T> {
 public:
  // Bit n of `otherNumbers` accepts the alternative [n] (constructed).
  CmsChoiceSet(unsigned char tag, uint32_t otherNumbers)
      : CmsSet<T>(tag), otherNumbers(otherNumbers) {}

  void clear() override {
    CmsSet<T>::clear();
    others.deleteAll();
    positions.clear();
  }
  int32_t heldCount() const override { return this->GetCount() + others.GetCount(); }
  // Each kept alternative costs what an ANY costs, not what a T does.
  int64_t elementsCost() const override {
    return cmsListCost<T>(this->GetCount()) + cmsListCost<ASNany>(others.GetCount());
  }

  int encodeContent(GenericFile* out) const override {
    if (others.GetCount() == 0) return CmsSet<T>::encodeContent(out);
    MemFile all;
    const int r = writeAll(&all);
    if (r != 1) return r;
    return out->write(static_cast<uint32_t>(all.length()), all.data()) == 0 ? 1 : EASN_FILE;
  }
  int contentLength() const override {
    const int n = CmsSet<T>::contentLength();
    int64_t total = n;
    for (POSITION pos = others.GetHeadPosition(); pos && n >= 0;) {
      const ASNany* a = others.GetNext(pos);
      if (a) total += a->encodedLength();
    }
    return n < 0 || total > ASN_MAX_LENGTH ? -1 : static_cast<int>(total);
  }
  void digestContent(LvHash* hash) const override {
    if (others.GetCount() == 0) {
      CmsSet<T>::digestContent(hash);
      return;
    }
    MemFile all;
    const int r = writeAll(&all);
    if (r == EASN_MEM) throwBadAllocation();
    checkInvariant(r == 1, "libcms/sgndata", __LINE__, "ret == 1");
    ASNobject::updateDigestBytes(all.data(), all.length(), hash);
  }

  // The elements of the other alternatives, complete encodings in received order.
  TypedPointerList<ASNany> others;

 protected:
  int decodeElement(GenericFile* in, int available, unsigned char flags) override {
    const int id = asnPeekIdentifier(in);
    if (id < 0) return 0;
    if (id == 0x30) return CmsSet<T>::decodeElement(in, available, flags);
    if ((id & 0xE0) != 0xA0 || (id & 0x1F) == 0x1F || !((otherNumbers >> (id & 0x1F)) & 1))
      return 0;
    std::unique_ptr<ASNany> element(new (std::nothrow) ASNany(TAG_ANY));
    if (!element) return EASN_MEM;
    const int r = element->decode(in, available, flags);
    if (r < 1) return r;
    try {
      positions.push_back(heldCount());
      if (!others.AddTail(element.get())) {
        positions.pop_back();
        return EASN_MEM;
      }
    } catch (const std::bad_alloc&) {
      return EASN_MEM;
    }
    element.release();
    return r;
  }

 private:
  // Every element's encoding in writing order: received order (each kept
  // alternative at its place) while the set is unchanged, else DER order.
  int writeAll(MemFile* out) const {
    std::vector<const ASNobject*> order;
    try {
      order.reserve(static_cast<size_t>(heldCount()));
      POSITION p = this->GetHeadPosition();
      POSITION q = others.GetHeadPosition();
      size_t k = 0;
      while (p || q) {
        const bool takeOther =
            q && (!p || (k < positions.size() && positions[k] <= int32_t(order.size())));
        if (takeOther) {
          order.push_back(others.GetNext(q));
          ++k;
        } else {
          order.push_back(this->GetNext(p));
        }
      }
    } catch (const std::bad_alloc&) {
      return EASN_MEM;
    }
    std::vector<ASNsortRecord> records;
    try {
      records.reserve(order.size());
    } catch (const std::bad_alloc&) {
      return EASN_MEM;
    }
    for (const ASNobject* e : order) {
      if (!e) continue;
      const int32_t at = out->length();
      const int r = e->encode(out);
      if (r < 1) return r == EASN_FILE ? EASN_MEM : r;
      records.push_back({nullptr, nullptr, at});
    }
    if (this->keepOrder) return 1;
    // Record offsets become pointers once the buffer no longer moves.
    MemFile sorted;
    for (size_t i = 0; i < records.size(); ++i) {
      const int32_t end = i + 1 < records.size() ? records[i + 1].length : out->length();
      records[i].data = out->data() + records[i].length;
      records[i].length = end - records[i].length;
    }
    asnSortRecords(records.data(), static_cast<int32_t>(records.size()));
    for (const ASNsortRecord& r : records)
      if (sorted.write(static_cast<uint32_t>(r.length), r.data) != 0) return EASN_MEM;
    out->clear();
    return out->write(static_cast<uint32_t>(sorted.length()), sorted.data()) == 0 ? 1 : EASN_MEM;
  }

  uint32_t otherNumbers;
  std::vector<int32_t> positions;  // place of each kept alternative among all elements
};

// CertificateChoices (RFC 5652 10.2.2): a certificate, or one of the
// alternatives [0] to [3] held as received.
class CertificateChoices : public ASNchoice {
 public:
  enum { CERTIFICATE = 0, EXTENDED_CERTIFICATE = 1, V1_ATTR_CERT = 2, V2_ATTR_CERT = 3, OTHER = 4 };
  CertificateChoices();
  CertificateChoices(const CertificateChoices& other);
  CertificateChoices& operator=(const CertificateChoices& other);
  ASNobject* const* objectList() const override;
  // Only the identifiers 30 and A0 to A3 are taken.
  int decode(GenericFile* in, int length, unsigned char flags) override;

  SignedCertificate certificate;
  ASNany extendedCertificate;  // [0]
  ASNany v1AttrCert;           // [1]
  ASNany v2AttrCert;           // [2]
  ASNany other;                // [3]

 private:
  mutable ASNobject* list[6];
};

using CertificateSet = CmsChoiceSet<SignedCertificate>;
using RevocationInfoSet = CmsChoiceSet<SignedCertRevList>;

class SignerInfo : public cmsasn::Sequence<SignerInfo> {
 public:
  explicit SignerInfo(unsigned char tag = 0);
  SignerInfo(const SignerInfo& other);
  ~SignerInfo() override;
  // Copies every member and the three flags. Signed attributes read in place
  // are copied with their received octets (the signature covers those).
  SignerInfo& operator=(const SignerInfo& other);

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<7> members() const;

  // The octets the signature covers when signed attributes are present
  // (RFC 5652 5.4): the SET tag 31 with a minimal definite length, then each
  // attribute with definite minimal headers (SEQUENCE, OBJECT IDENTIFIER,
  // SET) around its type and its values as received, in received order (DER
  // order once the set was changed), however the signer was read or copied.
  // A value that is itself BER stays as received. 1, 0 without signed
  // attributes or when a value does not encode, -2 out of memory.
  int signedAttrsDigestInput(std::vector<unsigned char>& out) const;
  cmsasn::AllMembers<8> allMembers();
  void restoreDefaults();

  ASNinteger version;
  IssuerAndSerialNumber issuerAndSerialNumber;
  ASNoctstr subjectKeyIdentifier;  // [0] IMPLICIT, re-encoded with its received identifier
  unsigned char sidIsKeyIdentifier;
  AlgorithmIdentifier digestAlgorithm;
  CmsSet<Attribute> signedAttrs;  // [0] IMPLICIT
  unsigned char signedAttrsPresent;
  AlgorithmIdentifier signatureAlgorithm;
  ASNoctstr signature;
  CmsSet<Attribute> unsignedAttrs;  // [1] IMPLICIT
  unsigned char unsignedAttrsPresent;
};

// Collects one complete element (nested indefinite lengths included) from
// input that arrives in pieces; the octets wait here until the element is
// whole, never longer.
class ElementCollector {
 public:
  // Reads until one element is held: 1 (data() and size()), 2 the two
  // end-of-contents octets were read in place of an element (only with
  // `eocAllowed`), -3 more input wanted, 0 malformed or longer than `bound`
  // octets (negative: no bound), -1 read error, -2 out of memory.
  int step(GenericFile* in, int64_t bound, bool eocAllowed);
  const unsigned char* data() const { return buffer.data(); }
  int size() const { return buffer.length(); }
  // Drops the element held and starts again.
  void reset();

 private:
  int append(const unsigned char* p, uint32_t n);

  MemFile buffer;
  int32_t phase = 0;  // 0 identifier, 1 first length octet, 2 long-form length octets, 3 content
  int32_t depth = 0;  // open indefinite-length levels
  int32_t lengthLeft = 0;  // long-form length octets still to come
  uint32_t lengthAccum = 0;
  int64_t copyLeft = 0;  // content octets of a definite element still to copy
  uint8_t identifier = 0;
};

// Streaming state of a SignedData: decodeState 0 version, 1 digestAlgorithms,
// 2 encapContentInfo, 3 and 5 the identifier after a member, 4 certificates,
// 6 crls, 7 signerInfos, 8 done; encodeState counts the members written.
class SignedDataStreamCtx : public ASNStreamCtx {
 public:
  int reset() override;

  int64_t consumed = 0;     // content octets of the members completed so far
  int64_t encapTaken = 0;   // octets the encapsulated content has taken so far
  int32_t setPhase = 0;     // 0 length octets of the set, 1 its elements
  int32_t setLength = 0;    // content length of the set, -1 indefinite
  int64_t setTaken = 0;     // content octets of the set taken so far
  int32_t setLengthLeft = -1;  // long-form length octets still to come (-1: first octet)
  uint32_t setLengthAccum = 0;
  int32_t setHeaderSize = 0;  // octets of the set's header read so far
  unsigned char peek[2] = {0, 0};
  int32_t peekCount = 0;
  uint8_t identifierHeld = 0;  // the digestAlgorithms identifier has been read
  uint8_t started = 0;         // the first step has cleared the value
  ElementCollector collector;
};

class SignedData : public cmsasn::Sequence<SignedData> {
 public:
  explicit SignedData(unsigned char tag = 0);
  ~SignedData() override;
  SignedData(const SignedData&) = delete;
  SignedData& operator=(const SignedData&) = delete;

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<6> members() const;
  cmsasn::AllMembers<9> allMembers();
  // The encapsulated content's type and presence go too.
  void restoreDefaults();

  int createStreamCtx() override;
  void resetStreamCtx() override;
  void freeStreamCtx() override;
  // Reads the content as it arrives; the encapsulated content passes
  // through to `out` (when given) and is not kept.
  int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override;
  // Writes the members in order; the encapsulated content is read from `in`
  // when its octet string is in pass-through mode.
  int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override;
  int64_t streamLength(int64_t expected) const override;
  bool streamsThrough() const override { return true; }

  ASNinteger version;
  CmsSet<AlgorithmIdentifier> digestAlgorithms;
  ContentInfo<ASNoctstr> encapContentInfo;
  CertificateSet certificates;  // [0] IMPLICIT, optional
  unsigned char certificatesPresent;
  RevocationInfoSet crls;  // [1] IMPLICIT, optional
  unsigned char crlsPresent;
  CmsSet<SignerInfo> signerInfos;

 private:
  int streamElement(ASNobject& member, GenericFile* in, SignedDataStreamCtx* c, int64_t limit);
  template <class T>
  int streamSet(CmsSet<T>& set, GenericFile* in, SignedDataStreamCtx* c, int64_t limit);
  int streamIdentifier(GenericFile* in, SignedDataStreamCtx* c, int64_t limit);
};

// The signed message: ContentInfo { id-signedData, [0] EXPLICIT SignedData }.
using SignedMessage = ContentInfo<SignedData>;
