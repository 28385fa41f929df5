#pragma once
// A recording on disk: created exclusively (never over an existing file), written straight
// through with every result checked, its header patched in place and its data synced.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace hylo::platform {

struct WriteResult {
  std::size_t written = 0;  // bytes that reached the file
  int error = 0;            // errno of the failed call; 0 when all were written
};

class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&& other) noexcept;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // A new file; `error` is EEXIST when the name is taken.
  static LogFile CreateNew(const std::filesystem::path& path, int& error);
  // An existing or new file, written at its end (`truncate`: emptied first).
  static LogFile OpenForAppend(const std::filesystem::path& path, bool truncate, int& error);

  bool IsOpen() const { return fd_ >= 0; }
  // At the current end; a short count with the error when the disk refuses the rest.
  WriteResult Write(std::span<const std::uint8_t> bytes);
  WriteResult Write(std::string_view text);
  WriteResult WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  // Cuts the file to `size` and goes on writing there; 0 or errno.
  int Truncate(std::uint64_t size);
  // The data on the disk (and the size when it changed); 0 or errno.
  int DataSync();
  // Bytes in the file; 0 when it cannot be read.
  std::uint64_t Size() const;
  // 0 or errno (a delayed write error can surface here).
  int Close();

 private:
  explicit LogFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

std::string ErrorText(int error);

// Writes past a file-size limit fail with EFBIG instead of ending the process.
void IgnoreFileSizeSignal();

}  // namespace hylo::platform
