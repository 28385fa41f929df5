#pragma once
// Runs the hylo-sim binary as a child process on free loopback ports, with small blocking
// socket helpers that always time out (tests never hang on a silent simulator).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "SimFrameParser.h"

namespace simtest {

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

inline bool PortFree(std::uint16_t port, int type) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  auto a = Loopback(port);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A command port whose derived stream ports are free too.
inline std::uint16_t FreeCommandPort() {
  std::mt19937 rng(static_cast<unsigned>(getpid()) * 7919u + static_cast<unsigned>(time(nullptr)));
  for (int i = 0; i < 200; ++i) {
    const auto p = static_cast<std::uint16_t>(20000 + rng() % 20000);
    bool ok = PortFree(p, SOCK_STREAM);
    for (int d = 1676; ok && d <= 1681; ++d) {
      ok = PortFree(static_cast<std::uint16_t>(p + d), SOCK_STREAM) &&
           PortFree(static_cast<std::uint16_t>(p + d), SOCK_DGRAM);
    }
    if (ok) return p;
  }
  return 0;
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      std::string bin = HYLO_SIM_BIN;
      argv.push_back(bin.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(bin.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The first stdout line, or empty after `ms`.
  std::string FirstLine(int ms = 10000) {
    std::string line;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return {};
      char c;
      if (read(out_, &c, 1) != 1) return {};
      if (c == '\n') return line;
      line += c;
    }
  }

  // Sends SIGTERM and returns the exit status (-1 when it did not end within ~10 s).
  int Terminate() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    return Wait(10000);
  }
  int Wait(int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
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
  int out_ = -1;
  bool reaped_ = false;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

inline Fd ConnectTcp(std::uint16_t port) {
  Fd fd(socket(AF_INET, SOCK_STREAM, 0));
  auto a = Loopback(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  SetTimeout(fd.get(), 5000);
  return fd;
}

inline bool SendAll(int fd, const std::vector<std::uint8_t>& b) {
  std::size_t done = 0;
  while (done < b.size()) {
    const auto n = write(fd, b.data() + done, b.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads until one whole command-link frame arrived; nullopt on time-out or EOF.
class FrameReader {
 public:
  explicit FrameReader(int fd) : fd_(fd) {}
  std::optional<hylo::sim::SimFrame> Next() {
    for (int i = 0; i < 1000; ++i) {
      if (!pending_.empty()) {
        auto f = pending_.front();
        pending_.erase(pending_.begin());
        return f;
      }
      std::uint8_t buf[4096];
      const auto n = read(fd_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      auto frames = parser_.Feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
      pending_.insert(pending_.end(), frames.begin(), frames.end());
    }
    return std::nullopt;
  }

 private:
  int fd_;
  hylo::sim::SimFrameParser parser_;
  std::vector<hylo::sim::SimFrame> pending_;
};

}  // namespace simtest
