#pragma once
// The rate of a serial line (or pty) through the kernel's termios2 calls, so any rate is set
// and read as it is. Classic rates go through their constant, so tools that read only the
// classic field (stty, tcgetattr) see them too. Shared by the host and the simulator.
#include <cstdint>
#include <optional>

namespace hylo::platform {

bool SetLineRate(int fd, std::uint32_t baud);
std::optional<std::uint32_t> LineRate(int fd);

}  // namespace hylo::platform
