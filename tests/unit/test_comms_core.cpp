// CommsThread against a fake link: the test writes the instrument's bytes and drives ReadLink.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "link/HyloComms.h"
#include "shell/ScriptedOperator.h"
#include "test_link_support.h"

using namespace hylo;
using linktest::Bytes;
using linktest::Frame;
using namespace std::chrono_literals;

namespace {

struct Waiter {
  WaitSemaphore done{0};
  std::array<std::uint8_t, 8000> buffer{};
  std::int32_t length = 8000;
  bool Wait(std::chrono::milliseconds limit = 5s) { return done.try_acquire_for(limit); }
};

struct LinkComms : ::testing::Test, linktest::CommsRig {
  std::shared_ptr<linktest::FakeLink> fake = std::make_shared<linktest::FakeLink>();

  void SetUp() override {
    StartComms({}, [this] { comms->SetTransport(fake); });
    link.connectionType = LINK_ETHERNET;
    link.tcpTimeoutMs = 60000;  // waits end by replies or cancel, not by the clock
  }
  void TearDown() override {
    comms->CancelCommands();
    threads.StopWorkerThreads();
  }
  int Send(std::uint8_t letter, Waiter* w, int expected = 1, bool forward = false, Bytes payload = {}) {
    return comms->SendCommand(letter, static_cast<std::int16_t>(payload.size()), payload, w ? &w->done : nullptr,
                              w ? w->buffer.data() : nullptr, w ? &w->length : nullptr, expected, forward);
  }
  void Answer(const Bytes& bytes) {
    fake->Queue(bytes);
    comms->ReadLink();
  }
};

TEST_F(LinkComms, NoLinkRefusesWith12) {
  link.connectionType = LINK_NONE;
  Waiter w;
  EXPECT_EQ(Send('E', &w), 12);
  EXPECT_EQ(comms->SendCommand('D', 5, Bytes{1, 2}, nullptr, nullptr, nullptr, 0, false), 12);  // length beyond payload
}

TEST_F(LinkComms, CommandsAreWrittenOneAtATime) {
  Waiter first, second;
  ASSERT_EQ(Send('A', &first, 1, false, {0, 0, 0, 0}), 0);
  ASSERT_EQ(Send('C', &second, 1, false, {3, 0}), 0);
  ASSERT_TRUE(fake->WaitWrites(1));
  std::this_thread::sleep_for(100ms);  // several 10 ms passes: the second must still wait
  EXPECT_EQ(fake->Writes().size(), 1u);
  EXPECT_EQ(fake->Writes()[0], Frame('A', {0, 0, 0, 0}));
  Answer(Frame('A', {1, 2, 3, 4}));
  ASSERT_TRUE(first.Wait());
  EXPECT_EQ(first.length, 8);
  EXPECT_EQ(Bytes(first.buffer.begin(), first.buffer.begin() + 8), (Bytes{'*', 'A', 4, 0, 1, 2, 3, 4}));
  ASSERT_TRUE(fake->WaitWrites(2));
  EXPECT_EQ(fake->Writes()[1], Frame('C', {3, 0}));
  Answer(Frame('C', {9}));
  ASSERT_TRUE(second.Wait());
  EXPECT_EQ(second.length, 5);
}

TEST_F(LinkComms, CancelReleasesEveryWaiter) {
  std::array<Waiter, 3> waiters;
  for (auto& w : waiters) ASSERT_EQ(Send('R', &w), 0);
  ASSERT_TRUE(fake->WaitWrites(1));
  ASSERT_TRUE(comms->CancelCommands());
  for (auto& w : waiters) {
    EXPECT_TRUE(w.Wait());
    EXPECT_EQ(w.length, -1);
  }
}

TEST_F(LinkComms, FullPendingRingAnswersMinusOneAtOnce) {
  Waiter outstanding;
  ASSERT_EQ(Send('R', &outstanding), 0);
  ASSERT_TRUE(fake->WaitWrites(1));
  for (int i = 0; i < kPendingCapacity; ++i) ASSERT_EQ(Send('Y', nullptr, 0), 0);
  Waiter overflow;
  ASSERT_EQ(Send('C', &overflow), 0);  // queued to the thread, dropped there
  ASSERT_TRUE(overflow.Wait());
  EXPECT_EQ(overflow.length, -1);
  EXPECT_EQ(fake->Writes().size(), 1u);
  // The thread owns the outstanding waiter until it signals: release it before it goes.
  comms->CancelCommands();
  EXPECT_TRUE(outstanding.Wait());
  EXPECT_EQ(outstanding.length, -1);
}

TEST_F(LinkComms, ReplyThatDoesNotFitIsCountedNotStored) {
  Waiter w;
  w.length = 10;  // a 6-byte payload needs N + 6 = 12
  ASSERT_EQ(Send('C', &w), 0);
  ASSERT_TRUE(fake->WaitWrites(1));
  Answer(Frame('C', {1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(w.Wait());
  EXPECT_EQ(w.length, 0);
  EXPECT_EQ(w.buffer[10], 0);  // nothing beyond the stated capacity
  EXPECT_EQ(w.buffer[0], 0);
}

TEST_F(LinkComms, ClockAcrossThe32BitWrap) {
  clock.SetNow((std::uint64_t{1} << 32) - 30);
  link.tcpTimeoutMs = 2000;
  Waiter answered;
  ASSERT_EQ(Send('A', &answered, 1, false, {0, 0, 0, 0}), 0);
  ASSERT_TRUE(fake->WaitWrites(1));
  std::this_thread::sleep_for(60ms);  // past the 32-bit wrap before the reply
  Answer(Frame('A', {1, 0, 0, 0}));
  ASSERT_TRUE(answered.Wait());
  EXPECT_EQ(answered.length, 8);

  link.tcpTimeoutMs = 40;
  clock.SetNow((std::uint64_t{1} << 32) - 10);
  Waiter unanswered;
  ASSERT_EQ(Send('R', &unanswered), 0);
  ASSERT_TRUE(unanswered.Wait());
  EXPECT_EQ(unanswered.length, -1);
}

TEST_F(LinkComms, SendAndWaitReturnsAfterCancelOnly) {
  std::atomic<bool> cancel{false};
  std::array<std::uint8_t, 64> buffer{};
  std::atomic<int> result{0};
  std::thread caller([&] { result = comms->SendAndWait('E', {}, buffer, 1, false, &cancel); });
  ASSERT_TRUE(fake->WaitWrites(1));
  cancel = true;
  caller.join();
  EXPECT_EQ(result.load(), -1);
  // The command was released before the caller returned: a late reply is unsolicited now.
  Answer(Frame('E', {1, 2, 3}));
  ASSERT_TRUE(msgProc.WaitCount(1));
  EXPECT_EQ(buffer[0], 0);
}

}  // namespace
