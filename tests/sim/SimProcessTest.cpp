// The hylo-sim binary over real loopback sockets and a pty.
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

#include "../support/SimProcess.h"

using namespace hylo::test;

TEST(SimProcess, RebootDropsTheLinkAndComesBack) {
  auto r = StartSimOnFreePorts({"--model", "lf", "--reboot-delay", "0.5"});
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

TEST(SimProcess, SecondsEndsTheRunCleanly) {
  SimProcess sim({"--port", std::to_string(hylo::test::FreeCommandPort()), "--seconds", "0.5"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  EXPECT_EQ(sim.Wait(10000), 0);
}
