// hylo-cli: the headless front end on the same core as the desktop app.
#include <CLI/CLI.hpp>
#include <iostream>
#include <nlohmann/json.hpp>

#include "CliContext.h"
#include "FilesCommand.h"
#include "RecordCommand.h"
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
  CLI::App app{"hylo-cli: identify, record and reach the files of Aurisond hydrophones without a window"};
  app.require_subcommand(1);
  cli::LinkOptions identify;
  auto* identifyCommand = app.add_subcommand("identify", "connect, identify, print the unit as JSON");
  cli::AddLinkOptions(*identifyCommand, identify);
  cli::RecordOptions record;
  auto* recordCommand = app.add_subcommand("record", "connect, set up, scan and log for a while, print a JSON summary");
  cli::AddRecordOptions(*recordCommand, record);
  cli::FilesOptions files;
  auto* filesCommand = cli::AddFilesOptions(app, files);
  CLI11_PARSE(app, argc, argv);
  platform::WatchTerminationSignals();
  platform::IgnoreFileSizeSignal();
  if (*identifyCommand) return Identify(identify);
  if (*recordCommand) return cli::Record(record);
  if (*filesCommand) return cli::Files(files);
  return 2;
}
