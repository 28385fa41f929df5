#include "SimFrameParser.h"

#include <algorithm>

#include "wire/CRC_Update.h"

namespace hylo::sim {
namespace {
constexpr std::uint8_t kStart = 0x2A;
constexpr std::size_t kOverhead = 6;  // "*", letter, two length bytes, two CRC bytes
bool ValidLetter(std::uint8_t c) { return c >= 0x41 && c <= 0x5C; }
}  // namespace

// Drops the start byte of a rejected frame and moves to the next "*" after it, so a frame that
// starts inside the rejected bytes is still found.
void SimFrameParser::Reject() {
  ++badFrames_;
  const auto next = std::find(buf_.begin() + static_cast<std::ptrdiff_t>(head_) + 1, buf_.end(), kStart);
  head_ = static_cast<std::size_t>(next - buf_.begin());
}

// Keeps the buffer from growing with the stream: bytes before head_ are done with.
void SimFrameParser::Compact() {
  if (head_ == 0) return;
  if (head_ >= buf_.size()) {
    buf_.clear();
  } else {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
  }
  head_ = 0;
}

bool SimFrameParser::Step(std::vector<SimFrame>& out) {
  const std::size_t have = buf_.size() - head_;
  if (have < 2) return false;
  const std::uint8_t* f = buf_.data() + head_;
  if (!ValidLetter(f[1])) {
    Reject();
    return true;
  }
  if (have < 4) return false;
  const std::size_t n = f[2] | (std::size_t{f[3]} << 8);
  if (n > kMaxPayload) {
    Reject();
    return true;
  }
  if (have < n + kOverhead) return false;
  if (hylo::CRC_Update(0, std::span<const std::uint8_t>(f, n + kOverhead)) != 0) {
    Reject();
    return true;
  }
  SimFrame frame;
  frame.letter = static_cast<char>(f[1]);
  frame.payload.assign(f + 4, f + 4 + n);
  out.push_back(std::move(frame));
  const auto next = std::find(buf_.begin() + static_cast<std::ptrdiff_t>(head_ + n + kOverhead), buf_.end(), kStart);
  head_ = static_cast<std::size_t>(next - buf_.begin());
  return true;
}

std::vector<SimFrame> SimFrameParser::Feed(std::span<const std::uint8_t> bytes) {
  std::vector<SimFrame> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (head_ >= buf_.size()) {
      // Hunting: skip to the next start byte without buffering the noise.
      Compact();
      const auto start = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(), kStart);
      i = static_cast<std::size_t>(start - bytes.begin());
      if (i >= bytes.size()) break;
    }
    // Take what the current frame can still use (its header first), then look at it.
    const std::size_t have = buf_.size() - head_;
    std::size_t want = 4;
    if (have >= 4) want = (buf_[head_ + 2] | (std::size_t{buf_[head_ + 3]} << 8)) + kOverhead;
    const std::size_t take = std::min(bytes.size() - i, want > have ? want - have : 1);
    buf_.insert(buf_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                bytes.begin() + static_cast<std::ptrdiff_t>(i + take));
    i += take;
    while (head_ < buf_.size() && Step(out)) {
    }
    if (head_ > buf_.size() / 2) Compact();
  }
  return out;
}

std::vector<std::uint8_t> BuildSimFrame(char letter, std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), SimFrameParser::kMaxPayload);
  std::vector<std::uint8_t> f;
  f.reserve(n + kOverhead);
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
