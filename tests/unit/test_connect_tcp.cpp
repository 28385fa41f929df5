// Connection management over the real command link to a loopback peer that plays a unit.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <thread>

#include "link/CommsCommandLink.h"
#include "link/HyloConnect.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "test_link_support.h"

using namespace hylo;
using linktest::Bytes;
using linktest::Frame;
using namespace std::chrono_literals;

TEST(ConnectOverTcp, IdentifiesAUnitAndDisconnects) {
  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  HyloThreadControl threads{nodes};
  ScriptedOperator op;
  LinkState state;
  LinkClock clock;
  HyloParser parser{threads};
  auto comms = std::make_unique<HyloComms>(threads, op, state, parser, clock);
  HyloSerial serial{state};
  TcpEventLoop loop;
  CommsCommandLink link(*comms, serial, state, loop);
  HyloIni ini;
  ConnectionSettings settings;
  PanelModel panel{"connection"}, main{"main"};
  HyloConnect connect(ini, op, settings, link, panel, main);
  linktest::CaptureWorker msgProc;
  threads.SetWorker(COMMS_THREAD, comms.get());
  threads.SetWorker(MSG_PROC_THREAD, &msgProc);
  ASSERT_EQ(threads.StartWorkerThreads(), 0);
  parser.InitReplyParser();
  connect.InitConnection();

  // The unit: answers one identify ("E", no payload) with a level-3 HF reply.
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io, {asio::ip::make_address("127.0.0.1"), 0}};
  const int port = acceptor.local_endpoint().port();
  std::thread unit([&] {
    asio::ip::tcp::socket s(io);
    acceptor.accept(s);
    Bytes request(6);
    asio::error_code ec;
    asio::read(s, asio::buffer(request), ec);
    if (ec || request != Bytes{0x2A, 0x45, 0x00, 0x00, 0x19, 0xCD}) return;
    Bytes payload(43, 0);
    payload[0] = 0x39;
    payload[1] = 0x30;  // 12345
    const char fw[] = "v2.1.0";
    std::copy(fw, fw + 6, payload.begin() + 2);
    payload[28] = 5;
    payload[32] = 3;
    payload[42] = 3;
    asio::write(s, asio::buffer(Frame('E', payload)), ec);
    std::this_thread::sleep_for(300ms);
  });

  ConnectRequest request;
  request.op = 1;
  std::strcpy(request.address, "127.0.0.1");
  request.port = static_cast<std::uint16_t>(port);
  request.timeoutMs = 500;
  EXPECT_EQ(connect.HandleConnectRequest(request), 0);
  EXPECT_EQ(connect.ConnectionType(), LINK_ETHERNET);
  EXPECT_EQ(connect.PortBase(), port - 50000);
  ASSERT_TRUE(msgProc.WaitCount(1)) << "the identify reply is forwarded to the reply handlers";
  const auto seen = msgProc.Seen();
  connect.OnVersionReply(seen[0].payload);
  EXPECT_EQ(main.Text(mainpanel::kUnitLine), "Aurisond HF # 12345 Ready   Firmware v2.1.0");
  EXPECT_EQ(connect.Identity().interfaceCode, 3);
  unit.join();
  connect.Disconnect();
  EXPECT_EQ(connect.ConnectionType(), LINK_NONE);
  EXPECT_EQ(main.Text(mainpanel::kUnitLine), "Not Connected");
  threads.StopWorkerThreads();
}
