#pragma once
// What every hylo-cli command shares: the link options, the context with a scripted operator
// (notices to stderr, the safe answer to every question) and the connect step.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "context/Hylo.h"
#include "shell/ScriptedOperator.h"

namespace hylo::cli {

struct LinkOptions {
  std::string host;
  int port = 50000;
  std::string serial;
  int baud = 256000;
  int timeoutMs = 3000;
  std::string settingsDir;
};

void AddLinkOptions(CLI::App& command, LinkOptions& o);

std::unique_ptr<Hylo> MakeContext(ScriptedOperator& op, const LinkOptions& o);

// Connects as the connection panel would and waits for the identify reply; false (with the
// reason on stderr) when no unit answered.
bool ConnectUnit(Hylo& hylo, const LinkOptions& o);

// "127.0.0.1:50000" or the serial device, for messages.
std::string LinkName(const LinkOptions& o);

}  // namespace hylo::cli
