#include "files/HyloWav.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "files/HyloFiles.h"
#include "platform/Folders.h"
#include "settings/HyloIni.h"
#include "shell/OperatorPort.h"
#include "wire/Bytes.h"

namespace hylo {
namespace {

constexpr const char* kOpenFailed = "ERROR: Could not open Log File.\nPlease verify wav logging path and try again.";
// Names taken between the check and the create (another recorder in the folder) are skipped.
constexpr int kCreateAttempts = 100;

void PutTag(WavHeader& h, std::size_t at, const char* tag) { std::memcpy(&h[at], tag, 4); }

// Bounded text into a fixed field: cut to size − 1, zero-terminated.
void PutText(WavHeader& h, std::size_t at, std::size_t size, std::string_view text) {
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(&h[at], text.data(), n);
  std::memset(&h[at + n], 0, size - n);
}

std::tm Utc(std::uint32_t t) {
  const std::time_t time = t;
  std::tm out{};
  gmtime_r(&time, &out);
  return out;
}

}  // namespace

std::string WavFileName(std::string_view prefix, int nameFormat, int index, std::uint32_t blockTime) {
  return LogFileName(prefix, nameFormat, index, blockTime, "wav");
}

WavHeader BuildWavHeader(const WavHeaderInfo& info, const WavBlock& first, std::string_view fileName,
                         std::uint32_t dataBytes) {
  WavHeader h{};
  const std::uint32_t width = first.sampleWidth & 0x7FU;
  const std::uint32_t bits = 8 * width;
  const auto rate = static_cast<std::uint32_t>(first.sampleRate);
  const DeviceIdentity& id = info.identity;
  char text[160];

  PutTag(h, 0, "RIFF");
  bytes::PutU32LE(h, 4, 336 + dataBytes);
  PutTag(h, 8, "WAVE");
  PutTag(h, 12, "LIST");
  bytes::PutU32LE(h, 16, 292);
  PutTag(h, 20, "INFO");

  PutTag(h, 24, "IART");
  bytes::PutU32LE(h, 28, 24);
  std::snprintf(text, sizeof text, "%s #%d", std::string(ModelName(id.modelCode)).c_str(), id.unitNumber);
  PutText(h, 32, 24, text);

  PutTag(h, 56, "IPRD");
  bytes::PutU32LE(h, 60, 24);
  const std::string variant(ModelShortCode(id.modelCode));
  std::string iface(InterfaceName(id.interfaceCode));
  if (iface.empty()) iface = "Unknown";
  if (id.hardwareRevision != 0 && !id.hardwareText.empty()) {
    std::snprintf(text, sizeof text, "%s R%d", id.hardwareText.c_str(), id.hardwareRevision);
  } else if (id.hardwareRevision != 0) {
    std::snprintf(text, sizeof text, "%s-%s R%d", variant.c_str(), iface.c_str(), id.hardwareRevision);
  } else if (!id.hardwareText.empty()) {
    std::snprintf(text, sizeof text, "%s", id.hardwareText.c_str());
  } else {
    std::snprintf(text, sizeof text, "%s-%s", variant.c_str(), iface.c_str());
  }
  PutText(h, 64, 24, text);

  PutTag(h, 88, "ICRD");
  bytes::PutU32LE(h, 92, 24);
  const std::tm t = Utc(first.blockTime);
  std::snprintf(text, sizeof text, "%4d-%02d-%02dT%02d:%02d:%02d+00", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  PutText(h, 96, 24, text);

  PutTag(h, 120, "ISFT");
  bytes::PutU32LE(h, 124, 24);
  std::snprintf(text, sizeof text, "Hylo %s", kProgramVersion);
  PutText(h, 128, 24, text);

  PutTag(h, 152, "INAM");
  bytes::PutU32LE(h, 156, 32);
  PutText(h, 160, 32, fileName);

  PutTag(h, 192, "ICMT");
  bytes::PutU32LE(h, 196, 112);
  const unsigned long maxCount = bits >= 1 && bits <= 32 ? (1UL << (bits - 1)) : 0UL;
  std::snprintf(text, sizeof text, "%8f%s%4d%s%4.1f%s%4.1f%s%7lu%s", first.fullScaleRange / 2.0, " V pk, ",
                info.sensitivityDb, " dBV re 1uPa, ", info.humidityTenths / 10.0, " % RH, ",
                info.temperatureTenths / 10.0, " deg C, ", maxCount, " = Max Count");
  PutText(h, 200, 112, text);

  PutTag(h, 312, "fmt ");
  bytes::PutU32LE(h, 316, 16);
  bytes::PutU16LE(h, 320, 1);
  bytes::PutU16LE(h, 322, 1);
  bytes::PutU32LE(h, 324, rate);
  bytes::PutU32LE(h, 328, rate * bits / 8);
  bytes::PutU16LE(h, 332, static_cast<std::uint16_t>(bits / 8));
  bytes::PutU16LE(h, 334, static_cast<std::uint16_t>(bits));
  PutTag(h, 336, "data");
  bytes::PutU32LE(h, 340, dataBytes);
  return h;
}

HyloWav::~HyloWav() { WavLogClose(); }

void HyloWav::WavLogInit(bool settingsUnreadable) {
  bool enabled = false;
  {
    std::lock_guard guard(lock_);
    if (settingsUnreadable) {
      SaveSettings();
    } else {
      LoadFields(ini_, settings_.Fields());
    }
    enabled = settings_.captureEnabled;
  }
  if (setThreadState_) setThreadState_(enabled);
}

void HyloWav::WavLogShutdown() { WavLogClose(); }

bool HyloWav::WavLogIsEnabled() const {
  std::lock_guard guard(lock_);
  return settings_.captureEnabled;
}

void HyloWav::WavLogSetEnabled(bool on) {
  std::lock_guard guard(lock_);
  std::lock_guard settingsGuard(ini_.SettingsLock());
  settings_.captureEnabled = on;
  SaveSettings();
}

WavPanelValues HyloWav::WavLogShowSettings() const {
  std::lock_guard guard(lock_);
  WavPanelValues v;
  v.folder = settings_.path;
  v.prefix = settings_.prefix;
  v.minutesPerFile = settings_.minutesPerFile;
  v.nextIndex = settings_.nextIndex;
  v.nameFormat = settings_.nameFormat;
  v.enabled = settings_.captureEnabled;
  return v;
}

void HyloWav::WavLogApplySettings(const WavPanelValues& v, bool on) {
  if (!on && setThreadState_) setThreadState_(false);
  {
    std::lock_guard guard(lock_);
    std::lock_guard settingsGuard(ini_.SettingsLock());
    // The same bounds the settings file holds them in.
    settings_.path = v.folder.substr(0, 259);
    settings_.prefix = v.prefix.substr(0, 11);
    settings_.minutesPerFile = std::max(v.minutesPerFile, 1);
    settings_.nextIndex = std::max(v.nextIndex, 1);
    settings_.nameFormat = v.nameFormat != 0 ? 1 : 0;
    SaveSettings();
  }
  WavLogSetEnabled(on);
  if (!on) WavLogClose();
  if (on) WavLogBegin();
  if (on && setThreadState_) setThreadState_(true);
}

std::optional<std::string> HyloWav::FileSelectWavFolder(const std::string& shownFolder) {
  const auto chosen = operator_.ChooseFolder("Select Log File Folder", shownFolder);
  if (!chosen) return std::nullopt;
  return chosen->string();
}

void HyloWav::SaveSettings() { SaveFields(ini_, settings_.Fields()); }

WavLogState HyloWav::State() const {
  std::lock_guard guard(lock_);
  WavLogState s = state_;
  s.fileOpen = file_.IsOpen();
  return s;
}

bool HyloWav::FileOpen() const {
  std::lock_guard guard(lock_);
  return file_.IsOpen();
}

std::uint64_t HyloWav::WriteFailures() const {
  std::lock_guard guard(lock_);
  return writeFailures_;
}

void HyloWav::SetSyncSeconds(double seconds) {
  std::lock_guard guard(lock_);
  syncSeconds_ = std::max(seconds, 0.0);
}

void HyloWav::SetSecondsPerFile(int seconds) {
  std::lock_guard guard(lock_);
  secondsPerFile_ = std::max(seconds, 0);
}

std::filesystem::path HyloWav::FilePath() const {
  std::lock_guard guard(lock_);
  return state_.filePath;
}

std::uint64_t HyloWav::BytesPerFile() const {
  std::lock_guard guard(lock_);
  return state_.bytesPerFile;
}

HyloWav::OpenResult HyloWav::WavLogOpen(const WavBlock& block, std::uint32_t width) {
  if (!settings_.captureEnabled || !armed_) return OpenResult::kDisabled;
  CloseFile();
  // The planned length, never more than the header's sizes hold for every reader.
  const std::uint64_t seconds = secondsPerFile_ > 0
                                    ? static_cast<std::uint64_t>(secondsPerFile_)
                                    : 60ULL * static_cast<std::uint64_t>(std::max(settings_.minutesPerFile, 1));
  std::uint64_t planned = seconds * static_cast<std::uint64_t>(block.sampleRate) * width;
  if (planned > kMaxWavDataBytes) planned = kMaxWavDataBytes - kMaxWavDataBytes % width;
  state_.bytesPerFile = planned;

  const std::filesystem::path folder = settings_.path;
  std::error_code error;
  platform::CreateFolderPath(folder, error);
  state_.bytesWritten = 0;
  state_.bytesInHeader = 0;
  int createError = EEXIST;
  {
    // The name and index are saved by the UI thread at exit too: the settings lock (taken
    // inside the WAV log lock, never the other way round) covers every write of them.
    std::lock_guard settingsGuard(ini_.SettingsLock());
    for (int attempt = 0; attempt < kCreateAttempts && createError == EEXIST; ++attempt) {
      state_.filePath = NextFreeLogPath(folder, settings_.prefix, settings_.nameFormat, settings_.nextIndex,
                                        block.blockTime, "wav", settings_.fileName);
      if (state_.filePath.empty()) break;
      // Exclusive create: a name another recorder took since the check moves on to the next one.
      file_ = platform::LogFile::CreateNew(state_.filePath, createError);
    }
    SaveSettings();
  }
  if (!file_.IsOpen()) return OpenResult::kFailed;
  const WavHeaderInfo info = headerSource_ ? headerSource_() : WavHeaderInfo{};
  // The header announces what the file holds (nothing yet) and follows it block by block.
  state_.header = BuildWavHeader(info, block, settings_.fileName, 0);
  if (file_.Write(state_.header).error != 0) {
    // No half-written header is left behind.
    file_.Close();
    std::filesystem::remove(state_.filePath, error);
    return OpenResult::kFailed;
  }
  lastSync_ = std::chrono::steady_clock::now();
  return OpenResult::kOpened;
}

int HyloWav::PatchHeader() {
  const auto data = static_cast<std::uint32_t>(state_.bytesWritten);
  std::array<std::uint8_t, 4> size{};
  bytes::PutU32LE(size, 0, 336 + data);
  bytes::PutU32LE(state_.header, 4, 336 + data);
  bytes::PutU32LE(state_.header, 340, data);
  if (const auto r = file_.WriteAt(4, size); r.error != 0) return r.error;
  bytes::PutU32LE(size, 0, data);
  if (const auto r = file_.WriteAt(340, size); r.error != 0) return r.error;
  state_.bytesInHeader = state_.bytesWritten;
  return 0;
}

std::string HyloWav::WriteFailed(std::uint32_t width, std::size_t partial, int error) {
  // Whole samples only: a torn last sample is cut off, and the header says what remains.
  state_.bytesWritten += partial - partial % width;
  file_.Truncate(kWavHeaderBytes + state_.bytesWritten);
  PatchHeader();
  file_.DataSync();
  file_.Close();
  armed_ = false;
  ++writeFailures_;
  char text[1024];
  std::snprintf(text, sizeof text,
                "ERROR: Could not write Log File %s (%s).\nWAV logging stopped; the file keeps the %llu samples "
                "written before.",
                state_.filePath.string().c_str(), platform::ErrorText(error).c_str(),
                static_cast<unsigned long long>(state_.bytesWritten / width));
  return text;
}

int HyloWav::WavLogWrite(const WavBlock& block) {
  std::unique_lock guard(lock_);
  const std::uint32_t width = block.sampleWidth & 0x7FU;
  const std::uint64_t count = block.sampleCount > 0 ? static_cast<std::uint64_t>(block.sampleCount) : 0;
  // A block without a usable rate or width, or claiming more samples than it carries, is not written.
  if (width == 0 || width > 4 || block.sampleRate <= 0 || count * width > block.samples.size()) return -1;
  if (!file_.IsOpen() || state_.bytesWritten >= state_.bytesPerFile || block.newFile != 0 ||
      state_.bytesWritten + count * width > kMaxWavDataBytes) {
    switch (WavLogOpen(block, width)) {
      case OpenResult::kOpened:
        break;
      case OpenResult::kDisabled:
        return 0;  // logging is off: nothing written, nothing counted
      case OpenResult::kFailed:
        armed_ = false;  // told once: the blocks already on their way try no further opens
        guard.unlock();
        operator_.ShowNotice(kOpenFailed);
        if (stopDataCollection_) stopDataCollection_();
        return -1;
    }
  }
  const std::size_t want = static_cast<std::size_t>(count * width);
  const platform::WriteResult wrote = file_.Write(block.samples.first(want));
  int error = wrote.error;
  if (error == 0) {
    state_.bytesWritten += want;
    const auto now = std::chrono::steady_clock::now();
    if (syncSeconds_ > 0) {
      // Data first, then the header that announces it: a header never claims what is not there.
      if (std::chrono::duration<double>(now - lastSync_).count() >= syncSeconds_) {
        error = file_.DataSync();
        lastSync_ = now;
      }
      if (error == 0) error = PatchHeader();
    }
    if (error == 0) return 0;
  }
  const std::string message = WriteFailed(width, wrote.error != 0 ? wrote.written : 0, error);
  const auto statusLine = statusLine_;
  guard.unlock();
  operator_.ShowNotice(message);
  if (statusLine) statusLine(message.substr(0, message.find('\n')));
  return -1;
}

void HyloWav::CloseFile() {
  if (!file_.IsOpen()) return;
  if (state_.bytesInHeader != state_.bytesWritten) PatchHeader();
  file_.DataSync();
  file_.Close();
}

void HyloWav::WavLogClose() {
  std::lock_guard guard(lock_);
  CloseFile();
}

void HyloWav::WavLogStop() {
  std::lock_guard guard(lock_);
  armed_ = false;
  CloseFile();
}

void HyloWav::WavLogBegin() {
  std::lock_guard guard(lock_);
  armed_ = true;
}

}  // namespace hylo
