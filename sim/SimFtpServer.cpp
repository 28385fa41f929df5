#include "SimFtpServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace hylo::sim {
namespace fs = std::filesystem;

void SimFtpServer::Start() {
  const int port = o_.FtpPort();
  if (port == 0) throw std::runtime_error("the command port gives no FTP control port");
  const fs::path home = fs::path(o_.storage) / "home" / "Aurisond";
  std::error_code ec;
  fs::create_directories(home / "Data", ec);
  fs::create_directories(home / "update", ec);
  if (ec) throw std::runtime_error("cannot make the FTP folders under " + o_.storage);

  std::vector<std::string> args = {"/usr/bin/python3", HYLO_SIM_FTP_SCRIPT, "--root", o_.storage, "--host", o_.host,
                                   "--port",           std::to_string(port)};
  if (!o_.ftpFailList.empty()) args.insert(args.end(), {"--fail-list", o_.ftpFailList});
  if (o_.ftpHostileListing) args.emplace_back("--hostile-listing");
  if (o_.ftpStopAfter) args.insert(args.end(), {"--stop-after", std::to_string(*o_.ftpStopAfter)});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server ends with the simulator, however the simulator ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(out[1], STDOUT_FILENO);
    // None of the simulator's sockets may live on in the server: a listening command port kept
    // open there would keep the unit from coming back on it after a reboot.
    for (int fd = STDERR_FILENO + 1, end = static_cast<int>(sysconf(_SC_OPEN_MAX)); fd < end && fd < 65536; ++fd)
      close(fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    throw std::runtime_error("cannot start the FTP server");
  }
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char c = 0;
    if (read(out[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  close(out[0]);
  if (line.rfind("ready ", 0) != 0) {
    Stop();
    throw std::runtime_error("the FTP server did not start on port " + std::to_string(port));
  }
  port_ = port;
}

void SimFtpServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::vector<std::string> ApplyUploadsOnReboot(const std::string& storage) {
  std::vector<std::string> done;
  if (storage.empty()) return done;
  const fs::path home = fs::path(storage) / "home" / "Aurisond";
  std::error_code ec;
  bool clear = fs::exists(home / "CleanData", ec);
  if (clear) {
    fs::remove(home / "CleanData", ec);
    done.emplace_back("ftp clean data");
  }
  for (const auto& e : fs::directory_iterator(home / "update", ec)) {
    if (!e.is_regular_file(ec) || e.path().extension() != ".aup") continue;
    done.push_back("ftp update applied " + e.path().filename().string() + " " + std::to_string(e.file_size(ec)));
    fs::remove(e.path(), ec);
    clear = true;  // an update deletes the logged data
  }
  if (clear)
    for (const auto& e : fs::directory_iterator(home / "Data", ec)) fs::remove_all(e.path(), ec);
  return done;
}

}  // namespace hylo::sim
