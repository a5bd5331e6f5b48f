// The debugger output channel: each text goes to stderr (one line) when the
// environment variable TALVORIN_DEBUG is set, and to the hook when one is
// installed (tests read the texts there).
#pragma once

namespace platform {

typedef void (*DebugHook)(const char* text, void* user);

// Installs the hook (null removes it); returns the previous one.
DebugHook setDebugHook(DebugHook hook, void* user);
void debugOutput(const char* text);

}  // namespace platform
