#pragma once
// Arbitrary bytes as a replay file of the kind `name` names: the header, then every record
// to the end.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "files/HyloReplay.h"

inline int FuzzReplayFile(const char* name, const std::uint8_t* data, std::size_t size) {
  // fmemopen refuses an empty buffer; an empty file is covered by a one-byte one.
  if (size == 0) return 0;
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (!file) return 0;
  auto reader = hylo::MakeReplayReader(hylo::ReplayKindOfName(name));
  if (reader->Open(file, size).empty()) {
    hylo::WaveformRecord wave{};
    hylo::SpectrumRecord spectrum{};
    for (int i = 0; i < 100000; ++i) {
      const auto r = reader->IsWaveform() ? reader->ReadWave(wave) : reader->ReadSpectrum(spectrum);
      if (r != hylo::ReplayReader::Result::kRecord) break;
    }
  }
  std::fclose(file);
  return 0;
}
