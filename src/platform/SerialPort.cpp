#include "platform/SerialPort.h"

#include <libserialport.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/SerialDrain.h"
#include "platform/TermiosPort.h"

namespace hylo {

std::shared_ptr<LinkTransport> SerialPort::Open(const std::string& device, int baud) {
  sp_port* port = nullptr;
  if (sp_get_port_by_name(device.c_str(), &port) != SP_OK) return TermiosPort::Open(device, baud);
  if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
    sp_free_port(port);
    return nullptr;
  }
  const bool configured = sp_set_baudrate(port, baud) == SP_OK && sp_set_bits(port, 8) == SP_OK &&
                          sp_set_parity(port, SP_PARITY_NONE) == SP_OK && sp_set_stopbits(port, 1) == SP_OK &&
                          sp_set_flowcontrol(port, SP_FLOWCONTROL_NONE) == SP_OK;
  if (!configured) {
    sp_close(port);
    sp_free_port(port);
    return nullptr;
  }
  return std::make_shared<SerialPort>(port);
}

SerialPort::~SerialPort() { Close(); }

int SerialPort::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
  std::lock_guard guard(lock_);
  if (!port_) return -1;
  const auto r = sp_blocking_write(port_, bytes.data(), bytes.size(), static_cast<unsigned>(std::max(timeoutMs, 1)));
  if (r < 0) return -1;
  // sp_drain has no time-out: poll the output queue instead.
  const auto until = std::chrono::steady_clock::now() + platform::SerialDrainLimit(bytes.size());
  for (;;) {
    const auto waiting = sp_output_waiting(port_);
    if (waiting < 0) return -1;
    if (waiting == 0) break;
    if (std::chrono::steady_clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return static_cast<int>(r);
}

int SerialPort::Read(std::span<std::uint8_t> out, int timeoutMs) {
  std::lock_guard guard(lock_);
  if (!port_) return -1;
  const auto r = sp_blocking_read_next(port_, out.data(), out.size(), static_cast<unsigned>(std::max(timeoutMs, 1)));
  return r < 0 ? -1 : static_cast<int>(r);
}

bool SerialPort::FlushOutput() {
  std::lock_guard guard(lock_);
  return port_ && sp_flush(port_, SP_BUF_OUTPUT) == SP_OK;
}

void SerialPort::Close() {
  std::lock_guard guard(lock_);
  if (!port_) return;
  sp_close(port_);
  sp_free_port(port_);
  port_ = nullptr;
}

}  // namespace hylo
