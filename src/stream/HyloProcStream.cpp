#include "stream/HyloProcStream.h"

#include <algorithm>
#include <cstring>

#include "wire/Bytes.h"

namespace hylo {
namespace {

using bytes::GetI16BE;
using bytes::GetI32BE;
using bytes::GetU16BE;
using bytes::GetU32BE;

constexpr std::uint8_t kChannelWaveform = 1;
constexpr std::uint8_t kChannelFft = 4;
constexpr std::size_t kWaveDescriptor = 68;
constexpr std::size_t kFftDescriptor = 76;
constexpr std::size_t kDescriptorStride = 24;
constexpr std::size_t kDataStart = 32;
constexpr Firmware kBigEndianStatusFrom(2, 2, 1);
constexpr std::uint32_t kMaxStreamSampleRate = 1024000;  // twice the fastest unit's

// A block's format byte (its second byte) must be 0 wherever the block was received.
bool BlockFormatOk(std::span<const std::uint8_t> m, std::size_t blockStart) {
  return blockStart + 1 >= m.size() || m[blockStart + 1] == 0;
}

std::int32_t SignExtend(std::uint32_t value, int bytes) {
  const int shift = 32 - 8 * bytes;
  return static_cast<std::int32_t>(value << shift) >> shift;
}

// Rates, steps, accumulations and count spans are divisors later; a rate beyond any unit's
// would stall every per-second stage; a channel type other than waveform or FFT has no decoder.
bool DescriptionUsable(int stream, std::span<const std::uint8_t> m) {
  if (m.size() >= 64) {
    const std::uint32_t rate = GetU32BE(m, 60);
    if (rate == 0 || rate > kMaxStreamSampleRate) return false;
  }
  if (stream != STREAM_WAVE && m.size() >= 74 && (GetU16BE(m, 70) == 0 || GetU16BE(m, 72) == 0)) return false;
  const std::size_t first = stream == STREAM_WAVE ? kWaveDescriptor : kFftDescriptor;
  for (std::size_t at = first; at + kDescriptorStride <= std::min(m.size(), kDescriptionBytes);
       at += kDescriptorStride) {
    const std::uint8_t type = m[at + 5];
    if (type != kChannelWaveform && type != kChannelFft) return false;
    if (type == kChannelWaveform && GetI32BE(m, at + 8) < GetI32BE(m, at + 12)) return false;
  }
  return true;
}

}  // namespace

HyloProcStream::HyloProcStream(HyloNodes& nodes, std::function<int(MessageNode*)> post)
    : nodes_(nodes), post_(std::move(post)) {}

void HyloProcStream::Attach(ParseStreams& parser) {
  parser.SetHandler('0', [this](int s, const StreamMessage& m) { HandleConnectionNotice(s, m); });
  parser.SetHandler('1', [this](int s, const StreamMessage& m) { HandleDataMessage(s, m); });
  parser.SetHandler('2', [this](int s, const StreamMessage& m) { HandleDescription(s, m); });
  parser.SetHandler('4', [this](int, const StreamMessage&) {
    if (status_.notice) status_.notice("Stream stopped by Aurisond.");
  });
  parser.SetHandler('5', [this](int, const StreamMessage& m) { HandleStatusRecords(m); });
}

int HyloProcStream::Drop() {
  ++malformed_;
  return -1;
}

bool HyloProcStream::HasDescription(int stream) const {
  return stream >= 0 && stream < kStreamKinds && descriptions_[static_cast<std::size_t>(stream)].length > 0;
}

void HyloProcStream::HandleConnectionNotice(int stream, const StreamMessage& message) {
  if (message.payload.size() < 4) {
    Drop();
    return;
  }
  if (status_.notice) status_.notice(StreamConnectionNotice(stream, GetU32BE(message.payload, 0)));
}

int HyloProcStream::HandleDescription(int stream, const StreamMessage& message) {
  if (stream < 0 || stream >= kStreamKinds) return Drop();
  const auto m = message.whole;
  // The environment and sensitivity blocks are needed; the rest is checked where present.
  if (m.size() < 42) return Drop();
  const std::size_t blockEnd = stream == STREAM_WAVE ? kWaveDescriptor : kFftDescriptor;
  for (std::size_t block : {std::size_t{4}, std::size_t{20}, std::size_t{32}, std::size_t{56}, blockEnd}) {
    if (!BlockFormatOk(m, block)) return Drop();
  }
  Description& d = descriptions_[static_cast<std::size_t>(stream)];
  // Data that follow an unusable description must not be read under the one before it:
  // they are dropped (and show as missed) until the next good description.
  if (!DescriptionUsable(stream, m)) {
    d.length = 0;
    return Drop();
  }

  d.bytes.fill(0);
  d.length = std::min(m.size(), kDescriptionBytes);
  std::memcpy(d.bytes.data(), m.data(), d.length);
  std::swap(d.bytes[25], d.bytes[27]);

  if (status_.environment) status_.environment(GetI16BE(m, 36), GetI16BE(m, 38));
  if (status_.battery) status_.battery(static_cast<std::int8_t>(m[40]), m[41]);
  if (status_.sensitivity) status_.sensitivity(GetI16BE(m, 30) / 10);
  return 0;
}

int HyloProcStream::HandleDataMessage(int stream, const StreamMessage& message) {
  if (stream < 0 || stream >= kStreamKinds) return Drop();
  const auto m = message.whole;
  if (m.size() < kDataStart || m[5] != 0 || m[21] != 0) return Drop();
  const Description& d = descriptions_[static_cast<std::size_t>(stream)];
  if (d.length == 0) return Drop();
  const std::size_t first = stream == STREAM_WAVE ? kWaveDescriptor : kFftDescriptor;
  const int channels = m[28];
  // Check every channel first, so a bad message posts nothing at all.
  for (int c = 0; c < channels; ++c) {
    const std::size_t at = first + kDescriptorStride * static_cast<std::size_t>(c);
    // Only a descriptor wholly inside what was stored and received can be trusted.
    if (at + kDescriptorStride > d.length) return Drop();
    const std::uint8_t type = d.bytes[at + 5];
    if (type != kChannelWaveform && type != kChannelFft) return Drop();
  }
  for (int c = 0; c < channels; ++c) {
    const std::size_t at = first + kDescriptorStride * static_cast<std::size_t>(c);
    const int result = d.bytes[at + 5] == kChannelWaveform ? DecodeWaveform(d, at, m) : DecodeSpectrum(d, at, m);
    if (result != 0) return result;
  }
  return 0;
}

int HyloProcStream::DecodeWaveform(const Description& d, std::size_t at, std::span<const std::uint8_t> m) {
  const auto desc = std::span<const std::uint8_t>(d.bytes).first(d.length);
  if (d.length < 66) return Drop();
  const std::uint8_t format = m[29];
  const int width = format & 0x7F;
  const bool little = (format & 0x80) != 0;
  const std::uint32_t count = GetU16BE(m, 30);
  if (width < 2 || width > 4 || count > kWaveformRecordSamples) return Drop();
  if (static_cast<std::size_t>(count) * static_cast<std::size_t>(width) > m.size() - kDataStart) return Drop();
  const std::int64_t largest = GetI32BE(desc, at + 8);
  const std::int64_t smallest = GetI32BE(desc, at + 12);
  const std::int64_t span = largest - smallest + 1;  // 64-bit: full-range descriptors reach 2^32
  const std::uint32_t rate = GetU32BE(desc, 60);
  if (span <= 0 || rate == 0) return Drop();

  return Emit(MSG_WAVEFORM, [&](MessageNode& node) {
    auto& r = node.As<WaveformRecord>();
    r.sampleBuffer = nullptr;
    r.gain = static_cast<std::uint8_t>(GetU16BE(desc, 64));
    r.sampleFormat = format;
    r.timeStamp = GetU32BE(m, 8);
    r.sampleRate = rate;
    r.blockOffset = GetU32BE(m, 24);
    r.firstSample = ((static_cast<std::uint64_t>(GetU32BE(m, 12)) << 32) | GetU32BE(m, 16)) + r.blockOffset;
    r.missedSamples = 0;
    r.rangeVolts = (static_cast<double>(GetI32BE(desc, at + 16)) - GetI32BE(desc, at + 20)) / 1000000.0;
    r.voltsPerCount = r.rangeVolts / static_cast<double>(span);
    r.sampleCount = count;
    const std::uint8_t* p = m.data() + kDataStart;
    for (std::uint32_t i = 0; i < count; ++i, p += width) {
      std::uint32_t v = 0;
      for (int b = 0; b < width; ++b) {
        const std::uint32_t byte = p[little ? width - 1 - b : b];
        v = (v << 8) | byte;
      }
      r.samples[i] = SignExtend(v, width);
    }
  });
}

int HyloProcStream::DecodeSpectrum(const Description& d, std::size_t, std::span<const std::uint8_t> m) {
  const auto desc = std::span<const std::uint8_t>(d.bytes).first(d.length);
  if (d.length < 76) return Drop();
  const std::uint32_t count = GetU16BE(m, 30);
  if (count > kSpectrumBins || count > m.size() - kDataStart) return Drop();
  const std::uint32_t rate = GetU32BE(desc, 60);
  const std::uint16_t step = GetU16BE(desc, 70);
  const std::uint16_t accumulation = GetU16BE(desc, 72);
  if (rate == 0 || step == 0 || accumulation == 0) return Drop();

  return Emit(MSG_SPECTRUM, [&](MessageNode& node) {
    auto& r = node.As<SpectrumRecord>();
    const std::uint32_t blockOffset = GetU32BE(m, 24);
    r.timeStamp = GetU32BE(m, 8);
    r.timeSeconds = r.timeStamp + static_cast<double>(blockOffset) / rate;
    r.reference = static_cast<std::uint8_t>(-120 - GetI16BE(desc, 66));
    r.firstSample = ((static_cast<std::uint64_t>(GetU32BE(m, 12)) << 32) | GetU32BE(m, 16)) + blockOffset;
    r.recordIndex = r.firstSample / (static_cast<std::uint64_t>(step) * accumulation);
    r.missedRecords = 0;
    r.sampleRate = rate;
    r.fftLength = GetU16BE(desc, 64);
    r.fftType = GetU16BE(desc, 68);
    r.fftStep = step;
    r.accumulation = accumulation;
    r.weight = GetU16BE(desc, 74);
    r.recordSeconds = static_cast<double>(accumulation) * step / rate;
    for (std::uint32_t i = 0; i < count; ++i) {
      const int level = static_cast<int>((m[kDataStart + i] + 1) / 2) - r.reference + 60;
      r.bins[i] = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
    }
    std::fill(r.bins + count, r.bins + kSpectrumBins, 0);
    r.binCount = kSpectrumBins;
  });
}

int HyloProcStream::HandleStatusRecords(const StreamMessage& message) {
  const auto m = message.whole;
  const bool bigEndian = firmwareVersion_ >= kBigEndianStatusFrom;
  std::size_t at = 4;
  while (at + 4 <= m.size()) {
    const std::uint8_t tag = m[at];
    if (m[at + 1] != 0) break;
    const std::size_t length = bigEndian ? GetU16BE(m, at + 2) : bytes::GetU16LE(m, at + 2);
    if (4 + length > m.size() - at) break;  // a record running past the message ends the walk
    const auto rec = m.subspan(at, 4 + length);
    switch (tag) {
      case 'H':
        if (rec.size() >= 8 && status_.environment) status_.environment(GetI16BE(rec, 4), GetI16BE(rec, 6));
        break;
      case 'I':
        if (rec.size() >= 16 && status_.orientation) {
          std::array<std::int16_t, 6> values{};
          for (std::size_t i = 0; i < 6; ++i) values[i] = GetI16BE(rec, 4 + 2 * i);
          status_.orientation(values);
        }
        break;
      case 'J':
        if (rec.size() >= 24 && status_.sync) {
          std::array<std::uint8_t, 24> sync{};
          std::memcpy(sync.data(), rec.data(), 24);
          for (std::size_t word : {8, 12, 20}) bytes::PutU32LE(sync, word, GetU32BE(rec, word));
          status_.sync(sync, bytes::GetU32LE(rec, 4));
        }
        break;
      case 'K':
        if (rec.size() >= 20 && status_.power) {
          std::array<std::uint8_t, 20> power{};
          std::memcpy(power.data(), rec.data(), 20);
          for (std::size_t word = 6; word <= 18; word += 2) bytes::PutU16LE(power, word, GetU16BE(rec, word));
          status_.power(power);
        }
        break;
      case 'L':
        if (rec.size() >= 10 && status_.leds) {
          std::array<std::uint8_t, 5> leds{};
          std::memcpy(leds.data(), rec.data() + 5, 5);
          status_.leds(leds);
        }
        break;
      default:
        return 0;  // an unknown tag ends the walk
    }
    at += 4 + length;
  }
  return 0;
}

}  // namespace hylo
