#include "files/HyloFiles.h"

#include <ctime>
#include <system_error>

namespace hylo {
namespace {
// Text files end their lines with CR LF whatever the platform.
constexpr const char* kEol = "\r\n";

std::string Fmt(const char* format, auto... args) {
  char text[1024];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}
}  // namespace

std::string_view FileTypeName(int code) {
  switch (code) {
    case 0:
      return "Spectrum";
    case 1:
      return "Time_Series";
    case 2:
      return "Calibration";
    case 3:
      return "SEL-Third Octave";
    default:
      return "Unknown";
  }
}

std::string_view PowerCalcName(int code) {
  switch (code) {
    case 0:
    case 1:
    case 4:
      return "Mean";
    case 2:
    case 5:
      return "Peak";
    case 3:
    case 6:
      return "Moving Average";
    default:
      return "UNKNOWN";
  }
}

std::string DateText() {
  static constexpr const char* kMonths[] = {"Err", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return "?";
  const int month = local.tm_mon + 1;
  return Fmt("%d %s.%d", local.tm_mday, kMonths[month >= 1 && month <= 12 ? month : 0], local.tm_year + 1900);
}

std::string TimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Fmt("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

std::string UnitDataText(const DeviceIdentity& id, int fftMode, int waveMode) {
  if (id.modelCode != kModelLf && id.modelCode != kModelHf && id.modelCode != kModelAf) return "None\tUnit 000";
  const char* kind = fftMode && waveMode ? "Acou/Time " : fftMode ? "Acou only " : waveMode ? "Time only " : "No Data ";
  return Fmt("%s\tunit %d %s ", kind, id.unitNumber, id.firmwareText.c_str());
}

HyloFiles::File HyloFiles::OpenForAppend(const std::filesystem::path& path, bool& isNew) {
  std::error_code error;
  isNew = !std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) == 0;
  return File(std::fopen(path.c_str(), "ab"));
}

void HyloFiles::OpenJobFiles(const std::filesystem::path& folder) {
  {
    std::lock_guard guard(historyLock_);
    history_ = OpenForAppend(folder / "JobHistoryFile.txt", historyNeedsHeader_);
  }
  std::lock_guard guard(statusLock_);
  status_ = OpenForAppend(folder / "JobStatusFile.txt", statusNeedsHeader_);
}

void HyloFiles::CloseJobFiles() {
  {
    std::lock_guard guard(historyLock_);
    history_.reset();
  }
  std::lock_guard guard(statusLock_);
  status_.reset();
}

int HyloFiles::WriteJobStatus(std::string_view text, bool hasTime) {
  std::lock_guard guard(statusLock_);
  if (!status_) return -1;
  std::string line;
  if (statusNeedsHeader_) {
    line = std::string("  Date   \tTime - Status") + kEol;
    statusNeedsHeader_ = false;
  }
  line += DateText() + " \t";
  if (!hasTime) line += TimeText() + " - ";
  line += std::string(text) + kEol;
  std::fwrite(line.data(), 1, line.size(), status_.get());
  std::fflush(status_.get());
  return 0;
}

int HyloFiles::WriteJobHistory(const JobHistoryRow& row) {
  std::lock_guard guard(historyLock_);
  if (!history_) return -1;
  std::string line;
  if (historyNeedsHeader_) {
    line = std::string(
               "  Date   \tTime    \tData    \tSerial and FW         \tSW       \tTemp\tHumid.\tDataFile       "
               "\tClient       \tJobId\tPersonnel") +
           kEol;
    historyNeedsHeader_ = false;
  }
  line += DateText() + " \t" + TimeText() + "\t";
  line += UnitDataText(row.identity, row.fftCollectMode, row.waveCollectMode) + "\t";
  line += "Hylo V4.4.0\t";
  line += Fmt("%4.1f C\t%4.1f \t", row.temperatureTenths / 10.0, row.humidityTenths / 10.0);
  line += row.fftLogFileName + "\t";
  line += "\"" + row.jobClient + "\"\t \"" + row.jobId + "\"\t \"" + row.jobPersonnel + "\" " + kEol;
  std::fwrite(line.data(), 1, line.size(), history_.get());
  std::fflush(history_.get());
  return 0;
}

}  // namespace hylo

namespace hylo {

std::string LogFileName(std::string_view prefix, int nameFormat, int index, std::uint32_t time,
                        std::string_view extension) {
  const std::string p(prefix);
  const std::string e(extension);
  if (nameFormat == 0) return Fmt("%s_%05d.%s", p.c_str(), index, e.c_str());
  const std::time_t t = time;
  std::tm utc{};
  gmtime_r(&t, &utc);
  return Fmt("%s_%04d%02d%02d_%02d%02d%02d.%s", p.c_str(), utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
             utc.tm_min, utc.tm_sec, e.c_str());
}

std::filesystem::path NextFreeLogPath(const std::filesystem::path& folder, std::string_view prefix, int nameFormat,
                                      int& nextIndex, std::uint32_t time, std::string_view extension,
                                      std::string& fileName) {
  std::error_code error;
  if (nameFormat == 0) {
    for (int tries = 0; tries < 1000000; ++tries) {
      fileName = LogFileName(prefix, 0, nextIndex, time, extension);
      ++nextIndex;
      if (!std::filesystem::exists(folder / fileName, error)) return folder / fileName;
    }
    return {};
  }
  const std::string base = LogFileName(prefix, nameFormat, 0, time, extension);
  const std::string stem = base.substr(0, base.size() - extension.size() - 1);
  fileName = base;
  for (int n = 1; std::filesystem::exists(folder / fileName, error); ++n) {
    if (n > 9999) return {};
    fileName = stem + "_" + std::to_string(n) + "." + std::string(extension);
  }
  return folder / fileName;
}

}  // namespace hylo
