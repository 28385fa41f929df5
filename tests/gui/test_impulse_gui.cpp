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

namespace {

template <typename W>
W* Child(QWidget& parent, const char* name) {
  W* w = parent.findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

}  // namespace

TEST(ImpulseGui, TabAppliesStoresAndRefusesReversedThresholds) {
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
  auto* enabled = Child<QCheckBox>(*panel, "impulseDetection");
  ASSERT_TRUE(detect && reset && post && enabled);
  EXPECT_EQ(detect->value(), 40) << "the defaults";
  EXPECT_EQ(reset->value(), 20);
  enabled->setChecked(true);
  detect->setValue(30);
  reset->setValue(12);
  post->setValue(80);
  panel->ApplyButton()->click();
  EXPECT_TRUE(hylo.Groups().impulse.enabled);
  EXPECT_EQ(hylo.Groups().impulse.detectionThreshold, 30);
  EXPECT_EQ(hylo.Groups().impulse.resetThreshold, 12);
  EXPECT_EQ(hylo.Groups().impulse.postDetectionInterval, 80);
  std::int64_t stored = 0;
  {
    std::lock_guard guard(hylo.Settings().SettingsLock());
    EXPECT_TRUE(hylo.Settings().GetInt("Impulse", "Detection Threshold", stored));
  }
  EXPECT_EQ(stored, 30) << "in the settings document at once";

  open->trigger();
  panel->Tabs()->setCurrentWidget(panel->ImpulseTab());
  EXPECT_EQ(detect->value(), 30) << "the tab shows what is stored";
  detect->setValue(5);
  post->setValue(20);
  panel->ApplyButton()->click();
  EXPECT_EQ(hylo.Groups().impulse.detectionThreshold, 30) << "reversed thresholds are refused";
  EXPECT_EQ(hylo.Groups().impulse.resetThreshold, 12);
  EXPECT_EQ(hylo.Groups().impulse.postDetectionInterval, 20) << "the rest still applies";

  open->trigger();
  Child<QPushButton>(*panel, "impulseDefaults")->click();
  EXPECT_EQ(detect->value(), 40);
  EXPECT_EQ(post->value(), 50);
  EXPECT_TRUE(enabled->isChecked()) << "defaults leave the switch alone";
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
  EXPECT_TRUE(test::PumpUntil([&] {
    window.RefreshTicker();
    return window.TopDisplay()->Impulses()->View().events.size() == 2;
  }));
  const app::ImpulseWidget* events = window.TopDisplay()->Impulses();
  EXPECT_EQ(events->Caption(), "Impulse 2   SEL 120.00 dB   PK 140.00 dB   Cumulative SEL 123.01 dB");
  app::ImpulseWidget* bands = window.BottomDisplay()->Bands();
  ASSERT_NE(bands, nullptr);
  EXPECT_EQ(window.TopDisplay()->Bands(), nullptr) << "bands are for the bottom display";
  EXPECT_EQ(bands->View().bandCount, 30);
  EXPECT_EQ(bands->View().bandLevels[29], 119);
  EXPECT_EQ(bands->Caption().toStdString(), "SPL [dB re µPa]");
  const QStringList labels = app::ImpulseBandLabels(30);
  EXPECT_EQ(labels.size(), 32);
  EXPECT_EQ(labels.front(), "");
  EXPECT_EQ(labels[1], "25");
  EXPECT_EQ(labels[30], "20k");
  EXPECT_EQ(labels.back(), "");
  EXPECT_FALSE(bands->grab().isNull());  // paints without trouble

  hylo.ResetCharts();
  EXPECT_TRUE(test::PumpUntil([&] {
    window.RefreshTicker();
    return window.TopDisplay()->Impulses()->View().events.empty();
  }));
  EXPECT_EQ(window.TopDisplay()->Impulses()->Caption(), "No impulses");
  hylo.MainExit();
}
