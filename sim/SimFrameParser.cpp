#include "SimFrameParser.h"

#include <algorithm>

#include "link/CRC_Update.h"

namespace hylo::sim {
namespace {
constexpr std::uint8_t kStart = 0x2A;
bool ValidLetter(std::uint8_t c) { return c >= 0x41 && c <= 0x5C; }
}  // namespace

void SimFrameParser::Restart() { buf_.clear(); }

// Drops the leading "*" of a rejected frame and rescans what followed it, so a frame that
// starts inside the rejected bytes is still found.
void SimFrameParser::Resync() {
  std::vector<std::uint8_t> rest(buf_.begin() + 1, buf_.end());
  buf_.clear();
  auto it = std::find(rest.begin(), rest.end(), kStart);
  buf_.assign(it, rest.end());
}

std::vector<SimFrame> SimFrameParser::Feed(std::span<const std::uint8_t> bytes) {
  std::vector<SimFrame> out;
  std::size_t i = 0;
  while (i < bytes.size() || !buf_.empty()) {
    // Try to complete or reject what is buffered before taking more input.
    if (!buf_.empty()) {
      if (buf_.size() >= 2 && !ValidLetter(buf_[1])) {
        ++badFrames_;
        Resync();
        continue;
      }
      if (buf_.size() >= 4) {
        const std::size_t n = buf_[2] | (std::size_t{buf_[3]} << 8);
        if (n > kMaxPayload) {
          ++badFrames_;
          Resync();
          continue;
        }
        if (buf_.size() >= n + 6) {
          const std::span<const std::uint8_t> whole(buf_.data(), n + 6);
          if (hylo::CRC_Update(0, whole) == 0) {
            SimFrame f;
            f.letter = static_cast<char>(buf_[1]);
            f.payload.assign(buf_.begin() + 4, buf_.begin() + 4 + static_cast<std::ptrdiff_t>(n));
            out.push_back(std::move(f));
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n + 6));
            auto it = std::find(buf_.begin(), buf_.end(), kStart);
            buf_.erase(buf_.begin(), it);
          } else {
            ++badFrames_;
            Resync();
          }
          continue;
        }
      }
    }
    if (i >= bytes.size()) break;
    const std::uint8_t b = bytes[i++];
    if (buf_.empty()) {
      if (b == kStart) buf_.push_back(b);
    } else {
      buf_.push_back(b);
    }
  }
  return out;
}

std::vector<std::uint8_t> BuildSimFrame(char letter, std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), SimFrameParser::kMaxPayload);
  std::vector<std::uint8_t> f;
  f.reserve(n + 6);
  f.push_back(kStart);
  f.push_back(static_cast<std::uint8_t>(letter));
  f.push_back(static_cast<std::uint8_t>(n & 0xFF));
  f.push_back(static_cast<std::uint8_t>(n >> 8));
  f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
  const std::uint16_t crc = hylo::CRC_Update(0, f);
  f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  return f;
}

}  // namespace hylo::sim
