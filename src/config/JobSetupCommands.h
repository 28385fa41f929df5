#pragma once
// The job setup exchange with the connected unit: the enquiry ("F"), Apply in its fixed
// order ("U", "D" records or the parameter list, epoch re-send), the echo check and the
// failure texts, and the instrument setup panel's tab flags. Enquiry and Apply block on the
// link: the panel runs them on a background job (RunInBackground) after the steps that
// belong on the UI thread; the "F" and "D" reply handlers run on MsgProcThread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "config/HyloSetup.h"
#include "config/SetupTabs.h"
#include "core/BackgroundJob.h"
#include "link/CommandLink.h"
#include "shell/OperatorPort.h"
#include "shell/PanelModel.h"
#include "shell/StatusLog.h"

namespace hylo {
class HyloIni;
}

namespace hylo::setup {

// The settings keys that keep the job setup's stream transport codes between runs.
inline constexpr const char* kStreamSection = "Settings";
inline constexpr const char* kWaveStreamKey = "Collect Wave Mode";
inline constexpr const char* kFftStreamKey = "Collect FFT Mode";
inline constexpr int kDefaultStreamCode = TRANSPORT_TCP;

// Controls of the instrument setup panel model: derived texts and a revision that moves on
// every change of the setup, so a view knows to refresh from `Setup()`.
namespace unitpanel {
inline constexpr const char* kRevision = "revision";
inline constexpr const char* kWaveSamples = "waveSamples";
inline constexpr const char* kSpectrumSamples = "spectrumSamples";
inline constexpr const char* kHfBandwidth = "hfBandwidth";
inline constexpr const char* kLfSamples = "lfSamples";
inline constexpr const char* kLfBandwidth = "lfBandwidth";
inline constexpr const char* kLfStrings = "lfStrings";
inline constexpr const char* kLfDataLossNote = "lfDataLossNote";  // visible above 30 strings/s
inline constexpr const char* kLfSignalRange = "lfSignalRange";
inline constexpr const char* kTimeSourceLabel = "timeSourceLabel";
inline constexpr const char* kScanInterval = "scanInterval";
inline constexpr const char* kOpen = "open";
}  // namespace unitpanel

inline constexpr std::string_view kLfConfiguredText = "Aurisond LF Configured Successfully";
inline constexpr std::string_view kHfConfiguredText = "Aurisond HF Configured Successfully";
inline constexpr std::string_view kAfConfiguredText = "Aurisond AF Configured Successfully";
inline constexpr std::string_view kJobSetupFailedLine = "Job setup failed";
inline constexpr std::string_view kHfEpochClearFailedText =
    "Aurisond HF epoch clear failed\nPlease check your connection and try again.\n";
inline constexpr std::string_view kAfEpochClearFailedText =
    "Aurisond AF epoch clear failed\nPlease check your connection and try again.\n";

// What the exchange needs from the rest of the program; each may stay empty.
struct JobSetupPorts {
  std::function<SetupContext()> context;  // the connected unit and link
  std::function<bool()> linkOpen;         // false: nothing can be queued
  std::function<std::uint32_t()> now;     // instrument time (seconds since 1970, UTC)
  std::function<int()> sensitivityDb;     // for the LF signal range
  std::function<std::optional<double>()> customScanInterval;
  std::function<void(double)> scanIntervalChanged;  // UI thread
  std::function<void()> stopScanning;               // before a setup panel opens
  std::function<int()> applyLinkSettings;           // link tab; 0 on success
  // Epoch triggers: without a re-send hook the list is never cleared either.
  std::function<int()> sendEpochTriggers;
  std::function<void()> refreshLoggingDisplay;
  std::function<void()> saveSettings;
  std::function<void(bool)> waitCursor;
  std::function<void(int ms)> pause;  // the settle pauses around the epoch clear
  std::function<void(bool)> setupOpenIndication;
  std::function<std::filesystem::path()> dataFolder;  // where the setup-file dialogs start
};

class JobSetupCommands {
 public:
  JobSetupCommands(CommandLink& link, OperatorPort& op, StatusLog& log, PanelModel& panel, JobSetupPorts ports);
  JobSetupCommands(const JobSetupCommands&) = delete;
  JobSetupCommands& operator=(const JobSetupCommands&) = delete;

  // The enquiry: 0 when the unit answered with the frames its model and firmware send,
  // −1 otherwise. Returns once the reply handler has put the records on the setup.
  int ReadJobSetup();
  // Apply of the instrument setup panel: 0, −1 when the data-rate warning was declined,
  // else the first failing step's code.
  // With `rateConfirmed` the data-rate question was asked already (ConfirmDataRate).
  int ApplyUnitSetup(bool rateConfirmed = false);
  // UI thread: asks about a data rate beyond the link's; false when declined.
  bool ConfirmDataRate();
  // One record with "D" and its echo check; 0 on success.
  int SendSetupRecord(std::span<const std::uint8_t> record);
  int SendSetupParamList();
  int SendLfSetup();
  void ReportSetupFailure(std::uint16_t code);

  // Panel callbacks (UI thread).
  int OpenUnitSetupPanel();
  // The UI thread's part of opening (stop scanning, tab flags, the epoch enquiry): true
  // when the setup is then to be read (ReadJobSetup), which may run on the background job.
  bool BeginOpenUnitSetupPanel();
  // Hides the panel on success; on failure it stays open with the current tab marked again.
  int ApplySetupCallback(bool rateConfirmed = false);
  // Runs `job` off the calling thread and then `done` with its result (on the job's
  // thread). False while one runs already. While one runs the panel takes no edits.
  bool RunInBackground(std::function<int()> job, std::function<void(int)> done);
  bool Busy() const { return background_.Busy(); }
  void CancelJobSetup();
  void TabChanged(UnitTab tab);
  // "Undo Changes": re-reads the setup, after asking when the other HF tab has changes.
  // 1 when the operator declined.
  int SendJobEnquireCallback(UnitTab pressedOn);
  // Its questions (UI thread): false when the operator declined; the read may follow off it.
  bool ConfirmEnquiry(UnitTab pressedOn);
  void SendEpochEnquireCallback();
  // "Save Setup File" / "Load Setup File" on the HF tab: the operator chooses a ".cfg" file,
  // starting in the folder used last. Loading puts the records that pass their checks on
  // the panel and marks the HF tab; nothing is sent until Apply. 0 done, 1 cancelled, −1
  // when the file could not be written.
  int SaveHfSetupFile();
  int LoadHfSetupFile();
  std::filesystem::path SetupFileFolder() const;

  // Reply handlers (MsgProcThread).
  int OnSetupEnquiryReply(std::span<const std::uint8_t> payload);
  int OnSetupResultReply(std::span<const std::uint8_t> payload);

  JobSetup Setup() const;
  // A panel edit: the panel rules run after it and the derived texts follow.
  void EditSetup(const std::function<void(JobSetup&)>& edit);
  // The stream transport codes: the one place every reader asks (any thread).
  StreamCodes StreamTransports() const;
  void SetStreamTransports(StreamCodes codes);
  // Before scanning starts: the codes brought in line with the connected unit and link.
  StreamCodes FitStreamTransports();
  void LoadStreamTransports(const HyloIni& ini);
  void SaveStreamTransports(HyloIni& ini) const;
  bool Changed(UnitTab tab) const;
  void MarkChanged(UnitTab tab);
  bool PanelOpen() const { return panelOpen_; }
  UnitTab CurrentTab() const { return currentTab_; }
  SetupContext Context() const;
  // Ends a waiting enquiry or Apply at once and waits (bounded) for a background job to
  // end (shutdown).
  void Abort();

 private:
  std::uint32_t Now() const;
  void Publish(const JobSetup& s, const SetupContext& ctx);
  void ShowAll(const Notices& notices);
  int SendHfSetup(const SetupContext& ctx);
  // The payload of the first reply frame; none when no whole header came.
  static std::optional<std::span<const std::uint8_t>> FirstPayload(std::span<const std::uint8_t> reply);
  bool ReplyIsError(std::span<const std::uint8_t> payload);

  CommandLink& link_;
  OperatorPort& operator_;
  StatusLog& log_;
  PanelModel& panel_;
  JobSetupPorts ports_;

  mutable std::mutex lock_;
  std::condition_variable repliesHandled_;
  JobSetup setup_;
  std::uint64_t enquiryFrames_ = 0;  // "F" frames the handler has taken
  std::int64_t revision_ = 0;

  // UI thread only.
  UnitTabFlags flags_;
  bool panelOpen_ = false;
  UnitTab currentTab_ = UnitTab::kLink;
  std::optional<std::filesystem::path> setupFileFolder_;  // the last folder a setup file was in
  std::atomic<bool> cancel_{false};
  BackgroundJob background_;  // last: its job uses the members above
};

}  // namespace hylo::setup
