#include "platform/DiscoverySockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

namespace hylo::platform {

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) out.emplace_back(text);
  }
  ::freeifaddrs(list);
  return out;
}

struct DiscoverySockets::Impl {
  struct Channel {
    int fd = -1;
    std::uint16_t port = 0;
    std::string address;
  };
  mutable std::mutex lock;
  std::vector<Channel> channels;
  std::thread reader;
  std::atomic<bool> stop{false};
  OnDatagram onDatagram;

  void Read() {
    std::vector<pollfd> fds;
    for (const auto& c : channels) fds.push_back({c.fd, POLLIN, 0});
    while (!stop) {
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLERR))) continue;
        // Every datagram waiting, none waited for.
        for (int guard = 0; guard < 1000 && !stop; ++guard) {
          std::uint8_t buffer[548];
          const auto n = ::recv(fds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
          if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) onDatagram(static_cast<int>(i), {}, true);
            break;
          }
          onDatagram(static_cast<int>(i), std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)), false);
        }
      }
    }
  }

  void CloseAll() {
    stop = true;
    if (reader.joinable()) reader.join();
    std::lock_guard guard(lock);
    for (auto& c : channels) ::close(c.fd);
    channels.clear();
    stop = false;
  }
};

DiscoverySockets::DiscoverySockets() : impl_(std::make_unique<Impl>()) {}
DiscoverySockets::~DiscoverySockets() { impl_->CloseAll(); }

int DiscoverySockets::Open(const std::vector<std::string>& addresses, OnDatagram onDatagram) {
  impl_->CloseAll();
  std::vector<Impl::Channel> made;
  for (const auto& address : addresses) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) continue;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    socklen_t len = sizeof local;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
      ::close(fd);
      continue;
    }
    made.push_back({fd, ntohs(local.sin_port), address});
  }
  std::lock_guard guard(impl_->lock);
  impl_->channels = std::move(made);
  impl_->onDatagram = std::move(onDatagram);
  if (!impl_->channels.empty()) impl_->reader = std::thread([impl = impl_.get()] { impl->Read(); });
  return static_cast<int>(impl_->channels.size());
}

void DiscoverySockets::Close() { impl_->CloseAll(); }

int DiscoverySockets::Count() const {
  std::lock_guard guard(impl_->lock);
  return static_cast<int>(impl_->channels.size());
}

std::uint16_t DiscoverySockets::LocalPort(int index) const {
  std::lock_guard guard(impl_->lock);
  if (index < 0 || index >= static_cast<int>(impl_->channels.size())) return 0;
  return impl_->channels[static_cast<std::size_t>(index)].port;
}

std::string DiscoverySockets::LocalAddress(int index) const {
  std::lock_guard guard(impl_->lock);
  if (index < 0 || index >= static_cast<int>(impl_->channels.size())) return {};
  return impl_->channels[static_cast<std::size_t>(index)].address;
}

bool DiscoverySockets::Send(int index, std::span<const std::uint8_t> bytes, const std::string& toAddress,
                            std::uint16_t toPort) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(toPort);
  if (::inet_pton(AF_INET, toAddress.c_str(), &to.sin_addr) != 1) return false;
  std::lock_guard guard(impl_->lock);
  if (index < 0 || index >= static_cast<int>(impl_->channels.size())) return false;
  const int fd = impl_->channels[static_cast<std::size_t>(index)].fd;
  return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(bytes.size());
}

}  // namespace hylo::platform
