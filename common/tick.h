#pragma once
#include <cstdint>
#include <functional>

namespace brevan {

// Milliseconds since system start, wrapping at 2^32 like the desktop tick.
uint32_t TickCount();

// Tests drive time through this; an empty function restores the real clock.
void SetTickSource(std::function<uint32_t()> source);

}  // namespace brevan
