#pragma once
// Reply dispatch on MsgProcThread: each forwarded reply frame goes to the handler registered
// for its letter ("A".."\"); letters without a handler are dropped.
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "core/HyloNodes.h"
#include "link/CommandLetters.h"

namespace hylo {

// Payload bytes and N as a signed 16-bit count; the result is not used.
using ReplyHandler = std::function<int(std::span<const std::uint8_t> payload, std::int16_t length)>;

class HyloProcMsg {
 public:
  // Register before the workers start (or from MsgProcThread itself). False for a letter
  // outside "A".."\".
  bool RegisterReplyHandler(std::uint8_t letter, ReplyHandler handler);
  // Dispatches one type 10 node; true when a handler ran. Never frees the node.
  bool DispatchReply(MessageNode& node) const;

 private:
  static constexpr std::size_t kLetters = cmd::kLastLetter - cmd::kFirstLetter + 1;
  std::array<ReplyHandler, kLetters> handlers_{};
};

}  // namespace hylo
