#include "FilesCommand.h"

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "files/HyloFTP.h"
#include "files/HyloFileSystem.h"
#include "link/CommandLetters.h"
#include "link/Firmware.h"
#include "platform/TerminationSignal.h"

namespace hylo::cli {
namespace {

using files::FilesResult;
using files::RemoteEntry;

nlohmann::json EntryJson(const RemoteEntry& e) {
  return {{"path", e.path}, {"name", e.name}, {"size", e.size}, {"folder", e.folder}};
}

int Fail(const std::string& why) {
  std::cerr << "hylo-cli: " << why << "\n";
  return 1;
}

int Report(const FilesResult& r, nlohmann::json out) {
  if (r.cancelled) return Fail("cancelled");
  if (!r.Ok()) return Fail(r.error);
  if (!r.note.empty()) out["message"] = r.note;
  std::cout << out.dump() << std::endl;
  return 0;
}

int ListAll(files::InstrumentFiles& fs, const std::string& folder, bool recursive, nlohmann::json& out) {
  std::vector<RemoteEntry> entries;
  const FilesResult r = fs.List(folder, !folder.empty() && folder != "/", entries);
  if (!r.Ok()) return Fail(r.cancelled ? "cancelled" : r.error);
  int rc = 0;
  for (const auto& e : entries) {
    if (!e.refusal.empty()) {
      rc = Fail(e.refusal);
      continue;
    }
    out.push_back(EntryJson(e));
    if (recursive && e.folder && ListAll(fs, e.path, true, out) != 0) rc = 1;
  }
  return rc;
}

int Run(files::InstrumentFiles& fs, const FilesOptions& o, bool ftp) {
  const auto& a = o.args;
  if (o.action == "list") {
    if (a.size() > 1) return 2;
    nlohmann::json out = nlohmann::json::array();
    const int rc = ListAll(fs, a.empty() ? std::string() : a[0], o.recursive, out);
    std::cout << out.dump() << std::endl;
    return rc;
  }
  if (o.action == "get") {
    nlohmann::json retrieved = nlohmann::json::array(), failed = nlohmann::json::array();
    std::uint64_t bytes = 0;
    bool cancelled = false;
    for (const auto& remote : a) {
      const files::TreeSummary s = files::RetrieveTree(fs, remote, o.to);
      for (const auto& f : s.retrieved) retrieved.push_back(f);
      for (std::size_t i = 0; i < s.failed.size(); ++i) {
        failed.push_back(s.failed[i]);
        std::cerr << "hylo-cli: " << s.failed[i] << ": " << s.errors[i] << "\n";
      }
      bytes += s.bytes;
      if ((cancelled = s.cancelled)) break;
    }
    if (cancelled) std::cerr << "hylo-cli: cancelled\n";
    if (ftp && !cancelled) {
      const std::size_t total = retrieved.size() + failed.size();
      std::cerr << "hylo-cli: "
                << (failed.empty() ? std::string(files::ftp::kDownloadDone)
                                   : files::ftp::DownloadFailed(retrieved.size(), total))
                << "\n";
    }
    std::cout << nlohmann::json{{"retrieved", retrieved}, {"failed", failed}, {"bytes", bytes}}.dump() << std::endl;
    return failed.empty() && !cancelled ? 0 : 1;
  }
  if (o.action == "put") {
    if (a.size() != 2) return 2;
    return Report(fs.Write(a[0], a[1]), {{"written", a[0]}, {"folder", a[1]}});
  }
  if (o.action == "rm") {
    int rc = 0;
    nlohmann::json deleted = nlohmann::json::array();
    for (const auto& remote : a) {
      const FilesResult r = fs.Delete(remote);
      if (r.Ok())
        deleted.push_back(remote);
      else
        rc = Fail(remote + ": " + (r.cancelled ? std::string("cancelled") : r.error));
    }
    std::cout << nlohmann::json{{"deleted", deleted}}.dump() << std::endl;
    return rc;
  }
  if (o.action == "update") {
    if (a.size() != 1) return 2;
    const std::string package = a[0];
    // Over FTP the package goes to the update folder and the unit reboots to apply it.
    if (ftp) return Report(fs.UpdateFirmware(package, [] { return true; }), {{"updated", "firmware"}});
    // A configuration file goes to the unit's configuration; anything else is firmware.
    if (std::filesystem::path(package).extension() == ".cfg")
      return Report(fs.UpdateConfig(package), {{"updated", "config"}, {"message", files::text::kConfigDone}});
    if (!files::FirmwarePasswordOk(o.password)) return Fail(std::string(files::text::kInvalidPassword));
    return Report(fs.UpdateFirmware(package, [] { return true; }),
                  {{"updated", "firmware"}, {"message", files::text::kFirmwareDone}});
  }
  if (o.action == "clear") return Report(fs.ClearData(), {{"cleared", true}});
  return 2;
}

}  // namespace

CLI::App* AddFilesOptions(CLI::App& app, FilesOptions& o) {
  auto* files = app.add_subcommand("files", "the instrument's storage: list, get, put, rm, update, clear");
  AddLinkOptions(*files, o.link);
  files->add_option("action", o.action, "list | get | put | rm | update | clear")
      ->required()
      ->check(CLI::IsMember({"list", "get", "put", "rm", "update", "clear"}));
  files->add_option("args", o.args, "remote paths (/1/DATA/F.WAV), local files");
  files->add_flag("--recursive", o.recursive, "list: every folder below too");
  files->add_option("--to", o.to, "get: the local destination folder");
  files->add_option("--password", o.password, "update: the firmware update password");
  return files;
}

int Files(const FilesOptions& o) {
  const auto& a = o.args;
  const bool bad = (o.action == "get" && (a.empty() || o.to.empty())) || (o.action == "rm" && a.empty()) ||
                   (o.action == "put" && a.size() != 2) || (o.action == "update" && a.size() != 1) ||
                   (o.action == "clear" && !a.empty()) || (o.action == "list" && a.size() > 1);
  if (bad) {
    std::cerr << "hylo-cli: files " << o.action << ": wrong arguments (see --help)\n";
    return 2;
  }
  ScriptedOperator op;
  auto hylo = MakeContext(op, o.link);
  if (!ConnectUnit(*hylo, o.link)) {
    hylo->MainExit();
    return 1;
  }
  const DeviceIdentity id = hylo->Connection().Identity();
  int rc = 1;
  const bool ftp = files::UsesFtp(id.modelCode, FirmwareVersion(id.firmwareText).packed);
  const auto ftpPort = files::ftp::FtpControlPort(hylo->Connection().PortBase());
  if (ftp && !ftpPort) {
    std::cerr << "hylo-cli: the command port gives no FTP control port\n";
  } else {
    std::unique_ptr<files::InstrumentFiles> transport;
    if (ftp)
      transport = std::make_unique<files::HyloFTP>(hylo->Connection().HostAddress(), *ftpPort, [&hylo] {
        return hylo->Link().Command().Send(cmd::kReboot, {}, false) == 0;
      });
    else  // unattended: a unit that stops answering ends the command instead of being retried for ever
      transport =
          std::make_unique<files::HyloFileSystem>(hylo->Link().Command(), files::FileSystemOptions{.maxReposts = 2});
    files::InstrumentFiles& fs = *transport;
    if (platform::StderrIsTerminal())
      fs.SetProgress([](const files::Progress& p) {
        std::cerr << "\r" << p.name << "  " << p.percent << "%  " << p.text << "      " << std::flush;
      });
    // SIGINT/SIGTERM cancels the transfer at its next step.
    std::jthread watcher([&fs](std::stop_token stop) {
      while (!stop.stop_requested()) {
        if (platform::TerminationRequested()) {
          fs.Cancel();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    rc = Run(fs, o, ftp);
    fs.EndJob();
    watcher.request_stop();
    watcher.join();
    if (platform::StderrIsTerminal()) std::cerr << "\n";
  }
  hylo->MainExit();
  return rc;
}

}  // namespace hylo::cli
