#pragma once
// A unit's firmware version: parsed once from its "v%d.%d.%d" text, compared as one number.
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace hylo {

struct Firmware {
  std::uint32_t packed = 0;  // major × 65536 + minor × 256 + patch; 0 when unknown

  constexpr Firmware() = default;
  // The packed number as the unit and the stream descriptions use it.
  constexpr Firmware(std::uint32_t packedVersion) : packed(packedVersion) {}  // NOLINT(google-explicit-constructor)
  constexpr Firmware(int major, int minor, int patch)
      : packed(static_cast<std::uint32_t>(major) * 65536U + static_cast<std::uint32_t>(minor) * 256U +
               static_cast<std::uint32_t>(patch)) {}

  // Unknown (0) when the text is not "v%d.%d.%d" with parts up to 255.
  static Firmware Parse(std::string_view text);
  // "v2.1.0"; empty when unknown.
  std::string Text() const;
  constexpr bool Known() const { return packed != 0; }

  friend constexpr bool operator==(Firmware, Firmware) = default;
  friend constexpr auto operator<=>(Firmware a, Firmware b) { return a.packed <=> b.packed; }
};

}  // namespace hylo
