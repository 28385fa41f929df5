#pragma once
// The serial ports this machine has, as libserialport enumerates them (sorted device paths).
#include <string>
#include <vector>

namespace hylo::platform {

std::vector<std::string> ListSerialPorts();

}  // namespace hylo::platform
