// The setup panels offscreen: the instrument panel reads, edits and applies a setup on a
// real hylo-sim; the settings panel applies its processing tab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <thread>

#include "MainWindow.h"
#include "SettingsPanel.h"
#include "SetupPanel.h"
#include "context/HyloSession.h"
#include "shell/MainPanel.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

namespace {

bool ConnectTo(Hylo& hylo, int port, const char* firmware) {
  if (!HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", port})) return false;
  for (int i = 0; i < 200 && hylo.Connection().Identity().firmwareText != firmware; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return hylo.Connection().Identity().firmwareText == firmware;
}

void Pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Runs the event loop until the panel's exchange with the unit has ended (bounded).
bool WaitIdle(const app::SetupPanel& panel) {
  const bool idle = test::PumpUntil([&] { return !panel.Busy(); }, 30000);
  Pump();
  return idle && !panel.Busy();
}

}  // namespace

TEST(SetupPanelGui, AppliesASetupThroughThePanel) {
  for (const auto& [model, title, bandwidths] :
       {std::tuple{"hf", "Aurisond HF Setup", 10}, std::tuple{"af", "Aurisond AF Setup", 6}}) {
    const auto sim = test::StartSimOnFreePorts({"--model", model, "--firmware", "v2.1.0"}, 60);
    ASSERT_TRUE(sim.Ready()) << sim.Line();
    const int port = sim.port;
    test::GuiContext gui;
    Hylo& hylo = gui.Started();
    ASSERT_TRUE(ConnectTo(hylo, port, "v2.1.0")) << model;
    {
      app::MainWindow window(hylo);
      // Counted in place of the window's own stop procedure.
      int stops = 0;
      hylo.SetStopScanning([&] { ++stops; });
      QAction* open = test::MenuAction(window, "Instrument Setup");
      ASSERT_NE(open, nullptr);
      open->trigger();
      auto* panel = window.findChild<app::SetupPanel*>();
      ASSERT_NE(panel, nullptr);
      EXPECT_TRUE(panel->isVisible());
      ASSERT_TRUE(WaitIdle(*panel));
      EXPECT_EQ(stops, 1) << "scanning stops before the panel opens";
      QTabWidget* tabs = panel->Tabs();
      EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(panel->HfTab())));
      EXPECT_FALSE(tabs->isTabVisible(tabs->indexOf(panel->LfTab())));
      EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(panel->SpecialTab())));
      EXPECT_EQ(tabs->tabText(tabs->indexOf(panel->HfTab())), title);
      EXPECT_EQ(tabs->currentWidget(), panel->HfTab());

      auto* bandwidth = panel->findChild<QComboBox*>("waveBandwidth");
      ASSERT_NE(bandwidth, nullptr);
      // The model's list; a rate the unit reports beyond it is shown after it.
      ASSERT_GE(bandwidth->count(), bandwidths);
      EXPECT_EQ(bandwidth->itemData(bandwidths - 1).toUInt(), bandwidths == 6 ? 12800u : 204800u);
      // What the unit reported: the simulator starts at 128000 S/s.
      EXPECT_EQ(bandwidth->currentData().toUInt(), 51200u);
      bandwidth->setCurrentIndex(bandwidth->findData(6400u));
      auto* fftType = panel->findChild<QComboBox*>("fftType");
      fftType->setCurrentIndex(fftType->findData(setup::kFftPeak));
      Pump();
      EXPECT_EQ(panel->findChild<QLabel*>("waveSamples")->text(), "Gives 16000 Samples/sec");

      panel->ApplyButton()->click();
      ASSERT_TRUE(WaitIdle(*panel));
      EXPECT_FALSE(panel->isVisible()) << "a successful Apply hides the panel";
      const auto lines = hylo.MainPanel().Get(mainpanel::kStatusField).items;
      ASSERT_FALSE(lines.empty());
      EXPECT_NE(lines.back().find(std::string(title).substr(0, 11) + " Configured Successfully"), std::string::npos)
          << lines.back();

      // The unit has it: a fresh enquiry onto a panel showing something else restores it.
      hylo.JobSetup().EditSetup([](setup::JobSetup& s) {
        s.waveBandwidthHz = 400;
        s.fftTypeChoice = setup::kFftMean;
      });
      open->trigger();
      ASSERT_TRUE(WaitIdle(*panel));
      EXPECT_EQ(bandwidth->currentData().toUInt(), 6400u);
      EXPECT_EQ(fftType->currentData().toInt(), setup::kFftPeak);
      panel->CancelButton()->click();
      EXPECT_FALSE(hylo.JobSetup().PanelOpen());
    }
    EXPECT_EQ(hylo.MainExit(), 0);
  }
}

// The enquiry goes unanswered: the panel shows its progress and the event loop runs on.
TEST(SetupPanelGui, OpeningOnAUnitThatStopsAnsweringKeepsTheEventLoopRunning) {
  const auto sim = test::StartSimOnFreePorts({"--model", "hf", "--firmware", "v2.1.0", "--withhold", "F"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  const int port = sim.port;
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(ConnectTo(hylo, port, "v2.1.0"));
  {
    app::MainWindow window(hylo);
    hylo.SetStopScanning([] {});
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QAction* open = test::MenuAction(window, "Instrument Setup");
    ASSERT_NE(open, nullptr);
    open->trigger();
    auto* panel = window.findChild<app::SetupPanel*>();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(panel->Busy()) << "the read runs on after the panel is shown";
    EXPECT_TRUE(panel->findChild<QProgressBar*>("exchangeProgress")->isVisibleTo(panel));
    EXPECT_FALSE(panel->ApplyButton()->isEnabled()) << "no Apply while the setup is read";
    const int ticksAtOpen = ticks;
    ASSERT_TRUE(WaitIdle(*panel)) << "the unanswered enquiry ends with the link's time-out";
    EXPECT_GT(ticks, ticksAtOpen) << "the timer ticked while the unit was silent";
    EXPECT_TRUE(panel->ApplyButton()->isEnabled());
    panel->CancelButton()->click();
  }
  EXPECT_EQ(hylo.MainExit(), 0);
}
