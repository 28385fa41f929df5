#pragma once
// The connected device's identity, the model table, and the version reply ("E") decoder.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/Firmware.h"

namespace hylo {

inline constexpr std::uint8_t kModelLf = 2;
inline constexpr std::uint8_t kModelHf = 5;
inline constexpr std::uint8_t kModelAf = 7;
inline constexpr std::uint8_t kModelUnknown = 0xFF;

struct DeviceIdentity {
  std::uint16_t extraWord = 0;
  std::uint16_t unitNumber = 0;
  std::string firmwareText;  // "v%d.%d.%d", at most 8 characters
  std::uint8_t modelCode = 0;
  std::string productText;  // at most 18 characters
  std::uint8_t unitStatus = 0;
  std::string releaseText;   // at most 8 characters
  std::string hardwareText;  // at most 16 characters
  std::uint8_t lfStatusByte = 0;
  std::uint8_t interfaceCode = 0;
  std::uint8_t hardwareRevision = 0;
  std::uint8_t detailLevel = 0;
};

// Status values an identify reply may carry, each present only when the reply holds it.
struct VersionStatus {
  std::optional<int> sensitivityDb;  // whole dB re 1 V/µPa
  std::optional<double> temperatureC;
  std::optional<double> humidityPercent;
  std::optional<std::uint8_t> batteryState;
  std::optional<std::uint8_t> batteryLevel;
  std::optional<std::uint8_t> syncState;
  std::optional<std::uint8_t> setupByte;
};

struct VersionReply {
  DeviceIdentity identity;
  VersionStatus status;
};

// Decodes an identify reply payload. Fields that lie past the payload are left at their
// defaults, whatever the detail level claims. None when the payload is too short to hold
// even the fixed head (30 bytes).
std::optional<VersionReply> ParseVersionReply(std::span<const std::uint8_t> payload);

// The version in an identity's firmware text; unknown when the text is not of that form.
Firmware FirmwareVersion(std::string_view firmwareText);

// "Aurisond HF %d" and the other labels of the device model table.
std::string ModelLabel(int modelCode, int unitNumber);
// "Aurisond LF" / "Aurisond HF" / "Aurisond AF" / "Unknown".
std::string_view ModelName(int modelCode);
// "Wn1" / "Wn2" / "Wn3" / "Unknown".
std::string_view ModelShortCode(int modelCode);
std::string_view UnitStatusText(int unitStatus);
// The main window's one-line description of the connected unit.
std::string DescribeUnit(const DeviceIdentity& identity);
// 1, 4, 5 serial; 2 USB; 3 Ethernet.
std::string_view InterfaceName(int interfaceCode);

}  // namespace hylo
