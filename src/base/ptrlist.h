// Untyped doubly linked list of pointers with block-allocated nodes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/commonerror.h"

struct PtrListNode
{
    PtrListNode* pNext;
    PtrListNode* pPrev;
    void* data;
};

// A position in a list: the node's address, valid until the node is removed.
typedef PtrListNode* POSITION;

// For tests: the nodes FindIndex has stepped over on this thread (a loop that reaches a list's
// elements by index pays their square here).
uint64_t pointerListIndexSteps();

class PointerList
{
public:
    explicit PointerList(int32_t nBlockSize = 8)
        : m_pNodeHead(nullptr), m_pNodeTail(nullptr), m_nCount(0), m_pNodeFree(nullptr),
          m_pBlocks(nullptr), m_nBlockSize(nBlockSize)
    {
        checkInvariant(nBlockSize > 0, "ptrlist", __LINE__, "nBlockSize > 0");
    }
    // Inline with RemoveAll: most lists of decoded values stay empty.
    virtual ~PointerList() { RemoveAll(); }

    PointerList(const PointerList&) = delete;
    PointerList& operator=(const PointerList&) = delete;

    POSITION AddHead(void* p);
    POSITION AddTail(void* p);
    void* RemoveHead();
    void* RemoveTail();
    // Unlinks a node of this list and returns its pointer.
    void* RemoveAt(POSITION position);
    POSITION FindIndex(int32_t index) const;
    POSITION Find(void* p, POSITION startAfter = nullptr) const;
    // Forgets every node and frees the blocks; the elements are not touched.
    void RemoveAll()
    {
        if (m_pBlocks)
            freeBlocks();
        m_pNodeHead = m_pNodeTail = m_pNodeFree = nullptr;
        m_nCount = 0;
    }

    int32_t GetCount() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }
    POSITION GetHeadPosition() const { return m_pNodeHead; }
    POSITION GetTailPosition() const { return m_pNodeTail; }
    void* GetHead() const { return m_pNodeHead ? m_pNodeHead->data : nullptr; }
    void* GetTail() const { return m_pNodeTail ? m_pNodeTail->data : nullptr; }
    static void* GetAt(POSITION position) { return position->data; }
    static void SetAt(POSITION position, void* p) { position->data = p; }
    // Returns the element at position and moves position to its successor.
    static void* GetNext(POSITION& position)
    {
        PtrListNode* node = position;
        position = node->pNext;
        return node->data;
    }
    // Returns the element at position and moves position to its predecessor.
    static void* GetPrev(POSITION& position)
    {
        PtrListNode* node = position;
        position = node->pPrev;
        return node->data;
    }

private:
    PtrListNode* newNode(PtrListNode* prev, PtrListNode* next);
    void freeNode(PtrListNode* node);
    void freeBlocks();

    PtrListNode* m_pNodeHead;
    PtrListNode* m_pNodeTail;
    int32_t m_nCount;
    PtrListNode* m_pNodeFree;
    PtrListNode* m_pBlocks; // each block: a link node (data = previous block) and m_nBlockSize nodes
    int32_t m_nBlockSize;
};
