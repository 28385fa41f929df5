#pragma once
// COM port numbers (1..100, as the panel and the settings file know them) onto this
// machine's serial devices: the enumerated ports in name order, then devices the user named
// that enumeration cannot see (pseudo terminals, the simulator's pty).
#include <string>
#include <vector>

namespace hylo {

class ComPortMap {
 public:
  static constexpr int kMaxPorts = 100;

  ComPortMap() = default;
  explicit ComPortMap(std::vector<std::string> devices);

  // Adds a device when it is not mapped yet; returns its number (0 when the map is full).
  int Add(const std::string& device);
  // 0 when the device is not mapped.
  int NumberOf(const std::string& device) const;
  // Empty when the number is not mapped.
  std::string DeviceOf(int number) const;
  int Count() const { return static_cast<int>(devices_.size()); }
  // Panel labels: "COM3 (/dev/ttyUSB0)".
  std::vector<std::string> Labels() const;

 private:
  std::vector<std::string> devices_;
};

}  // namespace hylo
