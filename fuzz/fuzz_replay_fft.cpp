// Arbitrary bytes as a replay file named *.fft.
#include "ReplayFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReplayFile("f.fft", data, size);
}
