#include "link/Firmware.h"

#include <cstdio>

namespace hylo {

Firmware Firmware::Parse(std::string_view text) {
  unsigned major = 0, minor = 0, patch = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "v%u.%u.%u", &major, &minor, &patch) != 3) return {};
  if (major > 255 || minor > 255 || patch > 255) return {};
  return Firmware(static_cast<int>(major), static_cast<int>(minor), static_cast<int>(patch));
}

std::string Firmware::Text() const {
  if (!Known()) return {};
  return "v" + std::to_string(packed >> 16) + "." + std::to_string((packed >> 8) & 0xFF) + "." +
         std::to_string(packed & 0xFF);
}

}  // namespace hylo
