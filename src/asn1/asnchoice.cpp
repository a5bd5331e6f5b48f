// CHOICE base.
#include "asn1/asnchoice.h"

#include "asn1/asnany.h"
#include "asn1/asnprivate.h"
#include "base/commonerror.h"
#include "base/memfile.h"

#include <cstring>
#include <memory>
#include <new>

namespace {
const char* const SRC = "asnchoice";

bool sameTag(unsigned char a, unsigned char b) { return (a & 0x1F) == (b & 0x1F) && (a & 0xC0) == (b & 0xC0); }
} // namespace

ASNchoice::ASNchoice(unsigned char t) : ASNobject(t), m_chosenObject(nullptr)
{
    if ((t & 0xC0) && t != TAG_ANY) {
        // An explicitly tagged choice: its own header is the constructed context tag.
        flags |= ASN_FLAG_EXPLICIT | ASN_FLAG_CONSTRUCTED;
        tag = static_cast<unsigned char>(t | 0x20);
        explTag = tag;
    }
}

ASNchoice::ASNchoice(const ASNchoice& other) : ASNobject(other), m_chosenObject(nullptr) {}

void ASNchoice::choose(ASNobject* object)
{
    m_chosenObject = object;
    if (object) {
        const uint32_t taken = ASN_FLAG_CONST | ASN_FLAG_COPY | ASN_FLAG_CONSTRUCTED;
        flags = (flags & ~taken) | (object->flags & taken);
        if (isExplicit())
            flags |= ASN_FLAG_CONSTRUCTED;
    }
}

void ASNchoice::chooseByTag(unsigned char t)
{
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    for (int i = 0; list[i]; ++i) {
        if (list[i]->tag == t) {
            choose(list[i]);
            return;
        }
    }
    checkInvariant(false, SRC, __LINE__, "0");
}

void ASNchoice::chooseByIndex(int idx)
{
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    for (int i = 0; list[i]; ++i) {
        if (i == idx) {
            choose(list[i]);
            return;
        }
    }
    checkInvariant(false, SRC, __LINE__, "0");
}

int ASNchoice::chosenIndex() const
{
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    if (!m_chosenObject)
        return -1;
    for (int i = 0; list[i]; ++i)
        if (list[i] == m_chosenObject)
            return i;
    return -1;
}

unsigned char ASNchoice::chosenTag() const
{
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    return (m_chosenObject->flags & ASN_FLAG_EXPLICIT) ? m_chosenObject->explTag : m_chosenObject->tag;
}

bool ASNchoice::equals(const ASNchoice& other) const
{
    int i = chosenIndex();
    if (i != other.chosenIndex())
        return false;
    if (i < 0)
        return true;
    MemFile a, b;
    if (encodeContent(&a) < 1 || other.encodeContent(&b) < 1)
        return false;
    return a.length() == b.length() && (a.length() == 0 || std::memcmp(a.data(), b.data(), a.length()) == 0);
}

ASNchoice& ASNchoice::operator=(const ASNchoice& other)
{
    if (this == &other)
        return *this;
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    int idx = other.chosenIndex();
    ASNobject* const* otherList = other.objectList();
    ASNobject* target = nullptr;
    for (int i = 0; list[i]; ++i) {
        if (i == idx)
            target = list[i];
        else
            list[i]->clear();
    }
    m_chosenObject = nullptr;
    if (!target || !otherList || !otherList[idx])
        return *this;
    int asnret = target->convertFrom(*otherList[idx], static_cast<unsigned char>(flags & ASN_FLAG_CONST));
    if (asnret != 1) {
        checkInvariant(asnret == EASN_FILE || asnret == EASN_MEM, SRC, __LINE__,
                       "asnret == EASN_FILE || asnret == EASN_MEM");
        throwBadAllocation();
    }
    choose(target);
    flags = (flags & ~ASN_FLAG_INDEFINITE) | (other.flags & ASN_FLAG_INDEFINITE);
    return *this;
}

// ---------------------------------------------------------------------------
// decoding

int ASNchoice::decode(GenericFile* in, int len, unsigned char f)
{
    ASNDepthGuard guard;
    if (guard.exceeded() || !in)
        return 0;
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    checkInvariant(list[0] != nullptr, SRC, __LINE__, "objectList[0] != NULL");
    releaseViews();
    freeStreamCtx();
    m_chosenObject = nullptr;
    flags = (flags & ~(ASN_FLAG_CONST | ASN_FLAG_COPY)) | (f & (ASN_FLAG_CONST | ASN_FLAG_COPY));
    int64_t avail = availableIn(in, len);
    if (avail < 2)
        return 0;

    GenericFile* stream = in;
    if (flags & ASN_FLAG_CONST) {
        int r = prepareView(stream, avail);
        if (r < 1)
            return r;
    }
    const uint32_t start = stream->tell();
    int hdr = 0;
    int64_t innerAvail = avail;
    int outerLen = -1;
    if (isExplicit()) {
        uint8_t b;
        int r = asnReadByte(stream, &b);
        if (r <= 0)
            return r;
        if ((b & 0x1F) == 0x1F || !sameTag(b, tag) || !(b & 0x20))
            return 0;
        int l = static_cast<int>(avail - 1);
        r = readLength(stream, &l);
        if (r <= 0)
            return r;
        hdr = 1 + r;
        if (l >= 0) {
            if (l > avail - hdr)
                return 0;
            innerAvail = l;
            outerLen = l;
        } else {
            innerAvail = avail - hdr;
        }
        if (innerAvail < 2)
            return 0;
    }
    uint8_t id;
    {
        uint32_t pos = stream->tell();
        int r = asnReadByte(stream, &id);
        if (r < 0 || stream->seek(static_cast<int32_t>(pos)) != 0)
            return EASN_FILE;
        if (r == 0)
            return 0;
    }
    ASNobject* alt = nullptr;
    for (int i = 0; list[i]; ++i) {
        if (sameTag(list[i]->getTag(), id)) {
            alt = list[i];
            break;
        }
    }
    if (!alt)
        return 0;
    int r = alt->decode(stream, static_cast<int>(innerAvail), static_cast<unsigned char>(flags & ASN_FLAG_CONST));
    if (r < 1)
        return r;
    choose(alt);
    int64_t total = int64_t(hdr) + r;
    if (isExplicit()) {
        if (outerLen >= 0) {
            if (r != outerLen)
                return 0;
        } else {
            if (avail - total < 2)
                return 0;
            int e = readEndOfContents(stream, 0);
            if (e != 2)
                return e < 0 ? e : 0;
            total += 2;
        }
    }
    if (int64_t(stream->tell()) - start != total)
        return 0;
    if (flags & ASN_FLAG_CONST)
        receivedLength = static_cast<int32_t>(total);
    return static_cast<int>(total);
}

int64_t ASNchoice::decodeStreamUntagged(GenericFile* in, GenericFile* out)
{
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    checkInvariant(list[0] != nullptr, SRC, __LINE__, "objectList[0] != NULL");
    if (!streamCtx) {
        int r = createStreamCtx();
        if (r < 1)
            return r;
    }
    // decodeState: 0 nothing read, 1 the alternative (index in `reserved`)
    // is streaming, 2 complete (its size in contentConsumed).
    ASNStreamCtx* c = streamCtx;
    if (c->decodeState == 2)
        return c->contentConsumed;
    if (c->decodeState == 0) {
        releaseViews();
        flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY);
        m_chosenObject = nullptr;
        uint8_t id;
        int r = asnReadByte(in, &id);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        int idx = -1;
        for (int i = 0; list[i]; ++i) {
            if (sameTag(list[i]->getTag(), id)) {
                idx = i;
                break;
            }
        }
        if (idx < 0)
            return 0;
        ASNobject* alt = list[idx];
        alt->freeStreamCtx();
        // One octet never completes a value: anything but "more" is a refusal.
        const int64_t first = alt->decodeStreamBuffer(&id, 1, out);
        if (first != EASN_MORE)
            return first < 1 ? first : 0;
        c->reserved = static_cast<uint32_t>(idx);
        c->decodeState = 1;
    }
    ASNobject* alt = list[c->reserved];
    const int64_t r = alt->decodeStream(in, out);
    if (r < 1)
        return r;
    // The choice's own state answers from now on; the alternative's goes.
    alt->freeStreamCtx();
    choose(alt);
    c->decodeState = 2;
    c->contentConsumed = r;
    return r;
}

int ASNchoice::assignFromAny(const ASNany& anyObj)
{
    ASNDepthGuard guard;
    if (guard.exceeded())
        return 0;
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    checkInvariant(list[0] != nullptr, SRC, __LINE__, "objectList[0] != NULL");
    releaseViews();
    m_chosenObject = nullptr;
    const bool constAny = anyObj.isConstView();
    if (isExplicit() && !(anyObj.flags & ASN_FLAG_EXPLICIT)) {
        if (!sameTag(anyObj.tag, tag) || !(anyObj.tag & 0x20))
            return 0;
        tag = static_cast<unsigned char>(tag | 0x20);
        const unsigned char* c = anyObj.content();
        if (anyObj.length < 2 || !c)
            return 0;
        ASNobject* alt = nullptr;
        for (int i = 0; list[i]; ++i) {
            if ((list[i]->getTag() | 0x20) == (c[0] | 0x20)) {
                alt = list[i];
                break;
            }
        }
        if (!alt)
            return 0;
        int r = alt->decodeBuffer(c, anyObj.length,
                                  constAny ? static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY) : 0);
        if (r < 1)
            return r;
        if (r != anyObj.length)
            return 0;
        choose(alt);
        flags = (flags & ~ASN_FLAG_INDEFINITE) | (anyObj.flags & ASN_FLAG_INDEFINITE);
        return 1;
    }
    ASNobject* alt = nullptr;
    for (int i = 0; list[i]; ++i) {
        if ((list[i]->getTag() | 0x20) == (anyObj.tag | 0x20)) {
            alt = list[i];
            break;
        }
    }
    if (!alt)
        return 0;
    int r = alt->assignFromAny(anyObj);
    if (r < 1)
        return r;
    choose(alt);
    return 1;
}

void ASNchoice::releaseViews()
{
    dropOwnView();
    ASNobject* const* list = objectList();
    for (int i = 0; list && list[i]; ++i)
        list[i]->releaseViews();
}

void ASNchoice::clear()
{
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    releaseViews();
    unsigned char effective = getTag();
    if ((effective & 0xC0) && effective != TAG_ANY) {
        flags |= ASN_FLAG_EXPLICIT;
        tag = static_cast<unsigned char>(effective | 0x20);
        explTag = tag;
    } else {
        flags &= ~ASN_FLAG_EXPLICIT;
    }
    flags &= ~(ASN_FLAG_INDEFINITE | ASN_FLAG_CONST | ASN_FLAG_COPY);
    for (int i = 0; list[i]; ++i)
        list[i]->clear();
    m_chosenObject = nullptr;
}

// ---------------------------------------------------------------------------
// encoding and hashing

// Header of an explicit choice around `inner` octets.
static int choiceHeader(const ASNchoice& c, uint8_t* buf, int inner)
{
    int k = 0;
    buf[k++] = c.tag;
    if (c.flags & ASN_FLAG_INDEFINITE)
        buf[k++] = 0x80;
    else
        k += ASNobject::writeLength(buf + k, inner);
    return k;
}

int ASNchoice::encodedLength() const
{
    if (isConstView())
        return receivedLength;
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    int64_t n = m_chosenObject->encodedLength();
    if (isExplicit())
        n += (flags & ASN_FLAG_INDEFINITE) ? 4 : 1 + lengthFieldSize(n);
    return static_cast<int>(n);
}

int ASNchoice::encode(GenericFile* out) const
{
    if (isConstView())
        return ASNobject::encode(out);
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    int total = 0;
    if (isExplicit()) {
        uint8_t buf[8];
        int k = choiceHeader(*this, buf, m_chosenObject->encodedLength());
        if (asnWrite(out, buf, k) != 0)
            return EASN_FILE;
        total += k;
    }
    int r = m_chosenObject->encode(out);
    if (r < 1)
        return r;
    total += r;
    if (isExplicit() && (flags & ASN_FLAG_INDEFINITE)) {
        if (writeEndOfContents(out) < 0)
            return EASN_FILE;
        total += 2;
    }
    return total;
}

void ASNchoice::updateChoiceDigest(LvHash* hash) const
{
    if (isConstView()) {
        updateDigestBytes(receivedEncoding(), receivedLength, hash);
        return;
    }
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    if (isExplicit()) {
        uint8_t buf[8];
        int k = choiceHeader(*this, buf, m_chosenObject->encodedLength());
        updateDigestBytes(buf, k, hash);
    }
    m_chosenObject->updateDigest(hash);
    if (isExplicit() && (flags & ASN_FLAG_INDEFINITE))
        digestEndOfContents(hash);
}

int ASNchoice::digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const
{
    return ASNobject::digest(hashId, digestBuff, digestBuffLen);
}

int ASNchoice::contentLength() const
{
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    return isExplicit() ? m_chosenObject->encodedLength() : m_chosenObject->contentLength();
}

int ASNchoice::decodeContent(GenericFile* in, int n)
{
    if (!isExplicit()) {
        // Only a chosen alternative knows its content (nothing to match otherwise).
        return m_chosenObject ? m_chosenObject->decodeContent(in, n) : 0;
    }
    // The content of an explicit choice is the whole alternative: pick it by
    // its identifier octet, as decode does.
    ASNobject* const* list = objectList();
    checkInvariant(list != nullptr, SRC, __LINE__, "objectList != NULL");
    uint8_t id;
    uint32_t pos = in->tell();
    int p = asnReadByte(in, &id);
    if (p < 0 || in->seek(static_cast<int32_t>(pos)) != 0)
        return EASN_FILE;
    if (p == 0)
        return 0;
    m_chosenObject = nullptr;
    for (int i = 0; list[i] && !m_chosenObject; ++i)
        if (sameTag(list[i]->getTag(), id))
            choose(list[i]);
    if (!m_chosenObject)
        return 0;
    int r = m_chosenObject->decode(in, n, static_cast<unsigned char>(flags & ASN_FLAG_CONST));
    if (r < 1)
        return r;
    return r == n ? 1 : 0;
}

int ASNchoice::encodeContent(GenericFile* out) const
{
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    if (!isExplicit())
        return m_chosenObject->encodeContent(out);
    int r = m_chosenObject->encode(out);
    return r < 1 ? r : 1;
}

unsigned char ASNchoice::universalTag() const
{
    return m_chosenObject ? m_chosenObject->universalTag() : TAG_ANY;
}

void ASNchoice::digestContent(LvHash* hash) const
{
    checkInvariant(m_chosenObject != nullptr, SRC, __LINE__, "m_chosenObject != NULL");
    if (isExplicit())
        m_chosenObject->updateDigest(hash);
    else
        m_chosenObject->digestContent(hash);
}
