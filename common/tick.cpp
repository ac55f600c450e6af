#include "common/tick.h"

#include <time.h>

namespace brevan {
namespace {
std::function<uint32_t()>& Source() {
  static std::function<uint32_t()> source;
  return source;
}
}  // namespace

uint32_t TickCount() {
  if (Source()) return Source()();
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SetTickSource(std::function<uint32_t()> source) { Source() = std::move(source); }

}  // namespace brevan
