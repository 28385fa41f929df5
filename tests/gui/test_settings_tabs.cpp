// The settings panel's tabs offscreen, each opened from the menu: what a tab applies reaches the
// settings groups, the settings document, the logging thread and the main window, and what it
// refuses stays as it was.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "MainWindow.h"
#include "SettingsPanel.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "support/GuiContext.h"

using namespace hylo;

namespace {

struct SettingsTabs : ::testing::Test {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window{hylo};
  app::SettingsPanel* panel = nullptr;

  // Opens the panel from the menu, on `tab` when one is given.
  bool Open(QWidget* (app::SettingsPanel::*tab)() const = nullptr) {
    QAction* open = test::MenuAction(window, "Hylo Settings");
    if (open == nullptr) return false;
    open->trigger();
    panel = window.findChild<app::SettingsPanel*>();
    if (panel != nullptr && tab != nullptr) panel->Tabs()->setCurrentWidget((panel->*tab)());
    return panel != nullptr;
  }
  template <typename W>
  W* Get(const char* name) {
    return test::Child<W>(*panel, name);
  }
  void TearDown() override { EXPECT_EQ(hylo.MainExit(), 0); }
};

}  // namespace

TEST_F(SettingsTabs, LoggingTabSetsTheWavFolderAndEnablesEveryLog) {
  auto* indicator = test::Child<QLabel>(window, "logIndicator");
  auto* kinds = test::Child<QLabel>(window, mainpanel::kLogKindsLabel);
  ASSERT_TRUE(indicator && kinds);
  EXPECT_EQ(indicator->text(), "Logging Disabled");
  ASSERT_TRUE(Open());
  EXPECT_EQ(panel->Tabs()->currentWidget(), panel->LoggingTab()) << "the panel opens on the logging tab";
  auto* wavFolder = Get<QLineEdit>("wavFolder");
  ASSERT_NE(wavFolder, nullptr);
  EXPECT_EQ(wavFolder->text().toStdString(), hylo.Groups().wav.path) << "the tab shows the stored folder";

  const std::string folder = (gui.dir.Path() / "survey" / "wav").string();
  const std::string epochFolder = (gui.dir.Path() / "survey" / "epochs").string();
  wavFolder->setText(QString::fromStdString(folder));
  for (const char* box : {"wavEnabled", "fftEnabled", "hostEpochEnabled"}) Get<QCheckBox>(box)->setChecked(true);
  Get<QLineEdit>("jobClient")->setText("Harbour Authority");
  Get<QLineEdit>("logComment")->setText("north pier");
  Get<QLineEdit>("hostEpochFolder")->setText(QString::fromStdString(epochFolder));
  panel->ApplyButton()->click();
  EXPECT_FALSE(panel->isVisible()) << "a good apply closes the panel";

  EXPECT_EQ(hylo.Groups().wav.path, folder);
  EXPECT_TRUE(hylo.Wav().WavLogIsEnabled());
  EXPECT_TRUE(hylo.Data().Logging().WavLogActive()) << "the logging thread writes WAV blocks now";
  EXPECT_TRUE(hylo.Groups().logging.logfileEnabled);
  EXPECT_EQ(hylo.Groups().logging.jobClient, "Harbour Authority");
  EXPECT_EQ(hylo.Data().Logging().GetLogComment(), "north pier");
  std::string stored;
  bool wavOn = false;
  EXPECT_TRUE(hylo.Settings().GetText("Wav", "Wavfile Path", stored, 260) && stored == folder) << stored;
  EXPECT_TRUE(hylo.Settings().GetBool("Wav", "Wav Capture Enabled", wavOn) && wavOn);
  // The epoch setting travels to the logging thread as a message.
  EXPECT_TRUE(test::PumpUntil([&] { return hylo.Data().Logging().IsEpochLogEnabled(); }));
  EXPECT_EQ(hylo.Groups().logging.hostEpochLogPath, epochFolder);
  EXPECT_TRUE(test::PumpUntil([&] { return kinds->text() == "Logging\nFFT & WAV\n& Epoch"; }))
      << kinds->text().toStdString();
  EXPECT_EQ(indicator->text(), "Logging Enabled");

  ASSERT_TRUE(Open());
  EXPECT_EQ(Get<QLineEdit>("wavFolder")->text().toStdString(), folder) << "shown again on the next open";
  for (const char* box : {"wavEnabled", "fftEnabled", "hostEpochEnabled"}) Get<QCheckBox>(box)->setChecked(false);
  panel->ApplyButton()->click();
  EXPECT_FALSE(hylo.Data().Logging().WavLogActive());
  EXPECT_TRUE(test::PumpUntil([&] { return indicator->text() == "Logging Disabled"; }));
  EXPECT_TRUE(kinds->isHidden());
}

TEST_F(SettingsTabs, OpeningStopsScanningAndTheProcessingTabApplies) {
  int stops = 0;
  hylo.SetStopScanning([&] { ++stops; });
  ASSERT_TRUE(Open(&app::SettingsPanel::ProcessingTab));
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(panel->Tabs()->count(), 4);
  Get<QCheckBox>("customScan")->setChecked(true);
  auto* period = Get<QComboBox>("scanPeriod");
  period->setCurrentIndex(period->findData(0.125));
  Get<QCheckBox>("displayToNyquist")->setChecked(true);
  panel->ApplyButton()->click();
  EXPECT_FALSE(panel->isVisible());
  EXPECT_TRUE(hylo.Groups().display.useCustomScanRate);
  EXPECT_DOUBLE_EQ(hylo.Groups().display.scanPeriod, 0.125);
  EXPECT_TRUE(hylo.Groups().display.displayToNyquist);
}

TEST_F(SettingsTabs, ImpulseTabAppliesAndRefusesReversedThresholds) {
  ASSERT_TRUE(Open(&app::SettingsPanel::ImpulseTab));
  auto* detect = Get<QSpinBox>("detectDb");
  auto* reset = Get<QSpinBox>("resetDb");
  auto* post = Get<QSpinBox>("postMs");
  ASSERT_TRUE(detect && reset && post);
  EXPECT_EQ(detect->value(), 40) << "the defaults";
  Get<QCheckBox>("impulseDetection")->setChecked(true);
  detect->setValue(30);
  reset->setValue(12);
  panel->ApplyButton()->click();
  const ImpulseDetectionSettings& s = hylo.Groups().impulse;
  EXPECT_TRUE(s.enabled && s.detectionThreshold == 30 && s.resetThreshold == 12);
  std::int64_t stored = 0;
  {
    std::lock_guard guard(hylo.Settings().SettingsLock());
    EXPECT_TRUE(hylo.Settings().GetInt("Impulse", "Detection Threshold", stored));
  }
  EXPECT_EQ(stored, 30) << "in the settings document at once";

  ASSERT_TRUE(Open(&app::SettingsPanel::ImpulseTab));
  detect->setValue(5);
  post->setValue(20);
  panel->ApplyButton()->click();
  EXPECT_EQ(s.detectionThreshold, 30) << "reversed thresholds are refused";
  EXPECT_EQ(s.postDetectionInterval, 20) << "the rest still applies";
}

TEST_F(SettingsTabs, HostEpochRowsReachTheProgramTriggerFileAndUndoBringsThemBack) {
  ASSERT_TRUE(Open(&app::SettingsPanel::HostEpochTab));
  auto* enabled = Get<QCheckBox>("hostTrigger2Enabled");
  const struct {
    const char* name;
    int value;
  } fields[] = {
      {"hostTrigger2MinHz", 1000}, {"hostTrigger2MaxHz", 2000}, {"hostTrigger2Threshold", 110}, {"hostTrigger2Dur", 2}};
  ASSERT_NE(enabled, nullptr);
  enabled->setChecked(true);
  for (const auto& f : fields) {
    auto* spin = Get<QSpinBox>(f.name);
    ASSERT_NE(spin, nullptr);
    spin->setValue(f.value);
  }
  panel->ApplyButton()->click();
  const TriggerList& list = hylo.HostTriggerList().List();
  EXPECT_TRUE(list[1].valid);
  EXPECT_EQ(list[1].Epoch().threshold, 110);
  TriggerList file{};
  ASSERT_EQ(ReadTriggerFile(file, hylo.HostTriggerList().ProgramFile()), TriggerFileStatus::kOk);
  EXPECT_EQ(file[1].Epoch(), list[1].Epoch());

  ASSERT_TRUE(Open());
  Get<QSpinBox>("hostTrigger2Threshold")->setValue(50);
  Get<QPushButton>("undoHostEpoch")->click();
  EXPECT_EQ(Get<QSpinBox>("hostTrigger2Threshold")->value(), 110);
}
