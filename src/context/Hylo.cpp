#include "context/Hylo.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/Post.h"
#include "link/Firmware.h"
#include "platform/Folders.h"
#include "platform/PageRelease.h"
#include "shell/MainPanel.h"

namespace hylo {

namespace {
// Every worker has ended by then; what a stuck on-demand task holds is not waited for.
constexpr int kNodeReturnLimitMs = 10000;
}  // namespace

Hylo::Hylo(OperatorPort& operatorPort, HyloOptions options) : operator_(operatorPort), options_(std::move(options)) {
  statusLog_.SetFileWriter([this](std::string_view text) { files_.WriteJobStatus(text, false); });
  nodes_.SetOutOfMemoryReporter(
      [](void* self, const char* text) { static_cast<Hylo*>(self)->operator_.ShowNotice(text); }, this);
  nodes_.SetPageRelease(&platform::ReleaseWholePages);
  threads_.SetWorker(MAIN_WORK_THREAD, &mainWork_);
  threads_.SetStuckReporter([this](int place) {
    statusLog_.Append("Thread " + std::to_string(place) + " did not stop; exit went on without it");
  });
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
  sessionPath_ = dataFolder_;
  settingsFolder_ = options_.settingsFolder.empty() ? platform::UserConfigFolder() / "Hylo" : options_.settingsFolder;
  BuildModules();

  ini_.SettingsInit(settingsFolder_);
  const int loaded = ini_.SettingsLoad(ini_.SettingsPath());
  settingsLoaded_ = loaded == HyloIni::kLoaded;
  settingsUnreadable_ = !settingsLoaded_;
  if (loaded == HyloIni::kUnreadable) KeepUnreadableSettings();

  RunInitialisation();
  StartThreads();
  return 0;
}

// Module objects that hold settings groups are made anew with them (start, session load).
void Hylo::BuildModules() {
  epoch_.reset();
  epochChannel_.reset();
  programSettings_.reset();
  jobSetup_.reset();
  scan_.reset();
  fileSys_.reset();
  link_.reset();
  dataPath_.reset();
  wav_.reset();
  groups_.emplace(dataFolder_, platform::ProgramFolder());
  wav_.emplace(ini_, operator_, groups_->wav);
  dataPath_.emplace(nodes_, threads_, ini_, operator_, *groups_, *wav_);
  dataPath_->RegisterWorkers();
  dataPath_->SetImpulseDebugFolder(dataFolder_);
  dataPath_->Logging().SetMainPanel(&mainPanel_);
  link_ = std::make_unique<LinkModules>(threads_, operator_, ini_, *groups_, mainPanel_, *dataPath_, mainWork_);
  StopHooks hooks;
  hooks.closeDataStreams = [this] { dataPath_->Channels().CloseStreams(); };
  epochChannel_ = std::make_unique<EpochChannel>(threads_);
  epochChannel_->SetNotice([this](std::string_view text) { operator_.ShowNotice(text); });
  hooks.closeEpochStream = [this] { epochChannel_->DisconnectEpochChannel(); };
  hooks.endAudio = [this] { dataPath_->Audio().StopAudio(); };
  link_->RegisterWorkers(hooks);
  fileSys_ = std::make_unique<FileSysThread>(threads_, link_->Command(), [this]() -> std::optional<FtpTarget> {
    const DeviceIdentity id = link_->Connection().Identity();
    if (!files::UsesFtp(id.modelCode, FirmwareVersion(id.firmwareText).packed)) return std::nullopt;
    return FtpTarget{link_->Connection().HostAddress(), link_->Connection().PortBase()};
  });
  fileSys_->SetStatusLine([this](const std::string& event) { statusLog_.Append(event); });
  threads_.SetWorker(FILE_SYS_THREAD, fileSys_.get());
  hooks.releaseWaiters = [this] {
    fileSys_->Cancel();
    link_->Connection().Quit();
    link_->Finder().Quit();
    if (jobSetup_) jobSetup_->Abort();
  };
  threads_.SetStopHooks(std::move(hooks));
  WireScanning();
  BuildSetupModules();
  BuildHostEpoch();
}

void Hylo::BuildHostEpoch() {
  hostEpoch_.reset();
  hostEpoch_.emplace(operator_, groups_->trigger, settingsFolder_);
  HostEpoch::Context c;
  c.postConfig = [this](std::span<const std::uint8_t> record) {
    return threads_.Started() && Post(threads_, TRIGGER_THREAD, MSG_TRIGGER_CONFIG, [&](MessageNode& node) {
             std::memset(node.payload, 0, kEpochRecordBytes);
             std::memcpy(node.payload, record.data(), std::min(record.size(), kEpochRecordBytes));
           });
  };
  c.postResetCounter = [this](std::uint32_t period) {
    return threads_.Started() && Post(threads_, TRIGGER_THREAD, MSG_RESET_COUNTER, period);
  };
  c.editSettings = [this](const std::function<void(TriggerSettings&)>& edit) {
    std::lock_guard guard(ini_.SettingsLock());
    edit(groups_->trigger);
    SaveFields(ini_, groups_->trigger.Fields());
  };
  c.applyClips = [this] { dataPath_->ApplyClipSettings(); };
  hostEpoch_->SetContext(std::move(c));
  HyloTrigger::Context& t = dataPath_->Trigger().MutableContext();
  t.countPeriodChanged = [this](std::uint32_t period) {
    std::lock_guard guard(ini_.SettingsLock());
    groups_->trigger.countDuration = period;
    SaveFields(ini_, groups_->trigger.Fields());
  };
  t.sensitivity = [this] { return dataPath_->Reference().GetSensitivity(); };
}

// `TriggerInit`: the click trigger and the counting period from the settings, before
// TriggerThread runs.
void Hylo::TriggerInit() {
  HostTriggers& triggers = dataPath_->Trigger().TriggersBeforeStart();
  triggers.ResetCounting(groups_->trigger.countDuration);
  triggers.Configure(hostEpoch_->ClickRecord().Encode());
}

// The job setup exchange and the two setup panels; their reply handlers go in before the
// workers start.
void Hylo::BuildSetupModules() {
  auto indicate = [this](bool) {
    const bool open = (jobSetup_ && jobSetup_->PanelOpen()) || (programSettings_ && programSettings_->PanelOpen());
    mainPanel_.SetVisible(mainpanel::kSetupOpenIndicator, open);
  };
  auto save = [this] {
    SaveSettingsGroups();
    ini_.SettingsWrite();
  };
  auto stop = [this] {
    if (stopScanning_)
      stopScanning_();
    else
      StopScanning();
  };
  setup::JobSetupPorts ports;
  ports.context = [this] { return UnitContext(); };
  ports.linkOpen = [this] { return link_->State().connectionType != LINK_NONE; };
  ports.sensitivityDb = [this] { return dataPath_->Reference().GetSensitivity(); };
  ports.customScanInterval = [this]() -> std::optional<double> {
    const DisplaySettings& d = groups_->display;
    return d.useCustomScanRate ? std::optional<double>(d.scanPeriod) : std::nullopt;
  };
  // Also from the setup panel's background job: under the settings lock the exit's save takes.
  ports.scanIntervalChanged = [this](double seconds) {
    std::lock_guard guard(ini_.SettingsLock());
    groups_->display.scanPeriod = seconds;
  };
  ports.stopScanning = stop;
  ports.saveSettings = save;
  ports.setupOpenIndication = indicate;
  ports.dataFolder = [this] { return dataFolder_; };
  // The link tab changes nothing on the unit: its settings are kept for the next start.
  ports.applyLinkSettings = [this] {
    link_->Connection().SaveLinkSettings();
    return 0;
  };
  ports.sendEpochTriggers = [this] { return epoch_->SendEpochTriggers(); };
  jobSetup_ = std::make_unique<setup::JobSetupCommands>(link_->Command(), operator_, statusLog_, unitSetupPanel_,
                                                        std::move(ports));
  setup::HyloEpoch::Ports epochPorts;
  epochPorts.context = [this] { return UnitContext(); };
  epochPorts.setup = [this] { return jobSetup_->Setup(); };
  epochPorts.sensitivity = [this] { return dataPath_->Reference().GetSensitivity(); };
  epochPorts.send = [this](std::uint8_t letter, std::span<const std::uint8_t> payload) {
    return link_->Command().Send(letter, payload, true);
  };
  epochPorts.statusLine = [this](std::string_view line) { StepLine(line); };
  epoch_ = std::make_unique<setup::HyloEpoch>(operator_, unitSetupPanel_, std::move(epochPorts));
  dataPath_->SetStreamCodes([this] { return jobSetup_ ? jobSetup_->StreamTransports() : StreamCodes{}; });
  link_->Replies().RegisterReplyHandler('F', [this](std::span<const std::uint8_t> payload, std::int16_t) {
    return jobSetup_->OnSetupEnquiryReply(payload);
  });
  link_->Replies().RegisterReplyHandler('D', [this](std::span<const std::uint8_t> payload, std::int16_t) {
    return jobSetup_->OnSetupResultReply(payload);
  });
  setup::ProgramSettingsPorts programPorts;
  programPorts.stopScanning = stop;
  programPorts.saveSettings = save;
  programPorts.setupOpenIndication = indicate;
  programPorts.applyHostEpoch = [this] { return hostEpoch_ ? hostEpoch_->ApplyTab() : -1; };
  programPorts.showNotice = [this](std::string_view text) { operator_.ShowNotice(text); };
  programPorts.showImpulse = [this] {
    std::lock_guard guard(ini_.SettingsLock());
    return setup::ImpulseFromSettings(groups_->impulse);
  };
  programPorts.applyImpulse = [this] {
    bool thresholdsTaken = false;
    {
      std::lock_guard guard(ini_.SettingsLock());
      thresholdsTaken = setup::ApplyImpulseValues(programSettings_->Impulse(), groups_->impulse);
      SaveFields(ini_, groups_->impulse.Fields());
    }
    dataPath_->ApplyImpulseSettings();
    if (!thresholdsTaken) operator_.ShowNotice(setup::kImpulseThresholdError);
    programSettings_->UndoImpulseChanges();
    return 0;
  };
  programSettings_ = std::make_unique<setup::ProgramSettings>(groups_->display, std::move(programPorts));
}

setup::SetupContext Hylo::UnitContext() {
  const DeviceIdentity id = link_->Connection().Identity();
  setup::SetupContext c;
  c.model = id.modelCode;
  c.firmware = FirmwareVersion(id.firmwareText);
  c.featureLevel = id.hardwareRevision;
  c.interfaceCode = id.interfaceCode;
  c.serialLink = link_->State().connectionType == LINK_SERIAL;
  c.baudRate = static_cast<std::uint32_t>(link_->State().baudRate.load());
  return c;
}

void Hylo::StepLine(std::string_view line) {
  mainPanel_.SetValue(mainpanel::kMessageLine, StatusLog::TimeOfDay() + " - " + std::string(line));
  statusLog_.Append(line);
}

void Hylo::WireScanning() {
  scan_.emplace(threads_, *dataPath_, *groups_, *wav_, statusLog_, operator_, mainPanel_);
  scan_->SetLink(link_->ScanLink());
  HyloScan::Hooks hooks;
  hooks.fitStreamCodes = [this] {
    if (jobSetup_) jobSetup_->FitStreamTransports();
  };
  hooks.writeJobHistory = [this] {
    JobHistoryRow row;
    row.identity = link_->Connection().Identity();
    const StreamCodes codes = dataPath_->Transports();
    row.fftCollectMode = codes.fft;
    row.waveCollectMode = codes.wave;
    row.temperatureTenths = dataPath_->Status().GetTemperature();
    row.humidityTenths = dataPath_->Status().GetHumidity();
    row.fftLogFileName = dataPath_->Logging().CurrentFftLogName();
    row.jobClient = groups_->logging.jobClient;
    row.jobId = groups_->logging.jobId;
    row.jobPersonnel = groups_->logging.jobPersonnel;
    files_.WriteJobHistory(row);
  };
  hooks.startEpochChannel = [this] {
    epochChannel_->Start(link_->ScanLink().peer(), link_->Connection().ConnectionType() == LINK_ETHERNET);
  };
  hooks.replayRunning = [this] { return dataPath_->Replay().Replaying(); };
  hooks.pauseReplay = [this] {
    ReplayThread& replay = dataPath_->Replay();
    replay.SetPaused(!replay.Progress().paused);
  };
  hooks.stopReplay = [this] { dataPath_->Replay().StopReplay(); };
  scan_->SetHooks(std::move(hooks));
  link_->Connection().SetDisconnectListener([this] { epochChannel_->DisconnectEpochChannel(); });
  dataPath_->SetStopDataCollection([this] { StopScanning(); });
  dataPath_->SetLogStatusLine([this](std::string_view line) { statusLog_.Append(line); });
  link_->SetLinkEvents([this](std::string_view line) { statusLog_.Append(line); }, [this] { StopScanning(); },
                       [this] { return dataPath_->Replay().Replaying(); });

  ReplyPort port;
  port.identity = [this] { return link_->Connection().Identity(); };
  port.status = &dataPath_->Status();
  port.logLine = [this](std::string_view line) {
    mainPanel_.SetValue(mainpanel::kMessageLine, StatusLog::TimeOfDay() + " - " + std::string(line));
    statusLog_.Append(line);
  };
  port.showNotice = [this](std::string_view text) { operator_.ShowNotice(text); };
  port.epochTriggerReport = [this](int count, std::span<const std::uint8_t> rest) {
    if (epoch_) epoch_->OnEpochListReply(count, rest);
  };
  port.epochReport = [this](int status, std::span<const std::uint8_t>) {
    if (epoch_) epoch_->OnEpochAddReply(status);
  };
  port.epochState = [this](int status) {
    if (epoch_) epoch_->OnEpochClearReply(status);
  };
  port.saveDisplaySettings = [this] { SaveFields(ini_, groups_->display.Fields()); };
  link_->Replies().RegisterReportHandlers(std::move(port));
}

void Hylo::SetUiDispatch(std::function<void(std::function<void()>)> dispatch) {
  std::lock_guard guard(uiDispatchLock_);
  uiDispatch_ = std::move(dispatch);
}

void Hylo::StopScanning() {
  auto stop = [this] {
    if (scan_) scan_->StopCallback();
  };
  if (!OnUiThread()) {
    std::lock_guard guard(uiDispatchLock_);
    if (uiDispatch_) {
      uiDispatch_(stop);
      return;
    }
  }
  stop();
}

void Hylo::StartThreads() {
  threads_.SetScanStopped(false);
  threads_.SetScanPaused(false);
  threads_.StartWorkerThreads();
  started_ = true;
  dataPath_->WorkersStarted();
  if (options_.startupSettleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options_.startupSettleMs));
  hostEpoch_->Load(hostEpoch_->ProgramFile());
  // The click detector file of the settings; none there (a first start) is no fault.
  const std::filesystem::path click = dataPath_->Logging().GetClickDetectionFile();
  if (std::error_code error; std::filesystem::exists(click, error)) dataPath_->LoadClickTemplate(click);
}

// The defaults are written at exit; keep what the operator had before they replace it.
void Hylo::KeepUnreadableSettings() {
  const auto original = ini_.SettingsPath();
  auto copy = original;
  copy += ".unreadable";
  std::error_code error;
  for (int n = 1; std::filesystem::exists(copy, error) && n < 1000; ++n) {
    copy = original;
    copy += ".unreadable." + std::to_string(n);
  }
  std::filesystem::copy_file(original, copy, error);
  startupNotices_.push_back(error ? "The settings file " + original.string() +
                                        " could not be read. Default settings are in use."
                                  : "The settings file could not be read. It was kept as " + copy.string() +
                                        " and default settings are in use.");
}

void Hylo::RecordUiThread() {
  uiThreadId_ = std::this_thread::get_id();
  for (const auto& text : startupNotices_) operator_.ShowNotice(text);
  startupNotices_.clear();
}

// Each module's initialise step, in the one fixed order. Modules appear here as they are built.
void Hylo::RunInitialisation() {
  // Groups whose modules are not built yet still load and save, so the file stays complete.
  // Saving after a load also fills in keys a partial file lacked.
  if (settingsUnreadable_) {
    jobSetup_->SetStreamTransports({setup::kDefaultStreamCode, setup::kDefaultStreamCode});
  } else {
    groups_->LoadAll(ini_);
    jobSetup_->LoadStreamTransports(ini_);
  }
  SaveSettingsGroups();
  files_.OpenJobFiles(settingsFolder_);
  wav_->WavLogInit(settingsUnreadable_);
  dataPath_->Initialise();
  TriggerInit();
  link_->Initialise();
  nodes_.CreateNodePool();
  nodes_.CreateSampleBufferPool();
}

// Each module's shutdown step, in the one fixed order.
void Hylo::ShutdownModules() {
  link_->Shutdown();
  wav_->WavLogShutdown();
  // A thread the stop gave up on may still hold nodes and buffers: keep their memory.
  const bool abandoned = threads_.AbandonedThreads() > 0;
  nodes_.DestroySampleBufferPool(abandoned);
  nodes_.DestroyNodePool(abandoned ? 0 : kNodeReturnLimitMs);
  ini_.SettingsShutdown();
}

void Hylo::SaveSettingsGroups() {
  groups_->SaveAll(ini_);
  jobSetup_->SaveStreamTransports(ini_);
}

int Hylo::MainExit() {
  if (exiting_.exchange(true)) return -1;
  ShutdownAll();
  // The job files stay open until this last line is in.
  statusLog_.Append("Application Shutdown");
  files_.CloseJobFiles();
  if (endEventLoop_) endEventLoop_();
  return 0;
}

void Hylo::RequestRefresh() {
  if (threads_.Started()) Post(threads_, UI_UPDATE_THREAD, MSG_REFRESH);
}

void Hylo::SetPeakMode(bool peak) {
  groups_->spectrum.displayMode = peak ? 0 : 1;
  if (threads_.Started()) Post(threads_, UI_UPDATE_THREAD, MSG_PEAK_MODE, std::int32_t{peak ? 0 : 1});
}

void Hylo::SetDisplaySetup(double spanSeconds) {
  if (threads_.Started()) Post(threads_, UI_UPDATE_THREAD, MSG_DISPLAY_SETUP, spanSeconds);
}

void Hylo::ResetCharts() {
  if (threads_.Started()) Post(threads_, IMPULSE_THREAD, MSG_RESET_CHARTS);
}

void Hylo::ShutdownAll() {
  // Stop the periodic enquiry first so nothing new is sent while the rest stops.
  if (threads_.Started()) Post(threads_, MAIN_WORK_THREAD, MSG_SET_PERIOD, std::int32_t{-1});
  threads_.SetScanStopped(true);
  threads_.SetScanPaused(false);
  SaveSettingsGroups();
  ini_.SettingsWrite();
  threads_.StopWorkerThreads();
  nodes_.CloseNodePool();
  threads_.DrainQueues();
  ShutdownModules();
  started_ = false;
}

int Hylo::SaveSession() {
  if (operator_.Confirm("Continue", "Saving Session will apply all settings changes.\nWould you like to continue?",
                        {"Yes", "No"}) != 0) {
    return 0;
  }
  // Changes still waiting in an open setup panel belong in the session.
  if (programSettings_->PanelOpen()) programSettings_->ApplyProgramSettings();
  if (jobSetup_->PanelOpen() && !jobSetup_->Busy() && Connection().ConnectionType() != LINK_NONE)
    jobSetup_->ApplySetupCallback();
  const auto chosen = operator_.ChooseFile("Save Session File", sessionPath_, "*.ini", true);
  if (!chosen) return 0;
  sessionPath_ = *chosen;
  SaveSettingsGroups();
  if (ini_.SettingsWriteTo(*chosen) != 0) {
    operator_.ShowNotice("The session file " + chosen->string() + " could not be written.");
    return -1;
  }
  return 0;
}

int Hylo::LoadSession() {
  const auto chosen = operator_.ChooseFile("Select Session File", sessionPath_, "*.ini", false);
  std::error_code error;
  if (!chosen || !std::filesystem::is_regular_file(*chosen, error)) return 0;
  sessionPath_ = *chosen;
  // Vet the file first: an unreadable session must not replace the settings in force.
  std::ifstream in(*chosen, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || !HyloIni::Parses(text.str())) {
    operator_.ShowNotice("The session file " + chosen->string() +
                         " could not be read. The current settings remain in force.");
    return -1;
  }
  ShutdownAll();
  const int loaded = ini_.SettingsLoad(*chosen);
  settingsUnreadable_ = loaded != HyloIni::kLoaded;
  BuildModules();
  RunInitialisation();
  StartThreads();
  return 0;
}

}  // namespace hylo
