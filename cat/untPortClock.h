// The time base of the port worker and its parts: steady-clock nanoseconds.
#pragma once

#include <chrono>
#include <cstdint>

namespace vela {

inline std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr std::int64_t MsToNs(int Ms) {
  return static_cast<std::int64_t>(Ms) * 1000000;
}

} // namespace vela
