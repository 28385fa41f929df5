#pragma once
// The job history and job status files, and the small formatters the text logs share.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "link/DeviceIdentity.h"

namespace hylo {

std::string_view FileTypeName(int code);
std::string_view PowerCalcName(int code);
// "%d %s.%d" from the local date: "4 Mar.2021"; "?" when the date cannot be read.
std::string DateText();
// HH:MM:SS of the local time.
std::string TimeText();
// The data/unit column of a job history row (it holds a tab, filling two columns).
std::string UnitDataText(const DeviceIdentity& identity, int fftCollectMode, int waveCollectMode);

struct JobHistoryRow {
  DeviceIdentity identity;
  int fftCollectMode = 0;
  int waveCollectMode = 0;
  int temperatureTenths = 0;
  int humidityTenths = 0;
  std::string fftLogFileName;
  std::string jobClient;
  std::string jobId;
  std::string jobPersonnel;
};

class HyloFiles {
 public:
  HyloFiles() = default;
  ~HyloFiles() { CloseJobFiles(); }
  HyloFiles(const HyloFiles&) = delete;
  HyloFiles& operator=(const HyloFiles&) = delete;

  // Opens "JobHistoryFile.txt" and "JobStatusFile.txt" in the settings folder for appending.
  void OpenJobFiles(const std::filesystem::path& settingsFolder);
  void CloseJobFiles();

  // One status line; hasTime says the text already begins with "HH:MM:SS - ".
  // Negative when the file is not open. Lines from several threads never interleave.
  int WriteJobStatus(std::string_view text, bool hasTime);
  int WriteJobHistory(const JobHistoryRow& row);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;
  static File OpenForAppend(const std::filesystem::path& path, bool& isNew);

  std::mutex statusLock_;
  std::mutex historyLock_;
  File status_;
  File history_;
  bool statusNeedsHeader_ = false;
  bool historyNeedsHeader_ = false;
};

}  // namespace hylo

namespace hylo {

// "%s_%05d.ext" (sequential) or "%s_YYYYMMDD_HHMMSS.ext" (time-stamped, UTC).
std::string LogFileName(std::string_view prefix, int nameFormat, int index, std::uint32_t time,
                        std::string_view extension);

// The next name of a log that exists nowhere yet in `folder`: sequential names move the
// index on past taken ones, time-stamped names get "_1", "_2" … A recording is never
// replaced. Empty when no free name is found.
std::filesystem::path NextFreeLogPath(const std::filesystem::path& folder, std::string_view prefix, int nameFormat,
                                      int& nextIndex, std::uint32_t time, std::string_view extension,
                                      std::string& fileName);

}  // namespace hylo
