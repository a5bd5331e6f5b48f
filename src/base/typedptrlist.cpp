#include "base/typedptrlist.h"

#include "base/commonerror.h"

#include <cstring>

TextStringList::~TextStringList()
{
    deleteAll(); // the strings, the last first
}

char* TextStringList::addBuffer(int32_t length)
{
    if (length < 0 || length == INT32_MAX)
        throwBadAllocation();
    char* buffer = new (std::nothrow) char[static_cast<size_t>(length) + 1];
    if (!buffer)
        throwBadAllocation();
    std::memset(buffer, 0, static_cast<size_t>(length) + 1);
    try {
        AddTail(buffer);
    } catch (...) {
        delete[] buffer;
        throw;
    }
    return buffer;
}
