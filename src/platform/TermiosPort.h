#pragma once
// A serial device through the kernel's termios2 calls: pseudo terminals and adapters that
// libserialport cannot enumerate (it looks devices up in sysfs). 8N1, raw, any baud.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/LinkTransport.h"

namespace hylo {

class TermiosPort final : public LinkTransport {
 public:
  // None when the device cannot be opened or set to `baud`.
  static std::shared_ptr<TermiosPort> Open(const std::string& device, int baud);
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  int Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
  int Read(std::span<std::uint8_t> out, int timeoutMs) override;
  bool FlushOutput() override;
  void Close() override;

 private:
  std::mutex lock_;
  int fd_ = -1;
};

}  // namespace hylo
