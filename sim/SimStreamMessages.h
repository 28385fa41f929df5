#pragma once
// Byte layouts of the data-stream messages: type, "*", u16 big-endian length, payload.
// Every multi-byte field of a stream message is big-endian.
#include <cstdint>
#include <span>
#include <vector>

#include "SimOptions.h"

namespace hylo::sim {

enum class SimStreamKind { kWave = 0, kFft = 1, kEpoch = 2, kStatus = 3 };

// Block tags of this instrument; the receiver checks only the format byte.
namespace tags {
constexpr std::uint8_t kTime = 'T', kUnit = 'U', kEnvironment = 'E', kSpare = 'X', kWave = 'W', kFft = 'F',
                       kChannel = 'C', kData = 'D';
}

// Where in the running sample count a message starts.
struct SimSampleTime {
  std::uint32_t timeStamp = 0;      // seconds of the first sample
  std::uint64_t secondCounter = 0;  // running index of the first sample of that second
  std::uint32_t blockOffset = 0;    // samples from there to the first sample
};

// t0 is the instrument time of sample 0.
SimSampleTime TimeOfSample(std::uint32_t t0, std::uint64_t index, std::uint32_t rate);

struct SimWaveFormat {
  std::uint32_t sampleRate = 0;
  int bytesPerSample = 3;
  bool littleEndian = false;
  int gain = 0;
  double fullScaleVolts = 2.5;
};

struct SimFftFormat {
  std::uint32_t sampleRate = 0;
  std::int16_t refLevel = -120;
  std::uint16_t fftType = 0, fftStep = 1024, accumulation = 1, weight = 0;
};

class SimStreamMessages {
 public:
  static constexpr std::size_t kMaxMessage = 1460;
  static constexpr std::size_t kDataHeader = 32;

  static std::vector<std::uint8_t> Message(char type, std::span<const std::uint8_t> payload);

  static std::vector<std::uint8_t> WaveDescription(const SimOptions& o, const SimWaveFormat& f, const SimSampleTime& t);
  static std::vector<std::uint8_t> FftDescription(const SimOptions& o, const SimFftFormat& f, const SimSampleTime& t);
  // Unusable waveform descriptions a faulty unit might send: 0 a zero sample rate, 1 extreme
  // values (the largest positive rate, equal count limits, no voltage range), 2 channel type 255.
  static constexpr int kBadDescriptionKinds = 3;
  static std::vector<std::uint8_t> BadWaveDescription(const SimOptions& o, const SimWaveFormat& f,
                                                      const SimSampleTime& t, int kind);

  // A full-scale sample (1.0 = largest) as the count sent with `width` bytes.
  static std::int32_t Count(int width, double sample);
  // Samples in full-scale units, packed as the format says.
  static std::vector<std::uint8_t> WaveData(const SimWaveFormat& f, const SimSampleTime& t,
                                            std::span<const double> samples);
  // One byte per bin.
  static std::vector<std::uint8_t> FftData(const SimSampleTime& t, std::span<const std::uint8_t> bins);

  // Status records "H", "I", "J", "K", "L"; lengths big-endian from firmware 2.2.1.
  static std::vector<std::uint8_t> StatusRecords(const SimOptions& o, std::uint32_t now);

  static std::vector<std::uint8_t> Notice(std::uint32_t code);
  static std::vector<std::uint8_t> Stopped();

  // Largest number of samples of one data message.
  static std::size_t SamplesPerMessage(int bytesPerSample);
};

}  // namespace hylo::sim
