#pragma once
// CRC-16/ARC (polynomial 0x8005 reflected, initial 0, no final xor), table form.
#include <cstdint>
#include <span>

namespace hylo {

// One table step: crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF].
std::uint16_t CRC_Update(std::uint16_t crc, std::uint8_t byte) noexcept;

// CRC over a whole buffer, starting from `crc`. Over a frame including its CRC the result is 0.
std::uint16_t CRC_Update(std::uint16_t crc, std::span<const std::uint8_t> bytes) noexcept;

}  // namespace hylo
