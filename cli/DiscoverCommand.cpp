#include "DiscoverCommand.h"

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "CliContext.h"
#include "link/DeviceIdentity.h"
#include "link/NetworkRules.h"

namespace hylo::cli {
namespace {

using Clock = std::chrono::steady_clock;

nlohmann::json UnitJson(const FoundUnit& u, const std::string& interfaceAddress) {
  return {{"label", u.label},
          {"modelCode", u.modelCode},
          {"unitNumber", u.unitNumber},
          {"mac", netrules::MacText(u.macAddress)},
          {"mode", u.addressMode == 1 ? "dhcp" : "fixed"},
          {"address", u.address},
          {"mask", netrules::DottedText(u.subnetMask)},
          {"gateway", netrules::DottedText(u.gateway)},
          {"interface", interfaceAddress},
          {"ready", u.label.ends_with(" - Ready")}};
}

// Waits in 100 ms steps until `done` or the time is up.
template <typename Done>
bool WaitFor(double seconds, Done done) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace

CLI::App* AddDiscoverOptions(CLI::App& app, DiscoverOptions& o) {
  auto* c = app.add_subcommand("discover", "enquire the local networks for units, print them as JSON");
  c->add_option("--seconds", o.seconds, "longest search (default 15; it ends sooner after five quiet rounds)")
      ->check(CLI::Range(1.0, 600.0));
  c->add_flag("--auto-reconfigure", o.autoReconfigure,
              "give each unit this PC cannot reach a free address on its interface's subnet, then wait for it");
  c->add_option("--settings-dir", o.settingsDir, "folder for Hylo.ini and the job files");
  return c;
}

int Discover(const DiscoverOptions& o) {
  ScriptedOperator op;
  LinkOptions link;
  link.settingsDir = o.settingsDir;
  auto hylo = MakeContext(op, link);
  HyloUnitFinder& finder = hylo->Link().Finder();
  HyloConnect& connect = hylo->Connection();
  finder.SetSearchLimits(o.seconds, 1000);
  if (finder.CBEnquireNetwork(0) != 0) {
    hylo->MainExit();
    return 1;
  }
  // Replies still being checked on ConnectThread.
  hylo->Threads().Barrier(CONNECT_THREAD, std::chrono::milliseconds(static_cast<int>(o.seconds * 1000)));
  if (o.autoReconfigure) {
    const auto units = connect.FoundUnits();
    for (std::size_t i = 0; i < units.size(); ++i) {
      if (!units[i].label.ends_with(" - Configure") || !units[i].label.starts_with("Aurisond")) continue;
      op.QueueButton(0);  // "Auto (Recommended)"
      connect.ConnToFoundUnit(static_cast<int>(i));
      // The set result comes back as a discovery record; a reachable unit is then connected.
      const auto mac = units[i].macAddress;
      WaitFor(o.seconds, [&] {
        for (const auto& u : connect.FoundUnits())
          if (u.macAddress == mac && u.label.ends_with(" - Ready")) return true;
        return false;
      });
    }
    hylo->Threads().Barrier(CONNECT_THREAD, std::chrono::milliseconds(static_cast<int>(o.seconds * 1000)));
  }
  nlohmann::json out;
  out["units"] = nlohmann::json::array();
  const auto interfaces = hylo->Link().FinderPanel().Get(finderpanel::kInterface).items;
  for (const auto& u : connect.FoundUnits())
    out["units"].push_back(UnitJson(u, u.channelIndex < interfaces.size() ? interfaces[u.channelIndex] : ""));
  out["channels"] = finder.ChannelCount();
  if (connect.ConnectionType() != LINK_NONE) {
    const DeviceIdentity id = connect.Identity();
    out["connected"] = {{"address", connect.HostAddress()},
                        {"modelCode", id.modelCode},
                        {"unitNumber", id.unitNumber},
                        {"firmware", id.firmwareText}};
  } else {
    out["connected"] = nullptr;
  }
  out["notices"] = op.Notices();
  std::cout << out.dump() << std::endl;
  hylo->MainExit();
  return 0;
}

}  // namespace hylo::cli
