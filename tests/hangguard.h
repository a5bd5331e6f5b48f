// How long what must end by itself (a transfer, a child, a lock, a server's start, a call that
// must not block, a refused document's work) may take in a test before the test fails instead of
// hanging: far beyond any busy machine, so only a fault reaches it. A speed is checked by a count
// of work, by this thread's processor time with ample room where the time is the point, or in a
// benchmark; never against the wall clock.
#pragma once

constexpr int HANG_GUARD_SECONDS = 300;
constexpr long HANG_GUARD_MS = HANG_GUARD_SECONDS * 1000L;
