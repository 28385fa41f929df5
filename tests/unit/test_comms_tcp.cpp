// The command link over a real loopback TCP peer on 127.0.0.1 (ephemeral port).
#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <thread>

#include "link/HyloComms.h"
#include "platform/TcpLink.h"
#include "shell/ScriptedOperator.h"
#include "test_link_support.h"

using namespace hylo;
using namespace std::chrono_literals;

namespace {

// Accepts one connection, or gives up after `limit` so a missing reconnect fails the test
// instead of hanging it.
bool AcceptWithin(asio::ip::tcp::acceptor& acceptor, asio::ip::tcp::socket& s, std::chrono::milliseconds limit = 5s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  acceptor.non_blocking(true);
  while (std::chrono::steady_clock::now() < until) {
    asio::error_code ec;
    acceptor.accept(s, ec);
    if (!ec) return true;
    if (ec != asio::error::would_block && ec != asio::error::try_again) return false;
    std::this_thread::sleep_for(2ms);
  }
  return false;
}

struct LinkTcp : ::testing::Test, linktest::CommsRig {
  asio::io_context peerContext;
  asio::ip::tcp::acceptor acceptor{peerContext, {asio::ip::make_address("127.0.0.1"), 0}};
  std::mutex logLock;
  std::vector<std::string> log;
  std::unique_ptr<TcpEventLoop> loop = std::make_unique<TcpEventLoop>();
  std::thread peer;

  void SetUp() override {
    LinkHooks hooks;
    hooks.statusLog = [this](std::string_view line) {
      std::lock_guard guard(logLock);
      log.emplace_back(line);
    };
    StartComms(hooks);
  }
  void TearDown() override {
    if (peer.joinable()) peer.join();
    comms->CloseLink();
    loop.reset();
    threads.StopWorkerThreads();
  }
  int Port() const { return acceptor.local_endpoint().port(); }
  bool Open() { return comms->OpenTcp(*loop, "127.0.0.1", Port(), 2000); }
  std::vector<std::string> Log() {
    std::lock_guard guard(logLock);
    return log;
  }
};

TEST_F(LinkTcp, PeerGoneForGoodIsReportedLost) {
  peer = std::thread([&] {
    asio::ip::tcp::socket s(peerContext);
    if (!AcceptWithin(acceptor, s)) return;
    acceptor.close();  // the reconnection attempts find nobody
    s.close();
  });
  ASSERT_TRUE(Open());
  ASSERT_TRUE(op.WaitForNotices(1, 5000));
  EXPECT_EQ(op.Notices()[0], "Ethernet connection lost.\nPlease check your connection and connect again.");
  EXPECT_EQ(link.connectionType.load(), LINK_NONE);
  const auto lines = Log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Ethernet disconnected");
}

// A peer that keeps hanging up is reconnected at most once a second, then reported lost.
TEST_F(LinkTcp, RepeatedDropsWithinASecondAreReportedLost) {
  std::atomic<bool> done{false};
  peer = std::thread([&] {
    const auto until = std::chrono::steady_clock::now() + 4s;
    while (!done && std::chrono::steady_clock::now() < until) {
      asio::ip::tcp::socket s(peerContext);
      if (AcceptWithin(acceptor, s, 100ms)) s.close();
    }
  });
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Open());
  const bool lost = op.WaitForNotices(1, 4000);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  done = true;
  ASSERT_TRUE(lost);
  EXPECT_EQ(link.connectionType.load(), LINK_NONE);
  const auto lines = Log();
  const auto reconnects = std::count(lines.begin(), lines.end(), std::string("Ethernet reconnected"));
  EXPECT_GE(reconnects, 1);
  EXPECT_LE(reconnects, seconds.count() + 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Ethernet disconnected");
}

}  // namespace
