// The connection panel against hylo-sim on loopback: connect, see the unit line, disconnect.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <cstdlib>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(ConnectionPanelGui, ConnectShowsTheUnitLineAndDisconnectShowsNotConnected) {
  const auto sim = test::StartSimOnFreePorts({"--model", "hf", "--unit", "606", "--firmware", "v2.1.0"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  const int port = sim.port;
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
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
  EXPECT_TRUE(
      test::PumpUntil([&] { return unitLine->text().startsWith("Aurisond HF # 606 Ready   Firmware "); }, 10000))
      << unitLine->text().toStdString();
  EXPECT_TRUE(test::PumpUntil([&] { return panel.Status()->text() == "Connected"; }, 10000))
      << panel.Status()->text().toStdString();
  EXPECT_EQ(hylo.Groups().connection.commTcpPort, port);
  auto* indicator = window.findChild<QLabel*>("linkIndicator");
  ASSERT_NE(indicator, nullptr);
  EXPECT_TRUE(
      test::PumpUntil([&] { return indicator->palette().color(QPalette::Window) == QColor(0xBD, 0xBB, 0x8A); }, 10000))
      << "the link-in-use colour";
  if (const char* out = std::getenv("HYLO_SCREENSHOT")) panel.grab().save(out);

  panel.DisconnectButton()->click();
  EXPECT_TRUE(test::PumpUntil([&] { return unitLine->text() == "Not Connected"; }, 10000))
      << unitLine->text().toStdString();
  EXPECT_EQ(panel.Status()->text(), "Not Connected");
  EXPECT_TRUE(test::PumpUntil([&] { return indicator->palette().color(QPalette::Window).alpha() == 0; }, 10000));
  gui.notices.Close();
  hylo.MainExit();
}
