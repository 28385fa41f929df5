#pragma once
// Byte-order helpers for wire formats. Reads take a span and an offset and never read
// past the span: callers check lengths first, these assert it.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hylo::bytes {

inline std::uint16_t GetU16LE(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t GetU32LE(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 4 <= b.size());
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint16_t GetU16BE(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 2 <= b.size());
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
inline std::uint32_t GetU32BE(std::span<const std::uint8_t> b, std::size_t at) {
  assert(at + 4 <= b.size());
  return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
         (static_cast<std::uint32_t>(b[at + 2]) << 8) | static_cast<std::uint32_t>(b[at + 3]);
}
inline std::int16_t GetI16LE(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int16_t>(GetU16LE(b, at));
}
inline std::int32_t GetI32LE(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(GetU32LE(b, at));
}
inline std::int16_t GetI16BE(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int16_t>(GetU16BE(b, at));
}
inline std::int32_t GetI32BE(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(GetU32BE(b, at));
}

inline void PutU16LE(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32LE(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  assert(at + 4 <= b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU16BE(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  assert(at + 2 <= b.size());
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
inline void PutU32BE(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  assert(at + 4 <= b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace hylo::bytes
