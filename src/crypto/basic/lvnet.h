// The net under the crypto library's long loops (digests, public-key
// arithmetic), without the library knowing who keeps accounts: one
// process-wide pointer to a tick function, set once by the layer that joins
// the library to the work accounts (src/asn1, which sees both), and null when
// nothing is set, as in a program of the library alone. A process-wide
// pointer rather than one per thread or per scope: the tick itself answers
// "go on" for a thread with no account, so setting it once serves every
// thread, and no scope of the layers above must remember to install it.
#ifndef TAL_CRYPTO_BASIC_LVNET_H
#define TAL_CRYPTO_BASIC_LVNET_H

#include <atomic>

using LvNetTick = bool (*)() noexcept;

namespace lvnet {

extern std::atomic<LvNetTick> tickHook;

// Sets the tick (null: no net).
void setTick(LvNetTick tick) noexcept;

// One bounded step of work: false once the work must stop (the caller then
// refuses, cheaply). True when no tick is set.
inline bool tick() noexcept {
  const LvNetTick t = tickHook.load(std::memory_order_relaxed);
  return !t || t();
}

// For arithmetic deep in a public-key check, which has no failure value to
// answer: throws LvInterruptException once the work must stop. The check's
// callers already turn any library exception into a failed verification, and
// nothing half-computed is kept.
void tickOrThrow();

}  // namespace lvnet

#endif
