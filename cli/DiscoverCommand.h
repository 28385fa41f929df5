#pragma once
// hylo-cli discover: the network enquiry on every local interface, the units found as JSON;
// optionally the automatic reconfiguration of units the PC cannot reach.
#include <CLI/CLI.hpp>
#include <string>

namespace hylo::cli {

struct DiscoverOptions {
  double seconds = 15;  // the longest the search (and each later wait) may take
  bool autoReconfigure = false;
  std::string settingsDir;
};

CLI::App* AddDiscoverOptions(CLI::App& app, DiscoverOptions& o);
int Discover(const DiscoverOptions& o);

}  // namespace hylo::cli
