#pragma once
// Cuts the bytes read from the command link into frames, checks their CRC and hands each
// good frame to CommsThread as a type 10 node. Called from whichever thread reads the link.
#include <array>
#include <cstdint>
#include <mutex>
#include <span>

#include "core/HyloNodes.h"
#include "core/HyloThreadControl.h"
#include "link/CommandLetters.h"

namespace hylo {

class HyloParser {
 public:
  explicit HyloParser(HyloThreadControl& threads) : threads_(threads) {}

  void InitReplyParser();
  // Frames posted during this call; 0 when a node could not be had or posted (the rest of
  // the bytes are dropped); −2 once stopped.
  int ParseReplyBytes(std::span<const std::uint8_t> bytes);
  void ResetReplyParser();
  void StopReplyParser();

  int State() const;  // for tests

 private:
  enum : int { kHunt = 0, kLetter, kLengthLow, kLengthHigh, kPayload, kCrcLow, kCrcHigh };
  // 0 frame dropped, 1 posted, −1 no node or post failed.
  int Deliver();

  HyloThreadControl& threads_;
  mutable std::mutex lock_;
  int state_ = kHunt;
  std::array<std::uint8_t, 4 + cmd::kMaxReplyPayload + 2> frame_{};
  std::uint16_t length_ = 0;
  std::size_t received_ = 0;
  bool stopped_ = false;
};

}  // namespace hylo
