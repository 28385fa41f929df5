#pragma once
// A serial port through libserialport: 8N1, no flow control, any baud the driver takes.
// Devices libserialport cannot look up (pseudo terminals) open through TermiosPort.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/LinkTransport.h"

struct sp_port;

namespace hylo {

class SerialPort final : public LinkTransport {
 public:
  // None when the device cannot be opened or configured at `baud`.
  static std::shared_ptr<LinkTransport> Open(const std::string& device, int baud);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  int Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
  // Returns within timeoutMs (the link uses 5 ms).
  int Read(std::span<std::uint8_t> out, int timeoutMs) override;
  bool FlushOutput() override;
  void Close() override;

  explicit SerialPort(sp_port* port) : port_(port) {}

 private:
  std::mutex lock_;  // Close against a read or write in flight
  sp_port* port_ = nullptr;
};

}  // namespace hylo
