#include "core/HyloNodes.h"

#include <cassert>
#include <chrono>
#include <new>
#include <thread>

namespace hylo {
namespace {
constexpr std::uint32_t kInPool = 0x504F4F4C;      // "POOL": free, its pages possibly touched
constexpr std::uint32_t kInPoolCold = 0x434F4C44;  // "COLD": free, its pages given back
constexpr std::uint32_t kHandedOut = 0x4F555421;
}  // namespace

HyloNodes::~HyloNodes() = default;

int HyloNodes::CreateNodePool() {
  std::lock_guard guard(lock_);
  if (nodes_) return 0;
  // Default-initialised: the pages stay untouched (and not resident) until a node is used.
  nodes_.reset(new (std::nothrow) MessageNode[kNodeCount]);
  if (!nodes_) {
    if (reportOom_) reportOom_(reportContext_, "Out of memory!");
    return -1;
  }
  freeHead_ = nullptr;
  for (int i = kNodeCount - 1; i >= 0; --i) {
    nodes_[i].next = freeHead_;
    nodes_[i].poolState = kInPoolCold;  // never touched yet
    freeHead_ = &nodes_[i];
  }
  freeCount_ = kNodeCount;
  totalCount_ = kNodeCount;
  closed_ = false;
  return 0;
}

bool HyloNodes::Owns(const MessageNode* node) const {
  if (!nodes_ || !node) return false;
  const MessageNode* first = nodes_.get();
  return node >= first && node < first + totalCount_;
}

MessageNode* HyloNodes::AllocNode(std::int32_t type, int reserve) {
  if (closed_) return nullptr;
  std::lock_guard guard(lock_);
  if (!freeHead_ || freeCount_ < reserve || freeCount_ < 1) return nullptr;
  MessageNode* node = freeHead_;
  freeHead_ = node->next;
  --freeCount_;
  node->next = nullptr;
  node->poolState = kHandedOut;
  node->type = type;
  if (CarriesSampleBuffer(type)) WaveformSampleBuffer(*node) = nullptr;
  return node;
}

void HyloNodes::FreeNode(MessageNode* node) {
  if (!node) return;
  std::lock_guard guard(lock_);
  // A foreign node or a second free would corrupt the free list: refuse it.
  const bool valid = Owns(node) && node->poolState == kHandedOut;
  assert(valid && "FreeNode of a node that is not out of the pool");
  if (!valid) return;
  node->poolState = kInPool;
  node->next = freeHead_;
  freeHead_ = node;
  ++freeCount_;
  if (release_ && ++freesSinceTrim_ >= kTrimEveryFrees) TrimLocked();
}

void HyloNodes::TrimIdleNodes() {
  std::lock_guard guard(lock_);
  TrimLocked();
}

// The free list is last-in first-out, so the nodes deep in it are the ones a burst used and
// steady running does not reach. Only their payload goes; the header keeps the list's link.
void HyloNodes::TrimLocked() {
  freesSinceTrim_ = 0;
  if (!release_) return;
  int depth = 0;
  for (MessageNode* node = freeHead_; node; node = node->next) {
    if (depth++ < keepWarm_ || node->poolState != kInPool) continue;
    release_(node->payload, sizeof(node->payload));
    node->poolState = kInPoolCold;
  }
}

void HyloNodes::ReleaseNode(MessageNode* node) {
  if (!node) return;
  if (CarriesSampleBuffer(node->type)) {
    SampleBuffer*& buffer = WaveformSampleBuffer(*node);
    if (buffer) ReleaseSampleBuffer(buffer);
    buffer = nullptr;
  }
  FreeNode(node);
}

void HyloNodes::CloseNodePool() { closed_ = true; }

int HyloNodes::FreeCount() const {
  std::lock_guard guard(lock_);
  return freeCount_;
}

void HyloNodes::DestroyNodePool(int limitMs) {
  const auto start = std::chrono::steady_clock::now();
  bool allBack = false;
  for (;;) {
    {
      std::lock_guard guard(lock_);
      if ((allBack = freeCount_ == totalCount_)) break;
    }
    if (limitMs >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(limitMs)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::lock_guard guard(lock_);
  closed_ = true;
  freeHead_ = nullptr;
  freeCount_ = 0;
  totalCount_ = 0;
  if (allBack)
    nodes_.reset();
  else
    (void)nodes_.release();
}

int HyloNodes::CreateSampleBufferPool() {
  std::lock_guard guard(bufferLock_);
  if (buffers_) return 0;
  buffers_.reset(new (std::nothrow) SampleBuffer[kSampleBufferCount]);
  if (!buffers_) return -1;
  bufferHead_ = nullptr;
  for (int i = kSampleBufferCount - 1; i >= 0; --i) {
    buffers_[i].link = bufferHead_;
    bufferHead_ = &buffers_[i];
  }
  freeBuffers_ = kSampleBufferCount;
  return 0;
}

SampleBuffer* HyloNodes::AcquireSampleBuffer() {
  std::lock_guard guard(bufferLock_);
  SampleBuffer* buffer = bufferHead_;
  if (!buffer) return nullptr;
  bufferHead_ = buffer->link;
  buffer->link = nullptr;
  --freeBuffers_;
  return buffer;
}

void HyloNodes::ReleaseSampleBuffer(SampleBuffer* buffer) {
  if (!buffer) return;
  std::lock_guard guard(bufferLock_);
  const bool valid = buffers_ && buffer >= buffers_.get() && buffer < buffers_.get() + kSampleBufferCount &&
                     freeBuffers_ < kSampleBufferCount;
  assert(valid && "ReleaseSampleBuffer of a foreign buffer or one too many");
  if (!valid) return;
  buffer->link = bufferHead_;
  bufferHead_ = buffer;
  ++freeBuffers_;
}

void HyloNodes::DestroySampleBufferPool(bool leak) {
  std::lock_guard guard(bufferLock_);
  bufferHead_ = nullptr;
  freeBuffers_ = 0;
  if (leak)
    (void)buffers_.release();
  else
    buffers_.reset();
}

int HyloNodes::FreeSampleBuffers() const {
  std::lock_guard guard(bufferLock_);
  return freeBuffers_;
}

}  // namespace hylo
