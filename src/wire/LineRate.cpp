#include "wire/LineRate.h"

// asm/termbits.h clashes with <termios.h>, so this file uses the ioctl interface alone.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace hylo::platform {
namespace {

tcflag_t BaudConstant(std::uint32_t baud) {
  struct Entry {
    std::uint32_t baud;
    tcflag_t constant;
  };
  static constexpr Entry kTable[] = {{1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
                                     {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
                                     {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
                                     {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
                                     {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};
  for (const auto& e : kTable)
    if (e.baud == baud) return e.constant;
  return BOTHER;
}

}  // namespace

bool SetLineRate(int fd, std::uint32_t baud) {
  termios2 t{};
  if (baud == 0 || ::ioctl(fd, TCGETS2, &t) != 0) return false;
  const tcflag_t rate = BaudConstant(baud);
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= rate | (rate << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  return ::ioctl(fd, TCSETS2, &t) == 0;
}

std::optional<std::uint32_t> LineRate(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0 || t.c_ospeed == 0) return std::nullopt;
  return t.c_ospeed;
}

}  // namespace hylo::platform
