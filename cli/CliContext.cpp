#include "CliContext.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "link/HyloConnect.h"

namespace hylo::cli {

void AddLinkOptions(CLI::App& command, LinkOptions& o) {
  command.add_option("--host", o.host, "instrument address (TCP command link)");
  command.add_option("--port", o.port, "command port (default 50000; portBase = port − 50000)");
  command.add_option("--serial", o.serial, "serial device of the instrument");
  command.add_option("--baud", o.baud, "serial baud rate");
  command.add_option("--timeout-ms", o.timeoutMs, "how long to wait for the unit");
  command.add_option("--settings-dir", o.settingsDir, "folder for Hylo.ini and the job files");
}

std::unique_ptr<Hylo> MakeContext(ScriptedOperator& op, const LinkOptions& o) {
  op.SetEcho([](std::string_view text) { std::cerr << "hylo-cli: " << text << "\n"; });
  HyloOptions options;
  if (!o.settingsDir.empty()) {
    options.settingsFolder = o.settingsDir;
    options.dataFolder = std::filesystem::path(o.settingsDir) / "data";
  }
  options.startupSettleMs = 0;
  auto hylo = std::make_unique<Hylo>(op, options);
  hylo->Start();
  hylo->RecordUiThread();
  return hylo;
}

std::string LinkName(const LinkOptions& o) { return o.host.empty() ? o.serial : o.host + ":" + std::to_string(o.port); }

bool ConnectUnit(Hylo& hylo, const LinkOptions& o) {
  if (o.host.empty() == o.serial.empty()) {
    std::cerr << "hylo-cli: give one of --host or --serial\n";
    return false;
  }
  // The same request the connection panel posts, handled here on the caller's thread.
  ConnectRequest request;
  if (!o.serial.empty()) {
    hylo.Groups().connection.commSerialDevice = o.serial;
    hylo.Connection().RefreshPorts();
    request.op = 2;
    request.port = static_cast<std::uint16_t>(hylo.Connection().Ports().NumberOf(o.serial));
    request.baud = o.baud;
    request.timeoutMs = std::max(o.timeoutMs, SerialTimeoutForBaud(o.baud));
  } else {
    request.op = 1;
    std::snprintf(request.address, sizeof request.address, "%s", o.host.c_str());
    request.port = static_cast<std::uint16_t>(o.port);
    request.timeoutMs = o.timeoutMs;
  }
  if (hylo.Connection().HandleConnectRequest(request) != 0) {
    std::cerr << "hylo-cli: no unit answered at " << LinkName(o) << "\n";
    return false;
  }
  // The identify reply reaches the identity through the reply handlers: give them a moment.
  for (int i = 0; i < 50; ++i) {
    if (hylo.Connection().Identity().modelCode != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::cerr << "hylo-cli: the unit at " << LinkName(o) << " did not identify itself\n";
  return false;
}

}  // namespace hylo::cli
