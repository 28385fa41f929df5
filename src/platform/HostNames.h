#pragma once
// The computer's network name and the logged-on user, for log headers.
#include <string>

namespace hylo::platform {

std::string ComputerName();
std::string UserName();

}  // namespace hylo::platform
