// The floor of the live-chain benchmark: a receiver that asks hylo-sim for the waveform
// stream over UDP on loopback and only reads the datagrams, for a bounded time.
// Usage: udp_floor WAVE_UDP_PORT SECONDS   (prints datagrams, bytes and CPU seconds)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: udp_floor WAVE_UDP_PORT SECONDS\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const double seconds = std::atof(argv[2]);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  int buffer = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::array<unsigned char, 8> start{0x33, 0x2A, 0, 4, 0, 0, 0, 0};
  const std::array<unsigned char, 4> stop{0x34, 0x2A, 0, 0};
  sendto(fd, start.data(), start.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  std::array<unsigned char, 2048> in{};
  unsigned long long datagrams = 0, bytes = 0;
  const auto begin = std::chrono::steady_clock::now();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() < seconds) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) {
      // A start request sent before the simulator's socket was ready is lost: ask again
      // (every 200 ms, only until the stream comes).
      if (datagrams == 0)
        sendto(fd, start.data(), start.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
      continue;
    }
    const ssize_t n = recv(fd, in.data(), in.size(), 0);
    if (n > 0) {
      ++datagrams;
      bytes += static_cast<unsigned long long>(n);
    }
  }
  sendto(fd, stop.data(), stop.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  close(fd);
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  const double cpu = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                     static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  std::printf("%llu %llu %.3f\n", datagrams, bytes, cpu);
  return 0;
}
