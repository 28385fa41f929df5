#include "files/HyloLogging.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

#include "core/HyloThreadControl.h"
#include "core/Post.h"
#include "core/TextMessage.h"
#include "files/HyloCalibrationFile.h"
#include "files/HyloFiles.h"
#include "platform/Folders.h"
#include "platform/HostNames.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/OperatorPort.h"
#include "shell/PanelModel.h"

namespace hylo {
namespace {

constexpr const char* kEol = "\r\n";
constexpr const char* kFftOpenFailed = "ERROR: Could not open Log File.\nPlease verify logging paths and try again.";
constexpr const char* kImpulseOpenFailed =
    "ERROR: Could not open Impulse Log File.\nPlease verify logging paths and try again.";
constexpr int kFftLogValues = 410;

std::string Fmt(const char* format, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::tm Utc(std::uint32_t t) {
  const std::time_t time = t;
  std::tm out{};
  gmtime_r(&time, &out);
  return out;
}

std::string Clip(std::string text, std::size_t n) {
  if (text.size() > n) text.resize(n);
  return text;
}

}  // namespace

std::string LogHeaderBlock(const LogHeaderFields& f, const LogHeaderInfo& info, const LoggingSettings& s) {
  const std::tm t = Utc(f.time);
  std::string h;
  auto line = [&](const std::string& text) { h += text + kEol; };
  line("File Details:");
  line("File Type\t" + std::string(FileTypeName(f.fileType)));
  line("File Version\t5");
  line(Fmt("Start Date\t%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday));
  line(Fmt("Start Time\t%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec));
  line("Time Zone\tUTC");
  line("Author\tQuendal' Hylo V4.4.0");
  line("Computer\t" + Clip(platform::ComputerName(), 15));
  line("User\t" + Clip(platform::UserName(), 49));
  if (!s.jobClient.empty()) line("Client\t" + s.jobClient);
  if (!s.jobId.empty()) line("Job\t" + s.jobId);
  if (!s.jobPersonnel.empty()) line("Personnel\t" + s.jobPersonnel);
  line("Starting Sample\t" + std::to_string(f.firstSample));
  line("");
  line("Device Details:");
  line("Device\t" + std::string(ModelName(info.identity.modelCode)));
  line("S/N\t" + std::to_string(info.identity.unitNumber));
  line("Firmware\t" + info.identity.firmwareText);
  line("");
  line("Setup:");
  line("dB Ref re 1V\t-180");
  line("dB Ref re 1uPa\t" + std::to_string(-180 - info.sensitivityDb));
  line("Sample Rate [S/s]\t" + std::to_string(f.sampleRate));
  line("FFT Size\t" + std::to_string(f.fftSize));
  line(Fmt("Bin Width [Hz]\t%f", f.binWidth));
  line("Window Function\tHann");
  line(Fmt("Overlap [%%]\t%f", f.overlap));
  line("Power Calculation\t" + f.calculationName);
  line("Accumulations\t" + std::to_string(f.accumulations));
  if (f.weighting) line("Data Weighting\t" + std::to_string(*f.weighting));
  line("");
  line("Data:");
  return h;
}

std::string FftLogHeader(const SpectrumRecord& r, const LogHeaderInfo& info, const LoggingSettings& s, int fileType) {
  LogHeaderFields f;
  f.fileType = fileType;
  f.time = r.timeStamp;
  f.firstSample = r.firstSample;
  f.sampleRate = r.sampleRate;
  f.fftSize = r.fftLength ? r.fftLength : 1024;
  f.binWidth = r.sampleRate / static_cast<double>(f.fftSize);
  f.overlap = std::trunc(100 * (1 - r.fftStep / static_cast<double>(f.fftSize)));
  f.calculationName = PowerCalcName(r.fftType);
  f.accumulations = r.accumulation;
  if (r.fftType == 3 || r.fftType == 6) f.weighting = r.weight;
  std::string columns = "Time\tComment\tTemperature\tHumidity\tSequence #\tData Points";
  const char* format = r.sampleRate <= 32000 ? "\t%.2f" : r.sampleRate <= 64000 ? "\t%.1f" : "\t%.0f";
  const int last = 2 * f.fftSize / 5;
  for (int i = 0; i <= last; ++i) columns += Fmt(format, i * f.binWidth);
  return LogHeaderBlock(f, info, s) + columns + kEol;
}

std::string FftLogLine(const SpectrumRecord& r, std::string_view comment, const LogHeaderInfo& info) {
  const std::tm t = Utc(r.timeStamp);
  std::string out = Fmt("%02d:%02d:%02d\t", t.tm_hour, t.tm_min, t.tm_sec);
  out += std::string(comment);
  out += Fmt("\t%.1f\t%f\t%llu\t%d\t", info.temperatureTenths / 10.0, info.humidityTenths / 10.0,
             static_cast<unsigned long long>(r.firstSample), kFftLogValues);
  out.reserve(out.size() + kFftLogValues * 4 + 2);
  for (int i = 0; i < kFftLogValues; ++i) {
    out += std::to_string(r.bins[i]);
    out += '\t';
  }
  out += kEol;
  return out;
}

std::string LoggingLabel(bool fft, bool wav, bool epoch) {
  if (!fft && !wav && !epoch) return {};
  if (fft && wav && epoch) return "Logging\nFFT & WAV\n& Epoch";
  std::string kinds;
  for (const auto& [on, name] : {std::pair{fft, "FFT"}, std::pair{wav, "WAV"}, std::pair{epoch, "Epoch"}}) {
    if (!on) continue;
    if (!kinds.empty()) kinds += " & ";
    kinds += name;
  }
  return "Logging\n" + kinds;
}

void DisplayLoggingEnabled(PanelModel& panel, bool fft, bool wav, bool epoch) {
  const bool any = fft || wav || epoch;
  panel.SetValue(mainpanel::kLogIndicator, std::string(any ? "Logging Enabled" : "Logging Disabled"));
  panel.SetValue(mainpanel::kLogKindsLabel, LoggingLabel(fft, wav, epoch));
  panel.SetVisible(mainpanel::kLogKindsLabel, any);
  panel.SetVisible(mainpanel::kLogKindsIndicator, any);
}

HyloLogging::HyloLogging(HyloIni& ini, OperatorPort& op, LoggingSettings& settings, HyloWav& wav)
    : ini_(ini), operator_(op), settings_(settings), wav_(wav) {
  wav_.SetLogThreadWavState([this](bool on) {
    SetWavLogActive(on);
    RefreshLoggingIndicator();
  });
}

HyloLogging::~HyloLogging() {
  wav_.SetLogThreadWavState({});
  OnQuit();
}

void HyloLogging::OnQuit() {
  std::lock_guard guard(logLock_);
  fftLog_.file.Close();
  impulseLog_.file.Close();
  for (auto& log : epochLogs_) log.file.Close();
}

void HyloLogging::SetMainPanel(PanelModel* panel) {
  {
    std::lock_guard guard(panelLock_);
    panel_ = panel;
  }
  RefreshLoggingIndicator();
}

void HyloLogging::SetCalibrationSource(std::function<bool()> calibrating) {
  std::lock_guard guard(calLock_);
  calibrating_ = std::move(calibrating);
}

void HyloLogging::SaveSettings() { SaveFields(ini_, settings_.Fields()); }

bool HyloLogging::Handle(MessageNode& node) {
  switch (node.type) {
    case MSG_SPECTRUM: {
      const auto& record = node.As<SpectrumRecord>();
      LogFftRecord(record);
      const std::string name = CurrentFftLogName();
      if (context_.showFftLogName) context_.showFftLogName(name);
      {
        std::lock_guard guard(panelLock_);
        if (panel_) panel_->SetValue(mainpanel::kLogStatusField, name);
      }
      bool calibrating = false;
      {
        std::lock_guard guard(calLock_);
        calibrating = calibrating_ && calibrating_();
      }
      if (calibrating) {
        bool capture = false;
        {
          std::lock_guard guard(calLock_);
          capture = std::exchange(calCaptureRequest_, false);
        }
        if (capture) WriteCalibrationHeader(record);
        WriteCalibrationLine(record);
      }
      break;
    }
    case MSG_WAVEFORM:
      clips_.AddBlock(node.As<WaveformRecord>());
      if (WavLogActive()) WriteWaveBlock(node.As<WaveformRecord>());
      break;  // the loop releases the block's sample buffer in every case
    case MSG_WAVE_TAIL: {
      // What arrived of the last second is kept; then nothing opens a log until the next start.
      const auto& tail = node.As<WaveformRecord>();
      if (tail.sampleBuffer && tail.sampleCount > 0 && WavLogActive()) WriteWaveBlock(tail);
      clips_.AddBlock(tail);
      clips_.Finish();
      StopLogging();
      {
        std::lock_guard guard(finishLock_);
        ++finishedStops_;
      }
      finished_.notify_all();
      break;
    }
    case MSG_TEXT: {
      const std::uint16_t side = TextMessageSide(node);
      const std::string_view text = TextMessageText(node);
      if (context_.epochText) context_.epochText(side, text);
      LogEpochText(side, text);
      break;
    }
    case MSG_EPOCH_LOG_SETTING: {
      const auto* bytes = reinterpret_cast<const char*>(node.payload);
      std::uint32_t enabled = 0;
      std::uint16_t side = 0;
      std::memcpy(&enabled, bytes, 4);
      std::memcpy(&side, bytes + 4, 2);
      SetEpochLog(enabled != 0, side, std::string(bytes + 6, strnlen(bytes + 6, 260)));
      break;
    }
    case MSG_IMPULSE:
      LogImpulseRecord(node.As<ImpulseRecord>());
      break;
    default:
      break;
  }
  return false;
}

void HyloLogging::WriteWaveBlock(const WaveformRecord& r) {
  if (!r.sampleBuffer) return;
  WavBlock block;
  block.sampleWidth = r.sampleFormat;
  block.blockTime = r.timeStamp;
  block.sampleRate = static_cast<std::int32_t>(r.sampleRate);
  block.sampleCount = static_cast<std::int32_t>(r.sampleCount);
  block.newFile = r.restart;
  block.fullScaleRange = r.rangeVolts;
  const std::size_t width = r.sampleFormat & 0x7F;
  block.samples = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(r.sampleBuffer->data),
                                                std::min(kSampleBufferBytes, width * r.sampleCount));
  wav_.WavLogWrite(block);
}

bool HyloLogging::OpenTextLog(TextLog& log, const NameRule& rule, std::uint32_t time, const std::string& header) {
  const std::filesystem::path folder =
      rule.folder.empty() ? std::filesystem::current_path() : std::filesystem::path(rule.folder);
  std::error_code error;
  platform::CreateFolderPath(folder, error);
  log.file.Close();
  // A new file every time: an existing log is never written over, not even its header; a
  // name another program took since the check moves on to the next one. The index and name
  // belong to the settings the UI thread saves: written under its lock.
  int createError = EEXIST;
  for (int attempt = 0; attempt < 100 && createError == EEXIST; ++attempt) {
    {
      std::lock_guard settingsGuard(ini_.SettingsLock());
      log.path = NextFreeLogPath(folder, rule.prefix, rule.nameFormat, rule.nextIndex, time, "txt", rule.fileName);
    }
    if (log.path.empty()) return false;
    log.file = File::CreateNew(log.path, createError);
  }
  if (!log.file.IsOpen()) return false;
  log.records = 0;
  if (log.file.Write(header).error != 0) {
    log.file.Close();
    std::filesystem::remove(log.path, error);
    return false;
  }
  log.size = header.size();
  return true;
}

bool HyloLogging::WriteText(TextLog& log, std::string_view text, std::unique_lock<std::mutex>& guard) {
  const platform::WriteResult r = log.file.Write(text);
  if (r.error == 0) {
    log.size += text.size();
    return true;
  }
  // Cut back to the last whole line, so readers never meet half a line.
  log.file.Truncate(log.size);
  log.file.Close();
  log.stopped = true;
  ReportWriteFailure(guard, log.path, r.error);
  return false;
}

void HyloLogging::ReportWriteFailure(std::unique_lock<std::mutex>& guard, const std::filesystem::path& path,
                                     int error) {
  ++writeFailures_;
  const std::string message = "ERROR: Could not write Log File " + path.string() + " (" + platform::ErrorText(error) +
                              ").\nLogging to it stopped; the file keeps its complete lines.";
  guard.unlock();
  operator_.ShowNotice(message);
  if (context_.statusLine) context_.statusLine(message.substr(0, message.find('\n')));
  guard.lock();
}

void HyloLogging::OpenFailed(std::unique_lock<std::mutex>& guard, const char* message) {
  SaveSettings();
  guard.unlock();
  operator_.ShowNotice(message);
  if (context_.stopDataCollection) context_.stopDataCollection();
}

void HyloLogging::LogFftRecord(const SpectrumRecord& r) {
  std::unique_lock guard(logLock_);
  if (!settings_.logfileEnabled) return;
  const LogHeaderInfo info = HeaderInfo();
  if (!fftLog_.file.IsOpen() || fftLog_.records >= settings_.maxRecords) {
    if (!armed_ || fftLog_.stopped) return;
    const NameRule rule{settings_.path, settings_.prefix, settings_.nameFormat, settings_.nextIndex,
                        settings_.fileName};
    if (!OpenTextLog(fftLog_, rule, r.timeStamp, FftLogHeader(r, info, settings_, 0))) {
      OpenFailed(guard, kFftOpenFailed);
      return;
    }
  }
  if (!WriteText(fftLog_, FftLogLine(r, settings_.comment, info), guard)) return;
  ++fftLog_.records;
  SaveSettings();
}

void HyloLogging::LogImpulseRecord(const ImpulseRecord& r) {
  std::unique_lock guard(logLock_);
  if (!settings_.impulseLoggingEnabled) return;
  if (!impulseLog_.file.IsOpen() || impulseLog_.records >= settings_.maxImpulseRecords) {
    if (!armed_ || impulseLog_.stopped) return;
    const NameRule rule{settings_.impulsePath, settings_.impulsePrefix, settings_.impulseNameFormat,
                        settings_.nextImpulseIndex, settings_.impulseFileName};
    if (!OpenTextLog(impulseLog_, rule, r.timeStamp, ImpulseLogHeader(r, HeaderInfo(), settings_))) {
      OpenFailed(guard, kImpulseOpenFailed);
      return;
    }
  }
  if (!WriteText(impulseLog_, ImpulseLogLine(r, settings_.comment), guard)) return;
  ++impulseLog_.records;
  SaveSettings();
}

std::filesystem::path HyloLogging::GetSettingsFolder() const { return ini_.SettingsFolder(); }

std::filesystem::path HyloLogging::CalibrationPath(int modelCode) const {
  const std::string_view name = CalibrationFileName(modelCode);
  return name.empty() ? std::filesystem::path() : GetSettingsFolder() / name;
}

int HyloLogging::WriteCalibrationHeader(const SpectrumRecord& r) {
  const LogHeaderInfo info = HeaderInfo();
  const auto path = CalibrationPath(info.identity.modelCode);
  if (path.empty()) return kCalibrationNoFile;
  std::unique_lock guard(logLock_);
  // A calibration replaces the previous one of its unit type.
  int error = 0;
  calibration_.path = path;
  calibration_.file = File::OpenForAppend(path, true, error);
  calibration_.size = 0;
  calibration_.stopped = false;
  if (!calibration_.file.IsOpen()) return -1;
  const bool written = WriteText(calibration_, FftLogHeader(r, info, settings_, 2), guard);
  calibration_.file.Close();
  return written ? 0 : -1;
}

int HyloLogging::WriteCalibrationLine(const SpectrumRecord& r) {
  const LogHeaderInfo info = HeaderInfo();
  const auto path = CalibrationPath(info.identity.modelCode);
  if (path.empty()) return kCalibrationNoFile;
  std::unique_lock guard(logLock_);
  if (calibration_.stopped && calibration_.path == path) return -1;  // told once already
  int error = 0;
  calibration_.path = path;
  calibration_.file = File::OpenForAppend(path, false, error);
  if (!calibration_.file.IsOpen()) return -1;
  calibration_.size = calibration_.file.Size();
  const bool written = WriteText(calibration_, FftLogLine(r, "Calibration", info), guard);
  calibration_.file.Close();
  SaveSettings();
  return written ? 0 : -1;
}

void HyloLogging::LogEpochText(int side, std::string_view text) {
  if (side != 0 && side != 1) return;
  std::unique_lock guard(logLock_);
  TextLog& log = epochLogs_[static_cast<std::size_t>(side)];
  const bool enabled = side == 0 ? settings_.instrumentEpochLogEnabled : settings_.hostEpochLogEnabled;
  if (!log.file.IsOpen() && enabled && !log.stopped) {
    const std::filesystem::path folder = side == 0 ? settings_.instrumentEpochLogPath : settings_.hostEpochLogPath;
    std::error_code error;
    platform::CreateFolderPath(folder, error);
    int unused = 0;
    std::string name;
    int createError = EEXIST;
    for (int attempt = 0; attempt < 100 && createError == EEXIST; ++attempt) {
      log.path = NextFreeLogPath(folder, side == 0 ? "Aurisond_Epoch" : "Hylo_Epoch", 1, unused,
                                 static_cast<std::uint32_t>(std::time(nullptr)), "txt", name);
      if (log.path.empty()) break;
      log.file = File::CreateNew(log.path, createError);
    }
    log.size = 0;
    if (!log.file.IsOpen()) {
      guard.unlock();
      operator_.ShowNotice("Epoch log open failed.");
      return;
    }
  }
  if (log.file.IsOpen()) WriteText(log, text, guard);
}

void HyloLogging::SetEpochLog(bool enabled, int side, const std::string& folder) {
  if (side != 0 && side != 1) return;
  {
    std::lock_guard guard(logLock_);
    std::lock_guard settingsGuard(ini_.SettingsLock());
    TextLog& log = epochLogs_[static_cast<std::size_t>(side)];
    log.file.Close();
    log.stopped = false;
    if (side == 0) {
      settings_.instrumentEpochLogEnabled = enabled;
      settings_.instrumentEpochLogPath = folder.substr(0, 259);
    } else {
      settings_.hostEpochLogEnabled = enabled;
      settings_.hostEpochLogPath = folder.substr(0, 259);
    }
    SaveSettings();
  }
  RefreshLoggingIndicator();
}

void HyloLogging::SetWavLogActive(bool on) {
  std::lock_guard guard(wavActiveLock_);
  wavLogActive_ = on;
}

bool HyloLogging::WavLogActive() const {
  std::lock_guard guard(wavActiveLock_);
  return wavLogActive_;
}

void HyloLogging::RequestCalCapture(bool on) {
  std::lock_guard guard(calLock_);
  calCaptureRequest_ = on;
}

bool HyloLogging::CalCaptureRequested() const {
  std::lock_guard guard(calLock_);
  return calCaptureRequest_;
}

void HyloLogging::StartWavLogging() {
  wav_.WavLogSetEnabled(true);
  wav_.WavLogBegin();
  SetWavLogActive(true);
  RefreshLoggingIndicator();
}

void HyloLogging::CloseLog(int kind) {
  std::lock_guard guard(logLock_);
  if (kind == 0) fftLog_.file.Close();
  if (kind == 3) impulseLog_.file.Close();
}

void HyloLogging::StopLogging() {
  wav_.WavLogStop();
  std::lock_guard guard(logLock_);
  armed_ = false;
  fftLog_.file.Close();
  impulseLog_.file.Close();
}

void HyloLogging::BeginLogging() {
  {
    std::lock_guard guard(logLock_);
    armed_ = true;
    fftLog_.stopped = false;
    impulseLog_.stopped = false;
  }
  wav_.WavLogBegin();
}

std::uint64_t HyloLogging::WriteFailures() const {
  std::lock_guard guard(logLock_);
  return writeFailures_ + wav_.WriteFailures();
}

std::uint64_t HyloLogging::FinishedStops() const {
  std::lock_guard guard(finishLock_);
  return finishedStops_;
}

bool HyloLogging::WaitFinishedStops(std::uint64_t after, std::chrono::milliseconds timeout) const {
  std::unique_lock guard(finishLock_);
  return finished_.wait_for(guard, timeout, [&] { return finishedStops_ > after; });
}

void HyloLogging::CloseEpochLog(int side) {
  if (side != 0 && side != 1) return;
  std::lock_guard guard(logLock_);
  epochLogs_[static_cast<std::size_t>(side)].file.Close();
}

std::string HyloLogging::CurrentFftLogName() const {
  std::lock_guard guard(logLock_);
  return settings_.logfileEnabled ? settings_.fileName : std::string();
}

bool HyloLogging::IsFftLogEnabled() const {
  std::lock_guard guard(logLock_);
  return settings_.logfileEnabled;
}

bool HyloLogging::IsImpulseLogEnabled() const {
  std::lock_guard guard(logLock_);
  return settings_.impulseLoggingEnabled;
}

bool HyloLogging::IsEpochLogEnabled() const {
  std::lock_guard guard(logLock_);
  return settings_.instrumentEpochLogEnabled || settings_.hostEpochLogEnabled;
}

std::string HyloLogging::GetLogComment() const {
  std::lock_guard guard(logLock_);
  return settings_.comment;
}

void HyloLogging::SetLogComment(const std::string& comment) {
  std::lock_guard guard(logLock_);
  std::lock_guard settingsGuard(ini_.SettingsLock());
  settings_.comment = comment.substr(0, 36);
  SaveSettings();
}

std::string HyloLogging::GetClickDetectionFile() const {
  std::lock_guard guard(logLock_);
  return settings_.clickDetectionFile;
}

void HyloLogging::SetClickDetectionFile(const std::string& path) {
  std::lock_guard guard(logLock_);
  std::lock_guard settingsGuard(ini_.SettingsLock());
  settings_.clickDetectionFile = path.substr(0, 259);
  SaveSettings();
}

FftLogPanelValues HyloLogging::ShowFftLogSettings() const {
  std::lock_guard guard(logLock_);
  FftLogPanelValues v;
  v.comment = settings_.comment;
  v.client = settings_.jobClient;
  v.jobId = settings_.jobId;
  v.personnel = settings_.jobPersonnel;
  v.folder = settings_.path;
  v.prefix = settings_.prefix;
  v.maxRecords = settings_.maxRecords;
  v.nextIndex = settings_.nextIndex;
  v.nameFormat = settings_.nameFormat;
  v.enabled = settings_.logfileEnabled;
  return v;
}

void HyloLogging::ApplyFftLogSettings(const FftLogPanelValues& v) {
  {
    std::lock_guard guard(logLock_);
    std::lock_guard settingsGuard(ini_.SettingsLock());
    // The field sizes of the settings file.
    settings_.comment = v.comment.substr(0, 36);
    settings_.jobClient = v.client.substr(0, 31);
    settings_.jobId = v.jobId.substr(0, 31);
    settings_.jobPersonnel = v.personnel.substr(0, 31);
    settings_.path = v.folder.substr(0, 259);
    settings_.prefix = v.prefix.substr(0, 11);
    settings_.maxRecords = std::max(v.maxRecords, 1);
    settings_.nextIndex = std::max(v.nextIndex, 1);
    settings_.nameFormat = v.nameFormat != 0 ? 1 : 0;
    settings_.logfileEnabled = v.enabled;
    SaveSettings();
  }
  RefreshLoggingIndicator();
}

ImpulseLogPanelValues HyloLogging::ShowImpulseLogSettings() const {
  std::lock_guard guard(logLock_);
  ImpulseLogPanelValues v;
  v.folder = settings_.impulsePath;
  v.prefix = settings_.impulsePrefix;
  v.maxRecords = settings_.maxImpulseRecords;
  v.nextIndex = settings_.nextImpulseIndex;
  v.nameFormat = settings_.impulseNameFormat;
  v.enabled = settings_.impulseLoggingEnabled;
  return v;
}

void HyloLogging::ApplyImpulseLogSettings(const ImpulseLogPanelValues& v) {
  std::lock_guard guard(logLock_);
  std::lock_guard settingsGuard(ini_.SettingsLock());
  settings_.impulsePath = v.folder.substr(0, 259);
  settings_.impulsePrefix = v.prefix.substr(0, 11);
  settings_.maxImpulseRecords = std::max(v.maxRecords, 1);
  settings_.nextImpulseIndex = std::max(v.nextIndex, 1);
  settings_.impulseNameFormat = v.nameFormat != 0 ? 1 : 0;
  settings_.impulseLoggingEnabled = v.enabled;
  SaveSettings();
}

EpochLogPanelValues HyloLogging::ShowEpochLogSettings() const {
  std::lock_guard guard(logLock_);
  EpochLogPanelValues v;
  v.enabled = {settings_.instrumentEpochLogEnabled, settings_.hostEpochLogEnabled};
  v.folder = {settings_.instrumentEpochLogPath, settings_.hostEpochLogPath};
  return v;
}

void HyloLogging::RefreshLoggingIndicator() {
  const bool fft = IsFftLogEnabled();
  const bool epoch = IsEpochLogEnabled();
  const bool wav = wav_.WavLogIsEnabled();
  std::lock_guard guard(panelLock_);
  if (panel_) DisplayLoggingEnabled(*panel_, fft, wav, epoch);
}

void PostEpochLogSetting(HyloThreadControl& threads, HyloLogging& logging, bool enabled, int side,
                         const std::string& folder) {
  const bool queued = threads.Started() && Post(threads, LOG_THREAD, MSG_EPOCH_LOG_SETTING, [&](MessageNode& node) {
                        auto* bytes = reinterpret_cast<char*>(node.payload);
                        const std::uint32_t on = enabled ? 1 : 0;
                        const auto s = static_cast<std::uint16_t>(side);
                        std::memcpy(bytes, &on, 4);
                        std::memcpy(bytes + 4, &s, 2);
                        const std::size_t n = std::min<std::size_t>(folder.size(), 259);
                        std::memcpy(bytes + 6, folder.data(), n);
                        bytes[6 + n] = '\0';
                      });
  if (!queued) logging.SetEpochLog(enabled, side, folder);
}

}  // namespace hylo
