#include "platform/HostNames.h"

#include <pwd.h>
#include <unistd.h>

#include <array>

namespace hylo::platform {

std::string ComputerName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return "Unknown";
  return name.data();
}

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  return "Unknown";
}

}  // namespace hylo::platform
