#pragma once
// FileSysThread (slot 2): runs the file panel's operations on the instrument's storage one
// at a time. A job is posted as a node carrying its number: MSG_FTP_JOB when the connected
// unit keeps its files behind FTP (the job then runs on a fresh FTP session to the address and
// control port taken when it was posted), MSG_FILE_OP for the file protocol on the command
// link. A cancel drops every job posted before it and stops the running one at its next step.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/HyloThreadControl.h"
#include "core/Worker.h"
#include "files/HyloFileSystem.h"
#include "platform/KeepAwake.h"

namespace hylo {

// Where a unit's FTP server is: its address and the link's port base.
struct FtpTarget {
  std::string host;
  int portBase = 0;
};

class FileSysThread final : public Worker {
 public:
  using Job = std::function<void(files::InstrumentFiles&)>;
  // The FTP server of the connected unit, or nothing when it has none.
  using FtpRoute = std::function<std::optional<FtpTarget>()>;

  FileSysThread(HyloThreadControl& threads, CommandLink& link, FtpRoute route = {});

  // Any thread. False when the job could not be posted (no node, workers stopped, an FTP
  // unit whose port base gives no control port).
  bool PostJob(Job job);
  // Any thread: the running job ends at its next step, queued ones are dropped.
  void Cancel();
  bool Busy() const { return busy_.load(); }
  // True when jobs posted now go over FTP.
  bool Ftp() const { return route_ && route_().has_value(); }
  // The transport over the command link.
  files::InstrumentFiles& Files() { return *fs_; }
  // Progress and status lines of whichever transport runs a job.
  void SetProgress(files::ProgressHook hook);
  void SetStatusLine(std::function<void(const std::string&)> hook);

  bool Handle(MessageNode& node) override;
  void OnQuit() override { Cancel(); }

 private:
  struct Queued {
    Job job;
    std::uint64_t generation = 0;
    std::optional<FtpTarget> ftp;
  };
  void Run(Queued& queued);

  HyloThreadControl& threads_;
  CommandLink& link_;
  FtpRoute route_;
  std::unique_ptr<files::HyloFileSystem> fs_;
  std::mutex lock_;  // jobs_, running_ and the hooks
  std::map<std::uint32_t, Queued> jobs_;
  files::InstrumentFiles* running_ = nullptr;  // an FTP session while its job runs
  files::ProgressHook progress_;
  std::function<void(const std::string&)> statusLine_;
  std::uint32_t nextJob_ = 0;
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<bool> busy_{false};
  platform::KeepAwake awake_;  // held while a job runs
};

}  // namespace hylo
