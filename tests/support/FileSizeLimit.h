#pragma once
// Runs a step in a child process whose files may not grow past a limit: the disk "fills".
// The child's result (0..255) comes back as the exit status; −1 when the child did not end normally.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

namespace hylo::test {

inline int RunWithFileSizeLimit(std::uint64_t bytes, const std::function<int()>& step) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(255);
    _exit(step() & 0xFF);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace hylo::test
