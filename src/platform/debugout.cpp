#include "platform/debugout.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

std::mutex hookMutex;
DebugHook currentHook = nullptr;
void* currentUser = nullptr;

}  // namespace

DebugHook setDebugHook(DebugHook hook, void* user)
{
  std::lock_guard<std::mutex> lock(hookMutex);
  DebugHook previous = currentHook;
  currentHook = hook;
  currentUser = user;
  return previous;
}

void debugOutput(const char* text)
{
  if (!text)
    return;
  if (std::getenv("TALVORIN_DEBUG"))
    std::fprintf(stderr, "%s\n", text);
  std::lock_guard<std::mutex> lock(hookMutex);
  if (currentHook)
    currentHook(text, currentUser);
}

}  // namespace platform
