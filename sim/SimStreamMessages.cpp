#include "SimStreamMessages.h"

#include <algorithm>
#include <cmath>

namespace hylo::sim {
namespace {

class Writer {
 public:
  void U8(std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v & 0xFF)); }
  void U16(std::uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(std::uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  void I16(int v) { U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
  void I32(std::int64_t v) { U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v))); }
  void Block(std::uint8_t tag, std::uint16_t contentLength) {
    U8(tag);
    U8(0);
    U16(contentLength);
  }
  void Time(const SimSampleTime& t) {
    Block(tags::kTime, 12);
    U32(t.timeStamp);
    U32(static_cast<std::uint32_t>(t.secondCounter >> 32));
    U32(static_cast<std::uint32_t>(t.secondCounter & 0xFFFFFFFFu));
  }
  std::vector<std::uint8_t> b;
};

void CommonDescription(Writer& w, const SimOptions& o, const SimSampleTime& t) {
  w.Time(t);
  w.Block(tags::kUnit, 8);
  w.U8(static_cast<std::uint32_t>(o.model));
  w.U8(static_cast<std::uint32_t>(o.hardwareRevision));
  w.U8(static_cast<std::uint32_t>(o.interfaceCode));
  w.U8(0);
  w.U16(o.unit);
  w.I16(o.sensitivityTenths);
  w.Block(tags::kEnvironment, 6);
  w.I16(o.temperatureTenths);
  w.I16(o.humidityTenths);
  w.U8(static_cast<std::uint32_t>(static_cast<std::int8_t>(o.batteryLevel)));
  w.U8(static_cast<std::uint32_t>(o.batteryState));
  w.Block(tags::kSpare, 10);
  for (int i = 0; i < 10; ++i) w.U8(0);
}

void Channel(Writer& w, std::uint8_t type, std::uint8_t width, std::int64_t maxCount, std::int64_t minCount,
             std::int64_t maxMicroVolts, std::int64_t minMicroVolts) {
  w.Block(tags::kChannel, 20);
  w.U8(0);  // channel index
  w.U8(type);
  w.U8(width);
  w.U8(0);
  w.I32(maxCount);
  w.I32(minCount);
  w.I32(maxMicroVolts);
  w.I32(minMicroVolts);
}

}  // namespace

SimSampleTime TimeOfSample(std::uint32_t t0, std::uint64_t index, std::uint32_t rate) {
  if (rate == 0) rate = 1;
  const std::uint64_t second = index / rate;
  return {static_cast<std::uint32_t>(t0 + second), second * rate, static_cast<std::uint32_t>(index % rate)};
}

std::vector<std::uint8_t> SimStreamMessages::Message(char type, std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), kMaxMessage - 4);
  std::vector<std::uint8_t> m{static_cast<std::uint8_t>(type), '*', static_cast<std::uint8_t>(n >> 8),
                              static_cast<std::uint8_t>(n & 0xFF)};
  m.insert(m.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
  return m;
}

std::vector<std::uint8_t> SimStreamMessages::WaveDescription(const SimOptions& o, const SimWaveFormat& f,
                                                             const SimSampleTime& t) {
  Writer w;
  CommonDescription(w, o, t);
  w.Block(tags::kWave, 8);
  w.U32(f.sampleRate);
  w.U16(static_cast<std::uint32_t>(f.gain));
  w.U16(0);  // spare, keeps the channel descriptor at offset 68
  const int bits = 8 * f.bytesPerSample;
  const std::int64_t maxCount = (std::int64_t{1} << (bits - 1)) - 1;
  const auto uv = static_cast<std::int64_t>(std::llround(f.fullScaleVolts * 1e6));
  Channel(w, 1, static_cast<std::uint8_t>(f.bytesPerSample), maxCount, -maxCount - 1, uv, -uv);
  return Message('2', w.b);
}

std::vector<std::uint8_t> SimStreamMessages::BadWaveDescription(const SimOptions& o, const SimWaveFormat& f,
                                                                const SimSampleTime& t, int kind) {
  Writer w;
  CommonDescription(w, o, t);
  w.Block(tags::kWave, 8);
  w.U32(kind == 0 ? 0 : kind == 1 ? 0x7FFFFFFFu : f.sampleRate);
  w.U16(static_cast<std::uint32_t>(f.gain));
  w.U16(0);
  const auto width = static_cast<std::uint8_t>(f.bytesPerSample);
  if (kind == 1)
    Channel(w, 1, width, 0x7FFFFFFF, 0x7FFFFFFF, 0, 0);
  else
    Channel(w, kind == 2 ? 255 : 1, width, 8388607, -8388608, 2500000, -2500000);
  return Message('2', w.b);
}

std::vector<std::uint8_t> SimStreamMessages::FftDescription(const SimOptions& o, const SimFftFormat& f,
                                                            const SimSampleTime& t) {
  Writer w;
  CommonDescription(w, o, t);
  w.Block(tags::kFft, 16);
  w.U32(f.sampleRate);
  w.U16(1024);
  w.I16(f.refLevel);
  w.U16(f.fftType);
  w.U16(f.fftStep);
  w.U16(f.accumulation);
  w.U16(f.weight);
  Channel(w, 4, 1, 255, 0, 0, 0);
  return Message('2', w.b);
}

std::size_t SimStreamMessages::SamplesPerMessage(int bytesPerSample) {
  const int width = std::clamp(bytesPerSample, 2, 4);
  return std::min<std::size_t>(1000, (kMaxMessage - kDataHeader) / static_cast<std::size_t>(width));
}

std::int32_t SimStreamMessages::Count(int width, double sample) {
  const double scale = std::ldexp(1.0, 8 * width - 1) - 1.0;
  return static_cast<std::int32_t>(std::llround(sample * scale));
}

std::vector<std::uint8_t> SimStreamMessages::WaveData(const SimWaveFormat& f, const SimSampleTime& t,
                                                      std::span<const double> samples) {
  const int width = std::clamp(f.bytesPerSample, 2, 4);
  const std::size_t n = std::min(samples.size(), SamplesPerMessage(width));
  Writer w;
  w.b.reserve(kDataHeader + n * static_cast<std::size_t>(width));
  w.Time(t);
  w.Block(tags::kData, 8);
  w.U32(t.blockOffset);
  w.U8(1);
  w.U8(static_cast<std::uint32_t>(width | (f.littleEndian ? 0x80 : 0)));
  w.U16(static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint32_t>(Count(width, samples[i]));
    for (int k = 0; k < width; ++k) {
      const int shift = f.littleEndian ? 8 * k : 8 * (width - 1 - k);
      w.U8(v >> shift);
    }
  }
  auto m = Message('1', w.b);
  return m;
}

std::vector<std::uint8_t> SimStreamMessages::FftData(const SimSampleTime& t, std::span<const std::uint8_t> bins) {
  Writer w;
  w.Time(t);
  w.Block(tags::kData, 8);
  w.U32(t.blockOffset);
  w.U8(1);
  w.U8(1);
  w.U16(static_cast<std::uint32_t>(bins.size()));
  w.b.insert(w.b.end(), bins.begin(), bins.end());
  return Message('1', w.b);
}

std::vector<std::uint8_t> SimStreamMessages::StatusRecords(const SimOptions& o, std::uint32_t now) {
  const bool bigLengths = o.FirmwareNumber() >= 0x020201;
  Writer w;
  auto head = [&](char tag, std::uint16_t len) {
    w.U8(static_cast<std::uint8_t>(tag));
    w.U8(0);
    if (bigLengths) {
      w.U16(len);
    } else {
      w.U8(len & 0xFF);
      w.U8(len >> 8);
    }
  };
  head('H', 4);
  w.I16(o.temperatureTenths);
  w.I16(o.humidityTenths);
  head('I', 12);
  for (std::size_t i = 0; i < 6; ++i) w.I16(i < o.orientation.size() ? o.orientation[i] : 0);
  head('J', 20);
  // Sync mode and time source travel as the receiver reads them: low byte first.
  w.U8(static_cast<std::uint32_t>(o.syncState & 0xFF));
  w.U8(static_cast<std::uint32_t>((o.syncState >> 8) & 0xFF));
  w.U8(0);
  w.U8(0);
  w.U32(0);    // PPS offset
  w.U32(0);    // PPS count
  w.U32(0);    // reserved
  w.U32(now);  // last synchronisation
  head('K', 16);
  w.U16(0);  // charge state and spare
  w.U16(static_cast<std::uint32_t>(std::clamp(o.batteryLevel, 0, 100)));
  w.U16(3000);  // charge mAh
  w.U16(3600);  // full charge mAh
  w.U16(120);   // current mA
  w.U16(3900);  // mV
  w.U16(static_cast<std::uint32_t>(o.temperatureTenths));
  w.U16(3300);  // board mV
  head('L', 6);
  w.U8(0);
  for (int i = 0; i < 5; ++i) w.U8(i == 0 ? 1 : 0);
  return Message('5', w.b);
}

std::vector<std::uint8_t> SimStreamMessages::Notice(std::uint32_t code) {
  Writer w;
  w.U32(code);
  return Message('0', w.b);
}

std::vector<std::uint8_t> SimStreamMessages::Stopped() { return Message('4', {}); }

}  // namespace hylo::sim
