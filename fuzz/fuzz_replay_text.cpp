// Arbitrary bytes as a replay file named *.txt.
#include "ReplayFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzReplayFile("f.txt", data, size);
}
