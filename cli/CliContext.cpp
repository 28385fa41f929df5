#include "CliContext.h"

#include <iostream>

#include "context/HyloSession.h"

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
  HyloSession session(hylo);
  const SessionResult result = o.serial.empty() ? session.Connect(TcpTarget{o.host, o.port, o.timeoutMs})
                                                : session.Connect(SerialTarget{o.serial, o.baud, o.timeoutMs});
  if (!result) std::cerr << "hylo-cli: " << result.error << "\n";
  return result.Ok();
}

}  // namespace hylo::cli
