#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "core/HyloNodes.h"
#include "platform/PageRelease.h"

using namespace hylo;
using namespace std::chrono_literals;

namespace {
struct Pools : ::testing::Test {
  HyloNodes nodes;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
  }
  std::vector<MessageNode*> Take(int count) {
    std::vector<MessageNode*> taken;
    for (int i = 0; i < count; ++i) {
      MessageNode* n = nodes.AllocNode(MSG_TEXT, 1);
      EXPECT_NE(n, nullptr);
      taken.push_back(n);
    }
    return taken;
  }
  void Give(std::vector<MessageNode*>& taken) {
    for (auto* n : taken) nodes.FreeNode(n);
    taken.clear();
  }
};
}  // namespace

TEST_F(Pools, ReserveKeepsNodesForLiveTraffic) {
  auto taken = Take(kNodeCount - 99);  // 99 left: one short of a reserve of 100
  EXPECT_EQ(nodes.FreeCount(), 99);
  EXPECT_EQ(nodes.AllocNode(MSG_WAVEFORM, 100), nullptr);
  MessageNode* live = nodes.AllocNode(MSG_REPLY_FRAME, 1);
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live->type, MSG_REPLY_FRAME);
  taken.push_back(live);
  Give(taken);
  EXPECT_NE(nodes.AllocNode(MSG_WAVEFORM, 100), nullptr);
}

TEST_F(Pools, ClosedPoolNeverAllocates) {
  nodes.CloseNodePool();
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
  EXPECT_EQ(nodes.AllocNode(MSG_TEXT, 1), nullptr);
  EXPECT_EQ(nodes.AllocNode(MSG_QUIT, 0), nullptr);
}

#ifdef NDEBUG
TEST_F(Pools, SecondFreeOfANodeIsRefused) {
  MessageNode* n = nodes.AllocNode(MSG_TEXT, 1);
  nodes.FreeNode(n);
  nodes.FreeNode(n);  // must not push the node twice
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
  auto taken = Take(kNodeCount);
  EXPECT_EQ(nodes.AllocNode(MSG_TEXT, 1), nullptr);
  Give(taken);
}
#endif

TEST_F(Pools, DestroyWaitsForTheLastNode) {
  MessageNode* held = nodes.AllocNode(MSG_TEXT, 1);
  ASSERT_NE(held, nullptr);
  std::atomic<bool> returned{false};
  std::thread destroyer([&] {
    nodes.DestroyNodePool();
    returned = true;
  });
  std::this_thread::sleep_for(350ms);
  EXPECT_FALSE(returned.load()) << "destroyed with a node still out";
  nodes.FreeNode(held);
  destroyer.join();
  EXPECT_TRUE(returned.load());
}

TEST_F(Pools, TwentyOneSampleBuffersAndReleaseWithTheirNode) {
  std::vector<SampleBuffer*> buffers;
  for (int i = 0; i < kSampleBufferCount; ++i) {
    SampleBuffer* b = nodes.AcquireSampleBuffer();
    ASSERT_NE(b, nullptr);
    buffers.push_back(b);
  }
  EXPECT_EQ(nodes.AcquireSampleBuffer(), nullptr);
  MessageNode* record = nodes.AllocNode(MSG_WAVEFORM, 1);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(WaveformSampleBuffer(*record), nullptr) << "a new waveform record carries no buffer";
  WaveformSampleBuffer(*record) = buffers.back();
  buffers.pop_back();
  nodes.ReleaseNode(record);
  EXPECT_EQ(nodes.FreeSampleBuffers(), 1);
  for (auto* b : buffers) nodes.ReleaseSampleBuffer(b);
  EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount);
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
}

// Nodes a burst took deep into the free list give their pages back; the warm ones keep theirs,
// every node stays usable, and a trim comes by itself after enough frees, once per used node.
TEST_F(Pools, IdleNodesPastTheWarmOnesGiveTheirPagesBack) {
  nodes.SetPageRelease(&platform::ReleaseWholePages, 4);
  auto burst = Take(10);
  for (auto* n : burst) std::memset(n->payload, 0xAB, sizeof(n->payload));
  const std::vector<MessageNode*> freedInOrder = burst;  // the last freed is taken first
  Give(burst);
  nodes.TrimIdleNodes();
  for (int i = 0; i < 10; ++i) {
    const std::byte middle = freedInOrder[static_cast<std::size_t>(i)]->payload[kNodePayloadBytes / 2];
    EXPECT_EQ(middle, i >= 6 ? std::byte{0xAB} : std::byte{0}) << "node " << i << " of the burst";
  }
  auto all = Take(kNodeCount);
  EXPECT_EQ(nodes.FreeCount(), 0);
  Give(all);

  static int releases = 0;
  nodes.SetPageRelease([](void*, std::size_t) { ++releases; }, 0);
  nodes.TrimIdleNodes();
  releases = 0;  // from here one node is used over and over
  for (int i = 0; i < 2 * HyloNodes::kTrimEveryFrees - 1; ++i) nodes.FreeNode(nodes.AllocNode(MSG_TEXT, 1));
  EXPECT_EQ(releases, 1) << "one trim in that many frees, and only the node used since";
}
