#pragma once
// The instrument's storage over the file protocol carried by the command link (TCP or serial):
// each request is submitted (up to 10 tries, asking while the instrument is busy), waited for
// in the pending list and its result fetched; a request that runs out of tries is posted again
// after 1 s (10 s after 10 failures in a row). Blocks: 4096-byte reads, 938-byte writes.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileProtocol.h"
#include "files/InstrumentFiles.h"
#include "link/CommandLink.h"

namespace hylo::files {

// The operator's texts.
namespace text {
inline constexpr std::string_view kAccessError =
    "An error has occured while accessing Aurisond file system. Please wait 10 seconds and try again.";
inline constexpr std::string_view kNoData = "File contains no data.";
inline constexpr std::string_view kLocalWrite =
    "ERROR: Failed to write local file.\nPlease verify local path and try again.";
inline constexpr std::string_view kFolderRefused = "Error: The selected directory cannot be deleted.";
inline constexpr std::string_view kFileRefused = "Error: The selected file cannot be deleted.";
inline constexpr std::string_view kTooDeep =
    "Error: The selected item lies more than five folders deep and cannot be reached on the instrument.";
inline constexpr std::string_view kFirmwareFailed =
    "An error has occured during the firmware update. Previous firmware has been restored.";
inline constexpr std::string_view kFirmwareFatal =
    "A fatal error has occured during the firmware update: the new firmware could not be put in place.\n"
    "Do not power cycle Aurisond; run the update again.";
inline constexpr std::string_view kFirmwareDone =
    "Firmware Updated successfully. Please power cycle Aurisond for the update to apply";
inline constexpr std::string_view kContinueUpdate =
    "Please ensure power remains on instrument. \nPower loss during this stage may damage your instrument. \nClick Yes "
    "to continue?";
inline constexpr std::string_view kConfigDone =
    "Config File updated successfully,\nReboot Aurisond for changes to apply.";
inline constexpr std::string_view kInvalidPassword = "Invalid Password";
inline constexpr std::string_view kClearOverFtp =
    "Clearing the instrument's data is done over FTP; this unit has no FTP.";
}  // namespace text

// The firmware update's fixed password.
bool FirmwarePasswordOk(std::string_view entered);

struct FileSystemOptions {
  // Re-posts of a request that ran out of tries; −1 without limit (the panel: cancel ends it).
  int maxReposts = -1;
  std::chrono::milliseconds repostPause{1000};
  std::chrono::milliseconds longRepostPause{10000};
};

class HyloFileSystem final : public InstrumentFiles {
 public:
  explicit HyloFileSystem(CommandLink& link, FileSystemOptions options = {}) : link_(link), options_(options) {}

  FilesResult List(const std::string& folder, bool sizes, std::vector<RemoteEntry>& out) override;
  FilesResult Retrieve(const std::string& remoteFile, const std::filesystem::path& localFile,
                       std::uint64_t& bytes) override;
  FilesResult Delete(const std::string& remote) override;
  FilesResult Write(const std::filesystem::path& localFile, const std::string& remoteFolder) override;
  FilesResult UpdateFirmware(const std::filesystem::path& package, const std::function<bool()>& confirm) override;
  FilesResult UpdateConfig(const std::filesystem::path& file) override;
  FilesResult ClearData() override { return FilesResult::Fail(std::string(text::kClearOverFtp)); }

  // One request through its stages; the result, or the failure text.
  struct Outcome {
    std::optional<FetchedResult> result;
    FilesResult failure;
  };
  Outcome Request(std::uint8_t letter, std::vector<std::uint8_t> body, std::span<const std::uint8_t> second = {},
                  std::size_t replyBytes = 0);
  std::uint16_t NextTransaction() const { return transaction_; }
  // Exchanges that got no reply in time (each costs a try).
  std::uint64_t MissedReplies() const { return missed_; }

 private:
  enum class Stage { kDone, kOutOfTries, kCancelled };
  Stage RunOnce(std::uint8_t letter, std::span<const std::uint8_t> frame, std::size_t replyBytes, std::uint16_t number,
                std::optional<FetchedResult>& result);
  std::optional<std::vector<std::uint8_t>> Exchange(std::uint8_t letter, std::span<const std::uint8_t> payload,
                                                    std::size_t replyBytes = 0);
  FilesResult ListFolder(const RemotePath& folder, bool sizes, std::vector<RemoteEntry>& out);
  std::optional<std::uint32_t> OpenSize(const RemotePath& file, FilesResult& failure);
  FilesResult ReadInto(const RemotePath& file, const std::filesystem::path& localFile, std::uint64_t& bytes);
  FilesResult WriteFile(const std::filesystem::path& localFile, const RemotePath& target);
  FilesResult Failed(std::uint8_t status) const;

  CommandLink& link_;
  FileSystemOptions options_;
  std::uint16_t transaction_ = 0;
  int consecutiveFailures_ = 0;
  std::uint64_t missed_ = 0;
};

}  // namespace hylo::files
