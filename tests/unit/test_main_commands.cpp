#include <gtest/gtest.h>

#include <ctime>

#include "context/Hylo.h"
#include "context/MainCommands.h"
#include "link/DeviceIdentity.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;

TEST(MainCommands, UnitLineWithAndWithoutRelease) {
  DeviceIdentity id;
  id.modelCode = 3;
  EXPECT_EQ(DescribeUnit(id), "Aurisond not found. Data not valid");
  id.modelCode = 7;
  id.unitNumber = 12;
  id.unitStatus = 1;
  id.firmwareText = "v1.9.4";
  EXPECT_EQ(DescribeUnit(id), "Aurisond AF # 12 Waiting For Data   Firmware v1.9.4");
  id.releaseText = "3.0.1";
  EXPECT_EQ(DescribeUnit(id), "Aurisond AF # 12 Waiting For Data   Firmware R3.0.1");
}

TEST(MainCommands, ScreenshotNameIsZeroPadded) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  EXPECT_EQ(ScreenshotFileName(t), "Screenshot_240305_070809.png");
  t.tm_year = 2100 - 1900;  // the year keeps two digits past a century
  EXPECT_EQ(ScreenshotFileName(t), "Screenshot_000305_070809.png");
}

TEST(MainCommands, DataAccessByModelAndFirmware) {
  struct Case {
    int model;
    Firmware firmware;
    int portBase;
    DataAccess expected;
  };
  const Case cases[] = {
      {5, Firmware(1, 7, 9), 0, {DataAccessKind::kWebPage, "http://10.0.0.5:80/data/"}},
      {5, Firmware(1, 8, 0), 0, {DataAccessKind::kWebPage, "http://10.0.0.5:80/data/retrieve.html"}},
      {7, Firmware(1, 8, 0), 3, {DataAccessKind::kWebPage, "http://10.0.0.5:8083/data/retrieve.html"}},
      {5, Firmware(2, 0, 0), 0, {DataAccessKind::kFtpFiles, ""}},
      {7, Firmware(2, 1, 0), 0, {DataAccessKind::kFtpFiles, ""}},
      {2, Firmware(2, 1, 0), 0, {DataAccessKind::kSerialFiles, ""}},
      {0, Firmware(), 0, {DataAccessKind::kSerialFiles, ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDataAccess(c.model, c.firmware, "10.0.0.5", c.portBase), c.expected)
        << "model " << c.model << " firmware " << c.firmware.Text();
  }
  EXPECT_EQ(WebServerUrl("10.0.0.5", 0), "http://10.0.0.5:80");
  EXPECT_EQ(WebServerUrl("10.0.0.5", 100), "http://10.0.0.5:8180");
}

TEST(MainCommands, EnablingTable) {
  const ControlState none{};
  const ControlState hfEth{true, true, 5, Firmware(2, 1, 0)};
  const ControlState lfSerial{true, false, 2, Firmware(1, 2, 0)};
  const ControlState unknownUnit{true, true, 0, Firmware()};
  struct Case {
    MainControl control;
    bool none, hfEth, lfSerial, unknownUnit;
  };
  const Case cases[] = {
      {MainControl::kEnquireStatus, true, true, true, true}, {MainControl::kReset, false, true, true, false},
      {MainControl::kStandby, false, true, true, false},     {MainControl::kResetPassword, false, true, true, false},
      {MainControl::kWebServer, false, true, false, false},  {MainControl::kDataAccess, false, true, true, false},
  };
  for (const Case& c : cases) {
    const int i = static_cast<int>(c.control);
    EXPECT_EQ(ControlEnabled(c.control, none), c.none) << i;
    EXPECT_EQ(ControlEnabled(c.control, hfEth), c.hfEth) << i;
    EXPECT_EQ(ControlEnabled(c.control, lfSerial), c.lfSerial) << i;
    EXPECT_EQ(ControlEnabled(c.control, unknownUnit), c.unknownUnit) << i;
  }
  EXPECT_EQ(AllMainControls().size(), 9U);
}

TEST(MainCommands, WithoutLinkNothingIsSentAndTheOperatorIsTold) {
  test::TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, test::TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  int pagesShown = 0;
  MainCommands commands(hylo, {nullptr, nullptr, [&] { ++pagesShown; }});
  EXPECT_EQ(commands.EnquireStatus(), -1);
  EXPECT_EQ(pagesShown, 1);
  EXPECT_EQ(commands.SendRebootCmd(false), -1);
  EXPECT_EQ(commands.SendResetPassword(), -1);
  EXPECT_TRUE(op.Questions().empty()) << "nothing to confirm without a unit";
  EXPECT_EQ(op.Notices(), std::vector<std::string>(3, "No Active Connection."));
  const auto shot = commands.NextScreenshotPath();
  EXPECT_TRUE(std::filesystem::is_directory(shot.parent_path()));
  EXPECT_EQ(shot.filename().string().rfind("Screenshot_", 0), 0U);
  hylo.MainExit();
}
