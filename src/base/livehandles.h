// The objects the C interface hands out as handles (library contexts, certificates, messages and
// their signatures, server lists, XML contexts), enlisted while they live. An entry point looks a
// handle up here before it reads it, so a freed pointer, a stranger's pointer or a handle of
// another kind is refused without being touched.
#pragma once

#include <cstdint>

enum class HandleKind : uint8_t {
  Context = 1,
  Certificate,
  Message,
  Signature,
  ServerIterator,
  XmlContext
};

// Throws std::bad_alloc when the entry cannot be made.
void enlistHandle(const void* handle, HandleKind kind);
// Nothing for a handle that is not enlisted.
void dropHandle(const void* handle);
// Drops the handle when it is enlisted as that kind, in one step; false when it was not.
bool takeHandle(const void* handle, HandleKind kind);
// True when the handle is enlisted, as that kind.
bool isLiveHandle(const void* handle, HandleKind kind);
