#include "context/FileSysThread.h"

#include "core/MessageTypes.h"
#include "core/Post.h"

namespace hylo {

FileSysThread::FileSysThread(HyloThreadControl& threads, CommandLink& link)
    : threads_(threads), fs_(std::make_unique<files::HyloFileSystem>(link)) {}

bool FileSysThread::PostJob(Job job) {
  std::uint32_t number = 0;
  {
    std::lock_guard hold(lock_);
    number = nextJob_++;
    jobs_[number] = {std::move(job), generation_.load()};
  }
  if (Post(threads_, FILE_SYS_THREAD, MSG_FILE_OP, number)) return true;
  std::lock_guard hold(lock_);
  jobs_.erase(number);
  return false;
}

void FileSysThread::Cancel() {
  ++generation_;
  fs_->Cancel();
}

bool FileSysThread::Handle(MessageNode& node) {
  if (node.type != MSG_FILE_OP) return false;
  Queued queued;
  {
    std::lock_guard hold(lock_);
    const auto it = jobs_.find(node.As<std::uint32_t>());
    if (it == jobs_.end()) return false;
    queued = std::move(it->second);
    jobs_.erase(it);
  }
  if (queued.generation != generation_.load()) return false;  // posted before a cancel
  fs_->ResetCancel();
  if (queued.generation != generation_.load()) return false;  // cancelled meanwhile
  busy_ = true;
  awake_.Acquire();
  queued.job(*fs_);
  awake_.Release();
  busy_ = false;
  return false;
}

}  // namespace hylo
