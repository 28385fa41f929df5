#pragma once
// LogThread: the only writer of the data logs. WAV blocks go to the WAV log, spectra to
// the FFT log with its header and rollover, event texts to the two epoch logs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/Worker.h"
#include "files/HyloWav.h"
#include "files/SettingsGroups.h"
#include "link/DeviceIdentity.h"
#include "processing/Records.h"

namespace hylo {

class HyloIni;
class OperatorPort;

// Text log headers and lines use the same instrument state as the WAV header.
using LogHeaderInfo = WavHeaderInfo;

// The FFT log's header block and one line, as text with CR LF line ends.
std::string FftLogHeader(const SpectrumRecord& first, const LogHeaderInfo& info, const LoggingSettings& settings,
                         int fileType);
std::string FftLogLine(const SpectrumRecord& record, std::string_view comment, const LogHeaderInfo& info);

class HyloLogging final : public Worker {
 public:
  struct Context {
    std::function<LogHeaderInfo()> headerInfo;
    std::function<void()> stopDataCollection;
    std::function<void(const std::string&)> showFftLogName;  // the main panel's logging status field
  };

  HyloLogging(HyloIni& ini, OperatorPort& op, LoggingSettings& settings, HyloWav& wav);
  ~HyloLogging() override;
  void SetContext(Context context) { context_ = std::move(context); }

  bool Handle(MessageNode& node) override;
  void OnQuit() override;

  void LogFftRecord(const SpectrumRecord& record);
  void LogEpochText(int side, std::string_view text);
  void SetEpochLog(bool enabled, int side, const std::string& folder);
  void WriteWaveBlock(const WaveformRecord& record);

  void SetWavLogActive(bool on);
  bool WavLogActive() const;
  // Turns WAV logging on in the safe order: capture enabled first, then the thread's state.
  void StartWavLogging();
  // kind 0: the FFT log; safe from any thread.
  void CloseLog(int kind);
  void CloseEpochLog(int side);
  std::string CurrentFftLogName() const;

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;
  bool OpenFftLog(const SpectrumRecord& record);
  void SaveSettings();

  HyloIni& ini_;
  OperatorPort& operator_;
  LoggingSettings& settings_;
  HyloWav& wav_;
  Context context_;
  mutable std::mutex logLock_;  // the FFT and epoch logs: closes may come from the UI thread
  File fftLog_;
  int fftRecords_ = 0;
  std::array<File, 2> epochLogs_;
  mutable std::mutex wavActiveLock_;
  bool wavLogActive_ = false;
};

}  // namespace hylo
