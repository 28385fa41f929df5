#pragma once
// How long a serial port may take to send what its output queue holds: the bytes at the
// slowest line rate (1200 baud, 10 bits a byte) and a margin. A drain that takes longer is
// a stalled line and fails instead of blocking its caller for ever.
#include <chrono>
#include <cstddef>

namespace hylo::platform {

inline std::chrono::milliseconds SerialDrainLimit(std::size_t bytes) {
  return std::chrono::milliseconds(2000 + static_cast<long long>(bytes) * 10 * 1000 / 1200);
}

}  // namespace hylo::platform
