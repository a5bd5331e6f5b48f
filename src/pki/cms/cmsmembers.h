// Shared by the signed-message, time-stamp and ESS/CAdES structures: a
// member reader for contents of definite and of indefinite length (BER, as
// streaming signers write), and a SEQUENCE base whose coding operations
// come from one member list per class.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbase.h"
#include "asn1/asnchoice.h"
#include "asn1/asncont.h"
#include "asn1/asnexpl.h"
#include "asn1/asnsetl.h"
#include "base/memfile.h"
#include "pki/common/algid.h"
#include "pki/x509/crl.h"
#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

#include <type_traits>
#include <utility>

#include <array>
#include <cstddef>
#include <memory>
#include <new>

namespace cmsasn {

// Reads the members of one content in order, each bounded by what is left
// of it. A definite content ends at its length; an indefinite one at the
// end-of-contents octets, which finish() consumes.
class MemberReader {
 public:
  // length >= 0: definite content of that length. length < 0: indefinite
  // content with at most `available` octets (unknown when not positive).
  MemberReader(GenericFile* in, int length, int available, unsigned char flags)
      : in_(in),
        limit_(length >= 0 ? length : (available > 0 ? available : ASN_MAX_LENGTH)),
        indefinite_(length < 0),
        flags_(flags) {}

  GenericFile* stream() const { return in_; }
  unsigned char flags() const { return flags_; }
  int64_t taken() const { return taken_; }
  // Octets the next member may take (an indefinite content keeps two for
  // its end-of-contents).
  int left() const {
    int64_t n = limit_ - taken_ - (indefinite_ ? 2 : 0);
    return n < 0 ? 0 : static_cast<int>(n);
  }
  // No member follows: the length is used up, or the end-of-contents (or
  // nothing readable, which finish() then refuses) stands next.
  bool done() const {
    if (!indefinite_) return taken_ >= limit_;
    return left() < 2 || ASNobject::atEndOfContents(in_) != 0;
  }
  // The identifier octet of the next member, or -1.
  int peek() const { return done() ? -1 : asnPeekIdentifier(in_); }
  // Decodes the next member: 1, or the member's answer (0 when no room is left).
  int read(ASNobject& member) {
    if (left() < 2) return 0;
    int r = member.decode(in_, left(), flags_);
    if (r < 1) return r;
    taken_ += r;
    return 1;
  }
  // As read, when the next identifier octet is exactly `id`; 0 otherwise.
  int readTagged(ASNobject& member, int id) { return peek() == id ? read(member) : 0; }
  // Counts octets a caller decoded itself from stream().
  void advance(int n) { taken_ += n; }
  // 1 when the content ends exactly here (its end-of-contents consumed).
  int finish() {
    if (!indefinite_) return taken_ == limit_ ? 1 : 0;
    if (limit_ - taken_ < 2 || ASNobject::atEndOfContents(in_) != 1) return 0;
    if (asnSkipEndOfContents(in_) != 1) return 0;
    taken_ += 2;
    return 1;
  }

 private:
  GenericFile* in_;
  int64_t limit_;
  bool indefinite_;
  unsigned char flags_;
  int64_t taken_ = 0;
};

// A SEQUENCE whose content operations derive from two lists of the class:
// `members()` (the members in coding order, absent optional ones null) for
// encoding, length and digest, and `decodeMembers(MemberReader&)` for
// decoding (definite and indefinite content alike).
//
// `allMembers()` lists every member object (absent and unchosen ones, and
// the inner values of wrappers before their wrappers): releaseViews() walks
// them all, and each decode first empties them all and restores the
// constructor defaults (`restoreDefaults()`), so no member outlives the
// octets it viewed. clear() does the same and drops the owner's own view.
// Whether a structure lists all its members.
template <class T, class = void>
struct HasMemberLists : std::false_type {};
template <class T>
struct HasMemberLists<T, std::void_t<decltype(std::declval<T&>().allMembers()),
                                     decltype(std::declval<T&>().restoreDefaults())>>
    : std::true_type {};

template <class Derived>
class Sequence : public ASNsequenceF {
 public:
  explicit Sequence(unsigned char tag = 0) : ASNsequenceF(tag) {}
  Sequence(const Sequence& other) : ASNsequenceF(other) {}
  Sequence& operator=(const Sequence& other) {
    ASNobject::operator=(other);
    return *this;
  }

  void releaseViews() override {
    dropOwnView();
    if constexpr (HasMemberLists<Derived>::value)
      for (ASNobject* m : self().allMembers()) m->releaseViews();
  }
  void clear() override {
    if constexpr (HasMemberLists<Derived>::value) {
      dropOwnView();
      resetMembers();
    } else {
      ASNsequenceF::clear();
    }
  }

  int decodeContent(GenericFile* in, int length) override {
    resetMembers();
    MemberReader r(in, length, length, memberFlags());
    return self().decodeMembers(r);
  }
  int decodeIndefinite(GenericFile* in, int available) override {
    resetMembers();
    MemberReader r(in, -1, available, memberFlags());
    return self().decodeMembers(r);
  }
  int encodeContent(GenericFile* out) const override {
    const auto m = self().members();
    return keyasn::encodeMembers(out, m.data(), static_cast<int>(m.size()));
  }
  int contentLength() const override {
    const auto m = self().members();
    return keyasn::membersLength(m.data(), static_cast<int>(m.size()));
  }
  void digestContent(LvHash* hash) const override {
    const auto m = self().members();
    keyasn::digestMembers(hash, m.data(), static_cast<int>(m.size()));
  }

 protected:
  // Every member empty (views let go first, so each can be set again), then
  // the constructor defaults (also the first step of a streamed decode).
  void resetMembers() {
    if constexpr (HasMemberLists<Derived>::value) {
      for (ASNobject* m : self().allMembers()) {
        m->releaseViews();
        m->clear();
      }
      self().restoreDefaults();
    }
  }

  Derived& self() { return static_cast<Derived&>(*this); }
  const Derived& self() const { return static_cast<const Derived&>(*this); }
};

template <size_t N>
using Members = std::array<const ASNobject*, N>;
template <size_t N>
using AllMembers = std::array<ASNobject*, N>;

// An optional member: itself when present, else null (left out).
inline const ASNobject* opt(const ASNobject& member, bool present) {
  return present ? &member : nullptr;
}

// An optional member recognised by its exact identifier octet.
struct Optional {
  int identifier;
  ASNobject* member;
  unsigned char* present;
};

// Reads the optional members that follow, in any order, up to the end of
// the content or N elements: 1, 0 for an element that is none of them or a
// member seen twice, or the failing member's answer. With skipForeign, an
// element of no context tag and of none of the members' kinds that comes
// after a recognised member is passed over (an extension of a later version
// of the structure); it still counts toward the N.
template <size_t N>
int readOptionals(MemberReader& r, const std::array<Optional, N>& table, bool skipForeign = false) {
  bool recognised = false;
  for (size_t read = 0; read < N && !r.done(); ++read) {
    const int id = r.peek();
    if (id < 0) return 0;
    const Optional* found = nullptr;
    for (const Optional& o : table)
      if (o.identifier == id) found = &o;
    if (!found && skipForeign && recognised && (id & 0xC0) != 0x80) {
      ASNany foreign;
      const int x = r.read(foreign);
      if (x < 1) return x;
      continue;
    }
    if (!found || *found->present) return 0;
    const int x = r.read(*found->member);
    if (x < 1) return x;
    *found->present = 1;
    recognised = true;
  }
  return 1;
}

// Streaming encode of the members in order, resumed at c->encodeState
// (absent members skipped): 1 when all are written, 0 when called again
// after that, or the failing member's answer.
template <size_t N>
int streamEncodeMembers(const Members<N>& m, ASNStreamCtx* c, GenericFile* in, int64_t length,
                        bool last, GenericFile* out) {
  if (c->encodeState >= static_cast<int32_t>(N)) return 0;
  while (c->encodeState < static_cast<int32_t>(N)) {
    const ASNobject* member = m[static_cast<size_t>(c->encodeState)];
    if (member) {
      const int64_t r = const_cast<ASNobject*>(member)->encodeStream(in, length, last, out);
      if (r < 1) return r;
      c->passed += r;
    }
    ++c->encodeState;
  }
  return 1;
}

// The content length a member-wise streamed structure announces when its
// innermost streamed value has `expected` octets.
template <size_t N>
int64_t streamedMembersLength(const Members<N>& m, int64_t expected) {
  int64_t n = 0;
  for (const ASNobject* member : m)
    if (member) n = asnAddStreamed(n, asnStreamedTotal(*member, expected));
  return n;
}

// The streaming context of a structure, made on first use: 1, or EASN_MEM.
template <class Ctx>
int newStreamCtx(ASNStreamCtx*& ctx) {
  if (ctx) return 1;
  ctx = new (std::nothrow) Ctx();
  return ctx ? 1 : EASN_MEM;
}

// Resets (or frees) the streaming contexts of the listed members (null
// entries, absent optional members, skipped).
template <class List>
void resetMemberStreams(const List& members) {
  for (const ASNobject* m : members)
    if (m) const_cast<ASNobject*>(m)->resetStreamCtx();
}
template <class List>
void freeMemberStreams(const List& members) {
  for (const ASNobject* m : members)
    if (m) const_cast<ASNobject*>(m)->freeStreamCtx();
}

// Refuses a copy into a value read in place, as the explicit wrapper does.
inline void refuseConstTarget(const ASNobject& target) {
  checkInvariant(!(target.flags & ASN_FLAG_CONST), "lib/libasn/asnexpl", 62,
                 "!( flags & ASN_FLAG_CONST )");
}

}  // namespace cmsasn

// Heap that `count` list elements of type T take: the objects and their node blocks.
template <class T>
constexpr int64_t cmsListCost(int64_t count) {
  return count * asnAllocCost(static_cast<int64_t>(sizeof(T))) +
         (count + ASN_LIST_BLOCK - 1) / ASN_LIST_BLOCK *
             asnAllocCost(static_cast<int64_t>(sizeof(PtrListNode)) * (ASN_LIST_BLOCK + 1));
}

// SET OF T as a signed message carries it. Read whole or, by the streaming
// decoder, one complete element encoding at a time; of definite or
// indefinite length; a set read completely keeps its received order.
template <class T>
class CmsSet : public ASNsetList<T> {
 public:
  explicit CmsSet(unsigned char tag = 0) : ASNsetList<T>(tag) {}

  int decodeContent(GenericFile* in, int length) override {
    cmsasn::MemberReader r(in, length, length, this->memberFlags());
    return decodeElements(r);
  }
  int decodeIndefinite(GenericFile* in, int available) override {
    cmsasn::MemberReader r(in, -1, available, this->memberFlags());
    return decodeElements(r);
  }

  // Takes one element from its complete encoding (the streaming decoder
  // hands them over one by one), `flags` as decode's: 1, 0 when the octets
  // are not exactly one element the set accepts, -2 out of memory.
  int takeElement(const unsigned char* data, int n, unsigned char flags = 0) {
    if (!data || n < 2) return 0;
    MemFile m(const_cast<unsigned char*>(data), n, false);
    const int r = decodeElement(&m, n, flags);
    if (r < 1) return r;
    return r == n ? 1 : 0;
  }

  // Elements held, kept alternatives included.
  virtual int32_t heldCount() const { return this->GetCount(); }
  // Heap the element objects and their list nodes take, each kind at its own size.
  virtual int64_t elementsCost() const { return cmsListCost<T>(this->GetCount()); }
  // The elements held stay within the containers' memory budget for `octets`
  // octets of input.
  bool withinBudget(int64_t octets) const { return asnWithinHoldBudget(elementsCost(), octets); }

  // Replaces the elements by copies of the other set's (T's copy
  // construction), with its order flag and tag. Throws std::bad_alloc "bad
  // allocation" when an element cannot be made.
  void copyElements(const CmsSet& other) {
    cmsasn::refuseConstTarget(*this);
    if (&other == this) return;
    this->clear();
    for (POSITION pos = other.GetHeadPosition(); pos;) {
      const T* source = other.GetNext(pos);
      if (!source) continue;
      std::unique_ptr<T> copy(new (std::nothrow) T(*source));
      if (!copy || !keep(copy.get())) {
        this->clear();
        throwBadAllocation();
      }
      copy.release();
    }
    this->tag = other.tag;
    this->keepOrder = other.keepOrder;
    // An indefinite-length set is written again as it came.
    this->flags = (this->flags & ~ASN_FLAG_INDEFINITE) | (other.flags & ASN_FLAG_INDEFINITE);
  }

 protected:
  // Decodes one element at the stream's position and keeps it: the octets
  // taken, or a result code. Elements are DER (a text armour is no element).
  virtual int decodeElement(GenericFile* in, int available, unsigned char flags) {
    std::unique_ptr<T> element(ASNelementFactory<T>::create());
    if (!element) return EASN_MEM;
    const int r = element->ASNobject::decode(in, available, flags);
    if (r < 1) return r;
    if (!keep(element.get())) return EASN_MEM;
    element.release();
    return r;
  }

  // Appends without touching the order flag; false when the list cannot take it.
  bool keep(T* element) {
    try {
      return this->AddTail(element) != nullptr;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  int decodeElements(cmsasn::MemberReader& r) {
    this->clear();
    while (!r.done()) {
      const int n = decodeElement(r.stream(), r.left(), r.flags());
      if (n < 1) return n;
      r.advance(n);
      if (!withinBudget(r.taken())) return EASN_MEM;
    }
    const int f = r.finish();
    this->keepOrder = f == 1 ? 1 : 0;
    return f;
  }
};
