// Arbitrary bytes as a datagram to the simulated unit's discovery responder.
#include <cstddef>
#include <cstdint>

#include "SimDiscovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hylo::sim::SimNetSettings settings;
  (void)hylo::sim::AnswerDiscovery(settings, {data, size});
  return 0;
}
