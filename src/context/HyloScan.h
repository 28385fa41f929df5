#pragma once
// Scanning control: start, pause and stop of the live data flow. Decides which data
// channels a unit gets (by model, link, transport and firmware), drives the periodic status
// enquiry, the scanning flags and the keep-awake request, and logs each step.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "link/DeviceIdentity.h"
#include "platform/KeepAwake.h"
#include "stream/StreamChannels.h"

namespace hylo {

class DataPath;
class HyloNodes;
class HyloThreadControl;
class OperatorPort;
class PanelModel;
class StatusLog;
struct SettingsGroups;
class HyloWav;

// What one start (or resume) of scanning does; a pure function of the unit and the setup.
struct ScanInputs {
  int connectionType = 3;  // LinkType
  int modelCode = 0;
  Firmware firmware;
  int waveTransport = 0;
  int fftTransport = 0;
  bool restart = false;
};

struct ScanPlan {
  bool periodicEnquiry = false;  // data in the "C" replies, or no stream at all
  bool streamCapable = false;    // HF and AF: data sockets, discard on pause, "Q" on stop
  bool openWave = false;
  bool openFft = false;
  bool epochChannel = false;
  bool openStatus = false;
};

ScanPlan PlanScanning(const ScanInputs& in);

class HyloScan {
 public:
  // What scanning needs of the command link.
  struct Link {
    std::function<int()> connectionType;
    std::function<DeviceIdentity()> identity;
    std::function<StreamChannels::Peer()> peer;
    std::function<void()> resetReplyParser;
    std::function<int(std::uint8_t letter)> sendCommand;  // no payload, no wait
  };
  // Where other modules plug in; each is optional until its module exists.
  struct Hooks {
    std::function<int(bool start)> sendJobSetup;  // the job setup with the start or stop flag
    std::function<void()> fitStreamCodes;         // the job setup's codes fitted to the unit and link
    std::function<void()> startEpochChannel;
    std::function<void()> writeJobHistory;
    std::function<void()> showConnectionPage;  // the connection panel on its connection tab
    std::function<void()> applyDisplayTypes;
    std::function<void()> restoreChartState;
    // Replay owns pause and stop while it runs.
    std::function<bool()> replayRunning;
    std::function<void()> pauseReplay;
    std::function<void()> stopReplay;
    // Runs a call on the UI thread (the app sets it); without it calls run where they come from.
    std::function<void(std::function<void()>)> onUiThread;
  };

  HyloScan(HyloThreadControl& threads, DataPath& data, SettingsGroups& groups, HyloWav& wav, StatusLog& log,
           OperatorPort& op, PanelModel& mainPanel);
  HyloScan(const HyloScan&) = delete;
  HyloScan& operator=(const HyloScan&) = delete;

  void SetLink(Link link) { link_ = std::move(link); }
  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // Main panel callbacks (UI thread); each returns 0.
  int StartScanningCallback();
  int PauseCallback();
  int StopCallback();
  int ResetMissedCounts() { return 0; }
  // From any thread (a log that would not open): the stop procedure on the UI thread.
  void RequestStop();

  int BeginScanning(bool restart);
  // Waits for the data-channel connects scheduled by the last start.
  void WaitForChannels();

  bool Active() const { return active_.load(); }
  bool Paused() const { return paused_.load(); }
  bool KeepingAwake() const { return keepAwake_.Held(); }
  ScanPlan LastPlan() const;

 private:
  ScanInputs Inputs(bool restart) const;
  void SetPeriod(std::int32_t periodMs);
  void SendJobSetup(bool start);
  void MarkActive(bool on);
  void UpdateControls();
  void PostReset(int slot, std::int32_t type);

  HyloThreadControl& threads_;
  DataPath& data_;
  SettingsGroups& groups_;
  HyloWav& wav_;
  StatusLog& log_;
  OperatorPort& operator_;
  PanelModel& mainPanel_;
  Link link_;
  Hooks hooks_;
  platform::KeepAwake keepAwake_;
  std::atomic<bool> active_{false};
  std::atomic<bool> paused_{false};
  mutable std::mutex planLock_;
  ScanPlan lastPlan_;
};

}  // namespace hylo
