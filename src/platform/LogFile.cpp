#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace hylo::platform {

LogFile::~LogFile() { Close(); }

LogFile::LogFile(LogFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

LogFile LogFile::CreateNew(const std::filesystem::path& path, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  error = fd < 0 ? errno : 0;
  return LogFile(fd);
}

LogFile LogFile::OpenForAppend(const std::filesystem::path& path, bool truncate, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
  error = fd < 0 ? errno : 0;
  LogFile file(fd);
  if (fd >= 0 && ::lseek(fd, 0, SEEK_END) < 0) error = errno;
  return file;
}

namespace {
// write() and pwrite() may take less than asked (a signal, a file-size limit): go on until
// the call refuses.
template <typename Call>
WriteResult WriteAll(int fd, std::span<const std::uint8_t> bytes, Call call) {
  WriteResult r;
  if (fd < 0) {
    r.error = EBADF;
    return r;
  }
  while (r.written < bytes.size()) {
    const ssize_t n = call(bytes.data() + r.written, bytes.size() - r.written, r.written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.error = n < 0 ? errno : EIO;
      break;
    }
    r.written += static_cast<std::size_t>(n);
  }
  return r;
}
}  // namespace

WriteResult LogFile::Write(std::span<const std::uint8_t> bytes) {
  return WriteAll(fd_, bytes,
                  [this](const std::uint8_t* data, std::size_t size, std::size_t) { return ::write(fd_, data, size); });
}

WriteResult LogFile::Write(std::string_view text) {
  return Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

WriteResult LogFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  return WriteAll(fd_, bytes, [this, offset](const std::uint8_t* data, std::size_t size, std::size_t done) {
    return ::pwrite(fd_, data, size, static_cast<off_t>(offset + done));
  });
}

int LogFile::Truncate(std::uint64_t size) {
  if (fd_ < 0) return EBADF;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return errno;
  if (::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) return errno;
  return 0;
}

int LogFile::DataSync() {
  if (fd_ < 0) return EBADF;
  return ::fdatasync(fd_) == 0 ? 0 : errno;
}

std::uint64_t LogFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

int LogFile::Close() {
  if (fd_ < 0) return 0;
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0 ? 0 : errno;
}

std::string ErrorText(int error) {
  char text[256] = {};
  // The GNU strerror_r returns its text, which may not be the buffer.
  return std::string(strerror_r(error, text, sizeof text));
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace hylo::platform
