// The unit-finder panel offscreen: the manual view of a found unit, refused keys, the gateway
// pre-fill, and Accept sending the set command (to a loopback socket, never broadcast).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QKeyEvent>

#include "ConnectionPanel.h"
#include "link/HyloUnitFinder.h"
#include "support/GuiContext.h"

using namespace hylo;

TEST(UnitFinderGui, ManualViewEditsAndAccepts) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);

  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  HyloUnitFinder& finder = hylo.Link().Finder();
  finder.SetPing([](const std::string&, int) { return false; });
  finder.SetInterfaces([] { return std::vector<std::string>{"127.0.0.1"}; });
  finder.SetDestination("127.0.0.1", ntohs(a.sin_port));
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
  EXPECT_EQ(view->Octet("ip", 0)->text(), "172");
  EXPECT_FALSE(view->Octet("gw", 0)->isEnabled()) << "no gateway: its fields are off";

  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(view->Octet("ip", 1), &letter);
  EXPECT_EQ(view->Octet("ip", 1)->text(), "16") << "letters are refused";

  view->Octet("ip", 0)->setText("192");
  emit view->Octet("ip", 0)->textEdited("192");
  view->Octet("ip", 1)->setText("168");
  emit view->Octet("ip", 1)->textEdited("168");
  for (int i = 2; i < 4; ++i) {
    const QString text = i == 2 ? "1" : "20";
    view->Octet("ip", i)->setText(text);
    emit view->Octet("ip", i)->textEdited(text);
    view->Octet("mask", i)->setText(i == 2 ? "255" : "0");
    emit view->Octet("mask", i)->textEdited(view->Octet("mask", i)->text());
  }
  view->DisableGateway()->click();  // the gateway on: filled from the address
  ASSERT_TRUE(test::PumpUntil([&] { return view->Octet("gw", 3)->text() == "1"; }, 5000));
  EXPECT_EQ(view->Octet("gw", 0)->text(), "192");
  EXPECT_EQ(view->Octet("gw", 2)->text(), "1");
  EXPECT_TRUE(view->Octet("gw", 0)->isEnabled());

  view->AcceptButton()->click();
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  std::uint8_t set[64];
  ASSERT_EQ(::recv(fd, set, sizeof set, 0), 30);
  EXPECT_EQ(set[1], 'X');
  EXPECT_EQ(set[4], 7) << "model from the label";
  const std::uint8_t address[4] = {20, 1, 168, 192};
  EXPECT_TRUE(std::equal(address, address + 4, set + 16));
  EXPECT_TRUE(test::PumpUntil([&] { return !view->isVisible(); }, 5000));
  ::close(fd);
  hylo.MainExit();
}
