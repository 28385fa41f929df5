#include "SimSampleDump.h"

#include <algorithm>
#include <vector>

#include "SimInstrument.h"
#include "SimScene.h"
#include "SimStreamMessages.h"

namespace hylo::sim {

void DumpSamples(const SimOptions& options, std::uint64_t count, std::FILE* out) {
  const SimInstrument instrument(options);
  const auto& setup = instrument.Setup();
  // An LF unit has no data streams: its waveform goes only in status replies, as 24-bit.
  const int width = options.model == 2 ? 3 : std::clamp(setup.BytesPerSample(), 2, 4);
  SimScene scene(options, std::max<std::uint32_t>(1, setup.WaveSampleRate()));
  std::vector<double> chunk;
  while (count > 0) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(count, 4096)));
    scene.Next(chunk);
    for (const double s : chunk) std::fprintf(out, "%d\n", static_cast<int>(SimStreamMessages::Count(width, s)));
    count -= chunk.size();
  }
}

}  // namespace hylo::sim
