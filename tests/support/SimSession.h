#pragma once
// hylo-sim on free loopback ports and a fresh context that connects to it, for the tests that
// drive the core against the simulator; and the bounded wait they all poll with.
#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/SimProcess.h"
#include "support/TestOptions.h"

namespace hylo::test {

// Polls `done` every 10 ms for at most `ms`.
template <typename F>
bool WaitFor(F done, int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

#ifdef HYLO_SIM_BIN
struct SimSession {
  RunningSim sim;
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo{op, TestOptions(dir)};

  // On free ports, or on `fixedPort` (which may be taken: see sim.Ready()).
  explicit SimSession(const std::vector<std::string>& simArgs, int seconds = 90, std::uint16_t fixedPort = 0)
      : sim(fixedPort ? OnPort(fixedPort, simArgs, seconds) : StartSimOnFreePorts(simArgs, seconds)) {}
  ~SimSession() { hylo.MainExit(); }

  // Starts the context and connects to the simulator's command port.
  bool Connect() {
    return sim.Ready() && hylo.Start() == 0 && HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok();
  }
  bool Noticed(std::string_view text) const {
    const auto n = op.Notices();
    return std::find(n.begin(), n.end(), text) != n.end();
  }
  // A line of the main panel's status field holds `text`.
  bool Logged(std::string_view text) {
    const auto lines = hylo.MainPanel().Get(mainpanel::kStatusField).items;
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
  static RunningSim OnPort(std::uint16_t port, std::vector<std::string> args, int seconds) {
    args.insert(args.end(), {"--port", std::to_string(port), "--seconds", std::to_string(seconds)});
    return {port, std::make_unique<SimProcess>(args)};
  }
};
#endif

}  // namespace hylo::test
