// The connection panel against hylo-sim on loopback: connect, see the unit line, disconnect.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdlib>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

namespace {

// Runs the event loop until `ready` holds or the time is up.
template <typename F>
bool WaitUntil(F ready, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!ready()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

}  // namespace

TEST(ConnectionPanelGui, ConnectShowsTheUnitLineAndDisconnectShowsNotConnected) {
  const int port = test::FreeLoopbackPort();
  test::SimProcess sim(HYLO_SIM_BIN, {"--model", "hf", "--unit", "606", "--firmware", "v2.1.0", "--port",
                                      std::to_string(port), "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  ASSERT_EQ(hylo.Start(), 0);
  app::MainWindow window(hylo);
  app::ConnectionPanel panel(hylo);
  window.show();
  panel.show();
  hylo.RecordUiThread();
  gui.notices.Open();

  panel.LinkType()->setCurrentIndex(panel.LinkType()->findText("Ethernet"));
  panel.Address()->setText("127.0.0.1");
  panel.Port()->setValue(port);
  panel.ConnectButton()->click();
  auto* unitLine = window.findChild<QLabel*>("unitLine");
  ASSERT_NE(unitLine, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return unitLine->text().startsWith("Aurisond HF # 606 Ready   Firmware "); }))
      << unitLine->text().toStdString();
  EXPECT_TRUE(WaitUntil([&] { return panel.Status()->text() == "Connected"; })) << panel.Status()->text().toStdString();
  EXPECT_EQ(hylo.Groups().connection.commTcpPort, port);
  auto* indicator = window.findChild<QLabel*>("linkIndicator");
  ASSERT_NE(indicator, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return indicator->palette().color(QPalette::Window) == QColor(0xBD, 0xBB, 0x8A); }))
      << "the link-in-use colour";
  if (const char* out = std::getenv("HYLO_SCREENSHOT")) panel.grab().save(out);

  panel.DisconnectButton()->click();
  EXPECT_TRUE(WaitUntil([&] { return unitLine->text() == "Not Connected"; })) << unitLine->text().toStdString();
  EXPECT_EQ(panel.Status()->text(), "Not Connected");
  EXPECT_TRUE(WaitUntil([&] { return indicator->palette().color(QPalette::Window).alpha() == 0; }));
  gui.notices.Close();
  hylo.MainExit();
}
