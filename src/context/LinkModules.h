#pragma once
// The instrument link, wired: parser, comms thread, serial reader, TCP event thread, the
// reply handlers and connection management on ConnectThread.
#include <atomic>
#include <functional>
#include <memory>

#include "context/DataPath.h"
#include "context/HyloScan.h"
#include "link/CommsCommandLink.h"
#include "link/HyloComms.h"
#include "link/HyloConnect.h"
#include "link/HyloParser.h"
#include "link/HyloSerial.h"
#include "link/HyloUnitFinder.h"
#include "platform/TcpLink.h"
#include "stream/HyloProcMsg.h"

namespace hylo {

class MainWorkThread;

class LinkModules {
 public:
  LinkModules(HyloThreadControl& threads, OperatorPort& op, HyloIni& ini, SettingsGroups& groups, PanelModel& mainPanel,
              DataPath& data, MainWorkThread& mainWork);
  LinkModules(const LinkModules&) = delete;
  LinkModules& operator=(const LinkModules&) = delete;

  // Worker slots and stop hooks; before the workers start.
  void RegisterWorkers(StopHooks& hooks);
  void Initialise();
  void WorkersStarted();
  void Shutdown();

  HyloConnect& Connection() { return connect_; }
  HyloComms& Comms() { return *comms_; }
  PanelModel& ConnectionPanel() { return panel_; }
  HyloUnitFinder& Finder() { return finder_; }
  PanelModel& FinderPanel() { return finderPanel_; }
  LinkState& State() { return state_; }
  CommandLink& Command() { return link_; }
  HyloProcMsg& Replies() { return replies_; }
  // What scanning control needs of the link.
  HyloScan::Link ScanLink();
  // What a lost or re-made link tells the rest of the program: the status log and the
  // scanning stop (a link that cannot be re-made ends the scan).
  // A lost link stops scanning, but never a replay.
  void SetLinkEvents(std::function<void(std::string_view)> statusLog, std::function<void()> stopScanning,
                     std::function<bool()> replayRunning = {});

 private:
  void ClockStep(int syncMode, bool identified);

  HyloThreadControl& threads_;
  DataPath& data_;
  LinkState state_;
  LinkClock clock_;
  HyloParser parser_;
  std::unique_ptr<HyloComms> comms_;  // large: its pending ring holds 100 frames
  HyloSerial serial_;
  TcpEventLoop loop_;
  CommsCommandLink link_;
  PanelModel panel_{"connection"};
  HyloConnect connect_;
  PanelModel finderPanel_{"unitFinder"};
  HyloUnitFinder finder_;
  HyloProcMsg replies_;
  std::function<void(std::string_view)> statusLog_;
  std::atomic<int> syncMode_{-1};  // as last identified or reported; −1 before the first unit
  std::atomic<bool> clockCancel_{false};
};

}  // namespace hylo
