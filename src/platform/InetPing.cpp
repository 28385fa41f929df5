#include "platform/InetPing.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>

namespace hylo::platform {
namespace {

std::uint16_t Checksum(const std::uint8_t* data, std::size_t n) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (n % 2) sum += static_cast<std::uint32_t>(data[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool InetPing(const std::string& host, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  sockaddr_in to{};
  std::memcpy(&to, found->ai_addr, sizeof to);
  ::freeaddrinfo(found);

  Fd s;
  bool raw = false;
  s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s.fd < 0) {
    s.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = true;
  }
  if (s.fd < 0) return false;

  const std::uint16_t id = static_cast<std::uint16_t>(::getpid());
  std::array<std::uint8_t, 16> request{
      8, 0, 0, 0, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0, 1, 'h', 'y', 'l', 'o',
      0, 0, 0, 0};
  const std::uint16_t sum = Checksum(request.data(), request.size());
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum);
  if (::sendto(s.fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
    return false;

  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{s.fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::array<std::uint8_t, 512> reply{};
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const auto n = ::recvfrom(s.fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0 || from.sin_addr.s_addr != to.sin_addr.s_addr) continue;
    std::size_t at = 0;
    if (raw) at = static_cast<std::size_t>(reply[0] & 0x0F) * 4;               // past the IP header
    if (static_cast<std::size_t>(n) >= at + 8 && reply[at] == 0) return true;  // echo reply
  }
}

}  // namespace hylo::platform
