#include "core/Hylo.h"

#include <chrono>
#include <system_error>

#include "platform/Folders.h"
#include "shell/MainPanel.h"

namespace hylo {

Hylo::Hylo(OperatorPort& operatorPort, HyloOptions options) : operator_(operatorPort), options_(std::move(options)) {
  nodes_.SetOutOfMemoryReporter([](void* self, const char* text) { static_cast<Hylo*>(self)->operator_.ShowNotice(text); },
                                this);
  threads_.SetWorker(MAIN_WORK_THREAD, &mainWork_);
}

Hylo::~Hylo() {
  // A context dropped without an exit still returns its threads and nodes.
  if (started_ && !exiting_) {
    exiting_ = true;
    ShutdownAll();
  }
}

int Hylo::Start() {
  mainPanel_.SetValue(mainpanel::kTitle, std::string(mainpanel::kWindowTitle));
  mainPanel_.SetTooltip(mainpanel::kLogIndicator, "0%");
  mainPanel_.SetTooltip(mainpanel::kSyncIndicator, "Not Synced");

  dataFolder_ = options_.dataFolder.empty() ? platform::DocumentsFolder() / "Quendal" / "Hylo" : options_.dataFolder;
  std::error_code error;
  platform::CreateFolderPath(dataFolder_, error);
  settingsFolder_ =
      options_.settingsFolder.empty() ? platform::UserConfigFolder() / "Hylo" : options_.settingsFolder;
  platform::CreateFolderPath(settingsFolder_, error);
  settingsLoaded_ = false;  // the settings module fills this in

  RunInitialisation();
  threads_.StartWorkerThreads();
  started_ = true;
  if (options_.startupSettleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options_.startupSettleMs));
  return 0;
}

// Each module's initialise step, in the one fixed order. Modules appear here as they are built.
void Hylo::RunInitialisation() {
  nodes_.CreateNodePool();
  nodes_.CreateSampleBufferPool();
}

// Each module's shutdown step, in the one fixed order.
void Hylo::ShutdownModules() {
  nodes_.DestroySampleBufferPool();
  nodes_.DestroyNodePool();
}

int Hylo::MainExit() {
  if (exiting_.exchange(true)) return -1;
  ShutdownAll();
  statusLog_.Append("Application Shutdown");
  if (endEventLoop_) endEventLoop_();
  return 0;
}

void Hylo::ShutdownAll() {
  // Stop the periodic enquiry first so nothing new is sent while the rest stops.
  if (threads_.Started()) {
    if (MessageNode* node = nodes_.AllocNode(MSG_SET_PERIOD, 1)) {
      node->As<std::int32_t>() = -1;
      if (threads_.PostNode(MAIN_WORK_THREAD, node) != 1) nodes_.FreeNode(node);
    }
  }
  threads_.SetScanStopped(true);
  threads_.SetScanPaused(false);
  threads_.StopWorkerThreads();
  nodes_.CloseNodePool();
  threads_.DrainQueues();
  ShutdownModules();
  started_ = false;
}

}  // namespace hylo
