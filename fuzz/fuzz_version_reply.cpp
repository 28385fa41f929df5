// Arbitrary bytes as an identify reply.
#include <cstddef>
#include <cstdint>

#include "link/DeviceIdentity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto reply = hylo::ParseVersionReply({data, size})) {
    (void)hylo::DescribeUnit(reply->identity);
    (void)hylo::FirmwareVersion(reply->identity.firmwareText);
  }
  return 0;
}
