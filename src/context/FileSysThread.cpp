#include "context/FileSysThread.h"

#include "core/MessageTypes.h"
#include "core/Post.h"
#include "files/HyloFTP.h"
#include "link/CommandLetters.h"

namespace hylo {

FileSysThread::FileSysThread(HyloThreadControl& threads, CommandLink& link, FtpRoute route)
    : threads_(threads), link_(link), route_(std::move(route)), fs_(std::make_unique<files::HyloFileSystem>(link)) {}

void FileSysThread::SetProgress(files::ProgressHook hook) {
  std::lock_guard hold(lock_);
  progress_ = hook;
  fs_->SetProgress(std::move(hook));
}

void FileSysThread::SetStatusLine(std::function<void(const std::string&)> hook) {
  std::lock_guard hold(lock_);
  statusLine_ = hook;
  fs_->SetStatusLine(std::move(hook));
}

bool FileSysThread::PostJob(Job job) {
  std::optional<FtpTarget> ftp = route_ ? route_() : std::nullopt;
  if (ftp && !files::ftp::FtpControlPort(ftp->portBase)) return false;
  std::uint32_t number = 0;
  {
    std::lock_guard hold(lock_);
    number = nextJob_++;
    jobs_[number] = {std::move(job), generation_.load(), ftp};
  }
  if (Post(threads_, FILE_SYS_THREAD, ftp ? MSG_FTP_JOB : MSG_FILE_OP, number)) return true;
  std::lock_guard hold(lock_);
  jobs_.erase(number);
  return false;
}

void FileSysThread::Cancel() {
  ++generation_;
  fs_->Cancel();
  std::lock_guard hold(lock_);
  if (running_) running_->Cancel();
}

void FileSysThread::Run(Queued& queued) {
  if (!queued.ftp) {
    fs_->ResetCancel();
    if (queued.generation != generation_.load()) return;  // cancelled meanwhile
    queued.job(*fs_);
    return;
  }
  // One FTP session per job: logged in at its first step, closed at its end.
  files::HyloFTP ftp(queued.ftp->host, *files::ftp::FtpControlPort(queued.ftp->portBase),
                     [this] { return link_.Send(cmd::kReboot, {}, false) == 0; });
  {
    std::lock_guard hold(lock_);
    ftp.SetProgress(progress_);
    ftp.SetStatusLine(statusLine_);
    running_ = &ftp;
  }
  if (queued.generation == generation_.load()) queued.job(ftp);
  ftp.EndJob();
  std::lock_guard hold(lock_);
  running_ = nullptr;
}

bool FileSysThread::Handle(MessageNode& node) {
  if (node.type != MSG_FILE_OP && node.type != MSG_FTP_JOB) return false;
  Queued queued;
  {
    std::lock_guard hold(lock_);
    const auto it = jobs_.find(node.As<std::uint32_t>());
    if (it == jobs_.end()) return false;
    queued = std::move(it->second);
    jobs_.erase(it);
  }
  if (queued.generation != generation_.load()) return false;  // posted before a cancel
  busy_ = true;
  awake_.Acquire();
  Run(queued);
  awake_.Release();
  busy_ = false;
  return false;
}

}  // namespace hylo
