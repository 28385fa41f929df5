// hylo-sim: plays one instrument on loopback TCP/UDP or a pty, for demos and tests.
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "SimOptions.h"
#include "SimSampleDump.h"
#include "SimServer.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const auto parsed = hylo::sim::ParseSimOptions(args);
  if (parsed.help) {
    std::fputs(hylo::sim::SimUsage().c_str(), stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "hylo-sim: %s\n%s", parsed.error.c_str(), hylo::sim::SimUsage().c_str());
    return 2;
  }
  if (parsed.options->dumpSamples > 0) {
    hylo::sim::DumpSamples(*parsed.options, parsed.options->dumpSamples, stdout);
    return 0;
  }
  try {
    hylo::sim::SimServer server(*parsed.options);
    const std::string line = server.Start();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    server.Run(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hylo-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
