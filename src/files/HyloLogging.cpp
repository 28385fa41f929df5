#include "files/HyloLogging.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <system_error>

#include "files/HyloFiles.h"
#include "files/HyloIni.h"
#include "platform/Folders.h"
#include "platform/HostNames.h"
#include "shell/OperatorPort.h"

namespace hylo {
namespace {

constexpr const char* kEol = "\r\n";
constexpr const char* kFftOpenFailed = "ERROR: Could not open Log File.\nPlease verify logging paths and try again.";
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

std::string FftLogHeader(const SpectrumRecord& r, const LogHeaderInfo& info, const LoggingSettings& s, int fileType) {
  const std::tm t = Utc(r.timeStamp);
  const double size = r.fftLength ? r.fftLength : 1024;
  const double binWidth = r.sampleRate / size;
  std::string h;
  auto line = [&](const std::string& text) { h += text + kEol; };
  line("File Details:");
  line("File Type\t" + std::string(FileTypeName(fileType)));
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
  line("Starting Sample\t" + std::to_string(r.firstSample));
  line("");
  line("Device Details:");
  line("Device\t" + std::string(ModelName(info.identity.modelCode)));
  line("S/N\t" + std::to_string(info.identity.unitNumber));
  line("Firmware\t" + info.identity.firmwareText);
  line("");
  line("Setup:");
  line("dB Ref re 1V\t-180");
  line("dB Ref re 1uPa\t" + std::to_string(-180 - info.sensitivityDb));
  line("Sample Rate [S/s]\t" + std::to_string(r.sampleRate));
  line("FFT Size\t" + std::to_string(static_cast<int>(size)));
  line(Fmt("Bin Width [Hz]\t%f", binWidth));
  line(Fmt("Overlap [%%]\t%f", std::trunc(100 * (1 - r.fftStep / size))));
  line("Power Calculation\t" + std::string(PowerCalcName(r.fftType)));
  line("Accumulations\t" + std::to_string(r.accumulation));
  if (r.fftType == 3 || r.fftType == 6) line("Data Weighting\t" + std::to_string(r.weight));
  line("");
  line("Data:");
  std::string columns = "Time\tComment\tTemperature\tHumidity\tSequence #\tData Points";
  const char* format = r.sampleRate <= 32000 ? "\t%.2f" : r.sampleRate <= 64000 ? "\t%.1f" : "\t%.0f";
  const int last = 2 * static_cast<int>(size) / 5;
  for (int i = 0; i <= last; ++i) columns += Fmt(format, i * binWidth);
  line(columns);
  return h;
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

HyloLogging::HyloLogging(HyloIni& ini, OperatorPort& op, LoggingSettings& settings, HyloWav& wav)
    : ini_(ini), operator_(op), settings_(settings), wav_(wav) {}

HyloLogging::~HyloLogging() { OnQuit(); }

void HyloLogging::OnQuit() {
  std::lock_guard guard(logLock_);
  fftLog_.reset();
  for (auto& log : epochLogs_) log.reset();
}

void HyloLogging::SaveSettings() { SaveFields(ini_, settings_.Fields()); }

bool HyloLogging::Handle(MessageNode& node) {
  switch (node.type) {
    case MSG_SPECTRUM:
      LogFftRecord(node.As<SpectrumRecord>());
      if (context_.showFftLogName) context_.showFftLogName(CurrentFftLogName());
      break;
    case MSG_WAVEFORM:
      if (WavLogActive()) WriteWaveBlock(node.As<WaveformRecord>());
      break;  // the loop releases the block's sample buffer in every case
    case MSG_TEXT: {
      // 32-bit word 0, 16-bit side, NUL-terminated text.
      const auto* bytes = reinterpret_cast<const char*>(node.payload);
      std::uint16_t side = 0;
      std::memcpy(&side, bytes + 4, 2);
      const std::size_t room = kNodePayloadBytes - 6;
      LogEpochText(side, std::string_view(bytes + 6, strnlen(bytes + 6, room)));
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

bool HyloLogging::OpenFftLog(const SpectrumRecord& r) {
  const std::filesystem::path folder =
      settings_.path.empty() ? std::filesystem::current_path() : std::filesystem::path(settings_.path);
  std::error_code error;
  platform::CreateFolderPath(folder, error);
  fftLog_.reset();
  // A new file every time: an existing log is never written over, not even its header.
  const auto path = NextFreeLogPath(folder, settings_.prefix, settings_.nameFormat, settings_.nextIndex, r.timeStamp,
                                    "txt", settings_.fileName);
  if (path.empty()) return false;
  fftLog_.reset(std::fopen(path.c_str(), "wbx"));
  if (!fftLog_) return false;
  fftRecords_ = 0;
  const LogHeaderInfo info = context_.headerInfo ? context_.headerInfo() : LogHeaderInfo{};
  const std::string header = FftLogHeader(r, info, settings_, 0);
  std::fwrite(header.data(), 1, header.size(), fftLog_.get());
  return true;
}

void HyloLogging::LogFftRecord(const SpectrumRecord& r) {
  std::unique_lock guard(logLock_);
  if (!settings_.logfileEnabled) return;
  if (!fftLog_ || fftRecords_ >= settings_.maxRecords) {
    if (!OpenFftLog(r)) {
      SaveSettings();
      guard.unlock();
      operator_.ShowNotice(kFftOpenFailed);
      if (context_.stopDataCollection) context_.stopDataCollection();
      return;
    }
  }
  const LogHeaderInfo info = context_.headerInfo ? context_.headerInfo() : LogHeaderInfo{};
  const std::string line = FftLogLine(r, settings_.comment, info);
  std::fwrite(line.data(), 1, line.size(), fftLog_.get());
  ++fftRecords_;
  SaveSettings();
}

void HyloLogging::LogEpochText(int side, std::string_view text) {
  if (side != 0 && side != 1) return;
  std::unique_lock guard(logLock_);
  File& log = epochLogs_[static_cast<std::size_t>(side)];
  const bool enabled = side == 0 ? settings_.instrumentEpochLogEnabled : settings_.hostEpochLogEnabled;
  if (!log && enabled) {
    const std::filesystem::path folder = side == 0 ? settings_.instrumentEpochLogPath : settings_.hostEpochLogPath;
    std::error_code error;
    platform::CreateFolderPath(folder, error);
    int unused = 0;
    std::string name;
    const auto path = NextFreeLogPath(folder, side == 0 ? "Aurisond_Epoch" : "Hylo_Epoch", 1, unused,
                                      static_cast<std::uint32_t>(std::time(nullptr)), "txt", name);
    if (!path.empty()) log.reset(std::fopen(path.c_str(), "ab"));
    if (!log) {
      guard.unlock();
      operator_.ShowNotice("Epoch log open failed.");
      return;
    }
  }
  if (log) {
    std::fwrite(text.data(), 1, text.size(), log.get());
    std::fflush(log.get());
  }
}

void HyloLogging::SetEpochLog(bool enabled, int side, const std::string& folder) {
  if (side != 0 && side != 1) return;
  std::lock_guard guard(logLock_);
  epochLogs_[static_cast<std::size_t>(side)].reset();
  if (side == 0) {
    settings_.instrumentEpochLogEnabled = enabled;
    settings_.instrumentEpochLogPath = folder;
  } else {
    settings_.hostEpochLogEnabled = enabled;
    settings_.hostEpochLogPath = folder;
  }
  SaveSettings();
}

void HyloLogging::SetWavLogActive(bool on) {
  std::lock_guard guard(wavActiveLock_);
  wavLogActive_ = on;
}

bool HyloLogging::WavLogActive() const {
  std::lock_guard guard(wavActiveLock_);
  return wavLogActive_;
}

void HyloLogging::StartWavLogging() {
  wav_.WavLogSetEnabled(true);
  SetWavLogActive(true);
}

void HyloLogging::CloseLog(int kind) {
  if (kind != 0) return;
  std::lock_guard guard(logLock_);
  fftLog_.reset();
}

void HyloLogging::CloseEpochLog(int side) {
  if (side != 0 && side != 1) return;
  std::lock_guard guard(logLock_);
  epochLogs_[static_cast<std::size_t>(side)].reset();
}

std::string HyloLogging::CurrentFftLogName() const {
  std::lock_guard guard(logLock_);
  return settings_.logfileEnabled ? settings_.fileName : std::string();
}

}  // namespace hylo
