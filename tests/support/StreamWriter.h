#pragma once
// Writes stream messages byte by byte from the wire layout, independent of the decoder.
#include <cstdint>
#include <vector>

namespace hylo::test {

struct Writer {
  std::vector<std::uint8_t> b;
  explicit Writer(char type) : b{static_cast<std::uint8_t>(type), '*', 0, 0} {}
  Writer& U8(int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Writer& U16(int v) { return U8(v >> 8).U8(v); }
  Writer& U32(std::int64_t v) { return U16(static_cast<int>((v >> 16) & 0xFFFF)).U16(static_cast<int>(v & 0xFFFF)); }
  Writer& Pad(std::size_t to) {
    b.resize(to, 0);
    return *this;
  }
  std::vector<std::uint8_t> Done() {
    const std::size_t n = b.size() - 4;
    b[2] = static_cast<std::uint8_t>(n >> 8);
    b[3] = static_cast<std::uint8_t>(n);
    return b;
  }
};

inline Writer DescriptionHead() {
  Writer w('2');
  w.U8(0x01).U8(0).U16(12).U32(1700000000).U32(0).U32(0);                      // time block, 4..19
  w.U8(0x02).U8(0).U16(8).U8(1).U8(2).U8(3).U8(4).U16(0).U16(-1715 & 0xFFFF);  // 20..31
  w.U8(0x03).U8(0).U16(6).U16(215).U16(453).U8(87).U8(1);                      // environment 32..41
  return w.Pad(56);
}

inline std::vector<std::uint8_t> WaveDescription(std::int64_t rate, std::int64_t largest, std::int64_t smallest,
                                                 std::size_t cut = 100) {
  Writer w = DescriptionHead();
  w.U8(0x10).U8(0).U16(8).U32(rate).U16(12).Pad(68);        // waveform block 56..67
  w.U8(0x11).U8(0).U16(20).U8(0).U8(1).U8(0).U8(0);         // channel descriptor 68..
  w.U32(largest).U32(smallest).U32(2500000).U32(-2500000);  // counts and microvolts
  w.Pad(cut);
  return w.Done();
}

inline std::vector<std::uint8_t> FftDescription(int step, int accumulation, int refLevel = -20) {
  Writer w = DescriptionHead();
  w.U8(0x12).U8(0).U16(16).U32(64000).U16(1024).U16(refLevel & 0xFFFF).U16(0).U16(step).U16(accumulation).U16(0);
  w.U8(0x11).U8(0).U16(20).U8(0).U8(4).U8(0).U8(0).U32(255).U32(0).U32(0).U32(0);
  return w.Done();
}

inline Writer DataHead(std::uint32_t blockOffset, int channels, int format, int count, std::uint64_t counter = 0) {
  Writer w('1');
  w.U8(0x01).U8(0).U16(12).U32(1700000001).U32(static_cast<std::int64_t>(counter >> 32)).U32(counter & 0xFFFFFFFF);
  w.U8(0x20).U8(0).U16(8).U32(blockOffset).U8(channels).U8(format).U16(count);
  return w;
}

}  // namespace hylo::test
