// The epoch tab offscreen: the triggers a unit lists when the setup panel opens are shown
// in the tab's rows; the epoch window opens from the Panels menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <chrono>
#include <thread>

#include "EpochWindow.h"
#include "MainWindow.h"
#include "SetupPanel.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(EpochGui, TheTabShowsTheTriggersTheUnitLists) {
  const int port = test::FreeLoopbackPort();
  test::SimProcess sim(HYLO_SIM_BIN,
                       {"--model", "hf", "--firmware", "v2.1.6", "--port", std::to_string(port), "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  ASSERT_EQ(hylo.Start(), 0);
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", port}).Ok());
  // The unit holds one trigger before the panel opens.
  setup::EpochRows rows{};
  rows[1] = {.enabled = true,
             .test = 1,
             .duration = 3,
             .extend = 4,
             .minFreq = 700,
             .maxFreq = 900,
             .threshold = 80,
             .logWave = true,
             .logFft = false,
             .preTrig = 2};
  hylo.Epoch().SetRows(rows);
  ASSERT_EQ(hylo.Epoch().SendEpochTriggers(), 0);
  hylo.Epoch().SetRows(setup::EpochRows{});

  app::MainWindow window(hylo);
  hylo.SetStopScanning([] {});
  QAction* open = nullptr;
  QAction* epochWindow = nullptr;
  for (QAction* menu : window.menuBar()->actions())
    if (menu->menu())
      for (QAction* a : menu->menu()->actions()) {
        if (a->text() == "Instrument Setup") open = a;
        if (a->text() == "Epoch Messages") epochWindow = a;
      }
  ASSERT_TRUE(open && epochWindow);
  open->trigger();
  auto* panel = window.findChild<app::SetupPanel*>();
  ASSERT_NE(panel, nullptr);
  app::EpochTab* tab = panel->EpochTriggersTab();
  EXPECT_TRUE(panel->Tabs()->isTabVisible(panel->Tabs()->indexOf(tab)));
  const auto& row = tab->Rows()[1];
  for (int i = 0; i < 500 && row.minFreq->value() != 700; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(row.enable->isChecked());
  EXPECT_EQ(row.test->currentIndex(), 1);
  EXPECT_EQ(row.minFreq->value(), 700);
  EXPECT_EQ(row.maxFreq->value(), 900);
  EXPECT_EQ(row.threshold->value(), 80);
  EXPECT_TRUE(row.logWave->isChecked());
  EXPECT_EQ(row.preTrig->value(), 2);
  EXPECT_FALSE(tab->Rows()[0].enable->isChecked());

  epochWindow->trigger();
  auto* events = window.findChild<app::EpochWindow*>();
  ASSERT_NE(events, nullptr);
  EXPECT_TRUE(events->isVisible());
}
