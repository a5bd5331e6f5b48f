#include "crypto/basic/lvnet.h"

#include "crypto/basic/lvexception.h"

namespace lvnet {

std::atomic<LvNetTick> tickHook{nullptr};

void setTick(LvNetTick tick) noexcept { tickHook.store(tick, std::memory_order_relaxed); }

void tickOrThrow() {
  if (!tick())
    LV_THROW(LvInterruptException, "work account spent", "lvnet::tickOrThrow", "lvnet");
}

}  // namespace lvnet
