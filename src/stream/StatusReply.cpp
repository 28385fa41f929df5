#include "stream/StatusReply.h"

#include <algorithm>
#include <cmath>

#include "wire/Bytes.h"

namespace hylo {
namespace {

using bytes::GetI16LE;
using bytes::GetU16LE;
using bytes::GetU32LE;

constexpr std::uint8_t kFlagSkipped = 0x01;
constexpr std::uint8_t kFlagHumidity = 0x02;
constexpr std::uint8_t kFlagTemperature = 0x04;
constexpr std::uint8_t kFlagRecords = 0x08;
constexpr std::uint8_t kFlagFft = 0x10;
constexpr std::uint8_t kFlagWave = 0x20;

bool StatusModel(int model) { return model == 2 || model == 5 || model == 7 || model == 15; }

}  // namespace

void StatusReplyHandler::ArmSkip() {
  std::lock_guard guard(lock_);
  skip_ = 3;
}

void StatusReplyHandler::CountRequest() {
  std::lock_guard guard(lock_);
  ++requests_;
}

int StatusReplyHandler::Requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

int StatusReplyHandler::SkipCounter() const {
  std::lock_guard guard(lock_);
  return skip_;
}

int StatusReplyHandler::HandleStatusReply(std::span<const std::uint8_t> p) {
  if (!StatusModel(model_) || p.empty()) return 0;
  const std::uint8_t flags = p[0];
  {
    std::lock_guard guard(lock_);
    if (flags == 0) {
      skip_ = 0;
      return 0;
    }
    if (skip_ > 0) {
      skip_ = (flags == 2 || flags == 4 || flags == 6) ? 0 : skip_ - 1;
      return 0;
    }
  }
  std::size_t at = 1;
  auto take = [&](std::size_t n) { return at + n <= p.size(); };
  if (flags & kFlagSkipped) {
    if (!take(2)) return -1;
    at += 2;
  }
  std::optional<int> humidity, temperature;
  if (flags & kFlagHumidity) {
    if (!take(2)) return -1;
    humidity = GetI16LE(p, at);
    at += 2;
  }
  if (flags & kFlagTemperature) {
    if (!take(2)) return -1;
    temperature = GetI16LE(p, at);
    at += 2;
  }
  if ((humidity || temperature) && status_.environment) status_.environment(temperature, humidity);

  std::span<const std::uint8_t> fft, wave;
  int result = 0;
  if (flags & kFlagFft) {
    // A block whose bins or fixed part would pass the reply ends the parse.
    if (!take(17)) return ++malformed_, -1;
    const std::uint16_t bins = GetU16LE(p, at + 2);
    const std::uint16_t type = GetU16LE(p, at + 11);
    const std::size_t fixed = type >= 4 ? 21 : 17;
    if (bins > kSpectrumBins || !take(fixed + bins)) return ++malformed_, -1;
    fft = p.subspan(at, fixed + bins);
    at += fixed + bins;
  }
  if (flags & kFlagWave) {
    if (!take(14)) return ++malformed_, -1;
    const std::uint16_t byteCount = GetU16LE(p, at + 3);
    if (!take(14 + static_cast<std::size_t>(byteCount))) return ++malformed_, -1;
    wave = p.subspan(at, 14 + byteCount);
    at += 14 + byteCount;
  }
  bool haveFftTime = false, haveWaveStart = false;
  std::uint32_t fftTime = 0, waveStart = 0, waveTime = 0;
  if (flags & kFlagRecords) {
    while (take(4)) {
      const std::uint16_t tag = GetU16LE(p, at);
      const std::size_t length = GetU16LE(p, at + 2);
      if (!take(4 + length)) break;
      const auto content = p.subspan(at + 4, length);
      if (tag == 0x10 && content.size() >= 8) {
        fftTime = GetU32LE(content, 4);
        haveFftTime = true;
      } else if (tag == 0x01 && content.size() >= 12 && status_.orientation) {
        std::array<std::int16_t, 6> values{};
        for (std::size_t i = 0; i < 6; ++i) values[i] = GetI16LE(content, 2 * i);
        status_.orientation(values);
      } else if (tag == 0x20 && content.size() >= 8) {
        waveStart = GetU32LE(content, 0);
        waveTime = GetU32LE(content, 4);
        haveWaveStart = true;
      }
      at += 4 + length;
    }
  }
  if (!fft.empty()) result = BuildSpectrum(fft, haveFftTime, fftTime);
  if (!wave.empty()) {
    const int w = BuildWaveform(wave, haveWaveStart, waveStart, waveTime);
    if (result == 0) result = w;
  }
  return result;
}

int StatusReplyHandler::BuildSpectrum(std::span<const std::uint8_t> b, bool, std::uint32_t fftTime) {
  const std::uint16_t index = GetU16LE(b, 0);
  const std::uint16_t n = GetU16LE(b, 2);
  const std::uint8_t reference = b[4];
  const std::int64_t rate = static_cast<std::int32_t>(GetU32LE(b, 5));
  const int type = GetU16LE(b, 11);
  const std::int64_t a = GetU16LE(b, 13);
  const std::int64_t f = GetU16LE(b, 15);
  std::int64_t s = 1, u = 1;
  std::size_t binsAt = 17;
  if (type >= 4) {
    s = GetU16LE(b, 17);
    u = GetU16LE(b, 19);
    binsAt = 21;
  }
  // Rates and the overlap ratio are divisors below: values of 0 make the block unusable.
  if (n == 0 || rate <= 0 || u == 0 || s == 0) return ++malformed_, -1;
  const auto fromRate = [&] {
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(rate * scanInterval_ / 1024));
  };
  std::int64_t k = -1;
  switch (type) {
    case 0:
      k = a > f ? a - f : -1;
      break;
    case 1:
      k = (f < a || f == 0) ? -1 : a / f;
      break;
    case 2:
      k = a == 0 ? fromRate() : (a > f ? a - f : -1);
      break;
    case 3:
      k = f == 0 ? -1 : f;
      break;
    case 4:
      k = (u < s || a <= f) ? -1 : s * (a - f) / u;
      break;
    case 5:
      k = u < s ? -1 : a == 0 ? fromRate() : a > f ? s * (a - f) / u : -1;
      break;
    case 6:
      k = (u < s || f == 0) ? -1 : s * f / u;
      break;
    default:
      k = -1;
      break;
  }
  if (k < 0) return ++malformed_, -1;

  return Emit(MSG_SPECTRUM, [&](MessageNode& node) {
    auto& r = node.As<SpectrumRecord>();
    r.fftLength = 1024;
    r.fftType = static_cast<std::uint16_t>(type);
    r.recordSeconds = static_cast<double>(n) * static_cast<double>(k) * 2.0 / static_cast<double>(rate);
    r.reference = reference;
    const auto step = static_cast<std::uint16_t>(std::min<std::int64_t>(65535, s * 1024 / u));
    switch (type) {
      case 0:
      case 2:
      case 4:
      case 5:
        r.fftStep = step;
        r.accumulation = static_cast<std::uint16_t>(a);
        r.weight = 0;
        break;
      case 1:
        r.fftStep = static_cast<std::uint16_t>(std::min<std::int64_t>(65535, a * 1024 / f));
        r.accumulation = 1;
        r.weight = 0;
        break;
      default:  // 3, 6
        r.fftStep = step;
        r.accumulation = static_cast<std::uint16_t>(f);
        r.weight = static_cast<std::uint16_t>(a);
        break;
    }
    r.sampleRate = static_cast<std::uint32_t>(rate);
    for (std::size_t i = 0; i < n; ++i) {
      const int level = static_cast<int>((b[binsAt + i] + 1) / 2) - reference + 60;
      r.bins[i] = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
    }
    std::fill(r.bins + n, r.bins + kSpectrumBins, 0);
    r.binCount = kSpectrumBins;
    r.timeStamp = fftTime;
    r.timeSeconds = fftTime;
    r.recordIndex = index;
    r.firstSample = static_cast<std::uint64_t>(index) * r.fftStep * r.accumulation;
    r.missedRecords = 0;
  });
}

int StatusReplyHandler::BuildWaveform(std::span<const std::uint8_t> b, bool haveStart, std::uint32_t start,
                                      std::uint32_t time) {
  const std::uint16_t startIndex = GetU16LE(b, 0);
  const std::uint8_t format = b[2];
  const std::uint16_t byteCount = GetU16LE(b, 3);
  const std::uint8_t gain = b[5];
  const std::int64_t rate = static_cast<std::int32_t>(GetU32LE(b, 6));
  const std::int16_t sensitivity = GetI16LE(b, 10);
  const std::int16_t fullScaleMv = GetI16LE(b, 12);
  const int bits = format & 0x7F;
  const bool bigEndian = (format & 0x80) != 0;
  if (bits != 16 && bits != 24 && bits != 32) return ++malformed_, -1;
  const int width = bits / 8;
  const std::uint32_t count = byteCount / static_cast<std::uint32_t>(width);
  if (count == 0 || count > kWaveformRecordSamples || rate <= 0) return ++malformed_, -1;
  if (status_.sensitivity) status_.sensitivity(sensitivity);

  return Emit(MSG_WAVEFORM, [&](MessageNode& node) {
    auto& r = node.As<WaveformRecord>();
    r.sampleBuffer = nullptr;
    r.gain = gain;
    r.sampleFormat = 0x83;
    r.sampleRate = static_cast<std::uint32_t>(rate);
    r.sampleCount = count;
    // Shifting a 16-bit value by more than its width says nothing more; cap the shift.
    const double fullScale = static_cast<double>(fullScaleMv >> std::min(gain / 6, 15)) / 1000.0;
    r.voltsPerCount = fullScale / 8388608.0;
    r.rangeVolts = 2 * fullScale;
    r.firstSample = static_cast<std::uint64_t>(startIndex) * count;
    r.blockOffset = haveStart ? start : static_cast<std::uint32_t>(r.firstSample % static_cast<std::uint64_t>(rate));
    r.timeStamp = time;
    r.missedSamples = 0;
    const std::uint8_t* q = b.data() + 14;
    for (std::uint32_t i = 0; i < count; ++i, q += width) {
      std::uint32_t v = 0;
      for (int k = 0; k < width; ++k) v = (v << 8) | q[bigEndian ? k : width - 1 - k];
      const int shift = 32 - bits;
      const std::int32_t signedValue = static_cast<std::int32_t>(v << shift) >> shift;
      r.samples[i] = bits == 16 ? signedValue * 256 : bits == 32 ? (signedValue >> 8) : signedValue;
    }
  });
}

}  // namespace hylo
