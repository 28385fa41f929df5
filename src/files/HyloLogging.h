#pragma once
// LogThread: the only writer of the data logs. WAV blocks go to the WAV log, spectra to
// the FFT log (and the calibration file while a calibration runs), impulses to the
// impulse log, event texts to the two epoch logs.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/Worker.h"
#include "files/EventClips.h"
#include "files/HyloImpulseLog.h"
#include "files/HyloWav.h"
#include "link/DeviceIdentity.h"
#include "platform/LogFile.h"
#include "settings/SettingsGroups.h"
#include "stream/Records.h"

namespace hylo {

class HyloIni;
class HyloThreadControl;
class OperatorPort;
class PanelModel;

// Text log headers and lines use the same instrument state as the WAV header.
using LogHeaderInfo = WavHeaderInfo;

// The values of a header block that come from its first record.
struct LogHeaderFields {
  int fileType = 0;
  std::uint32_t time = 0;
  std::uint64_t firstSample = 0;
  std::uint32_t sampleRate = 0;
  int fftSize = 1024;
  double binWidth = 0;
  double overlap = 0;
  std::string calculationName;
  int accumulations = 0;
  std::optional<int> weighting;
};
// The header block from "File Details:" to "Data:", each line ending CR LF.
std::string LogHeaderBlock(const LogHeaderFields& fields, const LogHeaderInfo& info, const LoggingSettings& settings);

// The FFT log's header block and one line, as text with CR LF line ends.
std::string FftLogHeader(const SpectrumRecord& first, const LogHeaderInfo& info, const LoggingSettings& settings,
                         int fileType);
std::string FftLogLine(const SpectrumRecord& record, std::string_view comment, const LogHeaderInfo& info);

// The main panel's logging indicator and the label naming the kinds that are on.
std::string LoggingLabel(bool fft, bool wav, bool epoch);
void DisplayLoggingEnabled(PanelModel& mainPanel, bool fft, bool wav, bool epoch);

// What the logging settings panel shows and applies.
struct FftLogPanelValues {
  std::string comment, client, jobId, personnel;
  std::string folder, prefix;
  int maxRecords = 1000;
  int nextIndex = 1;
  int nameFormat = 0;
  bool enabled = false;
  bool operator==(const FftLogPanelValues&) const = default;
};
struct ImpulseLogPanelValues {
  std::string folder, prefix;
  int maxRecords = 1000;
  int nextIndex = 1;
  int nameFormat = 0;
  bool enabled = false;
  bool operator==(const ImpulseLogPanelValues&) const = default;
};
struct EpochLogPanelValues {
  std::array<bool, 2> enabled{};
  std::array<std::string, 2> folder;
  bool operator==(const EpochLogPanelValues&) const = default;
};

inline constexpr int kCalibrationNoFile = 20;

class HyloLogging final : public Worker {
 public:
  struct Context {
    std::function<LogHeaderInfo()> headerInfo;
    std::function<void()> stopDataCollection;
    std::function<void(const std::string&)> showFftLogName;  // the main panel's logging status field
    std::function<void(std::string_view)> statusLine;        // the status field and the job status file
    std::function<void(int, std::string_view)> epochText;    // each epoch text as it arrives (side, text)
  };

  HyloLogging(HyloIni& ini, OperatorPort& op, LoggingSettings& settings, HyloWav& wav);
  ~HyloLogging() override;
  void SetContext(Context context) { context_ = std::move(context); }
  // Event clips, cut on this thread from the logging copy of the wave.
  EventClips& Clips() { return clips_; }
  // The main panel: logging indicator, label and the FFT log name field.
  void SetMainPanel(PanelModel* panel);
  // Whether a calibration is running (the calibration module's switch).
  void SetCalibrationSource(std::function<bool()> calibrating);

  bool Handle(MessageNode& node) override;
  void OnQuit() override;

  void LogFftRecord(const SpectrumRecord& record);
  void LogImpulseRecord(const ImpulseRecord& record);
  void LogEpochText(int side, std::string_view text);
  void SetEpochLog(bool enabled, int side, const std::string& folder);
  void WriteWaveBlock(const WaveformRecord& record);
  // The calibration file: mode 2 of the header and line writers. 0, −1 when the file cannot
  // be written, kCalibrationNoFile for a unit type without one.
  int WriteCalibrationHeader(const SpectrumRecord& record);
  int WriteCalibrationLine(const SpectrumRecord& record);

  void SetWavLogActive(bool on);
  bool WavLogActive() const;
  void RequestCalCapture(bool on);
  bool CalCaptureRequested() const;
  // Turns WAV logging on in the safe order: capture enabled first, then the thread's state.
  void StartWavLogging();
  // kind 0: the FFT log, kind 3: the impulse log; safe from any thread. The next record
  // opens a new file.
  void CloseLog(int kind);
  // The stop of data collection: the FFT and impulse logs close, and no record opens a new
  // one (nor a WAV file) until BeginLogging, at the next start.
  void StopLogging();
  void BeginLogging();
  // Lines, texts and headers the disk refused (each failed log is reported once).
  std::uint64_t WriteFailures() const;
  // The stops LogThread has finished (a MSG_WAVE_TAIL written and the logs stopped), so a
  // stop can wait, bounded, for its own.
  std::uint64_t FinishedStops() const;
  bool WaitFinishedStops(std::uint64_t after, std::chrono::milliseconds timeout) const;
  void CloseEpochLog(int side);
  std::string CurrentFftLogName() const;
  bool IsFftLogEnabled() const;
  bool IsImpulseLogEnabled() const;
  bool IsEpochLogEnabled() const;
  std::string GetLogComment() const;
  void SetLogComment(const std::string& comment);
  std::string GetClickDetectionFile() const;
  void SetClickDetectionFile(const std::string& path);
  std::filesystem::path GetSettingsFolder() const;
  std::filesystem::path CalibrationPath(int modelCode) const;

  FftLogPanelValues ShowFftLogSettings() const;
  void ApplyFftLogSettings(const FftLogPanelValues& values);
  ImpulseLogPanelValues ShowImpulseLogSettings() const;
  void ApplyImpulseLogSettings(const ImpulseLogPanelValues& values);
  EpochLogPanelValues ShowEpochLogSettings() const;
  void RefreshLoggingIndicator();

 private:
  using File = platform::LogFile;
  struct TextLog {
    File file;
    std::filesystem::path path;
    std::uint64_t size = 0;  // bytes of whole lines in the file
    int records = 0;
    bool stopped = false;  // no new file until logging begins again
  };
  struct NameRule {
    const std::string& folder;
    const std::string& prefix;
    int nameFormat;
    int& nextIndex;
    std::string& fileName;
  };
  // A new file under the rule with `header` written; false (nothing left behind) on failure.
  bool OpenTextLog(TextLog& log, const NameRule& rule, std::uint32_t time, const std::string& header);
  LogHeaderInfo HeaderInfo() const { return context_.headerInfo ? context_.headerInfo() : LogHeaderInfo{}; }
  void OpenFailed(std::unique_lock<std::mutex>& guard, const char* message);
  // Appends whole text or nothing: a short write is cut back, the log closed and stopped, and
  // the failure told once. False on failure.
  bool WriteText(TextLog& log, std::string_view text, std::unique_lock<std::mutex>& guard);
  void ReportWriteFailure(std::unique_lock<std::mutex>& guard, const std::filesystem::path& path, int error);
  void SaveSettings();

  HyloIni& ini_;
  OperatorPort& operator_;
  LoggingSettings& settings_;
  HyloWav& wav_;
  Context context_;
  mutable std::mutex logLock_;  // the logs and their settings: the UI thread closes and applies
  TextLog fftLog_;
  TextLog impulseLog_;
  std::array<TextLog, 2> epochLogs_;
  EventClips clips_;
  TextLog calibration_;  // open only while a line is written
  bool armed_ = true;
  std::uint64_t writeFailures_ = 0;
  mutable std::mutex finishLock_;
  mutable std::condition_variable finished_;
  std::uint64_t finishedStops_ = 0;
  mutable std::mutex wavActiveLock_;
  bool wavLogActive_ = false;
  mutable std::mutex calLock_;
  bool calCaptureRequest_ = false;
  std::function<bool()> calibrating_;
  std::mutex panelLock_;
  PanelModel* panel_ = nullptr;
};

// One epoch log setting message (type 18) to LogThread; applied directly when the thread
// does not take it.
void PostEpochLogSetting(HyloThreadControl& threads, HyloLogging& logging, bool enabled, int side,
                         const std::string& folder);

}  // namespace hylo
