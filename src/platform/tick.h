#pragma once

#include <cstdint>

namespace corvexa::platform {

// Milliseconds of a monotonic clock, wrapping at 2^32 like the system tick count.
std::uint32_t TickCount32();

}  // namespace corvexa::platform
