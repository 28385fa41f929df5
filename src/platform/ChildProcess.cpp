#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

extern char** environ;

namespace hylo::platform {

namespace {

struct Running {
  std::size_t index;
  std::string outputPath;
};

// Starts one command with stdout into a fresh temporary file; 0 on failure.
pid_t Spawn(const std::vector<std::string>& command, std::string& outputPath) {
  std::string pattern = (std::filesystem::temp_directory_path() / "hylo-job-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return 0;
  outputPath = pattern;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fd);
  return error == 0 ? pid : 0;
}

}  // namespace

std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& commands, int parallel) {
  std::vector<ChildResult> results(commands.size());
  std::map<pid_t, Running> running;
  std::size_t next = 0;
  parallel = std::max(parallel, 1);
  auto finish = [&](const Running& r, int exitCode) {
    std::ifstream in(r.outputPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    results[r.index] = {exitCode, text.str()};
    std::remove(r.outputPath.c_str());
  };
  while (next < commands.size() || !running.empty()) {
    while (next < commands.size() && static_cast<int>(running.size()) < parallel) {
      Running r{next, {}};
      const pid_t pid = Spawn(commands[next], r.outputPath);
      if (pid == 0) {
        if (!r.outputPath.empty()) std::remove(r.outputPath.c_str());
      } else {
        running.emplace(pid, r);
      }
      ++next;
    }
    if (running.empty()) continue;
    // Only the children started here are waited for, each by its id.
    pid_t done = 0;
    int code = -1;
    while (done == 0) {
      for (const auto& [pid, r] : running) {
        int status = 0;
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == 0) continue;
        done = pid;
        code = (w == pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (done == 0) usleep(2000);
    }
    finish(running.at(done), code);
    running.erase(done);
  }
  return results;
}

}  // namespace hylo::platform
