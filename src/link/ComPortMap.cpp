#include "link/ComPortMap.h"

#include <algorithm>

namespace hylo {

ComPortMap::ComPortMap(std::vector<std::string> devices) {
  for (auto& d : devices) Add(d);
}

int ComPortMap::Add(const std::string& device) {
  if (device.empty()) return 0;
  if (const int n = NumberOf(device)) return n;
  if (Count() >= kMaxPorts) return 0;
  devices_.push_back(device);
  return Count();
}

int ComPortMap::NumberOf(const std::string& device) const {
  const auto it = std::find(devices_.begin(), devices_.end(), device);
  return it == devices_.end() ? 0 : static_cast<int>(it - devices_.begin()) + 1;
}

std::string ComPortMap::DeviceOf(int number) const {
  if (number < 1 || number > Count()) return {};
  return devices_[static_cast<std::size_t>(number - 1)];
}

std::vector<std::string> ComPortMap::Labels() const {
  std::vector<std::string> labels;
  for (int i = 0; i < Count(); ++i)
    labels.push_back("COM" + std::to_string(i + 1) + " (" + devices_[static_cast<std::size_t>(i)] + ")");
  return labels;
}

}  // namespace hylo
