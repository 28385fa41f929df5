// The logging tab of the settings panel offscreen: the WAV log folder and every log
// kind switched on through the panel, then the settings, the logging thread's state and
// the main window's indicator checked.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <thread>

#include "MainWindow.h"
#include "SettingsPanel.h"
#include "shell/MainPanel.h"
#include "support/GuiContext.h"

using namespace hylo;

using test::Child;

TEST(LoggingPanelGui, SetsTheWavFolderAndEnablesLogging) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  auto* indicator = Child<QLabel>(window, "logIndicator");
  auto* kinds = Child<QLabel>(window, mainpanel::kLogKindsLabel);
  ASSERT_TRUE(indicator && kinds);
  EXPECT_EQ(indicator->text(), "Logging Disabled");

  QAction* open = test::MenuAction(window, "Hylo Settings");
  ASSERT_NE(open, nullptr);
  open->trigger();
  auto* panel = window.findChild<app::SettingsPanel*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->Tabs()->currentWidget(), panel->LoggingTab());
  auto* wavFolder = Child<QLineEdit>(*panel, "wavFolder");
  ASSERT_NE(wavFolder, nullptr);
  EXPECT_EQ(wavFolder->text().toStdString(), hylo.Groups().wav.path) << "the tab shows the stored folder";

  const std::string folder = (gui.dir.Path() / "survey" / "wav").string();
  const std::string epochFolder = (gui.dir.Path() / "survey" / "epochs").string();
  wavFolder->setText(QString::fromStdString(folder));
  Child<QCheckBox>(*panel, "wavEnabled")->setChecked(true);
  Child<QCheckBox>(*panel, "fftEnabled")->setChecked(true);
  Child<QLineEdit>(*panel, "jobClient")->setText("Harbour Authority");
  Child<QLineEdit>(*panel, "logComment")->setText("north pier");
  Child<QCheckBox>(*panel, "hostEpochEnabled")->setChecked(true);
  Child<QLineEdit>(*panel, "hostEpochFolder")->setText(QString::fromStdString(epochFolder));
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

  open->trigger();
  EXPECT_EQ(Child<QLineEdit>(*panel, "wavFolder")->text().toStdString(), folder) << "shown again on the next open";
  Child<QCheckBox>(*panel, "wavEnabled")->setChecked(false);
  Child<QCheckBox>(*panel, "fftEnabled")->setChecked(false);
  Child<QCheckBox>(*panel, "hostEpochEnabled")->setChecked(false);
  panel->ApplyButton()->click();
  EXPECT_FALSE(hylo.Data().Logging().WavLogActive());
  EXPECT_TRUE(test::PumpUntil([&] { return indicator->text() == "Logging Disabled"; }));
  EXPECT_TRUE(kinds->isHidden());
  hylo.MainExit();
}
