#include "platform/TermiosPort.h"

// termios2 (arbitrary bauds through BOTHER) lives in asm/termbits.h, which clashes with
// <termios.h>; this file uses only the ioctl interface.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/SerialDrain.h"
#include "wire/LineRate.h"

namespace hylo {

namespace {

bool Configure(int fd, int baud) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return ::ioctl(fd, TCSETS2, &t) == 0 && platform::SetLineRate(fd, static_cast<std::uint32_t>(baud));
}

bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int r = 0;
  do {
    r = ::poll(&p, 1, std::max(timeoutMs, 0));
  } while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & events) != 0;
}

}  // namespace

std::shared_ptr<TermiosPort> TermiosPort::Open(const std::string& device, int baud) {
  if (baud <= 0) return nullptr;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!::isatty(fd) || !Configure(fd, baud)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<TermiosPort>(fd);
}

TermiosPort::~TermiosPort() { Close(); }

int TermiosPort::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
  std::lock_guard guard(lock_);
  if (fd_ < 0) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitFor(fd_, POLLOUT, static_cast<int>(left.count()))) break;
  }
  // tcdrain has no time-out: poll the output queue instead.
  const auto drainUntil = std::chrono::steady_clock::now() + platform::SerialDrainLimit(done);
  for (;;) {
    int waiting = 0;
    if (::ioctl(fd_, TIOCOUTQ, &waiting) != 0) return -1;
    if (waiting <= 0) break;
    if (std::chrono::steady_clock::now() >= drainUntil) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return static_cast<int>(done);
}

int TermiosPort::Read(std::span<std::uint8_t> out, int timeoutMs) {
  std::lock_guard guard(lock_);
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  const int r = ::poll(&p, 1, std::max(timeoutMs, 1));
  if (r < 0) return errno == EINTR ? 0 : -1;
  if (r == 0) return 0;
  if ((p.revents & POLLIN) == 0) return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? -1 : 0;
  const auto n = ::read(fd_, out.data(), out.size());
  if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
  return static_cast<int>(n);
}

bool TermiosPort::FlushOutput() {
  std::lock_guard guard(lock_);
  return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0;
}

void TermiosPort::Close() {
  std::lock_guard guard(lock_);
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace hylo
