// Impulse results reaching the desktop app's impulse and band displays, offscreen.
#include <gtest/gtest.h>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "core/Post.h"
#include "support/GuiContext.h"

using namespace hylo;

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
