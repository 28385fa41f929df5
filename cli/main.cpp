// hylo-cli: the headless front end on the same core as the desktop app.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/Hylo.h"
#include "link/DeviceIdentity.h"
#include "link/HyloConnect.h"
#include "platform/TerminationSignal.h"
#include "shell/ScriptedOperator.h"

namespace {

struct LinkOptions {
  std::string host;
  int port = 50000;
  std::string serial;
  int baud = 256000;
  int timeoutMs = 3000;
  std::string settingsDir;
};

void AddLinkOptions(CLI::App& command, LinkOptions& o) {
  command.add_option("--host", o.host, "instrument address (TCP command link)");
  command.add_option("--port", o.port, "command port (default 50000; portBase = port − 50000)");
  command.add_option("--serial", o.serial, "serial device of the instrument");
  command.add_option("--baud", o.baud, "serial baud rate");
  command.add_option("--timeout-ms", o.timeoutMs, "how long to wait for the unit");
  command.add_option("--settings-dir", o.settingsDir, "folder for Hylo.ini and the job files");
}

// The context with notices to stderr and the safe answer to every question.
std::unique_ptr<hylo::Hylo> MakeContext(hylo::ScriptedOperator& op, const LinkOptions& o) {
  op.SetEcho([](std::string_view text) { std::cerr << "hylo-cli: " << text << "\n"; });
  hylo::HyloOptions options;
  if (!o.settingsDir.empty()) {
    options.settingsFolder = o.settingsDir;
    options.dataFolder = std::filesystem::path(o.settingsDir) / "data";
  }
  options.startupSettleMs = 0;
  auto hylo = std::make_unique<hylo::Hylo>(op, options);
  hylo->Start();
  hylo->RecordUiThread();
  return hylo;
}

int Identify(const LinkOptions& o) {
  if (o.host.empty() && o.serial.empty()) {
    std::cerr << "hylo-cli: identify needs --host or --serial\n";
    return 2;
  }
  hylo::ScriptedOperator op;
  auto hylo = MakeContext(op, o);
  // The same requests the connection panel posts, handled here on the caller's thread.
  hylo::ConnectRequest request;
  if (!o.serial.empty()) {
    hylo->Groups().connection.commSerialDevice = o.serial;
    hylo->Connection().RefreshPorts();
    request.op = 2;
    request.port = static_cast<std::uint16_t>(hylo->Connection().Ports().NumberOf(o.serial));
    request.baud = o.baud;
    request.timeoutMs = std::max(o.timeoutMs, hylo::SerialTimeoutForBaud(o.baud));
  } else {
    request.op = 1;
    std::snprintf(request.address, sizeof request.address, "%s", o.host.c_str());
    request.port = static_cast<std::uint16_t>(o.port);
    request.timeoutMs = o.timeoutMs;
  }
  const int result = hylo->Connection().HandleConnectRequest(request);
  if (result != 0) {
    std::cerr << "hylo-cli: no unit answered at " << (o.host.empty() ? o.serial : o.host + ":" + std::to_string(o.port))
              << "\n";
    hylo->MainExit();
    return 1;
  }
  // The identify reply reaches the identity through the reply handlers: give them a moment.
  hylo::DeviceIdentity id;
  for (int i = 0; i < 50; ++i) {
    id = hylo->Connection().Identity();
    if (id.modelCode != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  nlohmann::json out = {{"modelCode", id.modelCode},
                        {"model", std::string(hylo::ModelName(id.modelCode))},
                        {"unitNumber", id.unitNumber},
                        {"firmware", id.firmwareText},
                        {"firmwareVersion", hylo::FirmwareVersion(id.firmwareText)},
                        {"status", std::string(hylo::UnitStatusText(id.unitStatus))},
                        {"link", o.host.empty() ? "serial" : "ethernet"},
                        {"port", o.host.empty() ? 0 : hylo->Groups().connection.commTcpPort}};
  if (o.host.empty()) {
    out["device"] = o.serial;
    out["baud"] = hylo->Connection().BaudRate();
  }
  std::cout << out.dump() << std::endl;
  hylo->MainExit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"hylo-cli: identify and record Aurisond hydrophones without a window"};
  app.require_subcommand(1);
  LinkOptions identify;
  auto* identifyCommand = app.add_subcommand("identify", "connect, identify, print the unit as JSON");
  AddLinkOptions(*identifyCommand, identify);
  CLI11_PARSE(app, argc, argv);
  hylo::platform::WatchTerminationSignals();
  if (*identifyCommand) return Identify(identify);
  return 2;
}
