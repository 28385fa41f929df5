#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <utility>

#include "context/Hylo.h"
#include "context/MainCommands.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;

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
  // An HF unit on a serial link has neither web pages nor FTP to offer.
  EXPECT_EQ(ChooseDataAccess(5, Firmware(1, 8, 0), "255.255.255.255", 0, false).kind, DataAccessKind::kSerialFiles);
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDataAccess(c.model, c.firmware, "10.0.0.5", c.portBase), c.expected)
        << "model " << c.model << " firmware " << c.firmware.Text();
  }
  EXPECT_EQ(WebServerUrl("10.0.0.5", 0), "http://10.0.0.5:80");
  EXPECT_EQ(WebServerUrl("10.0.0.5", 100), "http://10.0.0.5:8180");
}

TEST(MainCommands, EnablingTable) {
  // No link; HF on Ethernet; LF on serial; a link whose unit is not known.
  const ControlState states[] = {
      {}, {true, true, 5, Firmware(2, 1, 0)}, {true, false, 2, Firmware(1, 2, 0)}, {true, true, 0, Firmware()}};
  const std::pair<MainControl, std::array<bool, 4>> cases[] = {
      {MainControl::kEnquireStatus, {true, true, true, true}},
      {MainControl::kReset, {false, true, true, false}},
      {MainControl::kStandby, {false, true, true, false}},
      {MainControl::kResetPassword, {false, true, true, false}},
      {MainControl::kWebServer, {false, true, false, false}},
      {MainControl::kDataAccess, {false, true, true, false}},
  };
  for (const auto& [control, expected] : cases)
    for (std::size_t i = 0; i < 4; ++i)
      EXPECT_EQ(ControlEnabled(control, states[i]), expected[i]) << static_cast<int>(control) << " in state " << i;
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
