#pragma once
// A bounded FIFO of node pointers: many writers, one reader. Writes block while full.
// A waiting reader is woken only when the queue goes from empty to non-empty, and a
// waiting writer only when it goes from full to not full, so a burst costs one wake-up.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>

namespace hylo {

struct MessageNode;

class NodeQueue {
 public:
  static constexpr std::size_t kCapacity = 1000;

  // 1 when written; 0 when still full after timeoutMs (−1 waits without limit); −1 when
  // the queue has been discarded.
  int Write(MessageNode* node, int timeoutMs = -1) {
    std::unique_lock guard(mutex_);
    if (!WaitForRoom(guard, timeoutMs)) return 0;
    if (discarded_) return -1;
    Push(node);
    return 1;
  }

  // Writes the nodes in order, waiting for room as needed; returns how many were written
  // (fewer only when the queue was discarded: the rest stay the caller's).
  std::size_t WriteAll(std::span<MessageNode* const> nodes) {
    std::size_t written = 0;
    std::unique_lock guard(mutex_);
    while (written < nodes.size()) {
      WaitForRoom(guard, -1);
      if (discarded_) break;
      const std::size_t n = std::min(nodes.size() - written, kCapacity - count_);
      for (std::size_t i = 0; i < n; ++i) Push(nodes[written + i]);
      written += n;
    }
    return written;
  }

  // 1 with a node, 0 on time-out, −1 when discarded. timeoutMs −1 waits without limit, 0 not at all.
  int Read(MessageNode*& node, int timeoutMs) {
    node = nullptr;
    std::unique_lock guard(mutex_);
    if (!WaitForItems(guard, timeoutMs)) return 0;
    if (count_ == 0) return discarded_ ? -1 : 0;
    node = Pop();
    return 1;
  }

  // Takes everything queued (up to out.size()) at once, in order, but nothing after a node
  // for which `last` is true: the count, 0 on time-out, −1 when discarded and empty. The
  // count is also stored in `taken` before the lock is let go, so a reader of Size() and
  // `taken` never sees the nodes in neither.
  template <typename Last>
  int ReadAll(std::span<MessageNode*> out, int timeoutMs, Last last, std::atomic<std::size_t>& taken) {
    std::unique_lock guard(mutex_);
    if (!WaitForItems(guard, timeoutMs)) return 0;
    if (count_ == 0) return discarded_ ? -1 : 0;
    const std::size_t most = std::min(count_, out.size());
    std::size_t n = 0;
    while (n < most) {
      out[n] = Pop();
      if (last(out[n++])) break;
    }
    taken = n;
    return static_cast<int>(n);
  }

  // Unblocks every waiter; later writes fail, reads return what is left, then −1.
  void Discard() {
    std::lock_guard guard(mutex_);
    discarded_ = true;
    notFull_.notify_all();
    notEmpty_.notify_all();
  }

  std::size_t Size() const {
    std::lock_guard guard(mutex_);
    return count_;
  }

 private:
  bool WaitForRoom(std::unique_lock<std::mutex>& guard, int timeoutMs) {
    auto room = [&] { return discarded_ || count_ < kCapacity; };
    if (timeoutMs < 0) {
      notFull_.wait(guard, room);
      return true;
    }
    return notFull_.wait_for(guard, std::chrono::milliseconds(timeoutMs), room);
  }
  bool WaitForItems(std::unique_lock<std::mutex>& guard, int timeoutMs) {
    auto ready = [&] { return discarded_ || count_ > 0; };
    if (timeoutMs < 0) {
      notEmpty_.wait(guard, ready);
      return true;
    }
    return notEmpty_.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
  }
  void Push(MessageNode* node) {
    items_[(head_ + count_) % kCapacity] = node;
    // Only an empty queue can have a waiting reader. All, in case more than one reads.
    if (count_++ == 0) notEmpty_.notify_all();
  }
  MessageNode* Pop() {
    MessageNode* node = items_[head_];
    head_ = (head_ + 1) % kCapacity;
    if (count_-- == kCapacity) notFull_.notify_all();
    return node;
  }

  mutable std::mutex mutex_;
  std::condition_variable notFull_;
  std::condition_variable notEmpty_;
  std::array<MessageNode*, kCapacity> items_{};  // pointer-sized items: nodes never move
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool discarded_ = false;
};

}  // namespace hylo
