// The command link over a pty pair opened as a serial port, at 1250000 and at 19200 baud.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/HyloComms.h"
#include "link/HyloSerial.h"
#include "platform/Pty.h"
#include "shell/ScriptedOperator.h"
#include "support/RunTool.h"
#include "test_link_support.h"

using namespace hylo;
using linktest::Bytes;
using linktest::Frame;
using namespace std::chrono_literals;

namespace {

// Collects bytes from the master side until one whole frame is there.
bool ReadFrame(Pty& pty, Bytes& pending, Bytes& frame, std::chrono::milliseconds limit = 5s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (pending.size() >= 4) {
      const std::size_t total = 6u + (pending[2] | (pending[3] << 8));
      if (pending.size() >= total) {
        frame.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
        return true;
      }
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::array<std::uint8_t, 512> chunk{};
    const int n = pty.Read(chunk, 20);
    if (n < 0) return false;
    pending.insert(pending.end(), chunk.begin(), chunk.begin() + n);
  }
}

struct LinkSerial : ::testing::TestWithParam<int>, linktest::CommsRig {
  HyloSerial serial{link};
  Pty pty;
  std::thread peer;

  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << "no pty pair";
    LinkHooks hooks;
    hooks.wakeSerialReader = [this] { serial.WakeSerialReader(); };
    StartComms(hooks, [this] {
      serial.SetReadLink([this] { return comms->ReadLink(); });
      threads.SetSerialReaderTask([this] { serial.SerialReaderThread(); });
    });
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(comms->OpenSerial(pty.SlavePath(), GetParam())) << pty.SlavePath() << " at " << GetParam();
    EXPECT_EQ(link.serialTimeoutMs.load(), SerialTimeoutForBaud(GetParam()));
    // The line really runs at the asked rate: read back by the kernel's termios2 call from
    // Python, since stty here cannot show rates without a classic constant.
    const auto speed =
        test::RunTool(std::string(HYLO_PYTHON) + " -c \"import fcntl,os,struct;fd=os.open('" + pty.SlavePath() +
                      "',os.O_RDWR|os.O_NOCTTY);b=fcntl.ioctl(fd,0x802C542A,bytes(44));"
                      "print(struct.unpack_from('II',b,36))\"");
    EXPECT_EQ(speed.output, "(" + std::to_string(GetParam()) + ", " + std::to_string(GetParam()) + ")\n");
  }
  void TearDown() override {
    if (peer.joinable()) peer.join();
    if (!comms) return;
    serial.StopReaderAndClose([this] { comms->CloseLink(); });
    serial.StopSerialReader();
    threads.StopWorkerThreads();
  }
};

TEST_P(LinkSerial, UnsolicitedFrameReachesMsgProcWhenTheReaderRuns) {
  link.serialTimeoutMs = 3000;
  peer = std::thread([&] {
    Bytes pending, f;
    if (!ReadFrame(pty, pending, f)) return;
    pty.Write(Frame('G', {1}));  // before the answer: nothing outstanding has this letter
    pty.Write(Frame('E', {2, 2}));
  });
  std::array<std::uint8_t, 100> a{};
  EXPECT_EQ(comms->SendAndWait('E', {}, a, 1, false), 6);
  ASSERT_TRUE(msgProc.WaitCount(1));
  EXPECT_EQ(msgProc.Seen()[0].letter, 'G');
}

TEST_P(LinkSerial, WriteFailureDeclaresTheLinkLost) {
  pty.CloseMaster();
  std::array<std::uint8_t, 100> a{};
  EXPECT_EQ(comms->SendAndWait('E', {}, a, 1, false), -1);
  ASSERT_TRUE(op.WaitForNotices(1, 5000));
  EXPECT_EQ(op.Notices()[0], "Serial Comms lost. Please reconnect.");
  EXPECT_EQ(link.connectionType.load(), LINK_NONE);
}

TEST_P(LinkSerial, StopHandshakeThenTheLinkWorksAgain) {
  EXPECT_TRUE(serial.StopReaderAndClose([this] { comms->CloseLink(); }));
  EXPECT_FALSE(link.serialStop.load());
  EXPECT_FALSE(link.serialStopAck.load());
  EXPECT_TRUE(serial.Running());
  ASSERT_TRUE(comms->OpenSerial(pty.SlavePath(), GetParam()));
  link.serialTimeoutMs = 3000;
  peer = std::thread([&] {
    Bytes pending, f;
    if (ReadFrame(pty, pending, f)) pty.Write(Frame('A', {1, 2, 3, 4}));
  });
  std::array<std::uint8_t, 100> a{};
  EXPECT_EQ(comms->SendAndWait('A', Bytes{0, 0, 0, 0}, a, 1, false), 8);
}

INSTANTIATE_TEST_SUITE_P(Bauds, LinkSerial, ::testing::Values(1250000, 19200, 256000));

}  // namespace
