// The hylo-sim binary over real loopback sockets and a pty.
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

#include <algorithm>

#include "../support/SimProcess.h"
#include "wire/Bytes.h"

using hylo::test::BuildFrame;
using hylo::test::ConnectTcp;
using hylo::test::FrameReader;
using hylo::test::RunningSim;
using hylo::test::SendAll;
using hylo::test::SimProcess;

namespace {

RunningSim Start(const std::vector<std::string>& extra) { return hylo::test::StartSimOnFreePorts(extra); }

std::uint32_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) { return (b.at(at) << 8) | b.at(at + 1); }
std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) { return (Be16(b, at) << 16) | Be16(b, at + 2); }

}  // namespace

TEST(SimProcess, IdentifiesAndIgnoresBadFrames) {
  auto r = Start({"--model", "hf", "--unit", "321", "--detail", "5"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto fd = ConnectTcp(r.port);
  ASSERT_TRUE(fd);
  FrameReader in(fd.get());

  // Bad CRC, a letter outside the range and a clock command cut short: none is answered.
  auto bad = BuildFrame('E');
  bad[4] ^= 0x01;
  std::vector<std::uint8_t> noise = bad;
  const std::vector<std::uint8_t> badLetter = {0x2A, 0x5F, 0x00, 0x00, 0x00, 0x00};
  noise.insert(noise.end(), badLetter.begin(), badLetter.end());
  const auto shortClock = BuildFrame('A', std::vector<std::uint8_t>{1, 2});
  noise.insert(noise.end(), shortClock.begin(), shortClock.end());
  ASSERT_TRUE(SendAll(fd.get(), noise));

  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
  auto e = in.Next();
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->letter, 'E');
  ASSERT_EQ(e->payload.size(), 69u);
  EXPECT_EQ(hylo::bytes::GetU16LE(e->payload, 0), 321);
  EXPECT_EQ(e->payload[28], 5);

  const std::vector<std::uint8_t> mask = {0x06, 0x00};
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('C', mask)));
  auto c = in.Next();
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->letter, 'C');
  EXPECT_EQ(c->payload.size(), 5u);

  // A WaveSetup comes back unchanged, followed by the gain notice.
  std::vector<std::uint8_t> wave(12, 0);
  hylo::bytes::PutU16LE(wave, 0, 14);
  hylo::bytes::PutU16LE(wave, 2, 18);
  hylo::bytes::PutU32LE(wave, 4, 48000);
  wave[10] = 0x02;
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('D', wave)));
  auto d = in.Next();
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->letter, 'D');
  EXPECT_EQ(d->payload, wave);
  auto g = in.Next();
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->letter, 'G');

  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, UdpWaveStreamCarriesDescriptionAndContinuousSamples) {
  auto r = Start({"--model", "af", "--tone", "1000:-10"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  hylo::test::Fd udp(socket(AF_INET, SOCK_DGRAM, 0));
  auto local = hylo::test::Loopback(0);
  ASSERT_EQ(bind(udp.get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  hylo::test::SetTimeout(udp.get(), 5000);
  auto to = hylo::test::Loopback(static_cast<std::uint16_t>(r.port + 1676));
  const std::uint8_t start[8] = {'3', '*', 0, 4, 0, 0, 0, 0};
  ASSERT_EQ(sendto(udp.get(), start, sizeof start, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 8);

  bool sawDescription = false;
  std::uint32_t rate = 0;
  std::uint64_t expectNext = 0;
  bool haveNext = false;
  int dataMessages = 0;
  for (int i = 0; i < 500 && dataMessages < 50; ++i) {
    std::vector<std::uint8_t> m(2000);
    const auto n = recv(udp.get(), m.data(), m.size(), 0);
    ASSERT_GT(n, 0) << "stream went silent";
    m.resize(static_cast<std::size_t>(n));
    ASSERT_GE(m.size(), 4u);
    ASSERT_EQ(m[1], '*');
    ASSERT_EQ(Be16(m, 2), m.size() - 4);
    if (m[0] == '2') {
      sawDescription = true;
      rate = Be32(m, 60);
      EXPECT_EQ(m[73], 1);
    } else if (m[0] == '1') {
      ASSERT_TRUE(sawDescription) << "data before its description";
      ++dataMessages;
      const std::uint64_t first = ((std::uint64_t{Be32(m, 12)} << 32) | Be32(m, 16)) + Be32(m, 24);
      const std::size_t count = Be16(m, 30);
      const int width = m[29] & 0x7F;
      EXPECT_EQ(m.size(), 32 + count * static_cast<std::size_t>(width));
      if (haveNext) {
        EXPECT_EQ(first, expectNext) << "gap in the running sample count";
      }
      expectNext = first + count;
      haveNext = true;
    }
  }
  EXPECT_TRUE(sawDescription);
  EXPECT_GT(rate, 0u);
  EXPECT_EQ(dataMessages, 50);
  const std::uint8_t stop[4] = {'4', '*', 0, 0};
  sendto(udp.get(), stop, sizeof stop, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, TcpFftStreamCarriesSpectra) {
  auto r = Start({"--model", "hf", "--tone", "20000:-6"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto fd = ConnectTcp(static_cast<std::uint16_t>(r.port + 1679));
  ASSERT_TRUE(fd);
  ASSERT_TRUE(SendAll(fd.get(), {'3', '*', 0, 4, 0, 0, 0, 0}));
  // Cut the byte stream into stream messages the way a receiver does.
  std::vector<std::uint8_t> buf;
  std::vector<std::vector<std::uint8_t>> msgs;
  for (int i = 0; i < 200 && msgs.size() < 4; ++i) {
    std::uint8_t tmp[4096];
    const auto n = read(fd.get(), tmp, sizeof tmp);
    ASSERT_GT(n, 0);
    buf.insert(buf.end(), tmp, tmp + n);
    while (buf.size() >= 4) {
      const std::size_t len = Be16(buf, 2);
      if (buf.size() < 4 + len) break;
      msgs.emplace_back(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(4 + len));
      buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(4 + len));
    }
  }
  ASSERT_GE(msgs.size(), 4u);
  EXPECT_EQ(msgs[0][0], '3');  // echo of the start request
  ASSERT_EQ(msgs[1][0], '2');
  ASSERT_EQ(msgs[1].size(), 100u);
  EXPECT_EQ(msgs[1][81], 4);
  const std::uint32_t rate = Be32(msgs[1], 60);
  ASSERT_EQ(msgs[2][0], '1');
  ASSERT_EQ(Be16(msgs[2], 30), 512u);
  const std::size_t toneBin = static_cast<std::size_t>(20000.0 * 1024 / rate + 0.5);
  const auto& bins = msgs[2];
  const auto peak = std::max_element(bins.begin() + 32, bins.end()) - (bins.begin() + 32);
  EXPECT_NEAR(static_cast<double>(peak), static_cast<double>(toneBin), 1.0);
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, RebootDropsTheLinkAndComesBack) {
  auto r = Start({"--model", "lf", "--reboot-delay", "0.5"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  {
    auto fd = ConnectTcp(r.port);
    ASSERT_TRUE(fd);
    ASSERT_TRUE(SendAll(fd.get(), BuildFrame('Y')));
    std::uint8_t b;
    EXPECT_LE(read(fd.get(), &b, 1), 0) << "link should drop on reboot";
  }
  hylo::test::Fd again;
  for (int i = 0; i < 100 && !again; ++i) {
    usleep(100000);
    again = ConnectTcp(r.port);
  }
  ASSERT_TRUE(again) << "instrument did not come back";
  ASSERT_TRUE(SendAll(again.get(), BuildFrame('E')));
  FrameReader in(again.get());
  auto e = in.Next();
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->payload.at(28), 2);
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, WithheldLetterIsNeverAnswered) {
  auto r = Start({"--withhold", "Z"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto fd = ConnectTcp(r.port);
  ASSERT_TRUE(fd);
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('Z')));
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
  FrameReader in(fd.get());
  auto f = in.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->letter, 'E');
  EXPECT_EQ(r.sim->Stop(), 0);
}

// Opens the simulator's pty like a serial port: raw, reads give up after 5 s.
hylo::test::Fd OpenPty(const std::string& path) {
  hylo::test::Fd fd(open(path.c_str(), O_RDWR | O_NOCTTY));
  if (!fd) return fd;
  termios t{};
  if (tcgetattr(fd.get(), &t) != 0) return hylo::test::Fd();
  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 50;
  if (tcsetattr(fd.get(), TCSANOW, &t) != 0) return hylo::test::Fd();
  return fd;
}

TEST(SimProcess, PtyLinkAndBaudChange) {
  SimProcess sim({"--pty", "--model", "lf", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  const std::string path = sim.PtyPath();
  auto fd = OpenPty(path);
  ASSERT_TRUE(fd) << path;
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
  FrameReader in(fd.get());
  auto e = in.Next();
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->letter, 'E');
  EXPECT_EQ(e->payload.at(28), 2);
  std::vector<std::uint8_t> baud(4);
  hylo::bytes::PutU32LE(baud, 0, 19200);
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('B', baud)));
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('B')));
  auto b = in.Next();
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->letter, 'B');
  EXPECT_EQ(hylo::bytes::GetU32LE(b->payload, 0), 19200u);
  termios t{};
  ASSERT_EQ(tcgetattr(fd.get(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(sim.Stop(), 0);
}

// On a pty, --close-link-after unplugs the unit: the host's open port hangs up, writes fail,
// and the device path is gone; the simulator itself keeps running until told to stop.
TEST(SimProcess, PtyCloseLinkAfterUnplugsTheUnit) {
  SimProcess sim({"--pty", "--model", "hf", "--close-link-after", "0.5", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  const std::string path = sim.PtyPath();
  auto fd = OpenPty(path);
  ASSERT_TRUE(fd) << path;
  // The link answers until it is pulled.
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
  FrameReader in(fd.get());
  auto e = in.Next();
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->payload.at(28), 5);

  pollfd p{fd.get(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1) << "the pty never hung up";
  EXPECT_NE(p.revents & POLLHUP, 0) << "revents " << p.revents;
  std::uint8_t byte = 0;
  EXPECT_LE(read(fd.get(), &byte, 1), 0);
  const auto probe = BuildFrame('E');
  EXPECT_LT(write(fd.get(), probe.data(), probe.size()), 0) << "a write to an unplugged unit must fail";
  EXPECT_NE(access(path.c_str(), F_OK), 0) << path << " is still there";
  EXPECT_EQ(sim.Stop(), 0);
}

// A unit on a serial line that reboots stays on the line but hears nothing for a while.
TEST(SimProcess, PtyRebootGoesQuietAndComesBack) {
  SimProcess sim({"--pty", "--model", "lf", "--reboot-delay", "3", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  auto fd = OpenPty(sim.PtyPath());
  ASSERT_TRUE(fd) << sim.PtyPath();
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('Y')));
  ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
  pollfd p{fd.get(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 1000), 0) << "a rebooting unit answered";
  FrameReader in(fd.get());
  std::optional<hylo::test::Frame> e;
  for (int i = 0; i < 40 && !e; ++i) {  // up to 20 s
    ASSERT_TRUE(SendAll(fd.get(), BuildFrame('E')));
    if (poll(&p, 1, 500) == 1) e = in.Next();
  }
  ASSERT_TRUE(e.has_value()) << "the unit did not come back";
  EXPECT_EQ(e->letter, 'E');
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, StatusChannelSendsRecords) {
  auto r = Start({"--model", "hf", "--firmware", "v2.2.1"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto fd = ConnectTcp(static_cast<std::uint16_t>(r.port + 1681));
  ASSERT_TRUE(fd);
  ASSERT_TRUE(SendAll(fd.get(), {'3', '*', 0, 4, 0, 0, 0xFF, 0xFF}));
  std::vector<std::uint8_t> buf;
  bool sawStatus = false;
  for (int i = 0; i < 100 && !sawStatus; ++i) {
    std::uint8_t tmp[2048];
    const auto n = read(fd.get(), tmp, sizeof tmp);
    ASSERT_GT(n, 0);
    buf.insert(buf.end(), tmp, tmp + n);
    while (buf.size() >= 4 && buf.size() >= 4 + Be16(buf, 2)) {
      const std::size_t len = Be16(buf, 2);
      if (buf[0] == '5') {
        sawStatus = true;
        EXPECT_EQ(buf[4], 'H');
        EXPECT_EQ(Be16(buf, 6), 4u);  // big-endian record lengths from 2.2.1
      }
      buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(4 + len));
    }
  }
  EXPECT_TRUE(sawStatus);
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, CloseLinkAfterDropsTheConnection) {
  auto r = Start({"--close-link-after", "0.3"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto fd = ConnectTcp(r.port);
  ASSERT_TRUE(fd);
  std::uint8_t b;
  EXPECT_EQ(read(fd.get(), &b, 1), 0) << "expected an orderly close";
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimProcess, SecondsEndsTheRunCleanly) {
  SimProcess sim({"--port", std::to_string(hylo::test::FreeCommandPort()), "--seconds", "0.5"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  EXPECT_EQ(sim.Wait(10000), 0);
}
