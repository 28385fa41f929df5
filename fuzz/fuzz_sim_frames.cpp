// The simulator's command-link input on arbitrary bytes, with no sockets: bytes go through
// SimLinkCore (frame parser, the instrument's answers, reply faults) and every reply frame that
// comes out is checked. The first byte picks the instrument and how the rest is read:
//   raw     - the bytes as they would arrive on the link, cut into reads of varying size;
//   framed  - a list of items turned into frames with a good CRC (or, now and then, a bad one),
//             so the commands themselves are reached: [letter][shape] gives a payload of the
//             shape that letter expects (setup records, parameter lists, trigger records), and
//             [letter][shape | 0x80][u16 LE length] a payload of that length, padded past the
//             input's end so large commands come up from short inputs; a length above the
//             limit is sent as it stands.
#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "SimFrameParser.h"
#include "SimInstrument.h"
#include "SimLinkCore.h"
#include "SimSetupStore.h"
#include "wire/CRC_Update.h"

namespace {

using hylo::sim::SimFrameParser;

struct Config {
  int model;
  const char* firmware;
  double corrupt;
};

constexpr Config kConfigs[] = {
    {2, "v2.4.0", 0}, {5, "v2.1.0", 0}, {7, "v2.1.6", 0},  {5, "v1.4.5", 0},
    {5, "v1.5.0", 0}, {9, "v1.0.0", 0}, {15, "v2.2.1", 0}, {5, "v2.1.0", 0.5},
};

void Check(bool ok) {
  if (!ok) std::abort();
}

// Every frame the simulator sends must read back as exactly that one frame.
void CheckReply(const std::vector<std::uint8_t>& frame, bool corrupting) {
  Check(frame.size() >= 6 && frame.size() <= SimFrameParser::kMaxPayload + 6);
  if (corrupting) return;  // one byte may be flipped on purpose
  Check(frame[0] == 0x2A && frame[1] >= 'A' && frame[1] <= '\\');
  Check((frame[2] | (std::size_t{frame[3]} << 8)) + 6 == frame.size());
  SimFrameParser again;
  const auto frames = again.Feed(frame);
  Check(frames.size() == 1 && again.Buffered() == 0);
  Check(frames[0].payload.size() + 6 == frame.size());
  Check(std::memcmp(frames[0].payload.data(), frame.data() + 4, frames[0].payload.size()) == 0);
}

// Bytes for one payload of `n` bytes: from the input while it lasts, then a pattern.
class PayloadSource {
 public:
  explicit PayloadSource(std::span<const std::uint8_t> in) : in_(in) {}
  bool More(std::size_t n) const { return at_ + n <= in_.size(); }
  std::uint8_t Byte() { return at_ < in_.size() ? in_[at_++] : static_cast<std::uint8_t>(pattern_++ * 131); }
  void Fill(std::vector<std::uint8_t>& p, std::size_t n) {
    while (p.size() < n) p.push_back(Byte());
  }
  std::size_t Left() const { return at_ < in_.size() ? in_.size() - at_ : 0; }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t at_ = 0;
  std::uint8_t pattern_ = 0;
};

// A payload of the exact shape a command expects, so the checks behind the size tests are
// reached: setup records of each type and size, parameter lists, trigger records of each kind.
std::vector<std::uint8_t> Shaped(char letter, std::uint8_t shape, PayloadSource& src) {
  std::vector<std::uint8_t> p;
  auto type = [&](std::uint16_t t) {
    p.push_back(static_cast<std::uint8_t>(t));
    p.push_back(static_cast<std::uint8_t>(t >> 8));
  };
  switch (letter) {
    case 'D': {
      static constexpr std::uint16_t kTypes[] = {12, 14, 15, 16, 18, 19, 20};
      static constexpr std::size_t kSizes[] = {24, 12, 20, 12, 12, 8, 4};
      const std::size_t which = shape % 7;
      type(kTypes[which]);
      if (kTypes[which] != 20) {
        src.Fill(p, kSizes[which]);
        break;
      }
      const std::size_t count = (shape >> 3) % 24;
      p.push_back(static_cast<std::uint8_t>(count));
      p.push_back(0);
      for (std::size_t i = 0; i < count; ++i) {
        p.push_back(src.Byte() % 24);  // mostly known parameters
        p.push_back(0);
        p.push_back((shape & 0x40) ? src.Byte() : 4);
        p.push_back(0);
        src.Fill(p, p.size() + 4);
      }
      break;
    }
    case 'S': {
      static constexpr std::uint16_t kKinds[] = {0, 1, 5, 6, 4};
      type(kKinds[shape % 5]);
      src.Fill(p, shape % 5 < 2 ? 16 : 24);
      break;
    }
    default:
      src.Fill(p, shape & 0x3F);
      break;
  }
  return p;
}

// Items of [letter][shape] (then [u16 LE length] when the shape byte says so) to frames.
std::vector<std::uint8_t> Framed(std::span<const std::uint8_t> in) {
  constexpr std::size_t kMaxPadding = 3 * SimFrameParser::kMaxPayload;  // keeps each run quick
  std::vector<std::uint8_t> out;
  PayloadSource src(in);
  std::size_t padded = 0;
  while (src.More(2)) {
    const std::uint8_t control = src.Byte();
    const std::uint8_t shape = src.Byte();
    const char letter = static_cast<char>('A' + control % 28);
    std::vector<std::uint8_t> payload;
    std::size_t n = 0;
    if (shape & 0x80) {
      if (!src.More(2)) break;
      n = src.Byte();
      n |= std::size_t{src.Byte()} << 8;
      const std::size_t have = std::min(n, src.Left());
      if (n <= SimFrameParser::kMaxPayload && padded + n - have <= kMaxPadding) {
        padded += n - have;
        src.Fill(payload, n);
      } else {
        src.Fill(payload, have);  // refused at its length, or left incomplete
      }
    } else {
      payload = Shaped(letter, shape, src);
      n = payload.size();
    }
    std::vector<std::uint8_t> f{0x2A, static_cast<std::uint8_t>(letter), static_cast<std::uint8_t>(n),
                                static_cast<std::uint8_t>(n >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    if (payload.size() == n) {
      const std::uint16_t crc = hylo::CRC_Update(0, f);
      f.push_back(static_cast<std::uint8_t>(crc));
      f.push_back(static_cast<std::uint8_t>(crc >> 8));
      if (control >= 0xF0) f[4 + (control & 3) % (n + 2)] ^= 0x01;  // a bad CRC now and then
    }
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Config& c = kConfigs[data[0] & 7];
  const bool framed = (data[0] & 0x08) != 0;
  const std::size_t readSize = 1 + data[1] % 97;
  const std::span<const std::uint8_t> rest(data + 2, size - 2);

  hylo::sim::SimOptions o;
  o.model = c.model;
  o.firmware = c.firmware;
  o.corruptFraction = c.corrupt;
  asio::io_context io;
  hylo::sim::SimInstrument instrument(o);
  std::size_t replies = 0;
  std::uint8_t lastLetter = 0;
  hylo::sim::SimLinkCore core(
      io, instrument,
      [&](std::vector<std::uint8_t> frame) {
        CheckReply(frame, c.corrupt > 0);
        ++replies;
        lastLetter = frame[1];
      },
      [&](const hylo::sim::SimAction& a) {
        for (const auto& r : a.replies) {
          Check(r.payload.size() <= SimFrameParser::kMaxPayload);
          // "D" answers with the stored record or the 6-byte error reply, nothing else.
          if (r.letter == 'D' && hylo::sim::SimSetupStore::IsErrorReply(r.payload)) Check(!a.setupChanged);
        }
        Check(instrument.EpochTriggers().size() <= hylo::sim::SimInstrument::kMaxTriggers);
      });

  const std::vector<std::uint8_t> stream = framed ? Framed(rest) : std::vector<std::uint8_t>(rest.begin(), rest.end());
  for (std::size_t at = 0; at < stream.size(); at += readSize) {
    const std::size_t n = std::min(readSize, stream.size() - at);
    core.OnBytes(std::span<const std::uint8_t>(stream.data() + at, n));
    // The parser never holds more than one frame's worth of bytes.
    Check(core.Buffered() <= SimFrameParser::kMaxPayload + 6);
  }
  io.poll();
  // After a frame's worth of zeros ends whatever was pending, an identify is answered.
  const std::vector<std::uint8_t> flush(SimFrameParser::kMaxPayload + 6, 0);
  core.OnBytes(flush);
  Check(core.Buffered() == 0);
  const std::size_t before = replies;
  core.OnBytes(hylo::sim::BuildSimFrame('E', {}));
  Check(replies == before + 1 && (c.corrupt > 0 || lastLetter == 'E'));
  return 0;
}
