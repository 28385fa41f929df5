// Impulse detection in the desktop app offscreen: the impulse tab of the settings panel
// reaching the settings file and refusing a detection threshold below the reset threshold,
// and an impulse result reaching the impulse and band displays.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "SettingsPanel.h"
#include "core/Post.h"
#include "settings/HyloIni.h"
#include "support/GuiContext.h"

using namespace hylo;

using test::Child;

TEST(ImpulseGui, TabAppliesAndRefusesReversedThresholds) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  QAction* open = test::MenuAction(window, "Hylo Settings");
  ASSERT_NE(open, nullptr);
  open->trigger();
  auto* panel = window.findChild<app::SettingsPanel*>();
  ASSERT_NE(panel, nullptr);
  panel->Tabs()->setCurrentWidget(panel->ImpulseTab());
  auto* detect = Child<QSpinBox>(*panel, "detectDb");
  auto* reset = Child<QSpinBox>(*panel, "resetDb");
  auto* post = Child<QSpinBox>(*panel, "postMs");
  ASSERT_TRUE(detect && reset && post);
  EXPECT_EQ(detect->value(), 40) << "the defaults";
  Child<QCheckBox>(*panel, "impulseDetection")->setChecked(true);
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

  open->trigger();
  panel->Tabs()->setCurrentWidget(panel->ImpulseTab());
  detect->setValue(5);
  post->setValue(20);
  panel->ApplyButton()->click();
  EXPECT_EQ(s.detectionThreshold, 30) << "reversed thresholds are refused";
  EXPECT_EQ(s.postDetectionInterval, 20) << "the rest still applies";
  hylo.MainExit();
}

TEST(ImpulseGui, ResultsReachTheImpulseAndBandDisplays) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  window.TopDisplay()->SetType(app::kDisplayImpulse);
  window.BottomDisplay()->SetType(app::kDisplayBands);
  for (int k = 1; k <= 2; ++k) {
    ASSERT_TRUE(Post(hylo.Threads(), UI_UPDATE_THREAD, MSG_IMPULSE, [k](MessageNode& n) {
      auto& r = n.As<ImpulseRecord>();
      r = ImpulseRecord{};
      r.eventNumber = k;
      r.sel = 120;
      r.pk = 140;
      r.cumulativeSel = k == 1 ? 120 : 123.0103;
      r.bandCount = 30;
      for (int b = 0; b < 30; ++b) r.bandLevels[b] = 90 + b;
    }));
  }
  auto* events = window.TopDisplay()->Impulses();
  EXPECT_TRUE(test::PumpUntil([&] {
    window.RefreshTicker();
    return events->View().events.size() == 2;
  }));
  EXPECT_EQ(events->Caption(), "Impulse 2   SEL 120.00 dB   PK 140.00 dB   Cumulative SEL 123.01 dB");
  app::ImpulseWidget* bands = window.BottomDisplay()->Bands();
  ASSERT_NE(bands, nullptr);
  EXPECT_EQ(window.TopDisplay()->Bands(), nullptr) << "bands are for the bottom display";
  EXPECT_EQ(bands->View().bandLevels[29], 119);
  EXPECT_EQ(app::ImpulseBandLabels(30).join(","),
            ",25,32,40,50,63,80,100,125,160,200,250,315,400,500,630,800,1k,1.2k,1.6k,2k,2.5k,3.1k,4k,5k,6.3k,8k,10k,12."
            "5k,16k,20k,");
  EXPECT_FALSE(bands->grab().isNull());  // paints without trouble

  hylo.ResetCharts();
  EXPECT_TRUE(test::PumpUntil([&] {
    window.RefreshTicker();
    return events->View().events.empty();
  }));
  hylo.MainExit();
}
