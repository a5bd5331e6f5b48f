#include "crypto/basic/lvnet.h"

namespace lvnet {

std::atomic<LvNetTick> tickHook{nullptr};

void setTick(LvNetTick tick) noexcept { tickHook.store(tick, std::memory_order_relaxed); }

}  // namespace lvnet
