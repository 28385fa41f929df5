#pragma once
// Runs hylo-sim as a child process for a test, and the small blocking loopback helpers the tests
// talk to it with. It needs none of the simulator's headers: command-link frames are built and
// cut here from the wire layout, with a CRC of their own. Every socket read times out, so a
// silent simulator fails a test instead of hanging it; the child is ended by its own PID.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace hylo::test {

class SimProcess {
 public:
#ifdef HYLO_SIM_BIN
  // The simulator this test binary was built with.
  explicit SimProcess(std::vector<std::string> args, int timeoutMs = 10000)
      : SimProcess(HYLO_SIM_BIN, std::move(args), timeoutMs) {}
#endif
  // Starts `binary` with `args` and waits up to `timeoutMs` for its first stdout line;
  // Ready() tells whether that line said "listening".
  SimProcess(const std::string& binary, std::vector<std::string> args, int timeoutMs = 10000) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(binary.c_str()));
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
    if (pid_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c = 0;
      if (read(stdout_, &c, 1) != 1) break;
      if (c == '\n') {
        ready_ = firstLine_.find("listening") != std::string::npos;
        break;
      }
      firstLine_ += c;
    }
  }
  ~SimProcess() {
    Stop();
    if (stdout_ >= 0) close(stdout_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Ready() const { return ready_; }
  // The first stdout line without its newline (what there was of it when not ready).
  const std::string& FirstLine() const { return firstLine_; }

  // The pty path of a "listening pty /dev/pts/N ..." line; empty when there is none.
  std::string PtyPath() const {
    const auto at = firstLine_.find("/dev/");
    if (at == std::string::npos) return {};
    return firstLine_.substr(at, firstLine_.find(' ', at) - at);
  }

  // SIGTERM, then up to 10 s for the exit; SIGKILL after that. The exit status, or −1 when it
  // had to be killed, died of a signal or was ended already.
  int Stop() {
    if (pid_ <= 0 || reaped_) return -1;
    kill(pid_, SIGTERM);
    const int status = Wait(10000);
    if (!reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      reaped_ = true;
    }
    return status;
  }

  // Waits up to `ms` for the simulator to end by itself; its exit status, or −1.
  int Wait(int ms) {
    if (pid_ <= 0 || reaped_) return -1;
    for (int waited = 0; waited <= ms; waited += 20) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(20000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string firstLine_;
  bool ready_ = false;
  bool reaped_ = false;
};

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline void SetTimeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// True when `port` of this socket type can be bound on 127.0.0.1 right now.
inline bool PortFree(std::uint16_t port, int type) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  auto a = Loopback(port);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A command port whose data ports (command port + 1676 .. + 1681, TCP and UDP) are free too;
// with `ftp`, for a unit with FTP, whose control port (2021 + port base) must be free as well.
// 0 when none was found.
inline std::uint16_t FreeCommandPort(bool ftp = false) {
  std::mt19937 rng(static_cast<unsigned>(getpid()) * (ftp ? 31u : 7919u) + static_cast<unsigned>(time(nullptr)));
  for (int i = 0; i < 200; ++i) {
    // Below the kernel's ephemeral range (32768 and up), so the data ports never meet the
    // local ports of the tests' own outgoing connections; an FTP unit needs a port base.
    const auto p = static_cast<std::uint16_t>(ftp ? 50200 + rng() % 12000 : 10000 + rng() % 20000);
    bool ok = PortFree(p, SOCK_STREAM) && (!ftp || PortFree(static_cast<std::uint16_t>(p - 50000 + 2021), SOCK_STREAM));
    for (int d = 1676; ok && d <= 1681; ++d)
      ok = PortFree(static_cast<std::uint16_t>(p + d), SOCK_STREAM) &&
           PortFree(static_cast<std::uint16_t>(p + d), SOCK_DGRAM);
    if (ok) return p;
  }
  return 0;
}

// A free loopback port for a simulator or a peer (0 when none was found).
inline int FreeLoopbackPort() { return FreeCommandPort(); }

#ifdef HYLO_SIM_BIN
struct RunningSim {
  std::uint16_t port = 0;  // the command port; the data ports follow from it
  std::unique_ptr<SimProcess> sim;
  bool Ready() const { return sim && sim->Ready(); }
  std::string Line() const { return sim ? sim->FirstLine() : std::string(); }
};

// Starts the simulator on a command port whose data ports are free, with a run-time limit so a
// forgotten child ends by itself; tries a few ports when one is taken meanwhile.
// `ftp`: an HF/AF unit from v2.0.0 with storage, whose FTP control port must be free as well.
inline RunningSim StartSimOnFreePorts(const std::vector<std::string>& extra, int seconds = 120, bool ftp = false) {
  RunningSim r;
  for (int attempt = 0; attempt < 5 && !r.Ready(); ++attempt) {
    r.port = FreeCommandPort(ftp);
    std::vector<std::string> args = {"--port", std::to_string(r.port), "--seconds", std::to_string(seconds)};
    args.insert(args.end(), extra.begin(), extra.end());
    r.sim = std::make_unique<SimProcess>(args);
  }
  return r;
}
#endif

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A UDP socket on 127.0.0.1 (an ephemeral port), standing in for a unit or a broadcast address.
struct LoopbackUdp {
  Fd fd{socket(AF_INET, SOCK_DGRAM, 0)};
  std::uint16_t port = 0;
  LoopbackUdp() {
    auto a = Loopback(0);
    socklen_t len = sizeof a;
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }
  // The next datagram, or nothing after `timeoutMs`.
  std::vector<std::uint8_t> Receive(int timeoutMs = 2000) {
    pollfd p{fd.get(), POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return {};
    std::vector<std::uint8_t> b(600);
    b.resize(static_cast<std::size_t>(std::max<ssize_t>(0, recv(fd.get(), b.data(), b.size(), 0))));
    return b;
  }
  void SendTo(std::uint16_t to, const std::vector<std::uint8_t>& bytes) {
    const auto a = Loopback(to);
    sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
};

// A TCP connection to 127.0.0.1:port whose reads and writes give up after 5 s.
inline Fd ConnectTcp(std::uint16_t port) {
  Fd fd(socket(AF_INET, SOCK_STREAM, 0));
  auto a = Loopback(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  SetTimeout(fd.get(), 5000);
  return fd;
}

inline bool SendAll(int fd, std::span<const std::uint8_t> b) {
  std::size_t done = 0;
  while (done < b.size()) {
    const auto n = write(fd, b.data() + done, b.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}
inline bool SendAll(int fd, std::initializer_list<std::uint8_t> b) {
  return SendAll(fd, std::span<const std::uint8_t>(b.begin(), b.size()));
}

// Command-link frames: "*", letter, u16 LE payload length, payload, CRC-16/ARC low byte first.
struct Frame {
  char letter = 0;
  std::vector<std::uint8_t> payload;
};

inline std::uint16_t FrameCrc(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

inline std::vector<std::uint8_t> BuildFrame(char letter, std::span<const std::uint8_t> payload = {}) {
  const std::size_t n = payload.size();
  std::vector<std::uint8_t> f(n + 6);
  f[0] = 0x2A;
  f[1] = static_cast<std::uint8_t>(letter);
  f[2] = static_cast<std::uint8_t>(n);
  f[3] = static_cast<std::uint8_t>(n >> 8);
  std::copy(payload.begin(), payload.end(), f.begin() + 4);
  const std::uint16_t crc = FrameCrc(std::span<const std::uint8_t>(f.data(), n + 4));
  f[n + 4] = static_cast<std::uint8_t>(crc);
  f[n + 5] = static_cast<std::uint8_t>(crc >> 8);
  return f;
}

// Reads whole frames from a socket or tty; frames with a bad CRC or length are skipped.
class FrameReader {
 public:
  static constexpr std::size_t kMaxPayload = 7994;

  explicit FrameReader(int fd) : fd_(fd) {}
  // The next frame; nullopt on time-out, end of file or error.
  std::optional<Frame> Next() {
    for (int reads = 0; reads < 1000; ++reads) {
      if (auto f = Cut()) return f;
      std::uint8_t b[4096];
      const auto n = read(fd_, b, sizeof b);
      if (n <= 0) return std::nullopt;
      buf_.insert(buf_.end(), b, b + n);
    }
    return std::nullopt;
  }

 private:
  std::optional<Frame> Cut() {
    for (; !buf_.empty(); buf_.erase(buf_.begin())) {  // on to the next start byte
      if (buf_[0] != 0x2A) continue;
      if (buf_.size() < 4) return std::nullopt;
      const std::size_t n = buf_[2] | (std::size_t{buf_[3]} << 8);
      if (n > kMaxPayload) continue;
      if (buf_.size() < n + 6) return std::nullopt;
      if (FrameCrc(std::span<const std::uint8_t>(buf_.data(), n + 6)) != 0) continue;
      Frame f{static_cast<char>(buf_[1]), {buf_.begin() + 4, buf_.begin() + 4 + static_cast<std::ptrdiff_t>(n)}};
      buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n + 6));
      return f;
    }
    return std::nullopt;
  }

  int fd_;
  std::vector<std::uint8_t> buf_;
};

}  // namespace hylo::test
