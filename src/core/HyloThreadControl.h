#pragma once
// Worker threads, their queues and the scanning flags that hold or drop data records.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "core/HyloNodes.h"
#include "core/NodeQueue.h"
#include "core/ThreadPool.h"
#include "core/Worker.h"

namespace hylo {

enum WorkerSlot : int {
  UI_UPDATE_THREAD = 0,
  LOG_THREAD = 1,
  FILE_SYS_THREAD = 2,
  MSG_PROC_THREAD = 3,
  MAIN_WORK_THREAD = 4,
  REPLAY_THREAD = 5,
  COMMS_THREAD = 6,
  TRIGGER_THREAD = 7,
  IMPULSE_THREAD = 8,
  WAVE_THREAD = 9,
  FFT_THREAD = 10,
  CONNECT_THREAD = 11,
};

enum TaskPlace : int {
  TCP_CONNECT_TASK = 12,
  CONNECT_WAVE_STREAM = 13,
  CONNECT_FFT_STREAM = 14,
  EPOCH_CONNECT_TASK = 15,
  AUDIO_PLAYBACK_TASK = 16,
  SERIAL_READER_TASK = 17,
  DISCOVERY_SETUP_TASK = 18,
  CONNECT_STATUS_STREAM = 19,
};

inline constexpr int kWorkerSlots = 12;
inline constexpr int kPoolPlaces = 20;

// What the stop sequence asks of other modules before the workers get their quit
// messages; each is optional until its module exists.
struct StopHooks {
  // First of all: ends every wait that a worker may be in (connects, setup exchanges).
  std::function<void()> releaseWaiters;
  std::function<void()> closeDataStreams;
  std::function<void()> stopSerialReader;
  std::function<void()> closeEpochStream;
  std::function<void()> stopReplyParser;
  std::function<void()> disposeDiscovery;
  std::function<void()> endAudio;
};

class HyloThreadControl {
 public:
  explicit HyloThreadControl(HyloNodes& nodes);
  ~HyloThreadControl();
  HyloThreadControl(const HyloThreadControl&) = delete;
  HyloThreadControl& operator=(const HyloThreadControl&) = delete;

  // Which object runs each slot; a slot without one frees what it gets. Set before start.
  void SetWorker(int slot, Worker* worker);
  void SetSerialReaderTask(std::function<void()> task) { serialReaderTask_ = std::move(task); }
  void SetStopHooks(StopHooks hooks) { stopHooks_ = std::move(hooks); }
  // Called while the UI thread waits for threads to end, so the event loop keeps running.
  void SetEventPump(std::function<void()> pump) { eventPump_ = std::move(pump); }
  // UI thread: lets the user interface process what is waiting (nothing without a pump).
  void PumpEvents() const {
    if (eventPump_) eventPump_();
  }
  // How long the stop waits for each thread before it gives up on it, and who hears of a
  // thread given up on (its slot or place).
  void SetStopLimit(std::chrono::milliseconds limit) { stopLimit_ = limit; }
  void SetStuckReporter(std::function<void(int place)> report) { reportStuck_ = std::move(report); }
  // Threads given up on by the last stop.
  int AbandonedThreads() const { return abandoned_; }

  int StartWorkerThreads();
  int StopWorkerThreads();
  void DrainQueues();
  bool Started() const { return pool_ != nullptr; }

  // 1 when queued; 0 when a data record was refused because scanning is stopped; negative
  // on a queue error. On anything but 1 the caller still owns the node.
  int PostNode(int slot, MessageNode* node);
  // 1 with a node; 0 on time-out or a discarded data record; negative on a queue error.
  int ReceiveNode(int slot, MessageNode*& node, int timeoutMs);

  // Returns once the worker of `slot` has handled everything queued before this call (and
  // passed on what it makes), or false after `timeout`.
  bool Barrier(int slot, std::chrono::milliseconds timeout);

  // A worker holds the data records it posts while it handles one batch of its queue and
  // writes them per slot when the batch ends, so the next stage wakes once per batch rather
  // than once per record. Any other message, a barrier, a pause or this call writes what is
  // held first, so order per slot and every wait on a control message are kept.
  void FlushPosts();

  // Runs an on-demand task in its fixed place (12..19) and marks the place running.
  void StartTask(int place, std::function<void()> task);
  bool TaskRunning(int place) const { return running_.at(static_cast<std::size_t>(place)).load(); }
  void WaitTask(int place);

  void SetScanPaused(bool paused);
  void SetScanStopped(bool stopped);
  bool ScanPaused() const { return scanPaused_.load(); }
  bool ScanStopped() const { return scanStopped_.load(); }

  // What waits for the slot's worker: queued, or taken with its batch and not yet handled
  // and passed on.
  std::size_t QueueSize(int slot) const;
  HyloNodes& Nodes() { return nodes_; }

 private:
  struct Outbox;
  void WorkerLoop(int slot);
  // Handles one received node; false when it was the quit message.
  bool HandleNode(int slot, Worker* worker, MessageNode* node);
  // A received node passes the pause and stop rules: false when it was dropped.
  bool Admit(int slot, MessageNode* node);
  void FlushSlot(Outbox& box, int slot);
  void WaitWhilePaused(std::int32_t type);
  void WaitPlace(int place);
  // Bounded by the stop limit; a place that does not end is abandoned and reported.
  void StopPlace(int place);

  // The outbox of the worker running on this thread, if any.
  static thread_local Outbox* current_;

  HyloNodes& nodes_;
  std::unique_ptr<ThreadPool> pool_;
  std::array<std::atomic<bool>, kPoolPlaces> running_{};
  std::array<std::unique_ptr<NodeQueue>, kWorkerSlots> queue_{};
  std::array<std::mutex, kWorkerSlots> slotLock_{};
  std::array<Worker*, kWorkerSlots> workers_{};
  std::array<std::atomic<std::size_t>, kWorkerSlots> inHand_{};
  std::function<void()> serialReaderTask_;
  StopHooks stopHooks_;
  std::function<void()> eventPump_;
  std::chrono::milliseconds stopLimit_{10000};
  std::function<void(int)> reportStuck_;
  std::array<bool, kPoolPlaces> abandonedPlace_{};
  int abandoned_ = 0;

  std::array<std::mutex, kWorkerSlots> barrierPostLock_{};
  std::array<std::uint64_t, kWorkerSlots> barriersPosted_{};
  std::array<std::atomic<std::uint64_t>, kWorkerSlots> barriersPassed_{};
  std::mutex barrierMutex_;
  std::condition_variable barrierPassed_;

  std::atomic<bool> scanPaused_{false};
  std::atomic<bool> scanStopped_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseChanged_;
};

}  // namespace hylo
