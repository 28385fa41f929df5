#include "link/HyloParser.h"

#include <algorithm>

#include "core/Post.h"
#include "link/LinkRecords.h"
#include "wire/CRC_Update.h"

namespace hylo {

void HyloParser::InitReplyParser() {
  std::lock_guard guard(lock_);
  stopped_ = false;
  state_ = kHunt;
}

void HyloParser::ResetReplyParser() {
  std::lock_guard guard(lock_);
  state_ = kHunt;
}

void HyloParser::StopReplyParser() {
  std::lock_guard guard(lock_);
  stopped_ = true;
}

int HyloParser::State() const {
  std::lock_guard guard(lock_);
  return state_;
}

int HyloParser::Deliver() {
  const std::size_t total = 4 + std::size_t{length_} + 2;
  if (CRC_Update(0, std::span<const std::uint8_t>(frame_).first(total)) != 0) return 0;
  // The host's own identify, echoed back by the port.
  if (frame_[1] == cmd::kIdentify && length_ == 0) return 0;
  const bool queued = Post(threads_, COMMS_THREAD, MSG_REPLY_FRAME, [this](MessageNode& node) {
    auto& reply = node.As<ReplyFrame>();
    reply.length = length_;
    reply.letter = frame_[1];
    std::copy_n(frame_.begin() + 4, length_, reply.payload.begin());
  });
  return queued ? 1 : -1;
}

int HyloParser::ParseReplyBytes(std::span<const std::uint8_t> bytes) {
  std::lock_guard guard(lock_);
  if (stopped_) return -2;
  int frames = 0;
  for (const std::uint8_t b : bytes) {
    switch (state_) {
      case kHunt:
        if (b == cmd::kStartByte) {
          frame_[0] = b;
          state_ = kLetter;
        }
        break;
      case kLetter:
        // A second "*" starts the frame afresh rather than costing the frame that follows.
        if (b == cmd::kStartByte) break;
        if (cmd::IsCommandLetter(b)) {
          frame_[1] = b;
          state_ = kLengthLow;
        } else {
          state_ = kHunt;
        }
        break;
      case kLengthLow:
        frame_[2] = b;
        state_ = kLengthHigh;
        break;
      case kLengthHigh:
        frame_[3] = b;
        length_ = static_cast<std::uint16_t>(frame_[2] | (b << 8));
        if (length_ > cmd::kMaxReplyPayload) {
          state_ = kHunt;
        } else if (length_ == 0) {
          state_ = kCrcLow;
        } else {
          received_ = 0;
          state_ = kPayload;
        }
        break;
      case kPayload:
        frame_[4 + received_] = b;
        if (++received_ == length_) state_ = kCrcLow;
        break;
      case kCrcLow:
        frame_[4 + std::size_t{length_}] = b;
        state_ = kCrcHigh;
        break;
      case kCrcHigh: {
        frame_[5 + std::size_t{length_}] = b;
        state_ = kHunt;
        const int got = Deliver();
        if (got < 0) return 0;
        frames += got;
        break;
      }
      default:
        state_ = kHunt;
        break;
    }
  }
  return frames;
}

}  // namespace hylo
