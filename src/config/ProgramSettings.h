#pragma once
// The program settings panel: its four tabs' change flags, open and Apply, the logging
// tab (every log's settings) and the processing tab (scan rate, display options). The
// other tabs apply through hooks their own modules fill.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/ImpulseTab.h"
#include "config/SetupTabs.h"
#include "files/HyloLogging.h"
#include "files/HyloWav.h"
#include "settings/SettingsGroups.h"

namespace hylo::setup {

// What the processing tab edits.
struct ProcessingValues {
  bool useCustomScanRate = false;
  double scanPeriod = 0.0625;  // seconds
  double refreshRate = 0.5;    // seconds between display refreshes
  bool showDcOffset = false;
  bool displayToNyquist = false;
  bool useLogScale = false;
  bool operator==(const ProcessingValues&) const = default;
};
ProcessingValues ProcessingFromSettings(const DisplaySettings& d);
// A custom scan rate is snapped to the list the scan interval uses; the refresh rate is
// kept within 0.05 … 5 s.
void ApplyProcessing(const ProcessingValues& v, DisplaySettings& d);

// What the logging tab edits: the FFT, WAV, impulse and epoch logs and the click file.
struct LoggingValues {
  FftLogPanelValues fft;
  WavPanelValues wav;
  ImpulseLogPanelValues impulse;
  EpochLogPanelValues epoch;
  std::string clickDetectionFile;
  bool operator==(const LoggingValues&) const = default;
};
struct LoggingTabPorts {
  std::function<LoggingValues()> show;
  std::function<int(const LoggingValues&)> apply;
};
// The logging tab on the modules: each log's settings applied by its owner, one epoch
// setting message per side through `postEpoch`.
// `loadClickTemplate` runs when the applied click detector file differs from the stored one.
LoggingTabPorts LoggingTabPortsFor(HyloWav& wav, HyloLogging& logging,
                                   std::function<void(bool, int, const std::string&)> postEpoch,
                                   std::function<void(const std::string&)> loadClickTemplate = {});
inline constexpr std::string_view kClickFileErrorText = "Error reading Click Detector File.";

// The browse buttons of the logging tab, with their dialog titles.
enum class LogFolderKind { kTextLog, kInstrumentEpoch, kHostEpoch };
std::optional<std::string> BrowseLogFolder(OperatorPort& op, LogFolderKind kind, const std::string& shown);
// "Select Click Detector File" (*.txt); the full path chosen.
std::optional<std::string> BrowseClickDetectorFile(OperatorPort& op, const std::string& shown);
// What the click file field shows: the name after the last separator.
std::string ClickFileShownName(const std::string& path);

struct ProgramSettingsPorts {
  std::function<void()> stopScanning;  // before the panel opens
  std::function<int()> applyLogging;
  std::function<int()> applyHostEpoch;
  std::function<int()> applyImpulse;
  std::function<ImpulseValues()> showImpulse;  // the impulse tab's values when the panel opens
  std::function<void()> saveSettings;
  std::function<void(bool)> setupOpenIndication;
  // Tells the operator what an Apply did not do.
  std::function<void(std::string_view)> showNotice;
};

inline constexpr std::string_view kHostEpochNotAppliedText =
    "The host trigger settings were not applied: host triggers are not available in this version of Hylo yet.";
inline constexpr std::string_view kImpulseNotAppliedText =
    "The impulse detection settings were not applied: impulse detection is not available in this version of Hylo "
    "yet.";

class ProgramSettings {
 public:
  ProgramSettings(DisplaySettings& display, ProgramSettingsPorts ports) : display_(display), ports_(std::move(ports)) {}

  // Stops scanning, opens on the logging tab and fills the tabs from the settings.
  void OpenHyloSetupPanel();
  // Each flagged tab's apply in order; the first nonzero result is returned (the panel
  // stays open).
  int ApplyProgramSettings();
  void CancelJobSetup();
  void TabChanged(ProgramTab tab);
  // "Undo Changes" on the processing tab.
  void UndoHyloProcChangesCb() { processing_ = ProcessingFromSettings(display_); }

  ProcessingValues& Processing() { return processing_; }
  // The impulse tab; "Undo Changes" refills it from the settings, `SetImpDefaultsCb` puts the defaults.
  ImpulseValues& Impulse() { return impulse_; }
  void UndoImpulseChanges() {
    if (ports_.showImpulse) impulse_ = ports_.showImpulse();
  }
  void SetImpDefaultsCb() { impulse_ = ImpulseValues{impulse_.enabled}; }
  // The logging tab's modules; filled again each time the panel opens.
  void AttachLogging(LoggingTabPorts ports) { loggingPorts_ = std::move(ports); }
  LoggingValues& Logging() { return logging_; }
  bool Changed(ProgramTab tab) const { return flags_.Changed(tab); }
  bool PanelOpen() const { return open_; }
  ProgramTab CurrentTab() const { return current_; }

 private:
  DisplaySettings& display_;
  ProgramSettingsPorts ports_;
  ProgramTabFlags flags_;
  ProcessingValues processing_;
  ImpulseValues impulse_;
  LoggingTabPorts loggingPorts_;
  LoggingValues logging_;
  bool open_ = false;
  ProgramTab current_ = ProgramTab::kLogging;
};

}  // namespace hylo::setup
