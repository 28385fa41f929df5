// The main window's replay controls offscreen: two WAV files replay through the chain at the
// tick pace, pause holds them, stop ends the replay, and a second start replays the list again.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <atomic>

#include "MainWindow.h"
#include "shell/MainPanel.h"
#include "support/GuiContext.h"

using namespace hylo;

namespace {

// A 16-bit mono file of 10 s at 8000 S/s, without LIST.
std::string Wav() {
  auto le = [](std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::uint32_t bytes = 160000;
  return "RIFF" + le(36 + bytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(16000, 4) +
         le(2, 2) + le(16, 2) + "data" + le(bytes, 4) + std::string(bytes, '\x02');
}

}  // namespace

TEST(ReplayPanelGui, StartPauseStopAndReplayAgain) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  std::atomic<int> records{0};
  hylo.Data().SetWaveTap([&](const WaveformRecord&) { ++records; });
  app::MainWindow window(hylo);
  app::ReplayPanel* panel = window.Replay();
  ASSERT_NE(panel, nullptr);
  const auto a = gui.dir.Path() / "1.wav", b = gui.dir.Path() / "2.wav";
  test::WriteFile(a, Wav());
  test::WriteFile(b, Wav());
  panel->SetFiles({a.string(), b.string()});

  auto* scanStart = window.findChild<QPushButton*>(scanpanel::kStart);
  ASSERT_NE(scanStart, nullptr);
  EXPECT_TRUE(scanStart->isEnabled());
  panel->StartButton()->click();
  // At the tick pace (about one block per 128 ms) ten seconds stay open long enough to pause.
  ASSERT_TRUE(test::PumpUntil([&] { return panel->PauseButton()->isEnabled(); }));
  EXPECT_FALSE(scanStart->isEnabled()) << "no scanning while a replay runs";
  panel->PauseButton()->click();
  EXPECT_TRUE(test::PumpUntil([&] { return panel->Current()->text().contains("paused"); }));
  EXPECT_TRUE(hylo.Data().Replay().Replaying()) << "a paused replay keeps its file open";
  panel->StopButton()->click();
  EXPECT_TRUE(test::PumpUntil([&] { return panel->Current()->text() == "Not replaying"; }));
  EXPECT_FALSE(hylo.Data().Replay().Replaying());
  EXPECT_TRUE(scanStart->isEnabled());

  hylo.Data().DrainPipeline(std::chrono::seconds(5));
  records = 0;
  panel->Rate()->setValue(100);
  panel->StartButton()->click();
  EXPECT_TRUE(test::PumpUntil([&] { return records == 160 && !hylo.Data().Replay().Replaying(); }, 20000))
      << records << " records";
  hylo.Data().SetWaveTap({});
  hylo.MainExit();
}

TEST(ReplayPanelGui, ATextLogShowsItsHeaderFirstAndStartsFromTheDetails) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  app::ReplayPanel* panel = window.Replay();
  const auto log = gui.dir.Path() / "Hylo_00001.txt";
  test::WriteFile(log,
                  "File Details:\r\nFile Type\tSpectrum\r\nFile Version\t5\r\nClient\tHarbour Authority\r\n"
                  "Device Details:\r\nDevice\tAurisond HF # 12\r\nSetup:\r\nSample Rate [S/s]\t8000\r\nData:\r\n"
                  "Time\tComment\r\n");
  panel->SetFiles({log.string()});
  panel->ShowDetails();
  ASSERT_NE(panel->Details(), nullptr);
  EXPECT_EQ(panel->Details()->findChild<QLabel*>("detail Client")->text(), "Harbour Authority");
  EXPECT_EQ(panel->Details()->findChild<QLabel*>("detail Device")->text(), "Aurisond HF # 12");
  EXPECT_FALSE(hylo.Data().Replay().Replaying()) << "the details come before the replay";
  panel->Details()->findChild<QPushButton*>("replayDetailsStart")->click();
  EXPECT_TRUE(test::PumpUntil([&] { return hylo.Data().Replay().Progress().fileCount == 1; }));

  test::WriteFile(log, "not a log\r\n");
  QString shown;
  QTimer dismisser;
  QObject::connect(&dismisser, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->accept();
    }
  });
  dismisser.start(20);
  gui.notices.Open();
  panel->ShowDetails();
  EXPECT_TRUE(test::PumpUntil([&] { return !shown.isEmpty(); }));
  EXPECT_EQ(shown, "File is Invalid or Corrupt. Check the file and try again.");
  gui.notices.Close();
  hylo.MainExit();
}
