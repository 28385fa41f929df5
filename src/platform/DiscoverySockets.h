#pragma once
// The local IPv4 interfaces, and one broadcast-capable UDP socket bound to each, read on a
// thread of its own. Each datagram (at most 548 bytes) goes to the callback with the index
// of the socket it came on.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace hylo::platform {

// Addresses of the interfaces that are up, loopback left out, in the system's order.
std::vector<std::string> LocalIPv4Addresses();

class DiscoverySockets {
 public:
  // data is empty with error set when a read failed.
  using OnDatagram = std::function<void(int index, std::span<const std::uint8_t> data, bool error)>;

  DiscoverySockets();
  ~DiscoverySockets();
  DiscoverySockets(const DiscoverySockets&) = delete;
  DiscoverySockets& operator=(const DiscoverySockets&) = delete;

  // Closes what is open, then binds one socket per address on a port the system chooses.
  // Addresses that cannot be bound are left out. Returns the number opened.
  int Open(const std::vector<std::string>& addresses, OnDatagram onDatagram);
  void Close();
  int Count() const;
  std::uint16_t LocalPort(int index) const;
  std::string LocalAddress(int index) const;
  bool Send(int index, std::span<const std::uint8_t> bytes, const std::string& toAddress, std::uint16_t toPort);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hylo::platform
