// Secure erasing of a file: three overwriting passes, then deletion.
#pragma once

#include <cstdint>

// Callbacks that follow an erase. start answers a handle for the erase, null to
// refuse it; progress and end receive that handle.
struct SecureDeleteCallbacks
{
    void* (*start)(const char* title, void* argument, uint64_t size);
    void (*progress)(void* handle, uint64_t offset);
    void (*end)(void* handle);
};

// Registers the callbacks (null removes them).
void setSecureDeleteCallbacks(const SecureDeleteCallbacks* callbacks);

// Overwrites the file with 0x00, 0xFF and 0x00, forcing each pass to the storage
// device, then deletes it: true when the file was deleted.
bool secureDeleteFile(const char* path, void* callbackArgument, bool useCallbacks);
