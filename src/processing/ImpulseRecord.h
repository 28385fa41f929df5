#pragma once
// The impulse record (node type 34): cut out of a waveform block on TriggerThread, measured
// on ImpulseThread, then shown and logged.
#include <cstdint>

#include "core/HyloNodes.h"

namespace hylo {

inline constexpr int kImpulseMaxSamples = 25000;
inline constexpr int kImpulseMaxBands = 30;

struct ImpulseRecord {
  std::uint32_t timeStamp = 0;  // UTC seconds of the block the impulse came from
  std::int32_t sampleRate = 0;
  std::uint32_t sampleCount = 0;
  std::int32_t startIndex = 0;       // first sample of the 90 % energy part
  std::int32_t durationSamples = 0;  // length of that part
  std::int32_t eventNumber = 0;
  std::int32_t blockStart = 0;  // start and end of the impulse within its block
  std::int32_t blockEnd = 0;
  std::uint64_t runningIndex = 0;  // sequence number of the first copied sample
  double sel = 0;
  double spl = 0;
  double pk = 0;
  double cumulativeSel = 0;
  double candidatePeak = 0;
  double voltsPerCount = 0;
  double rangeVolts = 0;
  std::uint16_t bandCount = 0;
  std::uint16_t fftLength = 0;
  std::int32_t bitsPerSample = 0;
  double bandLevels[kImpulseMaxBands] = {};
  double samples[kImpulseMaxSamples];  // volts; high-pass filtered once measured
};
static_assert(sizeof(ImpulseRecord) <= kNodePayloadBytes);

}  // namespace hylo
