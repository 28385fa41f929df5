#include "processing/HyloProcMsg.h"

#include <algorithm>

#include "link/LinkRecords.h"

namespace hylo {

bool HyloProcMsg::RegisterReplyHandler(std::uint8_t letter, ReplyHandler handler) {
  if (!cmd::IsCommandLetter(letter)) return false;
  handlers_[letter - cmd::kFirstLetter] = std::move(handler);
  return true;
}

bool HyloProcMsg::DispatchReply(MessageNode& node) const {
  if (node.type != MSG_REPLY_FRAME) return false;
  const auto& reply = node.As<ReplyFrame>();
  if (!cmd::IsCommandLetter(reply.letter)) return false;
  const auto& handler = handlers_[reply.letter - cmd::kFirstLetter];
  if (!handler) return false;
  const auto n = static_cast<std::size_t>(std::clamp<std::int32_t>(reply.length, 0, cmd::kMaxReplyPayload));
  handler(std::span<const std::uint8_t>(reply.payload).first(n), static_cast<std::int16_t>(n));
  return true;
}

}  // namespace hylo
