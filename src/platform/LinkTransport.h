#pragma once
// One open command link (a TCP connection or a serial port), as CommsThread and the readers see it.
#include <cstdint>
#include <span>

namespace hylo {

class LinkTransport {
 public:
  virtual ~LinkTransport() = default;
  // Bytes written, or negative on error.
  virtual int Write(std::span<const std::uint8_t> bytes, int timeoutMs) = 0;
  // Bytes read (0 when nothing came within the wait), or negative on error.
  virtual int Read(std::span<std::uint8_t> out, int timeoutMs) = 0;
  // Discards what is queued for output; false on failure. Serial only.
  virtual bool FlushOutput() { return true; }
  // Closes and opens again to the same peer; true when connected. TCP only.
  virtual bool Reconnect() { return false; }
  virtual void Close() = 0;
};

}  // namespace hylo
