#include <gtest/gtest.h>

#include <cmath>

#include "context/Hylo.h"
#include "settings/HyloIni.h"
#include "settings/SettingsGroups.h"
#include "shell/ScriptedOperator.h"
#include "support/TempDir.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

HyloOptions Options(const test::TempDir& dir) {
  HyloOptions options;
  options.dataFolder = dir.Path() / "data";
  options.settingsFolder = dir.Path() / "config" / "deep" / "Hylo";
  options.startupSettleMs = 0;
  return options;
}

// Every key of every group, as "section/key".
std::vector<std::string> AllKeys(SettingsGroups& groups) {
  std::vector<std::string> keys;
  for (const auto& fields :
       {groups.display.Fields(), groups.main.Fields(), groups.replay.Fields(), groups.wav.Fields(),
        groups.trigger.Fields(), groups.connection.Fields(), groups.logging.Fields(), groups.calibration.Fields(),
        groups.fileUtility.Fields(), groups.reference.Fields(), groups.spectrum.Fields(), groups.impulse.Fields()})
    for (const auto& f : fields) keys.push_back(std::string(f.section) + "/" + f.key);
  return keys;
}

// A context started on fresh folders, ended when the test ends.
struct Started : ::testing::Test {
  test::TempDir dir;
  ScriptedOperator op;
  Hylo hylo{op, Options(dir)};
  void SetUp() override { ASSERT_EQ(hylo.Start(), 0); }
  void TearDown() override { hylo.MainExit(); }
};
using FirstStart = Started;
using Sessions = Started;

}  // namespace

TEST(HyloIniDocument, ValueKindsSurviveAWriteAndARead) {
  test::TempDir dir;
  HyloIni ini;
  ini.SettingsInit(dir.Path());
  ini.SetText("S", "Text", "say \"hi\" \\ there");
  ini.SetBool("S", "Flag", true);
  ini.SetInt("S", "Count", -42);
  ini.SetDouble("S", "Period", 0.0625);
  ini.SetDouble("S", "Precise", 0.1234567890123456);
  ASSERT_EQ(ini.SettingsWrite(), 0);
  EXPECT_NE(test::ReadFile(ini.SettingsPath()).find("Flag = True\r\nCount = -42\r\nPeriod = 0.0625\r\n"),
            std::string::npos);

  HyloIni back;
  ASSERT_EQ(back.SettingsLoad(ini.SettingsPath()), HyloIni::kLoaded);
  std::string s;
  bool b = false;
  std::int64_t i = 0;
  double d = 0;
  EXPECT_TRUE(back.GetText("S", "Text", s, 260) && s == "say \"hi\" \\ there") << s;
  EXPECT_TRUE(back.GetBool("S", "Flag", b) && b);
  EXPECT_TRUE(back.GetInt("S", "Count", i) && i == -42) << i;
  EXPECT_TRUE(back.GetDouble("S", "Precise", d) && std::abs(d - 0.1234567890123456) < 1e-15) << d;
  // Text is cut to its buffer; a wrong kind leaves the value alone.
  ASSERT_TRUE(back.GetText("S", "Text", s, 4));
  EXPECT_EQ(s, "say");
  int untouched = 7;
  EXPECT_FALSE(back.GetInt("S", "Text", untouched));
  EXPECT_EQ(untouched, 7);
}

TEST(HyloIniDocument, BrokenFilesAreUnreadableNotHalfLoaded) {
  for (std::string_view bad :
       {std::string_view("[Wav]\nWavfile Prefix = \"Data\nno equals here\n"),
        std::string_view("key = 1 before any section\n"), std::string_view("[Wav]\nWavfile Prefix = \"unterminated\n"),
        std::string_view("[Wav\nx = 1\n"), std::string_view("[Wav]\0x = 1\n", 12)}) {
    EXPECT_FALSE(HyloIni::Parses(bad)) << bad;
  }
  EXPECT_TRUE(HyloIni::Parses("; comment\n\n[A]\nx = 1\r\n"));
}

TEST_F(FirstStart, CreatesTheSettingsFolderAndEveryKeyAfterExit) {
  EXPECT_TRUE(fs::is_directory(hylo.SettingsFolder()));
  EXPECT_TRUE(hylo.SettingsUnreadable());
  SettingsGroups reference(hylo.DataFolder(), "/prog");
  const auto keys = AllKeys(reference);
  const fs::path file = hylo.SettingsFolder() / "Hylo.ini";
  ASSERT_EQ(hylo.MainExit(), 0);

  HyloIni written;
  ASSERT_EQ(written.SettingsLoad(file), HyloIni::kLoaded);
  for (const auto& key : keys) {
    const auto slash = key.find('/');
    EXPECT_TRUE(written.Has(key.substr(0, slash), key.substr(slash + 1))) << key;
  }
  // The two stream transport keys belong to the job setup, which saves them.
  for (const char* key : {"Collect Wave Mode", "Collect FFT Mode"}) EXPECT_TRUE(written.Has("Settings", key)) << key;
  std::string wavPath;
  ASSERT_TRUE(written.GetText("Wav", "Wavfile Path", wavPath, 260));
  EXPECT_EQ(wavPath, hylo.DataFolder().string());
  EXPECT_TRUE(op.Notices().empty()) << "a missing file is not an error";
}

TEST(SettingsFile, StoredSerialLinkTypeTwoComesBackAsOne) {
  test::TempDir dir;
  const auto options = Options(dir);
  fs::create_directories(options.settingsFolder);
  test::WriteFile(options.settingsFolder / "Hylo.ini", "[Connection]\r\nLink Type = 2\r\nComm TCP Port = 50100\r\n");
  ScriptedOperator op;
  Hylo hylo(op, options);
  ASSERT_EQ(hylo.Start(), 0);
  EXPECT_TRUE(hylo.SettingsLoaded());
  EXPECT_EQ(hylo.Groups().connection.linkType, 1);
  EXPECT_EQ(hylo.Groups().connection.commTcpPort, 50100);
  EXPECT_EQ(hylo.Groups().connection.baudRate, 256000) << "missing keys keep their defaults";
  hylo.MainExit();
}

TEST(SettingsFile, UnreadableFileIsKeptAndTheOperatorToldOnce) {
  test::TempDir dir;
  const auto options = Options(dir);
  fs::create_directories(options.settingsFolder);
  const std::string broken = "[Wav]\r\nWavfile Next Index = 37\r\ngarbage line\r\n";
  test::WriteFile(options.settingsFolder / "Hylo.ini", broken);
  ScriptedOperator op;
  Hylo hylo(op, options);
  ASSERT_EQ(hylo.Start(), 0);
  EXPECT_TRUE(hylo.SettingsUnreadable());
  hylo.RecordUiThread();
  hylo.RecordUiThread();
  ASSERT_EQ(op.Notices().size(), 1U);
  EXPECT_NE(op.Notices()[0].find("Hylo.ini.unreadable"), std::string::npos);
  hylo.MainExit();
  EXPECT_EQ(test::ReadFile(options.settingsFolder / "Hylo.ini.unreadable"), broken);
  std::int64_t next = 0;
  HyloIni after;
  ASSERT_EQ(after.SettingsLoad(options.settingsFolder / "Hylo.ini"), HyloIni::kLoaded);
  ASSERT_TRUE(after.GetInt("Wav", "Wavfile Next Index", next));
  EXPECT_EQ(next, 1);
}

TEST_F(Sessions, SavedSessionRestoresEveryKeyIncludingTheCounters) {
  auto& g = hylo.Groups();
  g.wav.nextIndex = 41;
  g.logging.nextImpulseIndex = 43;
  g.logging.fileName = "FftName";
  g.display.scanPeriod = 0.125;
  const fs::path session = dir.Path() / "field.ini";
  op.QueueButton(0);
  op.QueuePath(session);
  ASSERT_EQ(hylo.SaveSession(), 0);
  ASSERT_TRUE(fs::exists(session));

  g.wav.nextIndex = 1;
  g.logging.nextImpulseIndex = 1;
  g.logging.fileName = "other";
  g.display.scanPeriod = 1.0;
  op.QueuePath(session);
  ASSERT_EQ(hylo.LoadSession(), 0);
  auto& back = hylo.Groups();
  EXPECT_EQ(back.wav.nextIndex, 41);
  EXPECT_EQ(back.logging.nextImpulseIndex, 43);
  EXPECT_EQ(back.logging.fileName, "FftName");
  EXPECT_DOUBLE_EQ(back.display.scanPeriod, 0.125);
  EXPECT_TRUE(hylo.Threads().Started()) << "modules run again after the load";
}

TEST_F(Sessions, DeclinedSaveWritesNothingAndUnreadableLoadKeepsCurrentSettings) {
  const fs::path session = dir.Path() / "declined.ini";
  op.QueueButton(1);
  EXPECT_EQ(hylo.SaveSession(), 0);
  EXPECT_FALSE(fs::exists(session));
  ASSERT_EQ(op.Questions().size(), 1U);
  EXPECT_EQ(op.Questions()[0].rfind("Continue: Saving Session", 0), 0U);

  hylo.Groups().wav.nextIndex = 9;
  const fs::path bad = dir.Path() / "bad.ini";
  test::WriteFile(bad, "not an ini file at all\n");
  op.QueuePath(bad);
  EXPECT_EQ(hylo.LoadSession(), -1);
  EXPECT_EQ(hylo.Groups().wav.nextIndex, 9);
  ASSERT_EQ(op.Notices().size(), 1U);
  EXPECT_NE(op.Notices()[0].find("current settings remain in force"), std::string::npos);
}

TEST_F(Sessions, SaveAppliesTheOpenSettingsPanelFirst) {
  auto& panel = hylo.ProgramSettingsPanel();
  panel.OpenHyloSetupPanel();
  panel.TabChanged(setup::ProgramTab::kProcessing);
  panel.Processing().refreshRate = 2.0;
  const fs::path session = dir.Path() / "pending.ini";
  op.QueueButton(0);
  op.QueuePath(session);
  ASSERT_EQ(hylo.SaveSession(), 0);
  EXPECT_FALSE(panel.PanelOpen()) << "applied and closed";
  hylo.Groups().display.refreshRate = 0.5;
  op.QueuePath(session);
  ASSERT_EQ(hylo.LoadSession(), 0);
  EXPECT_DOUBLE_EQ(hylo.Groups().display.refreshRate, 2.0);
}
