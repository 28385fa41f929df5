#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/HyloThreadControl.h"
#include "core/Post.h"
#include "link/MainWorkThread.h"

using namespace hylo;
using namespace std::chrono_literals;

namespace {

// A worker that can be held inside Handle, and counts what it saw.
class GateWorker final : public Worker {
 public:
  bool Handle(MessageNode& node) override {
    std::unique_lock guard(mutex_);
    seen_.push_back(node.type);
    changed_.notify_all();
    changed_.wait(guard, [&] { return open_; });
    return false;
  }
  void Close() { Set(false); }
  void Open() { Set(true); }
  bool WaitSeen(std::size_t count) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, 5s, [&] { return seen_.size() >= count; });
  }
  std::vector<int> Seen() {
    std::lock_guard guard(mutex_);
    return seen_;
  }

 private:
  void Set(bool open) {
    std::lock_guard guard(mutex_);
    open_ = open;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> seen_;
  bool open_ = true;
};

struct Threads : ::testing::Test {
  HyloNodes nodes;
  HyloThreadControl threads{nodes};
  GateWorker gate;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
    threads.SetWorker(WAVE_THREAD, &gate);
    ASSERT_EQ(threads.StartWorkerThreads(), 0);
  }
  void TearDown() override {
    gate.Open();
    threads.SetScanPaused(false);
    threads.StopWorkerThreads();
    nodes.CloseNodePool();
    threads.DrainQueues();
    EXPECT_EQ(nodes.FreeCount(), kNodeCount) << "shutdown must return every node";
    EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount) << "and every sample buffer";
  }
  MessageNode* Node(std::int32_t type) {
    MessageNode* n = nodes.AllocNode(type, 1);
    EXPECT_NE(n, nullptr);
    return n;
  }
};

}  // namespace

// Refused, abandoned or without a node, a post leaves nothing out of the pools.
TEST_F(Threads, PostGivesTheNodeAndItsSampleBufferBackUnlessQueued) {
  threads.SetScanStopped(true);
  EXPECT_FALSE(Post(threads, WAVE_THREAD, MSG_WAVEFORM, [&](MessageNode& node) {
    WaveformSampleBuffer(node) = nodes.AcquireSampleBuffer();
    return WaveformSampleBuffer(node) != nullptr;
  }));
  EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount);
  EXPECT_FALSE(Post(threads, WAVE_THREAD, MSG_TEXT, [](MessageNode&) { return false; }));
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);

  std::vector<MessageNode*> held;
  while (MessageNode* n = nodes.AllocNode(MSG_TEXT, 1)) held.push_back(n);
  bool filled = false;
  EXPECT_FALSE(Post(threads, WAVE_THREAD, MSG_TEXT, [&](MessageNode&) { filled = true; }));
  EXPECT_FALSE(filled);
  for (MessageNode* n : held) nodes.FreeNode(n);

  EXPECT_TRUE(Post(threads, WAVE_THREAD, MSG_SET_PERIOD, std::int32_t{250}));
  ASSERT_TRUE(gate.WaitSeen(1));
  EXPECT_EQ(gate.Seen().front(), MSG_SET_PERIOD);
}

// A barrier passes only after what was queued before it; a worker held past the time-out
// makes it give up, and the late barrier touches nothing of the caller's.
TEST_F(Threads, BarrierWaitsForWhatWasQueuedBeforeIt) {
  gate.Close();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Post(threads, WAVE_THREAD, MSG_TEXT));
  EXPECT_FALSE(threads.Barrier(WAVE_THREAD, 100ms)) << "the worker is held in its first message";
  ASSERT_TRUE(Post(threads, WAVE_THREAD, MSG_REFRESH));
  gate.Open();
  EXPECT_TRUE(threads.Barrier(WAVE_THREAD, 5s));
  EXPECT_EQ(gate.Seen().size(), 4U) << "every earlier message was handled first, also those after a barrier given up";
}

TEST_F(Threads, PausedDataRecordIsHeldByThePosterNotQueuedNorDropped) {
  threads.SetScanPaused(true);
  MessageNode* record = Node(MSG_WAVEFORM);
  auto post = std::async(std::launch::async, [&] { return threads.PostNode(WAVE_THREAD, record); });
  EXPECT_EQ(post.wait_for(400ms), std::future_status::timeout) << "poster must wait while paused";
  EXPECT_TRUE(gate.Seen().empty());
  EXPECT_EQ(nodes.FreeCount(), kNodeCount - 1) << "the held record was not dropped";
  threads.SetScanPaused(false);
  EXPECT_EQ(post.get(), 1);
  EXPECT_TRUE(gate.WaitSeen(1));
  EXPECT_EQ(gate.Seen().front(), MSG_WAVEFORM);
}

TEST_F(Threads, QueuedRecordIsDroppedByTheReceiverWhenScanningStops) {
  gate.Close();
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_TEXT)), 1);
  ASSERT_TRUE(gate.WaitSeen(1));  // worker is held; what follows stays queued
  MessageNode* record = Node(MSG_WAVEFORM);
  WaveformSampleBuffer(*record) = nodes.AcquireSampleBuffer();
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, record), 1);
  threads.SetScanStopped(true);
  gate.Open();
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_TEXT)), 1);
  ASSERT_TRUE(gate.WaitSeen(2));
  const auto seen = gate.Seen();
  EXPECT_EQ(seen, (std::vector<int>{MSG_TEXT, MSG_TEXT})) << "the stopped record must not be delivered";
  EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount) << "its buffer went back";
  threads.SetScanStopped(false);
}

TEST_F(Threads, QuitEndsTheWorkerAndLeavesLaterMessagesForTheDrain) {
  gate.Close();
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_TEXT)), 1);
  ASSERT_TRUE(gate.WaitSeen(1));
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_QUIT)), 1);
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_REFRESH)), 1);
  ASSERT_EQ(threads.PostNode(WAVE_THREAD, Node(MSG_REFRESH)), 1);
  gate.Open();
  // The worker frees the first node and the quit node, then ends: two stay queued.
  for (int i = 0; i < 100 && nodes.FreeCount() != kNodeCount - 2; ++i) std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(threads.QueueSize(WAVE_THREAD), 2U);
  EXPECT_EQ(nodes.FreeCount(), kNodeCount - 2);
  EXPECT_EQ(gate.Seen().size(), 1U) << "nothing behind the quit message was handled";
  threads.StopWorkerThreads();
  nodes.CloseNodePool();
  EXPECT_EQ(nodes.FreeCount(), kNodeCount - 3) << "two left behind plus the stop's own quit";
  threads.DrainQueues();
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
}

TEST_F(Threads, StopWaitsForANodeWhenThePoolIsExhausted) {
  std::vector<MessageNode*> all;
  while (MessageNode* n = nodes.AllocNode(MSG_TEXT, 1)) all.push_back(n);
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    threads.StopWorkerThreads();
    stopped = true;
  });
  std::this_thread::sleep_for(350ms);
  EXPECT_FALSE(stopped.load()) << "no worker may be skipped for want of a quit node";
  for (auto* n : all) nodes.FreeNode(n);
  stopper.join();
  EXPECT_TRUE(stopped.load());
  EXPECT_FALSE(threads.Started());
}

TEST(NodeQueue, FullQueueBlocksTheWriterInsteadOfDropping) {
  NodeQueue queue;
  std::vector<MessageNode> fake(1);
  for (std::size_t i = 0; i < NodeQueue::kCapacity; ++i) ASSERT_EQ(queue.Write(&fake[0]), 1);
  auto extra = std::async(std::launch::async, [&] { return queue.Write(&fake[0]); });
  EXPECT_EQ(extra.wait_for(300ms), std::future_status::timeout);
  MessageNode* got = nullptr;
  EXPECT_EQ(queue.Read(got, 0), 1);
  EXPECT_EQ(extra.get(), 1);
  EXPECT_EQ(queue.Size(), NodeQueue::kCapacity);
  EXPECT_EQ(queue.Read(got, 0), 1);
}

TEST(MainWorkThreadEnquiry, StartsWithStreamOnlyEnquiriesThenSendsTheFullMask) {
  MainWorkThread work;
  std::vector<std::uint16_t> sent;
  int counted = 0;
  int waveTransport = 3;
  work.SetPort({[] { return 0; }, [&] { return waveTransport; }, [&] { ++counted; },
                [&](std::uint16_t mask) {
                  sent.push_back(mask);
                  return 0;
                }});
  work.OnTimeout();
  EXPECT_TRUE(sent.empty()) << "no enquiry before a period is set";

  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  MessageNode* period = nodes.AllocNode(MSG_SET_PERIOD, 1);
  period->As<std::int32_t>() = 100;
  work.Handle(*period);
  EXPECT_EQ(work.ReceiveTimeoutMs(), 100);
  EXPECT_EQ(sent, (std::vector<std::uint16_t>{0x2028, 0x2028, 0x2028}));

  sent.clear();
  work.SetExtendedStatusWanted(true);
  work.OnTimeout();
  EXPECT_EQ(sent, (std::vector<std::uint16_t>{0x2028 | 0x04 | 0x02 | 0x108}));

  // Fast waveform over the command link: eight enquiries a period.
  period->As<std::int32_t>() = 5;
  work.Handle(*period);
  sent.clear();
  work.OnTimeout();
  EXPECT_EQ(sent.size(), 8U);
  EXPECT_EQ(counted, 3 + 1 + 8);

  period->As<std::int32_t>() = -1;
  work.Handle(*period);
  sent.clear();
  work.OnTimeout();
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(work.ReceiveTimeoutMs(), -1);
  nodes.FreeNode(period);
}

#ifdef NDEBUG
TEST(ThreadControlMisuse, PostAfterShutdownFailsAndLeavesTheNodeWithTheCaller) {
  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  HyloThreadControl threads(nodes);
  ASSERT_EQ(threads.StartWorkerThreads(), 0);
  MessageNode* late = nodes.AllocNode(MSG_TEXT, 1);
  threads.StopWorkerThreads();
  threads.DrainQueues();
  EXPECT_LT(threads.PostNode(UI_UPDATE_THREAD, late), 0);
  EXPECT_EQ(nodes.FreeCount(), kNodeCount - 1);
  nodes.FreeNode(late);
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
}
#endif

namespace {
// Passes each record on to TRIGGER_THREAD; there a second one notes the order they came in.
struct ForwardWorker final : Worker {
  HyloThreadControl* threads = nullptr;
  bool Handle(MessageNode& node) override { return threads->PostNode(TRIGGER_THREAD, &node) == 1; }
};
struct OrderWorker final : Worker {
  std::mutex mutex;
  std::vector<std::uint64_t> order;
  bool Handle(MessageNode& node) override {
    std::lock_guard guard(mutex);
    order.push_back(node.As<std::uint64_t>());
    return false;
  }
};
}  // namespace

// Records a worker passes on while it handles a batch travel on together: in order across
// the held-back limit, all of them passed on before a barrier behind them returns, and none
// left out of the pool by a stop that meets them in flight.
TEST(ThreadBatches, RecordsPassedOnInOrderBeforeABarrierAndNoneLostAtAStop) {
  for (const bool stopInFlight : {false, true}) {
    HyloNodes nodes;
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    HyloThreadControl threads{nodes};
    ForwardWorker forward;
    forward.threads = &threads;
    OrderWorker order;
    threads.SetWorker(WAVE_THREAD, &forward);
    threads.SetWorker(TRIGGER_THREAD, &order);
    ASSERT_EQ(threads.StartWorkerThreads(), 0);
    constexpr std::uint64_t kRecords = 300;  // several times what a worker holds back
    for (std::uint64_t i = 0; i < kRecords; ++i)
      ASSERT_TRUE(Post(threads, WAVE_THREAD, MSG_SPECTRUM, [i](MessageNode& n) { n.As<std::uint64_t>() = i; }));
    if (!stopInFlight) {
      ASSERT_TRUE(threads.Barrier(WAVE_THREAD, 5s));
      ASSERT_TRUE(threads.Barrier(TRIGGER_THREAD, 5s));
      std::vector<std::uint64_t> expected(kRecords);
      for (std::uint64_t i = 0; i < kRecords; ++i) expected[i] = i;
      std::lock_guard guard(order.mutex);
      EXPECT_EQ(order.order, expected);
    }
    threads.StopWorkerThreads();
    nodes.CloseNodePool();
    threads.DrainQueues();
    EXPECT_EQ(nodes.FreeCount(), kNodeCount) << (stopInFlight ? "stopped in flight" : "drained");
  }
}
