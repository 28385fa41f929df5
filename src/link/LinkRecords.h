#pragma once
// The payloads of the command link's nodes: a framed command (type 9) and a reply frame
// (type 10), and the frame builder.
#include <array>
#include <cstdint>
#include <semaphore>
#include <span>

#include "link/CommandLetters.h"

namespace hylo {

// Released once per command: replies complete, time-out, or dropped.
using WaitSemaphore = std::binary_semaphore;

struct CommandRecord {
  std::int32_t comPort = 0;
  std::int32_t tcpHandle = 0;
  std::int32_t tcpTimeoutMs = 0;
  std::int32_t frameLength = 0;
  std::int32_t linkType = 0;  // 0 Ethernet, 1 serial
  std::array<std::uint8_t, cmd::kFrameArea> frame{};
  std::int32_t* replyLength = nullptr;
  WaitSemaphore* waitSemaphore = nullptr;
  std::uint8_t* replyBuffer = nullptr;
  std::uint8_t expectedReplies = 0;
  std::uint32_t timeoutMs = 0;
  std::uint64_t deadlineMs = 0;  // 64-bit link clock
  std::int32_t replyCapacity = 0;
  std::int32_t replyStored = 0;  // bytes this thread has put in replyBuffer
  std::int32_t forward = 0;

  std::uint8_t Letter() const { return frame[1]; }
};

struct ReplyFrame {
  std::int32_t length = 0;  // N
  std::uint8_t letter = 0;
  std::array<std::uint8_t, cmd::kMaxReplyPayload> payload{};

  std::span<const std::uint8_t> Payload() const {
    return std::span<const std::uint8_t>(payload).first(static_cast<std::size_t>(length));
  }
};

// Writes "*", letter, N (LE), payload, CRC (LE) into `out`; returns N + 6, or −1 when the
// payload does not fit the frame area.
int BuildFrame(std::uint8_t letter, std::span<const std::uint8_t> payload, std::span<std::uint8_t> out);

}  // namespace hylo
