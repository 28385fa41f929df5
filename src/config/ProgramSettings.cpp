#include "config/ProgramSettings.h"

#include <algorithm>
#include <cmath>

#include "config/SetupDerived.h"
#include "shell/OperatorPort.h"

namespace hylo::setup {

ProcessingValues ProcessingFromSettings(const DisplaySettings& d) {
  ProcessingValues v;
  v.useCustomScanRate = d.useCustomScanRate;
  v.scanPeriod = d.scanPeriod;
  v.refreshRate = d.refreshRate;
  v.showDcOffset = d.showDcOffset;
  v.displayToNyquist = d.displayToNyquist;
  v.useLogScale = d.useLogScale;
  return v;
}

void ApplyProcessing(const ProcessingValues& v, DisplaySettings& d) {
  d.useCustomScanRate = v.useCustomScanRate;
  if (v.useCustomScanRate && std::isfinite(v.scanPeriod)) d.scanPeriod = SnapScanInterval(v.scanPeriod);
  d.refreshRate = std::isfinite(v.refreshRate) ? std::clamp(v.refreshRate, 0.05, 5.0) : d.refreshRate;
  d.showDcOffset = v.showDcOffset;
  d.displayToNyquist = v.displayToNyquist;
  d.useLogScale = v.useLogScale;
}

LoggingTabPorts LoggingTabPortsFor(HyloWav& wav, HyloLogging& logging,
                                   std::function<void(bool, int, const std::string&)> postEpoch,
                                   std::function<void(const std::string&)> loadClickTemplate) {
  LoggingTabPorts ports;
  ports.show = [&wav, &logging] {
    LoggingValues v;
    v.fft = logging.ShowFftLogSettings();
    v.wav = wav.WavLogShowSettings();
    v.impulse = logging.ShowImpulseLogSettings();
    v.epoch = logging.ShowEpochLogSettings();
    v.clickDetectionFile = logging.GetClickDetectionFile();
    return v;
  };
  ports.apply = [&wav, &logging, postEpoch = std::move(postEpoch),
                 loadClickTemplate = std::move(loadClickTemplate)](const LoggingValues& v) {
    logging.ApplyFftLogSettings(v.fft);
    wav.WavLogApplySettings(v.wav, v.wav.enabled);
    logging.ApplyImpulseLogSettings(v.impulse);
    for (int side = 0; side < 2; ++side) {
      const auto i = static_cast<std::size_t>(side);
      if (postEpoch)
        postEpoch(v.epoch.enabled[i], side, v.epoch.folder[i]);
      else
        logging.SetEpochLog(v.epoch.enabled[i], side, v.epoch.folder[i]);
    }
    const bool clickChanged = v.clickDetectionFile != logging.GetClickDetectionFile();
    logging.SetClickDetectionFile(v.clickDetectionFile);
    if (clickChanged && loadClickTemplate) loadClickTemplate(logging.GetClickDetectionFile());
    logging.RefreshLoggingIndicator();
    return 0;
  };
  return ports;
}

std::optional<std::string> BrowseLogFolder(OperatorPort& op, LogFolderKind kind, const std::string& shown) {
  const char* title = kind == LogFolderKind::kInstrumentEpoch ? "Select Aurisond Epoch Folder"
                      : kind == LogFolderKind::kHostEpoch     ? "Select Hylo Epoch Folder"
                                                              : "Select Log File Folder";
  const auto chosen = op.ChooseFolder(title, shown);
  if (!chosen) return std::nullopt;
  return chosen->string();
}

std::optional<std::string> BrowseClickDetectorFile(OperatorPort& op, const std::string& shown) {
  const std::filesystem::path current(shown);
  const auto chosen = op.ChooseFile("Select Click Detector File", current.parent_path(), "*.txt", false);
  if (!chosen) return std::nullopt;
  return chosen->string();
}

std::string ClickFileShownName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ProgramSettings::OpenHyloSetupPanel() {
  if (open_) return;
  if (ports_.stopScanning) ports_.stopScanning();
  current_ = ProgramTab::kLogging;
  flags_.Set(current_);
  processing_ = ProcessingFromSettings(display_);
  if (loggingPorts_.show) logging_ = loggingPorts_.show();
  UndoImpulseChanges();
  open_ = true;
  if (ports_.setupOpenIndication) ports_.setupOpenIndication(true);
}

int ProgramSettings::ApplyProgramSettings() {
  auto run = [](const std::function<int()>& apply) { return apply ? apply() : 0; };
  int rc = 0;
  if (flags_.Changed(ProgramTab::kLogging))
    rc = loggingPorts_.apply ? loggingPorts_.apply(logging_) : run(ports_.applyLogging);
  if (rc == 0 && flags_.Changed(ProgramTab::kProcessing)) {
    ApplyProcessing(processing_, display_);
    processing_ = ProcessingFromSettings(display_);
    if (ports_.saveSettings) ports_.saveSettings();
  }
  // A tab without its module says so rather than pass for applied.
  auto applyOrTell = [&](const std::function<int()>& apply, std::string_view notApplied) {
    if (apply) return apply();
    if (ports_.showNotice) ports_.showNotice(notApplied);
    return 0;
  };
  if (rc == 0 && flags_.Changed(ProgramTab::kHostEpoch))
    rc = applyOrTell(ports_.applyHostEpoch, kHostEpochNotAppliedText);
  if (rc == 0 && flags_.Changed(ProgramTab::kImpulse)) rc = applyOrTell(ports_.applyImpulse, kImpulseNotAppliedText);
  if (rc != 0) {
    flags_.Set(current_);
    return rc;
  }
  CancelJobSetup();
  return 0;
}

void ProgramSettings::CancelJobSetup() {
  flags_.ClearAll();
  open_ = false;
  if (ports_.setupOpenIndication) ports_.setupOpenIndication(false);
}

void ProgramSettings::TabChanged(ProgramTab tab) {
  current_ = tab;
  flags_.Set(tab);
}

}  // namespace hylo::setup
