// Arbitrary bytes as a discovery datagram: what parses must re-encode to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/DiscoveryWire.h"
#include "link/NetworkRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace hylo::discovery;
  const Datagram d = ParseDatagram({data, size});
  if (const auto* record = std::get_if<DiscoveryRecord>(&d)) {
    const auto bytes = EncodeRecord(*record);
    if (!(DecodeRecord(bytes) == *record)) std::abort();
    (void)hylo::netrules::MacText(record->mac);
    (void)hylo::netrules::DottedText(record->ipAddress);
  } else if (const auto* result = std::get_if<SetResult>(&d)) {
    (void)hylo::netrules::CheckMask(result->record.subnetMask);
  }
  return 0;
}
