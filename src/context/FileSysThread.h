#pragma once
// FileSysThread (slot 2): runs the file panel's operations on the instrument's storage one
// at a time. A job is posted as a MSG_FILE_OP node carrying its number; a cancel drops every
// job posted before it and stops the running one at its next exchange.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "core/HyloThreadControl.h"
#include "core/Worker.h"
#include "files/HyloFileSystem.h"
#include "platform/KeepAwake.h"

namespace hylo {

class FileSysThread final : public Worker {
 public:
  using Job = std::function<void(files::InstrumentFiles&)>;

  FileSysThread(HyloThreadControl& threads, CommandLink& link);

  // Any thread. False when the job could not be posted (no node, workers stopped).
  bool PostJob(Job job);
  // Any thread: the running job ends at its next step, queued ones are dropped.
  void Cancel();
  bool Busy() const { return busy_.load(); }
  files::InstrumentFiles& Files() { return *fs_; }

  bool Handle(MessageNode& node) override;
  void OnQuit() override { Cancel(); }

 private:
  struct Queued {
    Job job;
    std::uint64_t generation = 0;
  };
  HyloThreadControl& threads_;
  std::unique_ptr<files::HyloFileSystem> fs_;
  std::mutex lock_;
  std::map<std::uint32_t, Queued> jobs_;
  std::uint32_t nextJob_ = 0;
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<bool> busy_{false};
  platform::KeepAwake awake_;  // held while a job runs
};

}  // namespace hylo
