#include "platform/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>

namespace hylo {

Pty::Pty() {
  std::array<char, 128> name{};
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) return;
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  master_ = master;
  slave_ = slave;
  slavePath_ = name.data();
}

Pty::~Pty() {
  CloseMaster();
  if (slave_ >= 0) ::close(slave_);
}

int Pty::Read(std::span<std::uint8_t> out, int timeoutMs) {
  if (master_ < 0) return -1;
  pollfd p{master_, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return ready;
  const auto n = ::read(master_, out.data(), out.size());
  return n < 0 ? -1 : static_cast<int>(n);
}

int Pty::Write(std::span<const std::uint8_t> bytes) {
  if (master_ < 0) return -1;
  const auto n = ::write(master_, bytes.data(), bytes.size());
  return n < 0 ? -1 : static_cast<int>(n);
}

void Pty::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace hylo
