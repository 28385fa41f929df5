#pragma once
// The application context: owns one instance of every module, runs start-up and the one
// shutdown sequence in their fixed orders. No globals, so tests build fresh contexts.
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/HyloEpoch.h"
#include "config/HostEpoch.h"
#include "config/JobSetupCommands.h"
#include "config/ProgramSettings.h"
#include "context/DataPath.h"
#include "context/FileSysThread.h"
#include "context/HyloScan.h"
#include "context/LinkModules.h"
#include "core/HyloNodes.h"
#include "core/HyloThreadControl.h"
#include "files/HyloFiles.h"
#include "files/HyloWav.h"
#include "link/MainWorkThread.h"
#include "settings/HyloIni.h"
#include "settings/SettingsGroups.h"
#include "shell/OperatorPort.h"
#include "shell/PanelModel.h"
#include "shell/StatusLog.h"
#include "stream/EpochChannel.h"

namespace hylo {

struct HyloOptions {
  // Empty: the platform's documents folder + Quendal/Hylo.
  std::filesystem::path dataFolder;
  // Empty: the platform's per-user configuration folder + Hylo.
  std::filesystem::path settingsFolder;
  // Pause after the workers start before the first posts.
  int startupSettleMs = 1000;
};

class Hylo {
 public:
  Hylo(OperatorPort& operatorPort, HyloOptions options);
  ~Hylo();
  Hylo(const Hylo&) = delete;
  Hylo& operator=(const Hylo&) = delete;

  // Entry steps up to the event loop: folders, settings, initialisation, workers.
  int Start();
  // The UI thread calls this just before its event loop runs; start-up notices go out then.
  void RecordUiThread();
  bool OnUiThread() const { return std::this_thread::get_id() == uiThreadId_; }
  std::thread::id UiThreadId() const { return uiThreadId_; }

  // The exit control: −1 when shutdown has already begun, else 0.
  int MainExit();
  void ShutdownAll();
  bool Exiting() const { return exiting_.load(); }

  // Ends the front end's event loop (the app's or the CLI's).
  void SetEndEventLoop(std::function<void()> end) { endEventLoop_ = std::move(end); }

  const std::filesystem::path& DataFolder() const { return dataFolder_; }
  const std::filesystem::path& SettingsFolder() const { return settingsFolder_; }
  bool SettingsLoaded() const { return settingsLoaded_; }
  bool SettingsUnreadable() const { return settingsUnreadable_; }

  // Session buttons: the whole settings document to a file of the operator's choice, and back.
  int SaveSession();
  int LoadSession();
  const std::filesystem::path& SessionPath() const { return sessionPath_; }

  OperatorPort& Operator() { return operator_; }
  HyloNodes& Nodes() { return nodes_; }
  HyloThreadControl& Threads() { return threads_; }
  MainWorkThread& MainWork() { return mainWork_; }
  PanelModel& MainPanel() { return mainPanel_; }
  StatusLog& Status() { return statusLog_; }
  HyloIni& Settings() { return ini_; }
  SettingsGroups& Groups() { return *groups_; }
  HyloFiles& Files() { return files_; }
  HyloWav& Wav() { return *wav_; }
  DataPath& Data() { return *dataPath_; }
  LinkModules& Link() { return *link_; }
  HyloConnect& Connection() { return link_->Connection(); }
  setup::JobSetupCommands& JobSetup() { return *jobSetup_; }
  setup::ProgramSettings& ProgramSettingsPanel() { return *programSettings_; }
  setup::HyloEpoch& Epoch() { return *epoch_; }
  EpochChannel& EpochMessages() { return *epochChannel_; }
  PanelModel& UnitSetupPanel() { return unitSetupPanel_; }
  // The host's triggers: the host epoch tab, the click trigger and the event counter.
  HostEpoch& HostTriggerList() { return *hostEpoch_; }
  // Stops scanning before a setup panel opens; the scanning controls set it.
  void SetStopScanning(std::function<void()> stop) { stopScanning_ = std::move(stop); }
  HyloScan& Scan() { return *scan_; }
  // The instrument's storage, one job at a time on FileSysThread.
  FileSysThread& FileSys() { return *fileSys_; }

  // Display requests from the front end, queued to the display threads; each is dropped
  // quietly when the workers are not running or no node is free (the next tick repeats it).
  void RequestRefresh();
  // Peak (true) or mean spectra in the spectrogram; kept in the settings too.
  void SetPeakMode(bool peak);
  // The time span of the spectrogram's horizontal axis, in seconds.
  void SetDisplaySetup(double spanSeconds);
  void ResetCharts();

  // Where calls from worker threads go to run on the UI thread (the app sets it).
  void SetUiDispatch(std::function<void(std::function<void()>)> dispatch);
  // The scanning stop procedure from any panel or thread; on the UI thread when one is set.
  void StopScanning();

 private:
  void RunInitialisation();
  void ShutdownModules();
  void StartThreads();
  void BuildModules();
  void BuildSetupModules();
  void SaveSettingsGroups();
  void KeepUnreadableSettings();
  void WireScanning();
  setup::SetupContext UnitContext();
  // A configuration step's line: the main panel's message line and the status log.
  void StepLine(std::string_view line);
  void BuildHostEpoch();
  void TriggerInit();

  OperatorPort& operator_;
  HyloOptions options_;
  std::filesystem::path dataFolder_;
  std::filesystem::path settingsFolder_;
  bool settingsLoaded_ = false;
  bool settingsUnreadable_ = false;
  std::filesystem::path sessionPath_;
  std::vector<std::string> startupNotices_;
  std::thread::id uiThreadId_;
  std::atomic<bool> exiting_{false};
  bool started_ = false;
  std::function<void()> endEventLoop_;

  HyloIni ini_;
  std::optional<SettingsGroups> groups_;
  HyloFiles files_;
  std::optional<HyloWav> wav_;
  std::optional<DataPath> dataPath_;
  std::unique_ptr<LinkModules> link_;
  std::unique_ptr<FileSysThread> fileSys_;
  std::unique_ptr<setup::JobSetupCommands> jobSetup_;
  std::unique_ptr<setup::ProgramSettings> programSettings_;
  std::unique_ptr<setup::HyloEpoch> epoch_;
  std::unique_ptr<EpochChannel> epochChannel_;
  std::optional<HostEpoch> hostEpoch_;
  std::function<void()> stopScanning_;
  std::optional<HyloScan> scan_;
  std::function<void(std::function<void()>)> uiDispatch_;
  std::mutex uiDispatchLock_;
  HyloNodes nodes_;
  HyloThreadControl threads_{nodes_};
  MainWorkThread mainWork_;
  PanelModel mainPanel_{"main"};
  StatusLog statusLog_{mainPanel_};
  PanelModel unitSetupPanel_{"unitSetup"};
};

}  // namespace hylo
