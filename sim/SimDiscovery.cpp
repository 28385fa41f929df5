#include "SimDiscovery.h"

#include <algorithm>
#include <sstream>

#include "wire/Bytes.h"
#include "wire/CRC_Update.h"

namespace hylo::sim {
namespace {

// Addresses and the MAC travel last byte first.
void PutReversed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  for (std::size_t i = bytes.size(); i-- > 0;) out.push_back(bytes[i]);
}

void PutAddress(std::vector<std::uint8_t>& out, std::uint32_t a) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
                             static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
  PutReversed(out, b);
}

std::uint32_t GetAddress(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint32_t>(in[at + 3]) << 24 | static_cast<std::uint32_t>(in[at + 2]) << 16 |
         static_cast<std::uint32_t>(in[at + 1]) << 8 | in[at];
}

std::vector<std::uint8_t> Seal(char letter, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> f(payload.size() + 4);
  f[0] = '*';
  f[1] = static_cast<std::uint8_t>(letter);
  f[2] = static_cast<std::uint8_t>(payload.size());
  f[3] = static_cast<std::uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), f.begin() + 4);
  const std::uint16_t crc = CRC_Update(0, f);
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  return f;
}

std::vector<std::uint8_t> Identity(const SimNetSettings& s) {
  std::vector<std::uint8_t> p{s.model, static_cast<std::uint8_t>(s.unit), static_cast<std::uint8_t>(s.unit >> 8)};
  PutReversed(p, s.mac);
  return p;
}

}  // namespace

std::optional<SimDiscoveryAnswer> AnswerDiscovery(SimNetSettings& s, std::span<const std::uint8_t> in) {
  if (in.size() < 6 || in[0] != '*') return std::nullopt;
  const std::size_t n = bytes::GetU16LE(in, 2);
  if (in.size() < n + 6 || CRC_Update(0, in.first(n + 6)) != 0) return std::nullopt;
  if (in[1] == 'W' && n >= 11) {
    std::vector<std::uint8_t> p = Identity(s);
    p.push_back(s.mode);
    PutAddress(p, s.ip);
    PutAddress(p, s.mask);
    PutAddress(p, s.gateway);
    return SimDiscoveryAnswer{Seal('W', p), bytes::GetU16LE(in, 13)};
  }
  if (in[1] == 'X' && n >= 24) {
    const auto id = Identity(s);
    if (!std::equal(id.begin(), id.end(), in.begin() + 4)) return std::nullopt;  // another unit's
    const std::uint8_t mode = in[15];
    std::uint16_t code = 0;
    if (mode == 1) {
      s.mode = 1;
    } else if (mode == 2) {
      s.mode = 2;
      s.ip = GetAddress(in, 16);
      s.mask = GetAddress(in, 20);
      s.gateway = GetAddress(in, 24);
    } else {
      code = 1;
    }
    std::vector<std::uint8_t> p = id;
    p.push_back(static_cast<std::uint8_t>(code));
    p.push_back(static_cast<std::uint8_t>(code >> 8));
    p.push_back(s.mode);
    PutAddress(p, s.ip);
    PutAddress(p, s.mask);
    PutAddress(p, s.gateway);
    return SimDiscoveryAnswer{Seal('X', p), bytes::GetU16LE(in, 13)};
  }
  return std::nullopt;
}

std::string DescribeNet(const SimNetSettings& s) {
  auto dotted = [](std::uint32_t a) {
    std::ostringstream o;
    o << (a >> 24) << '.' << (a >> 16 & 0xFF) << '.' << (a >> 8 & 0xFF) << '.' << (a & 0xFF);
    return o.str();
  };
  return std::string(s.mode == 1 ? "dhcp " : "fixed ") + dotted(s.ip) + " " + dotted(s.mask) + " " + dotted(s.gateway);
}

SimDiscovery::SimDiscovery(asio::io_context& io, const SimOptions& o) : socket_(io), port_(o.discoveryPort) {
  settings_.model = static_cast<std::uint8_t>(o.model);
  settings_.unit = o.unit;
  settings_.mac = ParseMac(o.mac).value_or(std::array<std::uint8_t, 6>{});
  settings_.mode = static_cast<std::uint8_t>(o.netMode);
  settings_.ip = ParseIpv4(o.netIp).value_or(0);
  settings_.mask = ParseIpv4(o.netMask).value_or(0);
  settings_.gateway = ParseIpv4(o.netGateway).value_or(0);
}

void SimDiscovery::Start() {
  const asio::ip::udp::endpoint any(asio::ip::address_v4::any(), port_);
  socket_.open(asio::ip::udp::v4());
  socket_.set_option(asio::socket_base::reuse_address(true));
  socket_.bind(any);
  Receive();
}

void SimDiscovery::Stop() {
  asio::error_code ec;
  socket_.close(ec);
}

std::uint16_t SimDiscovery::Port() const { return socket_.local_endpoint().port(); }

void SimDiscovery::Receive() {
  socket_.async_receive_from(asio::buffer(buffer_), from_, [this](const asio::error_code& ec, std::size_t n) {
    if (ec == asio::error::operation_aborted || !socket_.is_open()) return;
    if (!ec) {
      const bool wasSet = n > 1 && buffer_[1] == 'X';
      if (auto answer = AnswerDiscovery(settings_, std::span<const std::uint8_t>(buffer_.data(), n))) {
        // The answer goes back to the sender's address, at the port the datagram names.
        asio::error_code sendError;
        socket_.send_to(asio::buffer(answer->bytes), asio::ip::udp::endpoint(from_.address(), answer->port), 0,
                        sendError);
        if (wasSet && onChange_) onChange_(settings_);
      }
    }
    Receive();
  });
}

}  // namespace hylo::sim
