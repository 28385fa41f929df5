#pragma once
// The instrument's storage over FTP (HF and AF units from firmware 2.0.0): one login per job
// with an empty user name and password in passive mode; list, retrieve (the size from
// "LIST name", one re-login after a failed LIST), delete (files only, never the home folder),
// the update package upload and the clean-data trigger file, each followed by "Y" only when
// the upload was whole. Every result is checked; a cancelled upload removes its remote file.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FtpListing.h"
#include "files/InstrumentFiles.h"
#include "platform/FtpClient.h"

namespace hylo::files {

namespace ftp {
inline constexpr std::string_view kHome = "/home/Aurisond/";
inline constexpr std::string_view kData = "/home/Aurisond/Data/";
inline constexpr std::string_view kUpdate = "/home/Aurisond/update";
inline constexpr std::string_view kCleanData = "/home/Aurisond/CleanData";

inline constexpr std::string_view kNothingChosen = "Error: No file selected or error retrieving file list";
inline constexpr std::string_view kConfirmDelete = "Are you sure you wish to delete these files?";
inline constexpr std::string_view kHomeRefused = "Error: Cannot delete Aurisond directory.";
inline constexpr std::string_view kConfirmUpdate =
    "Applying this update will delete all logged data.\nAre you sure you want to continue?";
inline constexpr std::string_view kConfirmClear =
    "This will delete all logged data.\nAre you sure you want to continue?";
inline constexpr std::string_view kUploaded =
    "Update file uploaded. \nThe hydrophone will now reboot to apply the update.\nThis will take between 2-10 minutes.";
inline constexpr std::string_view kClearing =
    "The hydrophone will now reboot to clear the data.\nThis will take between 2-10 minutes.";
inline constexpr std::string_view kDownloadDone = "Download Completed Successfully";
inline constexpr std::string_view kQueueFailed = "FTP Failed, Please wait 30 seconds and try again.";
inline constexpr std::string_view kLoginFailed = "Error: The instrument's FTP server could not be reached.";
inline constexpr std::string_view kFolderNotDeleted = "Error: Folders are not deleted.";
inline constexpr std::string_view kNoConfigOverFtp =
    "The configuration file is updated over the file protocol; this unit has FTP.";

// "Download Failed: %d of %d Files Retrieved"
std::string DownloadFailed(std::size_t retrieved, std::size_t total);
// "%d / %d MB" and the percentage for the progress line; 0 and "" without a total.
Progress FtpProgress(const std::string& name, std::uint64_t done, std::uint64_t total);
// 21 for port base 0, else 2021 + port base; empty when that is no port.
std::optional<std::uint16_t> FtpControlPort(int portBase);
// "/home/Aurisond" and "/home/Aurisond/" (and spellings with repeated slashes).
bool IsHomeFolder(std::string_view path);
}  // namespace ftp

// The outcome of a retrieve job over a list of remote names.
struct DownloadSummary {
  std::size_t total = 0;      // names that are files
  std::size_t retrieved = 0;  // of those, complete on the disk
  bool cancelled = false;
  bool loginLost = false;  // a re-login failed: the job stopped
  std::string message;     // "Download Completed Successfully" or "Download Failed: ..."
};

class HyloFTP final : public InstrumentFiles {
 public:
  // Sends "Y" to the instrument; false when it could not be sent.
  using Reboot = std::function<bool()>;
  HyloFTP(std::string host, std::uint16_t port, Reboot reboot = {});
  HyloFTP(std::string host, std::uint16_t port, Reboot reboot, platform::FtpClient::Options options);

  FilesResult List(const std::string& folder, bool sizes, std::vector<RemoteEntry>& out) override;
  FilesResult Retrieve(const std::string& remoteFile, const std::filesystem::path& localFile,
                       std::uint64_t& bytes) override;
  FilesResult Delete(const std::string& remote) override;
  FilesResult Write(const std::filesystem::path& localFile, const std::string& remoteFolder) override;
  // Uploads the package into the update folder, then "Y". `confirm` is not asked: the panel
  // asks before the file is chosen.
  FilesResult UpdateFirmware(const std::filesystem::path& package, const std::function<bool()>& confirm) override;
  FilesResult UpdateConfig(const std::filesystem::path&) override {
    return FilesResult::Fail(std::string(ftp::kNoConfigOverFtp));
  }
  FilesResult ClearData() override;

  // The retrieve job: every name that is not a folder into `localFolder` (by its last
  // component), counting what arrived whole.
  DownloadSummary RetrieveNames(const std::vector<std::string>& names, const std::filesystem::path& localFolder);
  // Logs out; the next operation logs in again.
  void EndJob() override { client_.Close(); }

  // Transfer counters for the progress display.
  std::uint64_t Transferred() const { return transferred_.load(); }
  std::uint64_t Total() const { return total_.load(); }

 private:
  bool EnsureLogin(FilesResult& failure);
  bool Relogin();
  FilesResult Upload(const std::filesystem::path& local, const std::string& remote);
  FilesResult AfterUpload(FilesResult r, const std::string& remote, std::string_view done);
  FilesResult Failure(std::string_view what);
  void Tick(const std::string& name);

  platform::FtpClient client_;
  Reboot reboot_;
  std::atomic<std::uint64_t> transferred_{0};
  std::atomic<std::uint64_t> total_{0};
};

}  // namespace hylo::files
