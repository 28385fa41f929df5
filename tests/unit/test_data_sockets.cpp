#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/DataSockets.h"

using namespace std::chrono_literals;

namespace {
// A UDP socket on loopback standing in for the instrument's stream port.
struct LoopbackUnit {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in self{};
  sockaddr_in client{};
  LoopbackUnit() {
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof self;
    ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &n);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~LoopbackUnit() { ::close(fd); }
  int Port() const { return ntohs(self.sin_port); }
  std::vector<std::uint8_t> Receive() {
    std::vector<std::uint8_t> in(2048);
    socklen_t n = sizeof client;
    const ssize_t got = ::recvfrom(fd, in.data(), in.size(), 0, reinterpret_cast<sockaddr*>(&client), &n);
    in.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return in;
  }
  void Send(std::uint32_t sequence) {
    std::uint8_t out[1000] = {};
    std::memcpy(out, &sequence, sizeof sequence);
    ::sendto(fd, out, sizeof out, 0, reinterpret_cast<sockaddr*>(&client), sizeof client);
  }
};
}  // namespace

// A burst of datagrams reaches the callback whole and in order, several to a call (at most
// 32), and the stop request still goes out on the same channel.
TEST(DataSockets, UdpBurstArrivesInOrderInFewCalls) {
  LoopbackUnit unit;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint32_t> seen;
  std::size_t calls = 0, largest = 0;
  hylo::platform::DataSockets sockets;
  const std::uint8_t start[] = {1, 2, 3};
  const int handle = sockets.OpenUdp("127.0.0.1", unit.Port(), start, [&](hylo::platform::DataSockets::Reads reads) {
    std::lock_guard guard(mutex);
    ++calls;
    largest = std::max(largest, reads.size());
    for (const auto read : reads) {
      std::uint32_t sequence = 0;
      if (read.size() == 1000) std::memcpy(&sequence, read.data(), sizeof sequence);
      seen.push_back(read.size() == 1000 ? sequence : 0xFFFFFFFF);
    }
    changed.notify_all();
  });
  ASSERT_GT(handle, 0);
  ASSERT_EQ(unit.Receive(), (std::vector<std::uint8_t>{1, 2, 3})) << "the start request";
  constexpr std::uint32_t kBurst = 100;
  for (std::uint32_t i = 0; i < kBurst; ++i) unit.Send(i);
  {
    std::unique_lock guard(mutex);
    ASSERT_TRUE(changed.wait_for(guard, 5s, [&] { return seen.size() >= kBurst; }));
    std::vector<std::uint32_t> expected(kBurst);
    for (std::uint32_t i = 0; i < kBurst; ++i) expected[i] = i;
    EXPECT_EQ(seen, expected);
    EXPECT_LT(calls, kBurst) << "reads waiting together are handed on together";
    EXPECT_LE(largest, 32U);
  }
  const std::uint8_t stop[] = {9};
  EXPECT_TRUE(sockets.Send(handle, stop));
  EXPECT_EQ(unit.Receive(), (std::vector<std::uint8_t>{9}));
  sockets.Close(handle);
  EXPECT_FALSE(sockets.Send(handle, stop)) << "closed";
}
