// The host against hylo-sim over loopback: both written from the wire formats, separately.
#include <gtest/gtest.h>

#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;

TEST(SimIdentify, ConnectsAndIdentifiesEachModel) {
  for (const auto& [model, code] : {std::pair{"lf", 2}, std::pair{"hf", 5}, std::pair{"af", 7}}) {
    SimSession s({"--model", model, "--unit", "4321", "--firmware", "v2.1.0"}, 30);
    ASSERT_TRUE(s.Connect()) << model << ": " << s.sim.Line();
    const DeviceIdentity id = HyloSession(s.hylo).Unit();
    EXPECT_EQ(id.modelCode, code) << model;
    EXPECT_EQ(id.unitNumber, 4321);
    EXPECT_EQ(id.firmwareText, "v2.1.0");
    EXPECT_EQ(s.hylo.Connection().PortBase(), s.sim.port - 50000);
    EXPECT_EQ(s.hylo.MainExit(), 0);
    EXPECT_EQ(s.sim.sim->Stop(), 0) << "the simulator ends cleanly on SIGTERM";
  }
}
