// The click detection display: refused until a template is loaded, then the click-template
// correlation of every live spectrum drawn across the spectrogram's columns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <fstream>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/ScanUntil.h"
#include "support/SimProcess.h"

using namespace hylo;
namespace fs = std::filesystem;

TEST(ClickDisplayGui, RefusedWithoutATemplateThenDrawsTheScoreOfEveryLiveSpectrum) {
  const auto sim = test::StartSimOnFreePorts({"--model", "hf", "--rate", "64000", "--tone", "3000:-6"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  hylo.Groups().display.refreshRate = 0.1;
  app::MainWindow window(hylo);
  window.show();
  app::DisplayArea& top = *window.TopDisplay();
  QComboBox& choice = *top.findChild<QComboBox*>();
  auto pick = [&](int type) { emit choice.activated(choice.findData(type)); };

  pick(app::kDisplayClicks);
  EXPECT_NE(top.Type(), app::kDisplayClicks) << "no template is loaded";

  // A spectrum log whose first record rises over its first bins.
  const fs::path file = gui.dir.Path() / "click.txt";
  std::ofstream(file, std::ios::binary)
      << "File Details:\r\nFile Type\tSpectrum\r\nSample Rate [S/s]\t64000\r\nFFT Size\t1024\r\n"
         "Accumulations\t16\r\nDevice\tAurisond HF # 3\r\nData:\r\nTime\tComment\r\n"
         "01:02:03\t\t1.0\t2.0\t0\t3\t10\t20\t30\t40\t50\t60\t\r\n";
  ASSERT_TRUE(hylo.Data().LoadClickTemplate(file));
  ASSERT_TRUE(test::PumpUntil([&] { return hylo.Data().Fft().ClickTemplateLoaded(); }));
  pick(app::kDisplayClicks);
  ASSERT_EQ(top.Type(), app::kDisplayClicks);

  std::vector<double> scores;
  bool shown = false;
  test::ScanUntil(gui, window, [&] {
    scores = top.Clicks()->Traces().front();
    shown = top.Clicks()->isVisible();
    return std::count_if(scores.begin(), scores.end(), [](double s) { return s != 0; }) >= 3;
  });
  ASSERT_EQ(scores.size(), std::size_t{kSpectrogramColumns});
  EXPECT_GE(std::count_if(scores.begin(), scores.end(), [](double s) { return s != 0; }), 3)
      << "scores of the live spectra reach the display";
  EXPECT_TRUE(shown) << "the click display is the page on screen";
}

// Blank columns (missed spectra) hold no click, unlike the levels they repeat.
TEST(ClickDisplayGui, MissedSpectraLeaveNoClickBehind) {
  HyloSpectrum store;
  SpectrumRecord r{};
  r.binCount = 512;
  r.sampleRate = 64000;
  r.levelsValid = 1;
  r.rmsLevel = -20;
  r.clickScoreValid = 1;
  r.clickScore = 7.5;
  store.AddSpectrum(r);
  r.missedRecords = 2;
  r.clickScoreValid = 0;
  store.AddSpectrum(r);
  const auto view = store.View();
  const auto& l = view.levels;
  ASSERT_EQ(l.size(), std::size_t{kSpectrogramColumns});
  EXPECT_EQ(l[kSpectrogramColumns - 4].clickMax, 7.5);
  for (int back = 1; back <= 3; ++back) {
    EXPECT_EQ(l[static_cast<std::size_t>(kSpectrogramColumns - back)].clickMax, 0) << back;
    EXPECT_EQ(l[static_cast<std::size_t>(kSpectrogramColumns - back)].rms, -20) << back;
  }
}
