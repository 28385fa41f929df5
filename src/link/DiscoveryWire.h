#pragma once
// The discovery datagrams: the "W" enquiry and reply, the "X" set command and its result.
// Addresses and the MAC address travel last byte first; here they are held first byte first
// (an address a.b.c.d is the value a << 24 | b << 16 | c << 8 | d).
#include <array>
#include <cstdint>
#include <span>
#include <variant>

namespace hylo::discovery {

inline constexpr std::uint16_t kDiscoveryPort = 62726;
inline constexpr std::size_t kMaxDatagram = 548;
inline constexpr std::size_t kRecordSize = 22;
inline constexpr std::uint8_t kModeDhcp = 1;
inline constexpr std::uint8_t kModeFixed = 2;

using Mac = std::array<std::uint8_t, 6>;

struct DiscoveryRecord {
  std::uint8_t modelCode = 0;
  std::uint16_t unitNumber = 0;
  Mac mac{};
  std::uint8_t addressMode = 0;
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t gateway = 0;
  bool operator==(const DiscoveryRecord&) const = default;
};

struct SetCommand {
  std::uint8_t modelCode = 0;
  std::uint16_t unitNumber = 0;
  Mac mac{};
  std::uint16_t replyPort = 0;
  std::uint8_t addressMode = kModeFixed;
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t gateway = 0;
};

struct SetResult {
  DiscoveryRecord record;  // the unit's settings after the command, in discovery layout
  std::uint16_t code = 0;  // 0 = success
};

std::array<std::uint8_t, kRecordSize> EncodeRecord(const DiscoveryRecord& r);
DiscoveryRecord DecodeRecord(std::span<const std::uint8_t, kRecordSize> bytes);

std::array<std::uint8_t, 17> BuildEnquiry(std::uint16_t replyPort);
// DHCP mode sends zeros for the address, mask and gateway.
std::array<std::uint8_t, 30> BuildSetCommand(const SetCommand& c);

// A datagram from the network: nothing is read before the start byte, the length and the
// CRC have been checked. Anything else (a short reply, another letter) is monostate.
using Datagram = std::variant<std::monostate, DiscoveryRecord, SetResult>;
Datagram ParseDatagram(std::span<const std::uint8_t> bytes);

}  // namespace hylo::discovery
