#include "base/securedelete.h"

#include "base/file.h"
#include "platform/fileio.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace {

SecureDeleteCallbacks registered{nullptr, nullptr, nullptr};
std::atomic<bool> haveCallbacks{false};

const size_t HEAP_BUFFER = 32768;
const size_t STACK_BUFFER = 512;

} // namespace

void setSecureDeleteCallbacks(const SecureDeleteCallbacks* callbacks)
{
    haveCallbacks.store(false);
    if (callbacks) {
        registered = *callbacks;
        haveCallbacks.store(true);
    } else {
        registered = SecureDeleteCallbacks{nullptr, nullptr, nullptr};
    }
}

bool secureDeleteFile(const char* path, void* callbackArgument, bool useCallbacks)
{
    SafeFile file(nullptr, 0);
    if (!path || !file.open(path, "r+b"))
        return false;
    // The whole file is overwritten, whatever its size (no 32-bit truncation).
    int64_t size = platform::pathFileSize(path);
    if (size < 0)
        return false;

    SecureDeleteCallbacks callbacks{nullptr, nullptr, nullptr};
    if (useCallbacks && haveCallbacks.load())
        callbacks = registered;
    void* handle = nullptr;
    if (callbacks.start) {
        handle = callbacks.start("BEZPIECZNE KASOWANIE", callbackArgument, static_cast<uint64_t>(size));
        if (!handle)
            return false;
    }
    auto endCallback = [&] {
        if (callbacks.start && callbacks.end)
            callbacks.end(handle);
    };

    uint8_t stackBuffer[STACK_BUFFER];
    std::unique_ptr<uint8_t[]> heapBuffer(new (std::nothrow) uint8_t[HEAP_BUFFER]);
    uint8_t* buffer = heapBuffer ? heapBuffer.get() : stackBuffer;
    size_t bufferSize = heapBuffer ? HEAP_BUFFER : STACK_BUFFER;

    static const uint8_t passes[3] = {0x00, 0xFF, 0x00};
    for (uint8_t fill : passes) {
        std::memset(buffer, fill, bufferSize);
        if (file.seek(0) != 0) {
            endCallback();
            return false;
        }
        for (int64_t offset = 0; offset < size;) {
            if (callbacks.start && callbacks.progress)
                callbacks.progress(handle, static_cast<uint64_t>(offset));
            int64_t left = size - offset;
            uint32_t piece = static_cast<uint32_t>(left < static_cast<int64_t>(bufferSize) ? left : bufferSize);
            if (file.write(piece, buffer) != 0) {
                endCallback();
                return false;
            }
            offset += piece;
        }
        // Each pass must reach the device: the page cache would otherwise drop the
        // overwritten pages of a deleted file unwritten.
        if (file.flush() != 0) {
            endCallback();
            return false;
        }
    }
    file.close();
    endCallback();
    return platform::removeFile(path);
}
