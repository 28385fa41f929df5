#pragma once
// What the file panel and `hylo-cli files` ask of an instrument's storage, whatever carries
// it (the file protocol on the command link, or FTP): list, retrieve, delete, write, update,
// clear, each with progress and cancel. One operation at a time; Cancel from any thread.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hylo::files {

struct RemoteEntry {
  std::string path;        // "/1/DATA/F0001.WAV"
  std::string name;        // "F0001.WAV", or "Volume 1" for a volume
  std::int64_t size = -1;  // bytes; −1 for folders and sizes not asked for
  bool folder = false;
  // Why nothing can be done with this entry (a name that names no place, too deep); empty
  // for usable entries.
  std::string refusal;
};

struct Progress {
  std::string name;  // the file under way, "NAME.EXT"
  int percent = 0;
  std::string text;  // "%d / %d KB"
};
using ProgressHook = std::function<void(const Progress&)>;

// Success, or the operator's message; `skipped` for a retrieve of an empty file.
struct FilesResult {
  std::string error;
  bool cancelled = false;
  bool skipped = false;
  std::string note{};  // what to tell the operator after a success, when there is something
  bool Ok() const { return error.empty() && !cancelled; }
  static FilesResult Fail(std::string why) { return {std::move(why)}; }
};

struct TreeSummary {
  std::vector<std::string> retrieved;  // local paths
  std::vector<std::string> failed;     // remote paths, with their reasons in `errors`
  std::vector<std::string> errors;
  std::uint64_t bytes = 0;
  bool cancelled = false;
};

class InstrumentFiles {
 public:
  virtual ~InstrumentFiles() = default;
  // The volumes ("" or "/"), or one folder's entries; `sizes` also asks each file's size.
  virtual FilesResult List(const std::string& folder, bool sizes, std::vector<RemoteEntry>& out) = 0;
  // One file into `localFile`: the file appears under that name only when complete.
  virtual FilesResult Retrieve(const std::string& remoteFile, const std::filesystem::path& localFile,
                               std::uint64_t& bytes) = 0;
  virtual FilesResult Delete(const std::string& remote) = 0;
  virtual FilesResult Write(const std::filesystem::path& localFile, const std::string& remoteFolder) = 0;
  // The firmware package: written, read back and compared, the old firmware kept aside, and
  // then, when `confirm` says yes, put in force.
  virtual FilesResult UpdateFirmware(const std::filesystem::path& package, const std::function<bool()>& confirm) = 0;
  virtual FilesResult UpdateConfig(const std::filesystem::path& file) = 0;
  virtual FilesResult ClearData() = 0;
  // The end of one job of the panel or of a command: a transport with a session ends it.
  virtual void EndJob() {}

  void SetProgress(ProgressHook hook) { progress_ = std::move(hook); }
  void SetStatusLine(std::function<void(const std::string&)> hook) { statusLine_ = std::move(hook); }
  void Cancel() { cancel_ = true; }
  void ResetCancel() { cancel_ = false; }
  bool Cancelled() const { return cancel_.load(); }

 protected:
  void Report(const Progress& p) const {
    if (progress_) progress_(p);
  }
  void StatusLine(const std::string& line) const {
    if (statusLine_) statusLine_(line);
  }
  std::atomic<bool> cancel_{false};

 private:
  ProgressHook progress_;
  std::function<void(const std::string&)> statusLine_;
};

// Models 5 and 7 from firmware 2.0.0 keep their files behind FTP; every other unit answers
// the file protocol on its command link.
constexpr bool UsesFtp(int modelCode, std::uint32_t firmware) {
  return (modelCode == 5 || modelCode == 7) && firmware >= 0x20000;
}

// Every file under `remote` (a file or a folder, walked depth first) into `localFolder`,
// keeping the folder layout below `remote`. Works over any InstrumentFiles.
TreeSummary RetrieveTree(InstrumentFiles& files, const std::string& remote, const std::filesystem::path& localFolder);

}  // namespace hylo::files
