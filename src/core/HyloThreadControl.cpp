#include "core/HyloThreadControl.h"

#include <cassert>
#include <chrono>
#include <span>
#include <thread>
#include <utility>

#include "core/Post.h"

namespace hylo {
namespace {
constexpr auto kRetryStep = std::chrono::milliseconds(100);
constexpr auto kPauseStep = std::chrono::milliseconds(1000);
}  // namespace

HyloThreadControl::HyloThreadControl(HyloNodes& nodes) : nodes_(nodes) {}

HyloThreadControl::~HyloThreadControl() {
  if (pool_) StopWorkerThreads();
}

void HyloThreadControl::SetWorker(int slot, Worker* worker) { workers_.at(static_cast<std::size_t>(slot)) = worker; }

int HyloThreadControl::StartWorkerThreads() {
  if (pool_) return 0;
  for (auto& flag : running_) flag = false;
  pool_ = std::make_unique<ThreadPool>(kPoolPlaces);
  // Queues are made before any worker runs, so an early post cannot find a missing queue.
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    queue_[static_cast<std::size_t>(slot)] = std::make_unique<NodeQueue>();
  }
  for (Worker* worker : workers_)
    if (worker) worker->OnStart();
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    running_[static_cast<std::size_t>(slot)] = true;
    pool_->Schedule(slot, [this, slot] { WorkerLoop(slot); });
  }
  if (serialReaderTask_) {
    running_[SERIAL_READER_TASK] = true;
    pool_->Schedule(SERIAL_READER_TASK, serialReaderTask_);
  }
  return 0;
}

struct HyloThreadControl::Outbox {
  // Enough to make a wake-up worth it; small enough that the pool never runs short.
  static constexpr std::size_t kHold = 64;
  HyloThreadControl* owner = nullptr;
  std::array<std::array<MessageNode*, kHold>, kWorkerSlots> held{};
  std::array<std::size_t, kWorkerSlots> count{};
};

thread_local HyloThreadControl::Outbox* HyloThreadControl::current_ = nullptr;

void HyloThreadControl::WorkerLoop(int slot) {
  const auto i = static_cast<std::size_t>(slot);
  Worker* worker = workers_[i];
  Outbox box;
  box.owner = this;
  current_ = &box;
  // The whole queue is taken per wake-up: one lock and one wake-up for a burst.
  std::array<MessageNode*, NodeQueue::kCapacity> batch{};
  for (;;) {
    const int timeout = worker ? worker->ReceiveTimeoutMs() : -1;
    // Nothing behind a quit is taken: it stays queued for the drain after the stop.
    const auto quit = [](const MessageNode* node) { return node->type == MSG_QUIT; };
    const int got = queue_[i] ? queue_[i]->ReadAll(batch, timeout, quit, inHand_[i]) : -1;
    if (got < 0) {
      // A queue error does not end the worker; don't spin on it either.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (got == 0) {
      if (worker) worker->OnTimeout();
      FlushPosts();
      continue;
    }
    for (int k = 0; k < got; ++k) {
      inHand_[i] = static_cast<std::size_t>(got - k);
      if (!HandleNode(slot, worker, batch[static_cast<std::size_t>(k)])) {
        inHand_[i] = 0;
        return;
      }
    }
    FlushPosts();
    inHand_[i] = 0;
  }
}

bool HyloThreadControl::HandleNode(int slot, Worker* worker, MessageNode* node) {
  if (!Admit(slot, node)) return true;
  if (node->type == MSG_BARRIER) {
    FlushPosts();  // what this worker made before the barrier is passed on
    nodes_.ReleaseNode(node);
    {
      std::lock_guard guard(barrierMutex_);
      ++barriersPassed_[static_cast<std::size_t>(slot)];
    }
    barrierPassed_.notify_all();
    return true;
  }
  if (node->type == MSG_QUIT) {
    FlushPosts();
    current_ = nullptr;
    if (worker) worker->OnQuit();
    nodes_.ReleaseNode(node);
    return false;
  }
  const bool passedOn = worker && worker->Handle(*node);
  if (!passedOn) nodes_.ReleaseNode(node);
  return true;
}

bool HyloThreadControl::Admit(int slot, MessageNode* node) {
  if (IsDataRecord(node->type) && scanPaused_) FlushPosts();  // nothing held through a pause
  WaitWhilePaused(node->type);
  // What reached LogThread was received before the stop: it is written, not dropped.
  if (scanStopped_ && IsDataRecord(node->type) && slot != LOG_THREAD) {
    nodes_.ReleaseNode(node);
    return false;
  }
  return true;
}

void HyloThreadControl::FlushPosts() {
  Outbox* box = current_;
  if (!box || box->owner != this) return;
  for (int slot = 0; slot < kWorkerSlots; ++slot)
    if (box->count[static_cast<std::size_t>(slot)] > 0) FlushSlot(*box, slot);
}

void HyloThreadControl::FlushSlot(Outbox& box, int slot) {
  const auto i = static_cast<std::size_t>(slot);
  const std::size_t n = std::exchange(box.count[i], 0);
  std::size_t written = 0;
  if (auto& queue = queue_[i]) {
    std::lock_guard guard(slotLock_[i]);
    written = queue->WriteAll(std::span<MessageNode* const>(box.held[i].data(), n));
  }
  // A discarded or missing queue takes nothing: the rest go back to the pool.
  for (std::size_t k = written; k < n; ++k) nodes_.ReleaseNode(box.held[i][k]);
}

bool HyloThreadControl::Barrier(int slot, std::chrono::milliseconds timeout) {
  if (slot < 0 || slot >= kWorkerSlots || !Started()) return false;
  const auto i = static_cast<std::size_t>(slot);
  // Tickets in queue order, so the n-th barrier handled is the n-th posted; a count rather
  // than a flag in the node, so a caller that gives up leaves nothing behind to touch.
  FlushPosts();  // this thread's own records come before its barrier
  std::uint64_t ticket = 0;
  {
    std::lock_guard post(barrierPostLock_[i]);
    ticket = ++barriersPosted_[i];
    if (!Post(*this, slot, MSG_BARRIER)) {
      --barriersPosted_[i];
      return false;
    }
  }
  std::unique_lock guard(barrierMutex_);
  return barrierPassed_.wait_for(guard, timeout, [&] { return barriersPassed_[i].load() >= ticket; });
}

void HyloThreadControl::WaitWhilePaused(std::int32_t type) {
  // The flag alone on the way through: a lock every record would make the stages wait on
  // each other.
  if (!IsDataRecord(type) || !scanPaused_) return;
  std::unique_lock guard(pauseMutex_);
  // Re-read after each step; a resume wakes the wait early.
  while (scanPaused_) pauseChanged_.wait_for(guard, kPauseStep);
}

int HyloThreadControl::PostNode(int slot, MessageNode* node) {
  if (!node || slot < 0 || slot >= kWorkerSlots) return -1;
  Outbox* box = current_ && current_->owner == this ? current_ : nullptr;
  const bool data = IsDataRecord(node->type);
  // Anything else overtakes nothing held, and a pause holds nothing back.
  if (box && (!data || scanPaused_)) FlushPosts();
  WaitWhilePaused(node->type);
  if (scanStopped_ && data) return 0;
  const auto i = static_cast<std::size_t>(slot);
  auto& queue = queue_[i];
  assert(queue && "PostNode before start or after the queues were drained");
  if (!queue) return -1;
  // A record with a sample buffer (a whole second, one a second) goes at once: the buffers
  // are few, and one held back could leave the next second without one.
  const bool buffered = CarriesSampleBuffer(node->type) && WaveformSampleBuffer(*node) != nullptr;
  if (box && data && buffered) FlushSlot(*box, slot);
  if (box && data && !buffered) {
    std::size_t& held = box->count[i];
    box->held[i][held++] = node;
    if (held == Outbox::kHold) FlushSlot(*box, slot);
    return 1;
  }
  std::lock_guard guard(slotLock_[i]);
  return queue->Write(node);
}

int HyloThreadControl::ReceiveNode(int slot, MessageNode*& node, int timeoutMs) {
  node = nullptr;
  auto& queue = queue_.at(static_cast<std::size_t>(slot));
  if (!queue) return -1;
  MessageNode* got = nullptr;
  const int result = queue->Read(got, timeoutMs);
  if (!got) return result;
  if (!Admit(slot, got)) return 0;
  node = got;
  return result;
}

void HyloThreadControl::StartTask(int place, std::function<void()> task) {
  assert(place >= kWorkerSlots && place < kPoolPlaces);
  if (!pool_ || place < kWorkerSlots || place >= kPoolPlaces) return;
  running_[static_cast<std::size_t>(place)] = true;
  pool_->Schedule(place, std::move(task));
}

void HyloThreadControl::WaitPlace(int place) {
  if (pool_) pool_->Wait(place, eventPump_);
}

void HyloThreadControl::WaitTask(int place) {
  WaitPlace(place);
  running_.at(static_cast<std::size_t>(place)) = false;
}

void HyloThreadControl::StopPlace(int place) {
  const auto i = static_cast<std::size_t>(place);
  if (!running_[i]) return;
  if (!pool_->WaitUntil(place, eventPump_, std::chrono::steady_clock::now() + stopLimit_)) {
    // Exit must not hang on one thread: it is left behind, and its state with it.
    pool_->Abandon(place);
    abandonedPlace_[i] = true;
    ++abandoned_;
    if (reportStuck_) reportStuck_(place);
  }
  running_[i] = false;
}

int HyloThreadControl::StopWorkerThreads() {
  if (!pool_) return 0;
  abandoned_ = 0;
  abandonedPlace_ = {};
  for (const auto& hook :
       {stopHooks_.releaseWaiters, stopHooks_.closeDataStreams, stopHooks_.stopSerialReader,
        stopHooks_.closeEpochStream, stopHooks_.stopReplyParser, stopHooks_.disposeDiscovery, stopHooks_.endAudio}) {
    if (hook) hook();
  }
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    const auto deadline = std::chrono::steady_clock::now() + stopLimit_;
    auto& queue = queue_[static_cast<std::size_t>(slot)];
    // A full queue is retried in steps with the event pump running, up to the limit.
    const auto writeQuit = [&](MessageNode* quit) {
      while (queue && std::chrono::steady_clock::now() < deadline) {
        {
          std::lock_guard guard(slotLock_[static_cast<std::size_t>(slot)]);
          if (queue->Write(quit, static_cast<int>(kRetryStep.count())) == 1) return 1;
        }
        if (eventPump_) eventPump_();
      }
      return 0;
    };
    // An exhausted pool delays the stop, up to the limit too.
    while (!PostTo(nodes_, writeQuit, MSG_QUIT, [](MessageNode&) {}) && std::chrono::steady_clock::now() < deadline) {
      if (eventPump_) eventPump_();
      std::this_thread::sleep_for(kRetryStep);
    }
    StopPlace(slot);
  }
  for (int place = kWorkerSlots; place < kPoolPlaces; ++place) StopPlace(place);
  pool_.reset();
  return 0;
}

void HyloThreadControl::DrainQueues() {
  for (std::size_t slot = 0; slot < queue_.size(); ++slot) {
    auto& queue = queue_[slot];
    if (!queue) continue;
    if (abandonedPlace_[slot]) {
      (void)queue.release();  // its worker may still read it
      continue;
    }
    MessageNode* node = nullptr;
    while (queue->Read(node, 0) == 1) nodes_.ReleaseNode(node);
    queue->Discard();
    queue.reset();
  }
}

void HyloThreadControl::SetScanPaused(bool paused) {
  {
    std::lock_guard guard(pauseMutex_);
    scanPaused_ = paused;
  }
  pauseChanged_.notify_all();
}

void HyloThreadControl::SetScanStopped(bool stopped) { scanStopped_ = stopped; }

std::size_t HyloThreadControl::QueueSize(int slot) const {
  const auto& queue = queue_.at(static_cast<std::size_t>(slot));
  return (queue ? queue->Size() : 0) + inHand_.at(static_cast<std::size_t>(slot)).load();
}

}  // namespace hylo
