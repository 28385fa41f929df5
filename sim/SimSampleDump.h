#pragma once
// The waveform counts the simulator would stream, without streaming them: tests compare
// recordings against this sequence.
#include <cstdint>
#include <cstdio>

#include "SimOptions.h"

namespace hylo::sim {

// Writes the first `count` counts of the waveform stream of `options`, one per line.
void DumpSamples(const SimOptions& options, std::uint64_t count, std::FILE* out);

}  // namespace hylo::sim
