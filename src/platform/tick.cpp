#include "platform/tick.h"

#include <chrono>

namespace corvexa::platform {

std::uint32_t TickCount32() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

}  // namespace corvexa::platform
