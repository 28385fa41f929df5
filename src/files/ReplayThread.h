#pragma once
// ReplayThread: reads a list of recorded files record by record and posts the records to
// WaveThread, where they enter the chain as live records do. Consecutive files with equal
// parameters continue one stream (`samplePosition` runs on); a change starts a new one.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/HyloThreadControl.h"
#include "core/Worker.h"
#include "files/HyloReplay.h"

namespace hylo {

// What the replay controls show.
struct ReplayProgress {
  bool replaying = false;
  bool paused = false;
  std::string currentName;  // without its folder
  int fileIndex = 0;        // 1-based index of the open file
  int fileCount = 0;
  std::uint64_t samplePosition = 0;
  double streamSeconds = 0;  // signal time replayed in the current stream
  double totalSeconds = 0;   // signal time replayed since the start
};

enum class ReplayPace {
  kTicks,     // the tick interval of the file times the replay rate (the desktop app)
  kRealtime,  // signal time kept level with the wall clock
  kFast,      // as fast as the chain takes the records
};

class ReplayThread final : public Worker {
 public:
  struct Context {
    // Replay in progress (and, on a start, the replay-active flag); set before records flow.
    std::function<void(bool replaying)> setReplaying;
    // Before the first record of a new stream: counters and displays restart.
    std::function<void(const ReplayStream&)> newStream;
    // Each file's parameters once its header is read (sensitivity, status values).
    std::function<void(const ReplayStream&, const std::string& name)> fileStarted;
    std::function<void(const std::string& path, const std::string& reason)> fileRefused;
    // The comment column of a replayed text log.
    std::function<void(const std::string&)> comment;
    // The list ended or the replay was stopped.
    std::function<void()> finished;
  };

  explicit ReplayThread(HyloThreadControl& threads) : threads_(threads) {}
  void SetContext(Context context) { context_ = std::move(context); }

  // Any thread: the list passes to the thread with the message. An empty list replays the
  // previous one again. False when the message could not be posted.
  bool StartReplay(std::vector<std::string> files);
  bool StopReplay();
  // Records per tick from the next tick on (at least 1).
  void SetReplayRate(int recordsPerTick) { rate_ = recordsPerTick < 1 ? 1 : recordsPerTick; }
  int ReplayRate() const { return rate_.load(); }
  void SetPaused(bool paused) { paused_ = paused; }
  void SetPace(ReplayPace pace) { pace_ = pace; }
  ReplayPace Pace() const { return pace_.load(); }
  ReplayProgress Progress() const;
  bool Replaying() const { return replaying_.load(); }
  // The file being replayed, for event lines; empty when none.

  int ReceiveTimeoutMs() override { return tickMs_; }
  bool Handle(MessageNode& node) override;
  void OnTimeout() override { Tick(); }
  void OnQuit() override { CloseFile(); }

 private:
  void PostFileMarker(const std::string& name);
  struct StartPayload {
    std::uint64_t listId;
  };
  void Start(std::uint64_t listId);
  void End();
  // Opens the next file of the list, skipping those refused; false at the end of the list.
  bool OpenNext();
  bool OpenFile(const std::string& path);
  void CloseFile();
  void Tick();
  // 1 record posted, 0 end of file, −1 the tick ends (no node while stopping).
  int ReadRecord();
  MessageNode* TakeNode(std::int32_t type);
  int TickMs() const;
  void Publish();

  HyloThreadControl& threads_;
  Context context_;
  std::atomic<int> rate_{1};
  std::atomic<bool> paused_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> replaying_{false};
  std::atomic<ReplayPace> pace_{ReplayPace::kTicks};
  int tickMs_ = -1;

  // Lists handed over with start messages, by id.
  std::mutex listLock_;
  std::map<std::uint64_t, std::vector<std::string>> handedOver_;
  std::uint64_t nextListId_ = 1;

  // ReplayThread only.
  std::vector<std::string> list_;
  std::size_t fileIndex_ = 0;  // next file to open
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, std::fclose};
  std::unique_ptr<ReplayReader> reader_;
  std::optional<ReplayStream> stream_;
  std::uint64_t samplePosition_ = 0;
  std::uint64_t streamRecords_ = 0;
  std::uint32_t baseTime_ = 0;
  double streamSeconds_ = 0;
  bool firstTick_ = false;
  std::chrono::steady_clock::time_point paceStart_;
  double pacedSeconds_ = 0;  // signal time replayed since the start (paceStart_)

  mutable std::mutex progressLock_;
  ReplayProgress progress_;
};

}  // namespace hylo
