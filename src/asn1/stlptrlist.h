// Typed pointer lists beside TypedPointerList: the standard-list variant with
// an ownership flag, the time-stamp token lists built on it, and the
// attribute-list helper of the PKCS#12 reader.
#pragma once

#include "base/typedptrlist.h"

#include <cstdint>
#include <list>
#include <memory>
#include <new>

// A standard doubly linked list of T* that deletes its elements, first to
// last, when `owns` is exactly 1.
template <class T>
class StlPointerList
{
public:
    StlPointerList() : owns(1) {}
    virtual ~StlPointerList()
    {
        if (owns == 1)
            for (T* element : items)
                if (element)
                    PointerListElementDeleter<T>::destroy(element);
        items.clear();
    }

    StlPointerList(const StlPointerList&) = delete;
    StlPointerList& operator=(const StlPointerList&) = delete;

    // Appends what `element` owns, taken over only once the list has grown: a list that cannot
    // grow leaves it with its owner, which frees it.
    template <class U>
    void adopt(std::unique_ptr<U> element)
    {
        items.push_back(element.get());
        element.release();
    }

    uint8_t owns;
    std::list<T*> items;
};

// A list of time-stamp tokens that its holder keeps in its own order.
template <class T>
class TimeStampTokens : public StlPointerList<T>
{
public:
    // Puts the tokens in the holder's order; nothing with fewer than two.
    virtual void sortTokens() = 0;
};

// Appends a new owning list of attributes to a list of such lists and
// returns it; null (nothing appended) when it cannot be made. A failing
// append throws with the new list deleted.
template <class Attribute>
TypedPointerList<Attribute>* addNewAttributeList(PointerList& lists)
{
    auto* list = new (std::nothrow) TypedPointerList<Attribute>();
    if (!list)
        return nullptr;
    try {
        if (!lists.AddTail(list)) {
            delete list;
            return nullptr;
        }
    } catch (...) {
        delete list;
        throw;
    }
    return list;
}
