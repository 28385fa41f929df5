// Exit never hangs on a wait: quitting during a connect to a unit that never answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(ExitGui, ExitDuringAConnectToAUnitThatNeverAnswersReturns) {
  // A unit that takes the connection and never answers the identify.
  const auto unit = test::StartSimOnFreePorts({"--withhold", "E"}, 60);
  ASSERT_TRUE(unit.Ready()) << unit.Line();
  const int port = unit.port;
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  app::ConnectionPanel panel(hylo);
  window.show();
  hylo.RecordUiThread();
  gui.notices.Open();

  panel.LinkType()->setCurrentIndex(panel.LinkType()->findText("Ethernet"));
  panel.Address()->setText("127.0.0.1");
  panel.Port()->setValue(port);
  panel.TcpTimeout()->setValue(20000);  // each identify attempt would wait 20 s
  panel.ConnectButton()->click();
  ASSERT_TRUE(test::PumpUntil([&] { return panel.Status()->text().startsWith("Connecting to Port"); }, 15000));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 200);  // the identify is on its way

  std::atomic<bool> exited{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !exited; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!exited) {
      std::fprintf(stderr, "exit did not return within 10 s\n");
      std::abort();
    }
  });
  window.close();  // the exit control
  exited = true;
  watchdog.join();
  EXPECT_TRUE(hylo.Exiting());
  EXPECT_EQ(hylo.Threads().AbandonedThreads(), 0) << "every thread ended: none was left waiting";
  gui.notices.Close();
}
