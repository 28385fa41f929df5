#pragma once
// Cuts the command-link byte stream into frames: "*", letter, u16 LE length, payload, CRC.
// Frames with a bad CRC, a letter outside "A".."\" or an oversized length are dropped and the
// parser resynchronises on the next "*".
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
  static constexpr std::size_t kMaxPayload = 7998;

  // Feeds bytes; returns the frames completed by them, in order.
  std::vector<SimFrame> Feed(std::span<const std::uint8_t> bytes);

  std::uint64_t BadFrames() const { return badFrames_; }

 private:
  void Restart();
  void Resync();

  std::vector<std::uint8_t> buf_;  // bytes of the frame being collected, from "*"
  std::uint64_t badFrames_ = 0;
};

// Builds one frame with its CRC.
std::vector<std::uint8_t> BuildSimFrame(char letter, std::span<const std::uint8_t> payload);

}  // namespace hylo::sim
