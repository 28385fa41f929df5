#include "files/HyloWav.h"

#include <cstring>
#include <ctime>
#include <system_error>

#include "files/HyloFiles.h"
#include "files/HyloIni.h"
#include "platform/Bytes.h"
#include "platform/Folders.h"
#include "shell/OperatorPort.h"

namespace hylo {
namespace {

constexpr const char* kOpenFailed = "ERROR: Could not open Log File.\nPlease verify wav logging path and try again.";
// The RIFF size field holds 336 + data bytes in 32 bits.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFULL - 336;

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
  std::lock_guard guard(lock_);
  if (settingsUnreadable) {
    SaveSettings();
  } else {
    LoadFields(ini_, settings_.Fields());
  }
}

void HyloWav::WavLogShutdown() { WavLogClose(); }

bool HyloWav::WavLogIsEnabled() const {
  std::lock_guard guard(lock_);
  return settings_.captureEnabled;
}

void HyloWav::WavLogSetEnabled(bool on) {
  std::lock_guard guard(lock_);
  settings_.captureEnabled = on;
  SaveSettings();
}

void HyloWav::SaveSettings() { SaveFields(ini_, settings_.Fields()); }

bool HyloWav::FileOpen() const {
  std::lock_guard guard(lock_);
  return file_ != nullptr;
}

std::filesystem::path HyloWav::FilePath() const {
  std::lock_guard guard(lock_);
  return filePath_;
}

std::uint64_t HyloWav::BytesPerFile() const {
  std::lock_guard guard(lock_);
  return bytesPerFile_;
}

HyloWav::OpenResult HyloWav::WavLogOpen(const WavBlock& block, std::uint32_t width) {
  if (!settings_.captureEnabled) return OpenResult::kDisabled;
  WavLogClose();
  std::lock_guard guard(lock_);
  // Announce the planned length, but never more than the 32-bit sizes can hold.
  std::uint64_t planned = 60ULL * static_cast<std::uint64_t>(block.sampleRate) * width *
                          static_cast<std::uint64_t>(std::max(settings_.minutesPerFile, 1));
  if (planned > kMaxDataBytes) planned = kMaxDataBytes - kMaxDataBytes % width;
  bytesPerFile_ = planned;

  const std::filesystem::path folder = settings_.path;
  std::error_code error;
  platform::CreateFolderPath(folder, error);
  filePath_ = NextFreeLogPath(folder, settings_.prefix, settings_.nameFormat, settings_.nextIndex, block.blockTime,
                              "wav", settings_.fileName);
  bytesWritten_ = 0;
  SaveSettings();
  if (filePath_.empty()) return OpenResult::kFailed;
  // "wbx" fails instead of replacing a file that appeared since the check.
  file_.reset(std::fopen(filePath_.c_str(), "wbx"));
  if (!file_) return OpenResult::kFailed;
  const WavHeaderInfo info = headerSource_ ? headerSource_() : WavHeaderInfo{};
  header_ = BuildWavHeader(info, block, settings_.fileName, static_cast<std::uint32_t>(bytesPerFile_));
  if (std::fwrite(header_.data(), 1, header_.size(), file_.get()) != header_.size()) {
    file_.reset();
    return OpenResult::kFailed;
  }
  return OpenResult::kOpened;
}

int HyloWav::WavLogWrite(const WavBlock& block) {
  std::unique_lock guard(lock_);
  const std::uint32_t width = block.sampleWidth & 0x7FU;
  const std::uint64_t count = block.sampleCount > 0 ? static_cast<std::uint64_t>(block.sampleCount) : 0;
  // A block without a usable rate or width, or claiming more samples than it carries, is not written.
  if (width == 0 || width > 4 || block.sampleRate <= 0 || count * width > block.samples.size()) return -1;
  if (!file_ || bytesWritten_ >= bytesPerFile_ || block.newFile != 0 || bytesWritten_ + count * width > kMaxDataBytes) {
    switch (WavLogOpen(block, width)) {
      case OpenResult::kOpened:
        break;
      case OpenResult::kDisabled:
        return 0;  // logging is off: nothing written, nothing counted
      case OpenResult::kFailed:
        guard.unlock();
        operator_.ShowNotice(kOpenFailed);
        if (stopDataCollection_) stopDataCollection_();
        return -1;
    }
  }
  const std::size_t want = static_cast<std::size_t>(count * width);
  bytesWritten_ += want;
  const std::size_t wrote = want ? std::fwrite(block.samples.data(), 1, want, file_.get()) : 0;
  return wrote == want ? 0 : -1;
}

void HyloWav::WavLogClose() {
  std::lock_guard guard(lock_);
  if (!file_) return;
  if (bytesWritten_ != bytesPerFile_) {
    const auto data = static_cast<std::uint32_t>(std::min(bytesWritten_, kMaxDataBytes));
    bytes::PutU32LE(header_, 4, 336 + data);
    bytes::PutU32LE(header_, 340, data);
    if (std::fseek(file_.get(), 0, SEEK_SET) == 0) std::fwrite(header_.data(), 1, header_.size(), file_.get());
  }
  file_.reset();
}

}  // namespace hylo
