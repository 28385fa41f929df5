#pragma once
// The MSG_TEXT payload: a 32-bit word 0, the 16-bit side (0 the instrument, 1 the host), then
// the NUL-terminated text, cut to the payload.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/HyloNodes.h"

namespace hylo {

inline void FillTextMessage(MessageNode& node, std::uint16_t side, std::string_view text) {
  auto* bytes = reinterpret_cast<char*>(node.payload);
  std::memset(bytes, 0, 4);
  std::memcpy(bytes + 4, &side, 2);
  const std::size_t n = std::min(text.size(), kNodePayloadBytes - 7);
  std::memcpy(bytes + 6, text.data(), n);
  bytes[6 + n] = '\0';
}

inline std::uint16_t TextMessageSide(const MessageNode& node) {
  std::uint16_t side = 0;
  std::memcpy(&side, reinterpret_cast<const char*>(node.payload) + 4, 2);
  return side;
}

inline std::string_view TextMessageText(const MessageNode& node) {
  const auto* text = reinterpret_cast<const char*>(node.payload) + 6;
  return {text, strnlen(text, kNodePayloadBytes - 6)};
}

}  // namespace hylo
