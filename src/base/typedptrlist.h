// The typed face of PointerList: a list of T* that deletes its elements when it owns them.
#pragma once

#include "base/ptrlist.h"

#include <new>

// How an owning list frees one element; element types that need another way
// (arrays, records with their own release) specialise it.
template <class T>
struct PointerListElementDeleter
{
    static void destroy(T* p) { delete p; }
};

// Character strings are arrays made with array new.
template <>
struct PointerListElementDeleter<char>
{
    static void destroy(char* p) { delete[] p; }
};

template <class T>
class TypedPointerList : public PointerList
{
public:
    TypedPointerList() : PointerList(8), owns(true) {}
    ~TypedPointerList() override
    {
        if (owns)
            deleteAll();
        else
            RemoveAll();
    }

    // Deletes every element, the last first.
    void deleteAll()
    {
        while (GetCount() > 0) {
            T* p = static_cast<T*>(RemoveTail());
            if (p)
                PointerListElementDeleter<T>::destroy(p);
        }
    }

    // Removes and deletes the last element (the list must not be empty).
    void deleteTail()
    {
        T* p = static_cast<T*>(RemoveTail());
        if (p)
            PointerListElementDeleter<T>::destroy(p);
    }

    // Appends a default-constructed element; null when it cannot be made.
    T* addNew()
    {
        T* p = new (std::nothrow) T();
        if (!p)
            return nullptr;
        try {
            if (!AddTail(p)) {
                PointerListElementDeleter<T>::destroy(p);
                return nullptr;
            }
        } catch (...) {
            PointerListElementDeleter<T>::destroy(p);
            throw;
        }
        return p;
    }

    T* GetHead() const { return static_cast<T*>(PointerList::GetHead()); }
    T* GetTail() const { return static_cast<T*>(PointerList::GetTail()); }
    static T* GetAt(POSITION position) { return static_cast<T*>(PointerList::GetAt(position)); }
    static T* GetNext(POSITION& position) { return static_cast<T*>(PointerList::GetNext(position)); }
    static T* GetPrev(POSITION& position) { return static_cast<T*>(PointerList::GetPrev(position)); }
    T* RemoveHead() { return static_cast<T*>(PointerList::RemoveHead()); }
    T* RemoveTail() { return static_cast<T*>(PointerList::RemoveTail()); }
    T* RemoveAt(POSITION position) { return static_cast<T*>(PointerList::RemoveAt(position)); }
    // The element at a zero-based index, or null.
    T* elementAt(int32_t index) const
    {
        POSITION position = FindIndex(index);
        return position ? GetAt(position) : nullptr;
    }

    bool owns;
};

// An owning list of zero-terminated strings allocated with array new.
class TextStringList : public TypedPointerList<char>
{
public:
    TextStringList() = default;
    ~TextStringList() override;
    // Appends a zeroed buffer of length + 1 bytes and returns it; throws BadAllocation.
    char* addBuffer(int32_t length);
};
