// The host against hylo-sim over loopback: both written from the wire formats, separately.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "shell/ScriptedOperator.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;

TEST(SimIdentify, ConnectsAndIdentifiesEachModel) {
  for (const auto& [model, code] : {std::pair{"lf", 2}, std::pair{"hf", 5}, std::pair{"af", 7}}) {
    const int port = FreeCommandPort();  // its data ports are free too
    SimProcess sim(HYLO_SIM_BIN, {"--model", model, "--unit", "4321", "--firmware", "v2.1.0", "--port",
                                  std::to_string(port), "--seconds", "30"});
    ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
    TempDir dir;
    ScriptedOperator op;
    Hylo hylo(op, TestOptions(dir));
    ASSERT_EQ(hylo.Start(), 0);
    HyloSession session(hylo);
    ASSERT_TRUE(session.Connect(TcpTarget{"127.0.0.1", port}).Ok()) << model;
    const DeviceIdentity id = session.Unit();
    EXPECT_EQ(id.modelCode, code) << model;
    EXPECT_EQ(id.unitNumber, 4321);
    EXPECT_EQ(id.firmwareText, "v2.1.0");
    EXPECT_EQ(hylo.Connection().PortBase(), port - 50000);
    EXPECT_EQ(hylo.MainExit(), 0);
    EXPECT_EQ(sim.Stop(), 0) << "the simulator ends cleanly on SIGTERM";
  }
}
