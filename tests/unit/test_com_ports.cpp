// COM port numbers onto devices, and the labels of found units.
#include <gtest/gtest.h>

#include "link/ComPortMap.h"
#include "link/HyloConnect.h"

using namespace hylo;

TEST(ComPorts, NumbersFollowTheListAndNamedDevicesAreAddedOnce) {
  ComPortMap map({"/dev/ttyS0", "/dev/ttyUSB0"});
  EXPECT_EQ(map.NumberOf("/dev/ttyUSB0"), 2);
  EXPECT_EQ(map.Add("/dev/pts/7"), 3);
  EXPECT_EQ(map.Add("/dev/pts/7"), 3) << "the same device keeps its number";
  EXPECT_EQ(map.Add(""), 0);
  EXPECT_EQ(map.DeviceOf(3), "/dev/pts/7");
  EXPECT_EQ(map.DeviceOf(0), "");
  EXPECT_EQ(map.DeviceOf(4), "") << "an unmapped number opens nothing";
  EXPECT_EQ(map.Labels()[1], "COM2 (/dev/ttyUSB0)");
}

TEST(ComPorts, TheMapStopsAtOneHundredPorts) {
  ComPortMap map;
  for (int i = 0; i < 120; ++i) map.Add("/dev/tty" + std::to_string(i));
  EXPECT_EQ(map.Count(), ComPortMap::kMaxPorts);
  EXPECT_EQ(map.NumberOf("/dev/tty110"), 0);
}

TEST(ComPorts, FoundUnitLabelsNameOnlyInstrumentsAndTheSkiff) {
  EXPECT_EQ(FoundUnitLabel(15, 9), "Aurisond Skiff 9");
  EXPECT_EQ(FoundUnitLabel(12, 9), "Unknown 9") << "a link board is not labelled by the model table here";
  EXPECT_EQ(FoundUnitLabel(1, 65535), "Unknown 65535");
}
