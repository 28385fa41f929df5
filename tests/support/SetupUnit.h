#pragma once
// A unit as the setup rules see it: feature level 2 behind interface 3 at 921600 baud unless told.
#include "config/HyloSetup.h"
#include "link/DeviceIdentity.h"

namespace hylo::test {

inline setup::SetupContext SetupUnit(std::uint8_t model, const char* firmware, std::uint8_t featureLevel = 2,
                                     bool serial = false) {
  setup::SetupContext c;
  c.model = model;
  c.firmware = FirmwareVersion(firmware);
  c.featureLevel = featureLevel;
  c.serialLink = serial;
  c.interfaceCode = 3;
  c.baudRate = 921600;
  return c;
}

}  // namespace hylo::test
