#include "context/LinkModules.h"

#include <ctime>

#include "core/Post.h"
#include "link/CommandLetters.h"
#include "link/InstrumentClock.h"
#include "link/MainWorkThread.h"

namespace hylo {

LinkModules::LinkModules(HyloThreadControl& threads, OperatorPort& op, HyloIni& ini, SettingsGroups& groups,
                         PanelModel& mainPanel, DataPath& data, MainWorkThread& mainWork)
    : threads_(threads),
      data_(data),
      parser_(threads),
      comms_(std::make_unique<HyloComms>(threads, op, state_, parser_, clock_)),
      serial_(state_),
      link_(*comms_, serial_, state_, loop_),
      connect_(ini, op, groups.connection, link_, panel_, mainPanel),
      finder_(op, connect_, panel_, finderPanel_) {
  connect_.SetReconfigure([this](const FoundUnit& unit, bool automatic) {
    if (automatic) {
      finder_.AutoReconfigure(unit);
    } else {
      finder_.ManualReconfigure(unit);
    }
  });
  connect_.SetEventPump([this] { threads_.PumpEvents(); });
  finder_.SetEventPump([this] { threads_.PumpEvents(); });
  finder_.SetForget([this] { Post(threads_, CONNECT_THREAD, MSG_FORGET_UNITS, std::int32_t{0}); });
  serial_.SetReadLink([this] { return comms_->ReadLink(); });
  link_.SetSerialDevice([this](int comPort) { return connect_.SerialDevice(comPort); });
  SetLinkEvents({}, {});
  replies_.RegisterReplyHandler('E', [this](std::span<const std::uint8_t> payload, std::int16_t) {
    connect_.OnVersionReply(payload);
    return 0;
  });
  replies_.RegisterReplyHandler('C', [this](std::span<const std::uint8_t> payload, std::int16_t) {
    return data_.StatusReplies().HandleStatusReply(payload);
  });
  connect_.SetIdentityListener([this, &mainWork](const VersionReply& reply) {
    data_.SetIdentity(reply.identity);
    const VersionStatus& s = reply.status;
    if (s.sensitivityDb) data_.Reference().SetSensitivity(*s.sensitivityDb);
    if (s.temperatureC) data_.Status().SetTemperature(static_cast<int>(*s.temperatureC * 10));
    if (s.humidityPercent) data_.Status().SetHumidity(static_cast<int>(*s.humidityPercent * 10));
    if (s.batteryLevel) data_.Status().SetBattery(*s.batteryLevel, s.batteryState.value_or(0));
    if (s.syncState) {
      // The identify's own mode is the clock step's; only a later change asks again.
      syncMode_ = *s.syncState;
      data_.Status().SetSyncState(*s.syncState);
    }
    // LF units and serial links are asked for the extended status items.
    mainWork.SetExtendedStatusWanted(reply.identity.modelCode == kModelLf || connect_.ConnectionType() == LINK_SERIAL);
  });
  connect_.SetPoster([this](const ConnectRequest& request) {
    return Post(threads_, CONNECT_THREAD, MSG_CONNECT_REQUEST, request) ? 0 : -1;
  });
  connect_.SetClockStep([this](int syncMode, bool identified) { ClockStep(syncMode, identified); });
  data_.Status().SetSyncModeListener([this](int mode) {
    const int before = syncMode_.exchange(mode);
    if (before < 0 || before == mode || connect_.ConnectionType() == LINK_NONE) return;
    ConnectRequest request;
    request.op = kOpSyncModeChanged;
    request.baud = mode;
    Post(threads_, CONNECT_THREAD, MSG_CONNECT_REQUEST, request);
  });
  mainWork.SetPort(
      {[this] { return data_.Transports().fft; }, [this] { return data_.Transports().wave; },
       [this] { data_.StatusReplies().CountRequest(); },
       [this](std::uint16_t mask) {
         const std::uint8_t payload[2] = {static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(mask >> 8)};
         return comms_->SendCommand('C', 2, payload, nullptr, nullptr, nullptr, 0, true);
       }});
}

// ConnectThread. The set is forwarded, so the "A" handler logs "… time synced to … UTC".
void LinkModules::ClockStep(int syncMode, bool identified) {
  syncMode_ = syncMode;
  const auto host = static_cast<std::uint32_t>(std::time(nullptr));
  const ClockOutcome outcome = SyncInstrumentClock(link_, syncMode, host, clockCancel_);
  if (!outcome.failedLine.empty() && statusLog_) statusLog_(outcome.failedLine);
  // The battery report comes back to the "Z" handler.
  if (identified) link_.Send(cmd::kUnitEnquiry, {}, true);
}

void LinkModules::SetLinkEvents(std::function<void(std::string_view)> statusLog, std::function<void()> stopScanning,
                                std::function<bool()> replayRunning) {
  statusLog_ = statusLog;
  LinkHooks hooks;
  hooks.wakeSerialReader = [this] { serial_.WakeSerialReader(); };
  hooks.resetConnectionDisplay = [this] { connect_.ResetConnectionDisplay(); };
  hooks.statusLog = std::move(statusLog);
  hooks.stopScanning = std::move(stopScanning);
  hooks.replayRunning = std::move(replayRunning);
  comms_->SetHooks(std::move(hooks));
}

void LinkModules::RegisterWorkers(StopHooks& hooks) {
  threads_.SetWorker(COMMS_THREAD, comms_.get());
  threads_.SetWorker(CONNECT_THREAD, &connect_);
  threads_.SetSerialReaderTask([this] { serial_.SerialReaderThread(); });
  data_.SetReplyDispatch([this](MessageNode& node) { replies_.DispatchReply(node); });
  hooks.stopSerialReader = [this] { serial_.StopSerialReader(); };
  hooks.stopReplyParser = [this] { parser_.StopReplyParser(); };
}

HyloScan::Link LinkModules::ScanLink() {
  HyloScan::Link link;
  link.connectionType = [this] { return connect_.ConnectionType(); };
  link.identity = [this] { return connect_.Identity(); };
  link.peer = [this] {
    return StreamChannels::Peer{connect_.HostAddress(), connect_.PortBase(), state_.tcpTimeoutMs.load()};
  };
  link.resetReplyParser = [this] { parser_.ResetReplyParser(); };
  link.sendCommand = [this](std::uint8_t letter) { return comms_->SendCommand(letter, 0, {}); };
  return link;
}

void LinkModules::Initialise() {
  connect_.InitConnection();
  finder_.InitDiscovery();
  parser_.InitReplyParser();
}

void LinkModules::WorkersStarted() {}

void LinkModules::Shutdown() {
  finder_.ShutdownDiscovery();
  link_.Close();
}

}  // namespace hylo
