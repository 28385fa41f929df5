#pragma once
// Runs hylo-sim as a child process for a test: waits for its "listening" line, ends it by
// its own PID (SIGTERM, then SIGKILL) when the test is done. Only loopback addresses.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace hylo::test {

class SimProcess {
 public:
  // Starts `binary` with `args`; Ready() tells whether the "listening" line came in time.
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline && firstLine_.find('\n') == std::string::npos) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buffer[256];
        const ssize_t n = read(stdout_, buffer, sizeof buffer);
        if (n <= 0) break;
        firstLine_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    ready_ = firstLine_.find("listening") != std::string::npos;
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Ready() const { return ready_; }
  const std::string& FirstLine() const { return firstLine_; }
  pid_t Pid() const { return pid_; }

  // SIGTERM and wait up to 5 s; then SIGKILL. Returns the exit status (−1 if killed).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        close(stdout_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(50000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    close(stdout_);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string firstLine_;
  bool ready_ = false;
};

// A TCP port on 127.0.0.1 that nothing listens on right now (the kernel picks it).
inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace hylo::test
