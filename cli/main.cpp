// hylo-cli: the headless front end on the same core as the desktop app.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "DiscoverCommand.h"
#include "FilesCommand.h"
#include "RecordCommand.h"
#include "ReplayCommand.h"
#include "link/DeviceIdentity.h"
#include "link/HyloConnect.h"
#include "platform/LogFile.h"
#include "platform/TerminationSignal.h"

namespace {

using namespace hylo;

int Identify(const cli::LinkOptions& o) {
  ScriptedOperator op;
  auto hylo = cli::MakeContext(op, o);
  if (!cli::ConnectUnit(*hylo, o)) {
    hylo->MainExit();
    return 1;
  }
  const DeviceIdentity id = hylo->Connection().Identity();
  nlohmann::json out = {{"modelCode", id.modelCode},
                        {"model", std::string(ModelName(id.modelCode))},
                        {"unitNumber", id.unitNumber},
                        {"firmware", id.firmwareText},
                        {"firmwareVersion", FirmwareVersion(id.firmwareText).packed},
                        {"status", std::string(UnitStatusText(id.unitStatus))},
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
  CLI::App app{
      "hylo-cli: identify, record and replay Aurisond hydrophone data and reach the unit's files without a window"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("hylo-cli ") + HYLO_VERSION);
  cli::LinkOptions identify;
  auto* identifyCommand = app.add_subcommand("identify", "connect, identify, print the unit as JSON");
  cli::AddLinkOptions(*identifyCommand, identify);
  cli::RecordOptions record;
  auto* recordCommand = app.add_subcommand("record", "connect, set up, scan and log for a while, print a JSON summary");
  cli::AddRecordOptions(*recordCommand, record);
  cli::FilesOptions files;
  auto* filesCommand = cli::AddFilesOptions(app, files);
  cli::ReplayOptions replay;
  auto* replayCommand =
      app.add_subcommand("replay", "replay WAV, FFT text and .fft files through the chain, print a JSON summary");
  cli::AddReplayOptions(*replayCommand, replay);
  cli::DiscoverOptions discover;
  auto* discoverCommand = cli::AddDiscoverOptions(app, discover);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help is a success; every bad option is exit code 2.
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (std::string_view(argv[0]).find('/') != std::string_view::npos)
    replay.self = std::filesystem::absolute(argv[0]).string();
  platform::WatchTerminationSignals();
  platform::IgnoreFileSizeSignal();
  if (*identifyCommand) return Identify(identify);
  if (*recordCommand) return cli::Record(record);
  if (*replayCommand) return cli::Replay(replay);
  if (*filesCommand) return cli::Files(files);
  if (*discoverCommand) return cli::Discover(discover);
  return 2;
}
