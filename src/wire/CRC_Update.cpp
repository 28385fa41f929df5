#include "wire/CRC_Update.h"

#include <array>

namespace hylo {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t c = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
      c = (c & 1U) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001U) : static_cast<std::uint16_t>(c >> 1);
    table[i] = c;
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint16_t CRC_Update(std::uint16_t crc, std::uint8_t byte) noexcept {
  return static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU]);
}

std::uint16_t CRC_Update(std::uint16_t crc, std::span<const std::uint8_t> bytes) noexcept {
  for (std::uint8_t b : bytes) crc = CRC_Update(crc, b);
  return crc;
}

}  // namespace hylo
