#pragma once
// Runs copies of a program side by side and collects what each printed on stdout.
#include <string>
#include <vector>

namespace hylo::platform {

struct ChildResult {
  int exitCode = -1;  // −1 when it could not be started or ended by a signal
  std::string output;
};

// Runs every command (argv, program first), at most `parallel` at a time; results in the
// order of `commands`. stderr is shared with this process.
std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& commands, int parallel);

}  // namespace hylo::platform
