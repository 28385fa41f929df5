// Connection notices of the data channels, read with a decoder of the stream framing written
// here from the wire layout: type byte, "*", u16 big-endian payload length, payload; a notice is
// type "0" with a 4-byte big-endian code.
#include <gtest/gtest.h>

#include <optional>

#include "../support/SimProcess.h"

using namespace hylo::test;

namespace {

std::uint32_t Be32(const std::uint8_t* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

struct Message {
  char type = 0;
  std::vector<std::uint8_t> payload;
};

// Cuts a TCP byte stream into stream messages.
class MessageReader {
 public:
  explicit MessageReader(int fd) : fd_(fd) {}
  // The next message; nullopt on time-out, error or end of stream.
  std::optional<Message> Next() {
    for (int reads = 0; reads < 5000; ++reads) {
      if (buf_.size() >= 4) {
        if (buf_[1] != '*') return std::nullopt;  // the framing is broken: fail the test
        const std::size_t n = (std::size_t{buf_[2]} << 8) | buf_[3];
        if (buf_.size() >= 4 + n) {
          Message m{static_cast<char>(buf_[0]), {buf_.begin() + 4, buf_.begin() + 4 + static_cast<std::ptrdiff_t>(n)}};
          buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(4 + n));
          return m;
        }
      }
      std::uint8_t b[4096];
      const auto got = read(fd_, b, sizeof b);
      if (got == 0) ended_ = true;
      if (got <= 0) return std::nullopt;
      buf_.insert(buf_.end(), b, b + got);
    }
    return std::nullopt;
  }
  // Skips data until a notice arrives; its code, or nullopt when the stream ended first.
  std::optional<std::uint32_t> NextNotice() {
    while (auto m = Next()) {
      if (m->type != '0') continue;
      EXPECT_EQ(m->payload.size(), 4u) << "a notice carries one 4-byte code";
      if (m->payload.size() < 4) return std::nullopt;
      return Be32(m->payload.data());
    }
    return std::nullopt;
  }
  // True when the peer closes the connection with no further message.
  bool EndsWithoutMore() {
    const auto m = Next();
    return !m && ended_;
  }

 private:
  int fd_;
  std::vector<std::uint8_t> buf_;
  bool ended_ = false;
};

std::optional<std::uint32_t> NoticeCode(const std::vector<std::uint8_t>& datagram) {
  if (datagram.size() != 8 || datagram[0] != '0' || datagram[1] != '*' || datagram[2] != 0 || datagram[3] != 4)
    return std::nullopt;
  return Be32(datagram.data() + 4);
}

const std::vector<std::uint8_t> kStart = {'3', '*', 0, 4, 0, 0, 0, 0};
const std::vector<std::uint8_t> kStartStatus = {'3', '*', 0, 4, 0, 0, 0xFF, 0xFF};

std::uint16_t Port(const hylo::test::RunningSim& r, int offset) { return static_cast<std::uint16_t>(r.port + offset); }

// A TCP connection to `port` that asked for its stream; empty when either step failed.
Fd Started(std::uint16_t port, const std::vector<std::uint8_t>& request = kStart) {
  Fd fd = ConnectTcp(port);
  return fd && SendAll(fd.get(), request) ? std::move(fd) : Fd();
}

// A UDP socket on 127.0.0.1 that started the stream on `port`; reads time out after 5 s.
Fd StartUdpStream(std::uint16_t port) {
  Fd udp(socket(AF_INET, SOCK_DGRAM, 0));
  auto local = hylo::test::Loopback(0);
  if (bind(udp.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return Fd();
  hylo::test::SetTimeout(udp.get(), 5000);
  auto to = hylo::test::Loopback(port);
  if (sendto(udp.get(), kStart.data(), kStart.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) != 8) return Fd();
  return udp;
}

// Datagrams until a notice; its code, or nullopt when the stream went silent first.
std::optional<std::uint32_t> NextUdpNotice(int fd, int* dataMessages = nullptr) {
  for (int i = 0; i < 100000; ++i) {
    std::vector<std::uint8_t> m(2048);
    const auto n = recv(fd, m.data(), m.size(), 0);
    if (n <= 0) return std::nullopt;
    m.resize(static_cast<std::size_t>(n));
    if (auto code = NoticeCode(m)) return code;
    if (dataMessages && m[0] == '1') ++*dataMessages;
  }
  return std::nullopt;
}

}  // namespace

// Code 1: a channel serves four connections; a fifth is told there is no room and closed,
// while the four keep their streams.
TEST(SimNotice, FifthConnectionGetsNoFreeConnections) {
  auto r = hylo::test::StartSimOnFreePorts({"--model", "hf"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  const auto port = Port(r, 1678);  // waveform, TCP
  std::vector<Fd> four;
  for (int i = 0; i < 4; ++i) {
    four.push_back(Started(port));
    ASSERT_TRUE(four.back());
  }
  // The start echo of the fourth shows the simulator has taken all four.
  MessageReader fourth(four.back().get());
  EXPECT_EQ(fourth.Next().value_or(Message{}).type, '3');

  auto fifth = ConnectTcp(port);
  ASSERT_TRUE(fifth);
  MessageReader in(fifth.get());
  EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(1));
  EXPECT_TRUE(in.EndsWithoutMore()) << "the refused connection is closed after the notice";

  EXPECT_EQ(fourth.Next().value_or(Message{}).type, '2');
  EXPECT_EQ(r.sim->Stop(), 0);
}

// Code 2: a data connection that never asks for its stream is timed out and closed.
TEST(SimNotice, ConnectionWithoutStartRequestTimesOut) {
  auto r = hylo::test::StartSimOnFreePorts({"--model", "af", "--start-timeout", "0.3"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  for (const int offset : {1679, 1681}) {  // FFT and status channels
    auto fd = ConnectTcp(Port(r, offset));
    ASSERT_TRUE(fd);
    MessageReader in(fd.get());
    EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(2)) << "channel +" << offset;
    EXPECT_TRUE(in.EndsWithoutMore()) << "channel +" << offset;
  }
  // A connection that asks in time keeps its stream.
  auto fd = Started(Port(r, 1679));
  ASSERT_TRUE(fd);
  MessageReader in(fd.get());
  int spectra = 0;
  for (int i = 0; i < 200 && spectra < 20; ++i) {
    auto m = in.Next();
    ASSERT_TRUE(m.has_value()) << "stream ended after " << spectra << " spectra";
    ASSERT_NE(m->type, '0') << "notice to a started stream";
    if (m->type == '1') ++spectra;
  }
  EXPECT_EQ(spectra, 20);
  EXPECT_EQ(r.sim->Stop(), 0);
}

// Code 2 also ends a stream at the stream time limit; over UDP the peer gets the notice and
// then no more data.
TEST(SimNotice, StreamTimeLimitTimesTheStreamOut) {
  auto r = hylo::test::StartSimOnFreePorts({"--model", "hf", "--stream-limit", "0.5"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto udp = StartUdpStream(Port(r, 1677));  // FFT, UDP
  ASSERT_TRUE(udp);
  int data = 0;
  EXPECT_EQ(NextUdpNotice(udp.get(), &data), std::optional<std::uint32_t>(2));
  EXPECT_GT(data, 0) << "the stream ran before it timed out";
  hylo::test::SetTimeout(udp.get(), 500);
  std::uint8_t b[2048];
  EXPECT_LT(recv(udp.get(), b, sizeof b, 0), 0) << "data after the time-out notice";

  auto tcp = Started(Port(r, 1681), kStartStatus);  // status, TCP
  ASSERT_TRUE(tcp);
  MessageReader in(tcp.get());
  EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(2));
  EXPECT_TRUE(in.EndsWithoutMore());
  EXPECT_EQ(r.sim->Stop(), 0);
}

// Code 3: the instrument stops a running stream by itself (here after a set time), and on a
// reboot and at power-down every open connection is stopped.
TEST(SimNotice, InstrumentStopsItsConnections) {
  {
    auto r = hylo::test::StartSimOnFreePorts({"--model", "hf", "--stop-streams-after", "0.4"});
    ASSERT_TRUE(r.Ready()) << r.Line();
    auto fd = Started(Port(r, 1678));
    ASSERT_TRUE(fd);
    MessageReader in(fd.get());
    EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(3));
    EXPECT_TRUE(in.EndsWithoutMore());
    EXPECT_EQ(r.sim->Stop(), 0);
  }
  {
    auto r = hylo::test::StartSimOnFreePorts({"--model", "hf", "--reboot-delay", "0.5"});
    ASSERT_TRUE(r.Ready()) << r.Line();
    auto status = Started(Port(r, 1681), kStartStatus);
    ASSERT_TRUE(status);
    MessageReader in(status.get());
    ASSERT_EQ(in.Next().value_or(Message{}).type, '3');
    auto link = ConnectTcp(r.port);
    ASSERT_TRUE(link);
    ASSERT_TRUE(SendAll(link.get(), BuildFrame('Y')));
    EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(3)) << "reboot";
    EXPECT_TRUE(in.EndsWithoutMore());
    EXPECT_EQ(r.sim->Stop(), 0);
  }
  {
    auto r = hylo::test::StartSimOnFreePorts({"--model", "af"});
    ASSERT_TRUE(r.Ready()) << r.Line();
    auto udp = StartUdpStream(Port(r, 1677));
    ASSERT_TRUE(udp);
    std::uint8_t b[2048];
    ASSERT_GT(recv(udp.get(), b, sizeof b, 0), 0) << "no stream";
    auto tcp = Started(Port(r, 1678));
    ASSERT_TRUE(tcp);
    MessageReader in(tcp.get());
    ASSERT_TRUE(in.Next().has_value());
    EXPECT_EQ(r.sim->Stop(), 0);  // SIGTERM: the instrument powers down
    EXPECT_EQ(in.NextNotice(), std::optional<std::uint32_t>(3)) << "power-down, TCP";
    EXPECT_TRUE(in.EndsWithoutMore());
    EXPECT_EQ(NextUdpNotice(udp.get()), std::optional<std::uint32_t>(3)) << "power-down, UDP";
  }
}
