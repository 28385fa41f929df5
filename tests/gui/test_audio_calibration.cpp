// The audio controls and the calibration panel of the main window, offscreen.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStandardItemModel>

#include "AudioControls.h"
#include "CalibrationPanel.h"
#include "MainWindow.h"
#include "support/GuiContext.h"

using namespace hylo;

TEST(AudioCalibrationGui, AudioSwitchShowsItsControlsAndReachesTheOutput) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  window.show();
  auto* audio = window.findChild<app::AudioControls*>("audioControls");
  ASSERT_NE(audio, nullptr);
  EXPECT_FALSE(audio->Volume()->isVisible()) << "hidden while audio is off";
  audio->Enabled()->setChecked(true);
  EXPECT_TRUE(hylo.Data().Audio().AudioOn());
  EXPECT_TRUE(audio->Volume()->isVisible());
  EXPECT_TRUE(audio->Filter()->isVisible());
  EXPECT_EQ(hylo.Data().Audio().AudioShift(), 3) << "level from reference 50, span 100 and −171 dB";
  WaveformRecord fast{};
  fast.sampleRate = 1024000;
  hylo.Data().Audio().FeedAudio(fast);
  audio->Poll();
  EXPECT_FALSE(audio->Enabled()->isEnabled() || hylo.Data().Audio().AudioOn()) << "above 512 000 S/s: off, dimmed";
}

TEST(AudioCalibrationGui, TheListeningControlsComeBackAsTheOperatorLeftThem) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  {
    app::AudioControls first(hylo);
    first.Enabled()->click();
    first.Volume()->setValue(35);
    first.Mute()->setChecked(true);
    first.Filter()->setCurrentIndex(3);
    emit first.Filter()->activated(3);
  }
  // Through the settings file, as the next start reads it.
  ASSERT_EQ(hylo.Settings().SettingsWrite(), 0);
  HyloIni file;
  ASSERT_EQ(file.SettingsLoad(hylo.Settings().SettingsPath()), HyloIni::kLoaded);
  int volume = 0;
  EXPECT_TRUE(file.GetInt("Audio", "Volume", volume) && volume == 35) << volume;
  app::AudioControls again(hylo);
  EXPECT_TRUE(again.Enabled()->isChecked());
  EXPECT_EQ(again.Volume()->value(), 35);
  EXPECT_TRUE(again.Mute()->isChecked());
  EXPECT_EQ(again.Filter()->currentText(), "No filter");
}

TEST(AudioCalibrationGui, CalibrationPanelStartsShowsTimeAndInstalls) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  window.show();
  auto* panel = window.findChild<app::CalibrationPanel*>("calibrationPanel");
  ASSERT_NE(panel, nullptr);
  panel->Switch()->click();
  HyloCal& cal = hylo.Data().Calibration();
  EXPECT_TRUE(cal.IsCalibrating());
  EXPECT_TRUE(panel->Elapsed()->isVisible());
  EXPECT_EQ(panel->Elapsed()->text(), "00:00");
  auto* unit = window.findChild<QComboBox*>("referenceUnit");
  auto* units = qobject_cast<QStandardItemModel*>(unit->model());
  EXPECT_FALSE(units->item(4)->isEnabled()) << "no ambient view while the ambient is measured";
  SpectrumRecord r{};
  r.binCount = 410;
  std::fill(std::begin(r.bins), std::end(r.bins), std::uint8_t{100});
  for (int i = 0; i < 3; ++i) cal.AddCalibrationRecord(r);
  panel->Switch()->click();
  EXPECT_FALSE(cal.IsCalibrating());
  EXPECT_FALSE(panel->Elapsed()->isVisible());
  EXPECT_EQ(panel->Result()->text(), "Ambient reference installed");
  EXPECT_EQ(hylo.Data().Reference().Unit(), UNIT_AMBIENT);
  EXPECT_EQ(unit->currentText(), "dB Ambient ");
  EXPECT_TRUE(units->item(4)->isEnabled());
  EXPECT_EQ(hylo.Data().Reference().AmbientBins()[100], 102);
  // A calibration that saw no spectrum leaves the reference as it was.
  panel->Switch()->click();
  panel->Switch()->click();
  EXPECT_EQ(panel->Result()->text(), "No spectra arrived: the ambient reference is unchanged");
  EXPECT_EQ(hylo.Data().Reference().AmbientBins()[100], 102);
}
