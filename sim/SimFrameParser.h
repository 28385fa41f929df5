#pragma once
// Cuts the command-link byte stream into frames: "*", letter, u16 LE length, payload, CRC.
// Frames with a bad CRC, a letter outside "A".."\" or an oversized length are dropped and the
// parser resynchronises on the next "*" after the rejected start byte.
#include <cstdint>
#include <span>
#include <vector>

namespace hylo::sim {

struct SimFrame {
  char letter = 0;
  std::vector<std::uint8_t> payload;
};

class SimFrameParser {
 public:
  // The largest payload a receiver on this link accepts.
  static constexpr std::size_t kMaxPayload = 7994;

  // Feeds bytes; returns the frames completed by them, in order.
  std::vector<SimFrame> Feed(std::span<const std::uint8_t> bytes);

  std::uint64_t BadFrames() const { return badFrames_; }
  // Bytes held for a frame not yet complete (never more than one whole frame).
  std::size_t Buffered() const { return buf_.size() - head_; }

 private:
  // Scans the buffered bytes from head_; false when more input is needed.
  bool Step(std::vector<SimFrame>& out);
  void Reject();
  void Compact();

  std::vector<std::uint8_t> buf_;  // buf_[head_] is the "*" of the frame being collected
  std::size_t head_ = 0;
  std::uint64_t badFrames_ = 0;
};

// Builds one frame with its CRC; a payload above kMaxPayload is cut to it.
std::vector<std::uint8_t> BuildSimFrame(char letter, std::span<const std::uint8_t> payload);

}  // namespace hylo::sim
