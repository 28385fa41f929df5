#pragma once
// The unit's discovery responder: a "W" enquiry gets the discovery record at the reply port it
// names; an "X" set command for this unit (model, unit number and MAC address) is applied and
// answered with the set result. Later enquiries report the new settings.
#include <array>
#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace hylo::sim {

struct SimNetSettings {
  std::uint8_t model = 5;
  std::uint16_t unit = 1;
  std::array<std::uint8_t, 6> mac{};  // first byte first
  std::uint8_t mode = 2;
  std::uint32_t ip = 0, mask = 0, gateway = 0;  // a.b.c.d as a << 24 | ...
};

// The datagram logic without sockets: the answer (empty: none) and where it goes.
struct SimDiscoveryAnswer {
  std::vector<std::uint8_t> bytes;
  std::uint16_t port = 0;
};
std::optional<SimDiscoveryAnswer> AnswerDiscovery(SimNetSettings& settings, std::span<const std::uint8_t> datagram);

class SimDiscovery {
 public:
  SimDiscovery(asio::io_context& io, const SimOptions& options);
  // Binds the port on every local address; throws on failure.
  void Start();
  void Stop();
  // Called with each applied set (for the "network" line on stdout).
  void SetOnChange(std::function<void(const SimNetSettings&)> onChange) { onChange_ = std::move(onChange); }
  std::uint16_t Port() const;

 private:
  void Receive();

  asio::ip::udp::socket socket_;
  std::uint16_t port_;
  SimNetSettings settings_;
  std::array<std::uint8_t, 600> buffer_{};
  asio::ip::udp::endpoint from_;
  std::function<void(const SimNetSettings&)> onChange_;
};

std::string DescribeNet(const SimNetSettings& s);

}  // namespace hylo::sim
