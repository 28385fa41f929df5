#pragma once
// The records that travel in message nodes of types 0 (spectrum) and 1 (waveform).
#include <cstdint>

#include "core/HyloNodes.h"

namespace hylo {

inline constexpr int kWaveformRecordSamples = 1000;
inline constexpr int kSpectrumBins = 512;

struct WaveformRecord {
  SampleBuffer* sampleBuffer = nullptr;  // must stay first: the pools find it there
  std::uint8_t gain = 0;
  std::uint8_t sampleFormat = 0;  // bit 7: little-endian on the wire; bits 0..6: bytes per sample
  std::uint32_t timeStamp = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t blockOffset = 0;
  std::uint64_t firstSample = 0;
  std::uint64_t missedSamples = 0;
  std::uint32_t sampleCount = 0;
  double voltsPerCount = 0;
  double rangeVolts = 0;
  std::int32_t restart = 0;  // 1 when this record changed the current format
  // Set by WaveThread for a record behind the expected index: 1 when it fills samples counted
  // missed (a reordered datagram), 2 when its samples are already had (a repeated one).
  std::int32_t late = 0;
  std::int32_t samples[kWaveformRecordSamples];
};

struct SpectrumRecord {
  std::uint8_t bins[kSpectrumBins];
  std::uint8_t reference = 0;
  std::uint32_t timeStamp = 0;
  std::uint64_t firstSample = 0;
  std::uint64_t recordIndex = 0;
  std::uint64_t missedRecords = 0;
  std::uint32_t binCount = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t fftLength = 0;
  std::uint16_t accumulation = 0;
  std::uint16_t fftStep = 0;
  std::uint16_t fftType = 0;
  std::uint16_t weight = 0;
  double recordSeconds = 0;
  double timeSeconds = 0;
  // Signal levels of the waveform, in dB, put on by WaveThread.
  double rmsLevel = 0;
  double peakToPeakLevel = 0;
  double zeroToPeakLevel = 0;
  double energyLevel = 0;
  std::int32_t levelsValid = 0;
  // Put on by FftThread.
  double clickScore = 0;
  std::int32_t clickScoreValid = 0;
  std::int32_t startsSecond = 0;
  std::int32_t restart = 0;
};

// Payload of a type 27 node: one output of the long-term average pyramid.
struct PyramidOutput {
  std::int32_t level = 0;  // 1..7; combines 4^level records
  std::int32_t binCount = kSpectrumBins;
  std::uint8_t meanBins[kSpectrumBins];
  std::uint8_t maxBins[kSpectrumBins];
  double meanScore = 0;
  double maxScore = 0;
  double rmsLevel = 0;
  double peakToPeakLevel = 0;
  double zeroToPeakLevel = 0;
  std::int32_t peakValid = 0;
  std::uint64_t missedGroups = 0;
};

static_assert(offsetof(WaveformRecord, sampleBuffer) == 0);
static_assert(sizeof(WaveformRecord) <= kNodePayloadBytes && sizeof(SpectrumRecord) <= kNodePayloadBytes);

}  // namespace hylo
