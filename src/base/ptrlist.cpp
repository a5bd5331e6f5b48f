#include "base/ptrlist.h"

#include "base/commonerror.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace {
const char* const UNIT = "ptrlist";
thread_local uint64_t indexSteps = 0;
}

uint64_t pointerListIndexSteps() { return indexSteps; }

void PointerList::freeBlocks()
{
    PtrListNode* block = m_pBlocks;
    while (block) {
        PtrListNode* previous = static_cast<PtrListNode*>(block->data);
        delete[] block;
        block = previous;
    }
    m_pBlocks = nullptr;
}

PtrListNode* PointerList::newNode(PtrListNode* prev, PtrListNode* next)
{
    if (!m_pNodeFree) {
        checkInvariant(m_nBlockSize > 0, UNIT, __LINE__, "nMax > 0 && cbElement > 0");
        PtrListNode* block = new (std::nothrow) PtrListNode[static_cast<size_t>(m_nBlockSize) + 1];
        if (!block)
            throwBadAllocation();
        block[0].pNext = block[0].pPrev = nullptr;
        block[0].data = m_pBlocks;
        m_pBlocks = block;
        // Pushed last to first, so the free list hands them out in ascending order.
        for (int32_t i = m_nBlockSize; i >= 1; --i) {
            block[i].pNext = m_pNodeFree;
            m_pNodeFree = &block[i];
        }
    }
    checkInvariant(m_pNodeFree != nullptr, UNIT, __LINE__, "m_pNodeFree != NULL");
    PtrListNode* node = m_pNodeFree;
    m_pNodeFree = node->pNext;
    node->pPrev = prev;
    node->pNext = next;
    node->data = nullptr;
    ++m_nCount;
    checkInvariant(m_nCount > 0, UNIT, __LINE__, "m_nCount > 0");
    return node;
}

void PointerList::freeNode(PtrListNode* node)
{
    node->pNext = m_pNodeFree;
    m_pNodeFree = node;
    --m_nCount;
    checkInvariant(m_nCount >= 0, UNIT, __LINE__, "m_nCount >= 0");
    // An emptied list holds no memory.
    if (m_nCount == 0)
        RemoveAll();
}

POSITION PointerList::AddHead(void* p)
{
    PtrListNode* node = newNode(nullptr, m_pNodeHead);
    node->data = p;
    if (m_pNodeHead)
        m_pNodeHead->pPrev = node;
    else
        m_pNodeTail = node;
    m_pNodeHead = node;
    return node;
}

POSITION PointerList::AddTail(void* p)
{
    PtrListNode* node = newNode(m_pNodeTail, nullptr);
    node->data = p;
    if (m_pNodeTail)
        m_pNodeTail->pNext = node;
    else
        m_pNodeHead = node;
    m_pNodeTail = node;
    return node;
}

void* PointerList::RemoveHead()
{
    checkInvariant(m_pNodeHead != nullptr, UNIT, __LINE__, "m_pNodeHead != NULL");
    return RemoveAt(m_pNodeHead);
}

void* PointerList::RemoveTail()
{
    checkInvariant(m_pNodeTail != nullptr, UNIT, __LINE__, "m_pNodeTail != NULL");
    return RemoveAt(m_pNodeTail);
}

void* PointerList::RemoveAt(POSITION position)
{
    checkInvariant(position != nullptr, UNIT, __LINE__, "pOldNode != NULL");
    PtrListNode* node = position;
    if (node == m_pNodeHead)
        m_pNodeHead = node->pNext;
    else
        node->pPrev->pNext = node->pNext;
    if (node == m_pNodeTail)
        m_pNodeTail = node->pPrev;
    else
        node->pNext->pPrev = node->pPrev;
    void* data = node->data;
    freeNode(node);
    return data;
}

POSITION PointerList::FindIndex(int32_t index) const
{
    checkInvariant(index >= 0, UNIT, __LINE__, "nIndex >= 0");
    if (index >= m_nCount)
        return nullptr;
    // From the nearer end. Still a walk: a loop over a list's elements takes their positions
    // (GetNext), not their indexes. No cursor is remembered: lists are read by several
    // threads at once through const references.
    int32_t back = m_nCount - 1 - index;
    indexSteps += static_cast<uint64_t>(std::min(index, back));
    PtrListNode* node;
    if (index <= back) {
        node = m_pNodeHead;
        while (index-- > 0)
            node = node->pNext;
    } else {
        node = m_pNodeTail;
        while (back-- > 0)
            node = node->pPrev;
    }
    return node;
}

POSITION PointerList::Find(void* p, POSITION startAfter) const
{
    PtrListNode* node = startAfter ? startAfter->pNext : m_pNodeHead;
    for (; node; node = node->pNext)
        if (node->data == p)
            return node;
    return nullptr;
}
