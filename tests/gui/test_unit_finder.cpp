// The unit-finder panel offscreen: the manual view of a found unit, refused keys, the gateway
// pre-fill, and Accept sending the set command (to a loopback socket, never broadcast).
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "ConnectionPanel.h"
#include "link/HyloUnitFinder.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(UnitFinderGui, ManualViewEditsAndAccepts) {
  test::LoopbackUdp peer;  // where the set command goes
  ASSERT_NE(peer.port, 0);
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  HyloUnitFinder& finder = hylo.Link().Finder();
  finder.SetPing([](const std::string&, int) { return false; });
  finder.SetInterfaces([] { return std::vector<std::string>{"127.0.0.1"}; });
  finder.SetDestination("127.0.0.1", peer.port);
  ASSERT_EQ(finder.OpenDiscoveryChannels(), 0);
  app::ConnectionPanel panel(hylo);
  panel.show();
  hylo.RecordUiThread();

  FoundUnit unit;
  unit.modelCode = 7;
  unit.unitNumber = 812;
  unit.macAddress = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  unit.addressMode = 2;
  unit.ipAddress = 0xAC100509;
  unit.subnetMask = 0xFFFF0000;
  finder.ManualReconfigure(unit);
  app::UnitFinderPanel* view = panel.Finder();
  ASSERT_TRUE(test::PumpUntil([&] { return view->isVisible(); }, 5000));
  EXPECT_EQ(view->Mac()->text(), "00:1A:2B:3C:4D:5E");
  EXPECT_FALSE(view->Octet("gw", 0)->isEnabled()) << "no gateway: its fields are off";

  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(view->Octet("ip", 1), &letter);
  EXPECT_EQ(view->Octet("ip", 1)->text(), "16") << "letters are refused";

  // Typed as the operator would: each field's edit goes through the field check.
  const char* typed[][2] = {{"ip0", "192"}, {"ip1", "168"},   {"ip2", "1"},
                            {"ip3", "20"},  {"mask2", "255"}, {"mask3", "0"}};
  for (const auto& [id, text] : typed) {
    auto* field = view->findChild<QLineEdit*>(id);
    field->setText(text);
    emit field->textEdited(text);
  }
  view->DisableGateway()->click();  // the gateway on: filled from the address
  ASSERT_TRUE(test::PumpUntil([&] { return view->Octet("gw", 3)->text() == "1"; }, 5000));
  EXPECT_EQ(view->Octet("gw", 0)->text(), "192");

  view->AcceptButton()->click();
  const auto set = peer.Receive(3000);
  ASSERT_EQ(set.size(), 30U);
  EXPECT_EQ(set[1], 'X');
  EXPECT_EQ(set[4], 7) << "model from the label";
  const std::uint8_t address[4] = {20, 1, 168, 192};
  EXPECT_TRUE(std::equal(address, address + 4, set.begin() + 16));
  EXPECT_TRUE(test::PumpUntil([&] { return !view->isVisible(); }, 5000));
  hylo.MainExit();
}
