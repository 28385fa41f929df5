#pragma once
// The message node pool and the sample-buffer pool. Both are allocated once at start-up;
// no message path allocates from the heap afterwards.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <type_traits>
#include <vector>

#include "core/MessageTypes.h"

namespace hylo {

inline constexpr std::size_t kNodePayloadBytes = 200368;
inline constexpr int kNodeCount = 1000;
inline constexpr std::size_t kSampleBufferBytes = 2048000;
inline constexpr int kSampleBufferCount = 21;

struct MessageNode {
  std::int32_t type = 0;
  std::uint32_t poolState = 0;  // pool bookkeeping: catches a double free
  MessageNode* next = nullptr;
  alignas(8) std::byte payload[kNodePayloadBytes];

  // Typed view of the payload; T must fit and be trivially copyable.
  template <typename T>
  T& As() {
    static_assert(sizeof(T) <= kNodePayloadBytes && std::is_trivially_copyable_v<T>);
    return *std::launder(reinterpret_cast<T*>(payload));
  }
  std::span<std::byte> Payload() { return payload; }
};
static_assert(sizeof(MessageNode) == 200384, "every message takes one 200,384-byte node");

struct SampleBuffer {
  std::byte data[kSampleBufferBytes];
  SampleBuffer* link = nullptr;
};

// A waveform record (type 1) starts with its sample-buffer reference, so the queue layer and
// the pools can return an attached buffer without knowing the rest of the record.
inline SampleBuffer*& WaveformSampleBuffer(MessageNode& node) { return node.As<SampleBuffer*>(); }

class HyloNodes {
 public:
  HyloNodes() = default;
  HyloNodes(const HyloNodes&) = delete;
  HyloNodes& operator=(const HyloNodes&) = delete;
  ~HyloNodes();

  // 0, or −1 after "Out of memory!" (reported through the callback) when the blocks can't be had.
  int CreateNodePool();
  // None when the pool is closed or fewer than `reserve` nodes are free.
  MessageNode* AllocNode(std::int32_t type, int reserve = 1);
  void FreeNode(MessageNode* node);
  // Frees a node, returning first the sample buffer a waveform record carries.
  void ReleaseNode(MessageNode* node);
  void CloseNodePool();
  // Waits in 100 ms steps for every node; with limitMs ≥ 0 it gives up after that long and
  // leaves the storage allocated, since a thread still holding a node may yet touch it.
  void DestroyNodePool(int limitMs = -1);
  int FreeCount() const;
  int TotalCount() const { return totalCount_; }
  bool Closed() const { return closed_.load(); }

  int CreateSampleBufferPool();
  SampleBuffer* AcquireSampleBuffer();
  void ReleaseSampleBuffer(SampleBuffer* buffer);
  // `leak` keeps the storage for a holder that never returned its buffer.
  void DestroySampleBufferPool(bool leak = false);
  int FreeSampleBuffers() const;

  // How idle nodes give their pages back (none: they stay resident once touched). Nodes
  // below the `keepWarm` most recently freed are left alone, as the next ones taken.
  using PageRelease = void (*)(void* begin, std::size_t bytes);
  void SetPageRelease(PageRelease release, int keepWarm = kKeepWarmNodes) {
    std::lock_guard guard(lock_);
    release_ = release;
    keepWarm_ = keepWarm;
  }
  // Gives back the pages of free nodes past the warm ones that were used since. FreeNode runs
  // it every kTrimEveryFrees frees, so memory a burst of deep queues took returns.
  void TrimIdleNodes();
  static constexpr int kKeepWarmNodes = 32;
  static constexpr int kTrimEveryFrees = 4096;

  // Who to tell when the pool cannot be built.
  void SetOutOfMemoryReporter(void (*report)(void*, const char*), void* context) {
    reportOom_ = report;
    reportContext_ = context;
  }

 private:
  bool Owns(const MessageNode* node) const;
  void TrimLocked();

  std::unique_ptr<MessageNode[]> nodes_;
  mutable std::mutex lock_;
  MessageNode* freeHead_ = nullptr;
  int freeCount_ = 0;
  int totalCount_ = 0;
  PageRelease release_ = nullptr;
  int keepWarm_ = kKeepWarmNodes;
  int freesSinceTrim_ = 0;
  std::atomic<bool> closed_{true};

  std::unique_ptr<SampleBuffer[]> buffers_;
  mutable std::mutex bufferLock_;
  SampleBuffer* bufferHead_ = nullptr;
  int freeBuffers_ = 0;

  void (*reportOom_)(void*, const char*) = nullptr;
  void* reportContext_ = nullptr;
};

}  // namespace hylo
