#pragma once
// A bounded FIFO of node pointers: many writers, one reader. Writes block while full.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace hylo {

struct MessageNode;

class NodeQueue {
 public:
  static constexpr std::size_t kCapacity = 1000;

  // 1 when written; 0 when still full after timeoutMs (−1 waits without limit); −1 when
  // the queue has been discarded.
  int Write(MessageNode* node, int timeoutMs = -1) {
    std::unique_lock guard(mutex_);
    auto room = [&] { return discarded_ || count_ < kCapacity; };
    if (timeoutMs < 0) {
      notFull_.wait(guard, room);
    } else if (!notFull_.wait_for(guard, std::chrono::milliseconds(timeoutMs), room)) {
      return 0;
    }
    if (discarded_) return -1;
    items_[(head_ + count_) % kCapacity] = node;
    ++count_;
    notEmpty_.notify_one();
    return 1;
  }

  // 1 with a node, 0 on time-out, −1 when discarded. timeoutMs −1 waits without limit, 0 not at all.
  int Read(MessageNode*& node, int timeoutMs) {
    node = nullptr;
    std::unique_lock guard(mutex_);
    auto ready = [&] { return discarded_ || count_ > 0; };
    if (timeoutMs < 0) {
      notEmpty_.wait(guard, ready);
    } else if (!notEmpty_.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready)) {
      return 0;
    }
    if (count_ == 0) return discarded_ ? -1 : 0;
    node = items_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    notFull_.notify_one();
    return 1;
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
  mutable std::mutex mutex_;
  std::condition_variable notFull_;
  std::condition_variable notEmpty_;
  std::array<MessageNode*, kCapacity> items_{};  // pointer-sized items: nodes never move
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool discarded_ = false;
};

}  // namespace hylo
