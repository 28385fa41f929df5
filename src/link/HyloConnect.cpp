#include "link/HyloConnect.h"

#include <cstring>

#include "platform/InetPing.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/OperatorPort.h"
#include "wire/Bytes.h"

namespace hylo {
namespace {
constexpr std::uint8_t kIdentify = 'E';
constexpr std::uint8_t kBaudRead = 'B';
constexpr const char* kSupportLine = "Please contact your Hylo supplier for an update.";
}  // namespace

// The answer is not used; the check only gives a waking link a moment.
void CheckHost(const std::string& address, const std::atomic<bool>& cancel) {
  for (int i = 0; i < 4 && !cancel; ++i)
    if (platform::InetPing(address, 1000)) return;
}

SerialTiming SerialTimingAfterIdentify(int baud, int interfaceCode, int current) {
  if (baud == 19200) return {baud, 4266};
  if (interfaceCode == 2 || baud == 1250000) return {1250000, 164};
  switch (baud) {
    case 921600:
      return {baud, 186};
    case 460800:
      return {baud, 273};
    case 256000:
      return {baud, 412};
    case 230400:
      return {baud, 447};
    case 115200:
      return {baud, 794};
    default:
      return {baud, current};  // a 0 ms time-out would fail every later command
  }
}

std::string_view BaudLabel(int baud) {
  switch (baud) {
    case 1250000:
      return "1.25m";
    case 921600:
      return "921.6k";
    case 460800:
      return "460.8k";
    case 256000:
      return "256.0k";
    case 230400:
      return "230.4k";
    case 115200:
      return "115.2k";
    case 19200:
      return "19.2k";
    case 9600:
      return "9.6k";
    case 4800:
      return "4.8k";
    case 2400:
      return "2.4k";
    case 1200:
      return "1.2k";
    default:
      return "";
  }
}

HyloConnect::HyloConnect(HyloIni& ini, OperatorPort& op, ConnectionSettings& settings, CommandLink& link,
                         PanelModel& panel, PanelModel& mainPanel)
    : ini_(ini), operator_(op), settings_(settings), link_(link), panel_(panel), mainPanel_(mainPanel) {}

void HyloConnect::InitConnection() {
  if (settings_.linkType == 2) settings_.linkType = LINK_SERIAL;
  selectedLinkType_ = settings_.linkType;
  {
    std::lock_guard guard(lock_);
    if (!settings_.commIpAddress.empty()) hostAddress_ = settings_.commIpAddress;
  }
  if (settings_.commTcpPort != 23) portBase_ = settings_.commTcpPort - 50000;
  panel_.SetValue(connectpanel::kLinkType, std::int64_t{settings_.linkType});
  panel_.SetValue(connectpanel::kAddress, settings_.commIpAddress);
  panel_.SetValue(connectpanel::kPort, std::int64_t{settings_.commTcpPort});
  panel_.SetValue(connectpanel::kTcpTimeout, std::int64_t{settings_.tcpTimeout});
  panel_.SetValue(connectpanel::kComPort, std::int64_t{settings_.commSerialPort});
  panel_.SetValue(connectpanel::kBaud, std::int64_t{settings_.baudRate});
  panel_.SetValue(connectpanel::kCustomTimeout, std::int64_t{settings_.customSerialTimeout ? 1 : 0});
  panel_.SetValue(connectpanel::kSerialTimeout, std::int64_t{settings_.serialTimeout});
  panel_.SetDimmed(connectpanel::kSerialTimeout, !settings_.customSerialTimeout);
  RefreshPorts();
  ShowStatus("Not Connected");
}

std::string HyloConnect::HostAddress() const {
  std::lock_guard guard(lock_);
  return hostAddress_;
}

DeviceIdentity HyloConnect::Identity() const {
  std::lock_guard guard(lock_);
  return identity_;
}

void HyloConnect::ForgetModel() {
  {
    std::lock_guard guard(lock_);
    identity_.modelCode = 0;
  }
  RefreshUnitLine();
}

int HyloConnect::BaudRate() const {
  std::lock_guard guard(ini_.SettingsLock());
  return settings_.baudRate;
}

int HyloConnect::ComPort() const {
  std::lock_guard guard(ini_.SettingsLock());
  return settings_.commSerialPort;
}

int HyloConnect::SerialTimeout() const {
  std::lock_guard guard(ini_.SettingsLock());
  return settings_.serialTimeout;
}

void HyloConnect::SaveLinkSettings() {
  std::lock_guard guard(ini_.SettingsLock());
  SaveFields(ini_, settings_.Fields());
}

void HyloConnect::ShowStatus(const std::string& text) { panel_.SetValue(connectpanel::kStatus, text); }

void HyloConnect::RefreshUnitLine() {
  const DeviceIdentity id = Identity();
  mainPanel_.SetValue(mainpanel::kUnitLine,
                      link_.ConnectionType() == LINK_NONE ? std::string("Not Connected") : DescribeUnit(id));
}

int HyloConnect::ConnectPort() {
  ClearCancel();
  ConnectRequest request;
  const int type = static_cast<int>(panel_.Int(connectpanel::kLinkType, LINK_NONE));
  selectedLinkType_ = type;
  request.baud = static_cast<std::int32_t>(panel_.Int(connectpanel::kBaud, BaudRate()));
  if (type == LINK_ETHERNET) {
    request.op = kOpConnectTcp;
    const std::string address = panel_.Text(connectpanel::kAddress);
    std::strncpy(request.address, address.c_str(), sizeof request.address - 1);
    request.port = static_cast<std::uint16_t>(panel_.Int(connectpanel::kPort, 50000));
    request.timeoutMs = static_cast<std::int32_t>(panel_.Int(connectpanel::kTcpTimeout, 100));
  } else if (type == LINK_SERIAL) {
    request.op = kOpConnectSerial;
    request.port = static_cast<std::uint16_t>(panel_.Int(connectpanel::kComPort, 12));
    const bool custom = panel_.Int(connectpanel::kCustomTimeout, 0) != 0;
    request.timeoutMs = custom ? static_cast<std::int32_t>(panel_.Int(connectpanel::kSerialTimeout, 4266))
                               : SerialTimeoutForBaud(request.baud);
  } else {
    Disconnect();
    selectedLinkType_ = LINK_NONE;
    return 0;
  }
  return post_ ? post_(request) : HandleConnectRequest(request);
}

int HyloConnect::DisconnectFromUnit() {
  ConnectRequest request;
  request.op = kOpDisconnect;
  return post_ ? post_(request) : HandleConnectRequest(request);
}

void HyloConnect::CancelConnect() {
  cancelRequested_ = true;
  link_.CancelCommands();
}

void HyloConnect::Quit() {
  quitting_ = true;
  CancelConnect();
}

void HyloConnect::OnStart() {
  quitting_ = false;
  cancelRequested_ = false;
}

void HyloConnect::SetConnectionType(int type) {
  if (type == 2) type = LINK_SERIAL;
  if (type == selectedLinkType_) return;
  selectedLinkType_ = type;
  panel_.SetValue(connectpanel::kLinkType, std::int64_t{type});
}

bool HyloConnect::Handle(MessageNode& node) {
  // Requests still queued at exit are dropped: nothing may start a connect then.
  if (node.type == MSG_CONNECT_REQUEST && !quitting_) HandleConnectRequest(node.As<ConnectRequest>());
  if (node.type == MSG_FORGET_UNITS) ForgetUnits();
  return false;
}

int HyloConnect::HandleConnectRequest(const ConnectRequest& r) {
  switch (r.op) {
    case kOpConnectTcp: {
      std::string address(r.address, strnlen(r.address, sizeof r.address));
      CheckHost(address, cancelRequested_);
      {
        // The link settings are read by the UI's save at exit: one lock for all of them.
        std::lock_guard guard(ini_.SettingsLock());
        settings_.tcpTimeout = r.timeoutMs > 0 ? r.timeoutMs : settings_.tcpTimeout;
      }
      selectedLinkType_ = LINK_ETHERNET;
      int port = r.port;
      int result = cancelRequested_ ? -1 : Connect(port, r.baud, address);
      if (result != 0 && !cancelRequested_) {
        // Older units listen on the telnet port or only on the default one.
        for (int fallback : {23, 50000}) {
          if (fallback == r.port) continue;
          result = Connect(fallback, r.baud, address);
          if (result == 0) {
            port = fallback;
            panel_.SetValue(connectpanel::kPort, std::int64_t{port});
            break;
          }
          if (cancelRequested_) break;
        }
        if (result != 0 && !cancelRequested_) {
          operator_.ShowNotice("Connection failed, Check link settings.");
          ResetConnectionDisplay();
        }
      }
      if (result == 0 && port != 23) portBase_ = port - 50000;
      return result;
    }
    case kOpConnectSerial:
      selectedLinkType_ = LINK_SERIAL;
      {
        std::lock_guard guard(ini_.SettingsLock());
        settings_.serialTimeout = r.timeoutMs;
      }
      return Connect(r.port, r.baud, {});
    case kOpSearchSerial:
      return SearchSerialPorts(r);
    case kOpSearchEthernet:
      return SearchEthernetPorts(r);
    case kOpConnectFound:
      return ConnectFoundUnit(r);
    case kOpChangeBaud:
      return ChangeBaud(r);
    case kOpRecoverBaud:
      return RecoverBaudOnPort(r.port);
    case kOpDisconnect:
      Disconnect();
      SaveLinkSettings();
      return 0;
    case kOpDiscovered:
      return DiscoveredUnit(r);
    case kOpReconfigure:
      return ReconfigureUnit(r);
    case kOpSyncModeChanged:
      if (link_.ConnectionType() != LINK_NONE && clockStep_) clockStep_(r.baud, false);
      return 0;
    default:
      return -1;
  }
}

int HyloConnect::Connect(int port, int baud, const std::string& address) {
  Disconnect();
  ShowStatus("Connecting to Port: " + std::to_string(port));
  bool open = false;
  if (selectedLinkType_ == LINK_ETHERNET) {
    {
      std::lock_guard guard(lock_);
      hostAddress_ = address;
    }
    int timeout = 0;
    {
      std::lock_guard guard(ini_.SettingsLock());
      settings_.commIpAddress = address;
      settings_.commTcpPort = port;
      timeout = settings_.tcpTimeout;
    }
    open = link_.OpenTcp(address, port, timeout);
  } else if (selectedLinkType_ == LINK_SERIAL) {
    const std::string device = SerialDevice(port);
    int timeout = 0;
    {
      std::lock_guard guard(ini_.SettingsLock());
      settings_.commSerialPort = port;
      settings_.commSerialDevice = device;
      settings_.baudRate = baud;
      if (!settings_.customSerialTimeout) settings_.serialTimeout = SerialTimeoutForBaud(baud);
      timeout = settings_.serialTimeout;
    }
    open = link_.OpenSerial(port, baud, timeout);
  } else {
    return -1;
  }
  if (!open) {
    ResetConnectionDisplay();
    return -1;
  }
  const int result = Identify();
  if (result == 0 && link_.ConnectionType() != LINK_NONE)
    mainPanel_.SetValue(mainpanel::kConnectionIndicator, mainpanel::kLinkInUseColour);
  return result;
}

int HyloConnect::Identify() {
  ClearCancel();
  std::optional<std::vector<std::uint8_t>> reply;
  for (int attempt = 0; attempt < 3 && !reply; ++attempt) {
    reply = link_.Transact(kIdentify, {}, 1, true, cancelRequested_);
    if (cancelRequested_) break;
  }
  if (!reply || cancelRequested_ || reply->size() < 4) {
    Disconnect();
    return -1;
  }
  // Units on a serial interface behind Ethernet report their own baud rate.
  const auto payload = std::span<const std::uint8_t>(*reply).subspan(4);
  const auto parsed = ParseVersionReply(payload);
  if (link_.ConnectionType() == LINK_ETHERNET) {
    if (parsed) {
      const int code = parsed->identity.interfaceCode;
      if (code == 1 || code == 4 || code == 5) {
        auto baud = link_.Transact(kBaudRead, {}, 1, false, cancelRequested_);
        // Keep the stored baud when the answer is missing or too short to hold one.
        if (baud && baud->size() >= 8) {
          std::lock_guard guard(ini_.SettingsLock());
          settings_.baudRate = static_cast<int>(bytes::GetU32LE(*baud, 4));
        }
      }
    }
  }
  SaveLinkSettings();
  // A unit that reports no synchronisation state is taken as mode 0 (sync disabled).
  if (clockStep_) clockStep_(parsed ? parsed->status.syncState.value_or(0) : 0, true);
  return 0;
}

void HyloConnect::Disconnect() {
  if (disconnectListener_) disconnectListener_();
  link_.Close();
  ResetConnectionDisplay();
}

void HyloConnect::ResetConnectionDisplay() {
  {
    std::lock_guard guard(lock_);
    identity_.interfaceCode = 0;
    identity_.modelCode = 0;
    identity_.firmwareText.clear();
  }
  mainPanel_.AppendItem(mainpanel::kStatusField, "No Connection Established");
  mainPanel_.SetValue(mainpanel::kConnectionIndicator, std::int64_t{0});
  ShowStatus("Not Connected");
  RefreshUnitLine();
}

void HyloConnect::OnVersionReply(std::span<const std::uint8_t> payload) {
  auto reply = ParseVersionReply(payload);
  if (!reply) return;
  {
    std::lock_guard guard(lock_);
    identity_ = reply->identity;
  }
  const Firmware version = FirmwareVersion(reply->identity.firmwareText);
  if (reply->identity.modelCode == kModelLf && version > Firmware(2, 7, 99)) {
    operator_.ShowNotice(std::string("The connected device is newer than this version of Hylo.\nSome features may be "
                                     "unresponsive or unavailable.\n") +
                         kSupportLine);
  }
  if (reply->identity.modelCode == kModelHf && version < Firmware(1, 5, 0)) {
    operator_.ShowNotice(std::string("The connected device requires a firmware update for use with this version of "
                                     "Hylo.\nSome features may be unresponsive or unavailable.\n") +
                         kSupportLine);
  }
  if (identityListener_) identityListener_(*reply);
  // This runs on MsgProcThread while ConnectThread may be saving the same settings.
  std::optional<SerialTiming> timing;
  if (link_.ConnectionType() == LINK_SERIAL) {
    std::lock_guard guard(ini_.SettingsLock());
    if (!settings_.customSerialTimeout) {
      timing = SerialTimingAfterIdentify(settings_.baudRate, reply->identity.interfaceCode, settings_.serialTimeout);
      settings_.baudRate = timing->baud;
      settings_.serialTimeout = timing->timeoutMs;
    }
  }
  if (timing) {
    panel_.SetValue(connectpanel::kBaud, std::int64_t{timing->baud});
    panel_.SetValue(connectpanel::kSerialTimeout, std::int64_t{timing->timeoutMs});
  }
  if (link_.ConnectionType() != LINK_NONE) {
    ShowStatus("Connected");
  }
  RefreshUnitLine();
}

}  // namespace hylo
