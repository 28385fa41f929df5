#pragma once
// UDP and TCP data channels. TCP channels share one socket event thread; a UDP channel has a
// reader thread of its own that lets about 10 ms of datagrams gather per wake-up. Each
// channel hands the reads of one wake-up (each at most 1460 bytes, up to 32 at once) to its
// callback on its thread; the callback only copies bytes.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace hylo::platform {

class DataSockets {
 public:
  // The reads of one wake-up, in order.
  using Reads = std::span<const std::span<const std::uint8_t>>;
  using OnData = std::function<void(Reads)>;
  using OnClosed = std::function<void()>;

  DataSockets();
  ~DataSockets();
  DataSockets(const DataSockets&) = delete;
  DataSockets& operator=(const DataSockets&) = delete;

  // A UDP channel on any local port of the address facing host, connected to host:port:
  // sends `request` there and reads only what comes from there.
  // Returns a handle (> 0), or 0 when the channel cannot be made.
  int OpenUdp(const std::string& host, int port, std::span<const std::uint8_t> request, OnData onData);
  // A TCP connection to host:port (time-out in ms) that sends `request` and reads.
  int OpenTcp(const std::string& host, int port, int timeoutMs, std::span<const std::uint8_t> request, OnData onData,
              OnClosed onClosed);
  // Sends on an open channel (the stop request); false when it is gone.
  bool Send(int handle, std::span<const std::uint8_t> bytes);
  void Close(int handle);
  void CloseAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hylo::platform
