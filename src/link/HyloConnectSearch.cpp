// HyloConnect: port searches, the found-units list, baud changes and the COM port list.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "link/HyloConnect.h"
#include "platform/SerialPorts.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/OperatorPort.h"
#include "wire/Bytes.h"

namespace hylo {
namespace {

constexpr std::uint8_t kIdentify = 'E';
constexpr std::uint8_t kBaudSet = 'B';

struct SearchBaud {
  int baud;
  int probeTimeoutMs;  // while searching
  int linkTimeoutMs;   // recorded for the found unit
};
constexpr SearchBaud kSearchBauds[] = {{1250000, 101, 164}, {921600, 102, 186}, {460800, 103, 273}, {256000, 105, 412},
                                       {230400, 105, 447},  {115200, 110, 794}, {19200, 156, 4266}};
constexpr int kSearchTcpPorts[] = {50000, 50100, 50200, 50300, 50400, 23};
constexpr int kRecoveryBauds[] = {1250000, 921600, 460800, 256000, 230400, 115200, 19200, 9600, 4800, 2400, 1200};
constexpr std::uint8_t kStatusEnquiry = 'C';

std::string Clock() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  return stamp;
}

// Sleeps in 100 ms steps; false when cancelled.
bool WaitSteps(int ms, const std::atomic<bool>& cancel) {
  for (int waited = 0; waited < ms; waited += 100) {
    if (cancel) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !cancel;
}

}  // namespace

std::string FoundUnitLabel(int modelCode, int unitNumber) {
  const char* name = nullptr;
  switch (modelCode) {
    case 2:
      name = "Aurisond LF %d";
      break;
    case 5:
      name = "Aurisond HF %d";
      break;
    case 7:
      name = "Aurisond AF %d";
      break;
    case 15:
      name = "Aurisond Skiff %d";
      break;
    default:
      name = "Unknown %d";
  }
  char text[48];
  std::snprintf(text, sizeof text, name, unitNumber);
  return text;
}

void HyloConnect::RefreshPorts() { SetPorts(ComPortMap(platform::ListSerialPorts())); }

void HyloConnect::SetPorts(ComPortMap ports) {
  const int stored = ports.Add(settings_.commSerialDevice);
  int comPort = 0;
  {
    std::lock_guard guard(ini_.SettingsLock());
    if (stored) settings_.commSerialPort = stored;
    comPort = settings_.commSerialPort;
  }
  panel_.SetItems(connectpanel::kComPort, ports.Labels());
  {
    std::lock_guard guard(lock_);
    ports_ = std::move(ports);
  }
  panel_.SetValue(connectpanel::kComPort, std::int64_t{comPort});
}

std::string HyloConnect::SerialDevice(int comPort) const {
  std::lock_guard guard(lock_);
  return ports_.DeviceOf(comPort);
}

std::vector<FoundUnit> HyloConnect::FoundUnits() const {
  std::lock_guard guard(lock_);
  return found_;
}

void HyloConnect::ForgetUnits() {
  {
    std::lock_guard guard(lock_);
    found_.clear();
  }
  panel_.SetItems(connectpanel::kFoundUnits, {});
}

void HyloConnect::AddFoundUnit(FoundUnit unit) {
  std::vector<std::string> labels;
  {
    std::lock_guard guard(lock_);
    unit.position = static_cast<int>(found_.size()) + 1;
    found_.push_back(std::move(unit));
    for (const auto& f : found_) labels.push_back(f.label);
  }
  panel_.SetItems(connectpanel::kFoundUnits, std::move(labels));
}

void HyloConnect::StatusLine(const std::string& text) {
  mainPanel_.AppendItem(mainpanel::kStatusField, text);
  if (statusLog_) statusLog_(text);
}

std::optional<VersionReply> HyloConnect::Probe(int tries) {
  for (int i = 0; i < tries && !cancelRequested_; ++i) {
    const auto reply = link_.Transact(kIdentify, {}, 1, false, cancelRequested_);
    if (!reply || reply->size() < 4) continue;
    return ParseVersionReply(std::span<const std::uint8_t>(*reply).subspan(4));
  }
  return std::nullopt;
}

int HyloConnect::SerialPortSearch() {
  ClearCancel();
  ConnectRequest request;
  request.op = kOpSearchSerial;
  request.customTimeout = panel_.Int(connectpanel::kCustomTimeout, 0) != 0;
  request.timeoutMs = static_cast<std::int32_t>(panel_.Int(connectpanel::kSerialTimeout, SerialTimeout()));
  return post_ ? post_(request) : HandleConnectRequest(request);
}

int HyloConnect::EthPortSearch() {
  ClearCancel();
  ConnectRequest request;
  request.op = kOpSearchEthernet;
  const std::string address = panel_.Text(connectpanel::kAddress);
  std::strncpy(request.address, address.c_str(), sizeof request.address - 1);
  request.timeoutMs = static_cast<std::int32_t>(panel_.Int(connectpanel::kTcpTimeout, settings_.tcpTimeout));
  return post_ ? post_(request) : HandleConnectRequest(request);
}

int HyloConnect::SearchSerialPorts(const ConnectRequest& r) {
  Disconnect();
  ForgetUnits();
  selectedLinkType_ = LINK_SERIAL;
  const int count = std::min(Ports().Count(), ComPortMap::kMaxPorts);
  for (int port = 1; port <= count && !cancelRequested_; ++port) {
    ShowStatus("Connecting to Port: " + std::to_string(port));
    if (!link_.OpenSerial(port, 1250000, 101)) continue;  // not there
    link_.Close();
    for (const auto& b : kSearchBauds) {
      const int probe = r.customTimeout ? r.timeoutMs : b.probeTimeoutMs;
      if (!link_.OpenSerial(port, b.baud, probe)) continue;
      const auto reply = Probe(1);
      link_.Close();
      if (cancelRequested_) break;
      if (!reply) continue;
      FoundUnit unit;
      unit.entryKind = 3;
      unit.linkType = LINK_SERIAL;
      unit.port = static_cast<std::uint16_t>(port);
      unit.baud = b.baud;
      unit.modelCode = reply->identity.modelCode;
      unit.unitNumber = reply->identity.unitNumber;
      unit.timeoutMs = r.customTimeout ? r.timeoutMs : b.linkTimeoutMs;
      unit.address = "Serial";
      unit.label = FoundUnitLabel(unit.modelCode, unit.unitNumber);
      AddFoundUnit(std::move(unit));
      break;
    }
  }
  ResetConnectionDisplay();
  return 0;
}

int HyloConnect::SearchEthernetPorts(const ConnectRequest& r) {
  ForgetUnits();
  const std::string address(r.address, strnlen(r.address, sizeof r.address));
  CheckHost(address, cancelRequested_);
  selectedLinkType_ = LINK_ETHERNET;
  const int timeout = r.timeoutMs > 0 ? r.timeoutMs : settings_.tcpTimeout;
  for (int port : kSearchTcpPorts) {
    if (cancelRequested_) break;
    ShowStatus("Connecting to Port: " + std::to_string(port));
    if (!link_.OpenTcp(address, port, timeout)) continue;
    const auto reply = Probe(3);
    link_.Close();
    if (!reply) continue;
    FoundUnit unit;
    unit.entryKind = 4;
    unit.linkType = LINK_ETHERNET;
    unit.port = static_cast<std::uint16_t>(port);
    unit.modelCode = reply->identity.modelCode;
    unit.unitNumber = reply->identity.unitNumber;
    unit.address = address;
    unit.timeoutMs = timeout;
    unit.label = FoundUnitLabel(unit.modelCode, unit.unitNumber);
    AddFoundUnit(std::move(unit));
  }
  ResetConnectionDisplay();
  return 0;
}

int HyloConnect::ConnToFoundUnit(int index) {
  const auto units = FoundUnits();
  if (index < 0 || index >= static_cast<int>(units.size())) return -1;
  const FoundUnit& unit = units[static_cast<std::size_t>(index)];
  char family[16] = {};
  int number = 0;
  if (unit.label.rfind("Aurisond", 0) != 0 || std::sscanf(unit.label.c_str(), "Aurisond%15s%d", family, &number) != 2) {
    operator_.ShowNotice("Connections to this device are unsupported.");
    return -1;
  }
  if (unit.entryKind == 0 && !Reachable(unit.address)) {
    const int choice = operator_.Confirm(
        "Unit Unreachable",
        "This unit must be reconfigured to use with this PC.\nHow would you like to reconfigure the unit?",
        {"Auto (Recommended)", "Manual", "Cancel"});
    if (choice != 0 && choice != 1) return 0;
    ConnectRequest request;
    request.op = kOpReconfigure;
    request.unitNumber = static_cast<std::uint16_t>(number);
    request.automatic = choice == 0;
    request.ticket = ++nextTicket_;
    if (!post_) return HandleConnectRequest(request);
    if (post_(request) != 0) {
      operator_.ShowNotice("Failed to connect to device (out of memory).");
      return -1;
    }
    // ConnectThread may ping a whole subnet: the window stays alive meanwhile, and exit
    // (which drops the request) ends the wait.
    while (finishedTicket_ < request.ticket && !quitting_) {
      if (pump_) pump_();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
  }
  ClearCancel();
  ConnectRequest request;
  request.op = kOpConnectFound;
  request.index = index;
  request.unitNumber = static_cast<std::uint16_t>(number);
  if (post_) {
    if (post_(request) != 0) {
      operator_.ShowNotice("Failed to connect to device (out of memory).");
      return -1;
    }
    return 0;
  }
  return HandleConnectRequest(request);
}

int HyloConnect::ConnectFoundUnit(const ConnectRequest& r) {
  const auto units = FoundUnits();
  if (r.index < 0 || r.index >= static_cast<int>(units.size())) return -1;
  const FoundUnit unit = units[static_cast<std::size_t>(r.index)];
  if (unit.unitNumber != r.unitNumber) return -1;  // the list changed meanwhile
  selectedLinkType_ = unit.linkType;
  if (unit.linkType == LINK_ETHERNET) {
    std::lock_guard guard(ini_.SettingsLock());
    settings_.tcpTimeout = unit.timeoutMs > 0 ? unit.timeoutMs : settings_.tcpTimeout;
  }
  if (Connect(unit.port, unit.baud, unit.address) != 0) {
    operator_.ShowNotice("Connection Unavailable. Unit is either busy or unavailable.");
    return -1;
  }
  panel_.SetValue(connectpanel::kLinkType, std::int64_t{unit.linkType});
  if (unit.linkType == LINK_SERIAL) {
    panel_.SetValue(connectpanel::kComPort, std::int64_t{unit.port});
    panel_.SetValue(connectpanel::kBaud, std::int64_t{unit.baud});
    panel_.SetValue(connectpanel::kSerialTimeout, std::int64_t{unit.timeoutMs});
  } else {
    panel_.SetValue(connectpanel::kAddress, unit.address);
    panel_.SetValue(connectpanel::kPort, std::int64_t{unit.port});
    panel_.SetValue(connectpanel::kTcpTimeout, std::int64_t{unit.timeoutMs});
    if (unit.port != 23) portBase_ = unit.port - 50000;
  }
  return 0;
}

int HyloConnect::SetBaudRate(int newBaud) {
  if (link_.ConnectionType() != LINK_SERIAL) {
    operator_.ShowNotice("This function can only be used with active serial connections");
    return -1;
  }
  std::uint8_t payload[4];
  bytes::PutU32LE(payload, 0, static_cast<std::uint32_t>(newBaud));
  if (link_.Send(kBaudSet, payload, false) != 0) return -1;
  ClearCancel();
  ConnectRequest request;
  request.op = kOpChangeBaud;
  request.port = static_cast<std::uint16_t>(ComPort());
  request.baud = newBaud;
  request.previousBaud = BaudRate();
  return post_ ? post_(request) : HandleConnectRequest(request);
}

int HyloConnect::ChangeBaud(const ConnectRequest& r) {
  // The unit needs a moment to switch before it can hear the new rate.
  WaitSteps(500, cancelRequested_);
  selectedLinkType_ = LINK_SERIAL;
  int result = Connect(r.port, r.baud, {});
  if (result != 0) {
    if (WaitSteps(5000, cancelRequested_) && Connect(r.port, r.previousBaud, {}) == 0) {
      result = 44;
    } else {
      ResetConnectionDisplay();
    }
  }
  if (result == 0) {
    panel_.SetValue(connectpanel::kBaud, std::int64_t{r.baud});
    StatusLine(Clock() + " - " + std::string(BaudLabel(r.baud)) + " baud rate updated");
    operator_.ShowNotice("Baud Rate Updated Successfully");
    SaveLinkSettings();
  } else if (result == 44) {
    panel_.SetValue(connectpanel::kBaud, std::int64_t{r.previousBaud});
    operator_.ShowNotice("Baud rate update failed,\nPrevious baud rate restored.");
  } else {
    operator_.ShowNotice("Baud rate update failed,\nConnection Lost");
    StatusLine(Clock() + " - Baud Rate Not Set, Data link Error Code " + std::to_string(result));
  }
  return result;
}

int HyloConnect::RecoverBaud() {
  const int port = static_cast<int>(panel_.Int(connectpanel::kComPort, ComPort()));
  const std::string text = "This operation will search for an Aurisond on COM" + std::to_string(port) +
                           "\nand attempt to change its baud rate to 19.2kbaud.\n"
                           "Use it only when the unit cannot be reached at any baud rate; when it can, use the "
                           "\"Update Baud Rate\" option instead.\nThe search can take 2-5 minutes.";
  if (operator_.Confirm("Continue?", text, {"Yes", "No"}) != 0) return 1;
  ClearCancel();
  ConnectRequest request;
  request.op = kOpRecoverBaud;
  request.port = static_cast<std::uint16_t>(port);
  return post_ ? post_(request) : HandleConnectRequest(request);
}

int HyloConnect::RecoverBaudOnPort(int comPort) {
  Disconnect();
  int result = 1;
  if (link_.OpenSerial(comPort, 19200, SerialTimeoutForBaud(19200))) {
    link_.Close();
    for (const int baud : kRecoveryBauds) {
      if (cancelRequested_) break;
      result = RecoverAt(comPort, baud);
      if (result == 0 || result == -1) break;
      if (result == 1) WaitSteps(1000, cancelRequested_);
    }
  }
  if (result != 0) {
    link_.Close();  // a port left open at the old rate is not a connection
    operator_.ShowNotice("Unable to recover unit, please check your cabling and try again.");
  }
  return result;
}

// 1: nobody answered at this baud; 2: an echo-back port; 0 recovered; -1 found but not set.
int HyloConnect::RecoverAt(int comPort, int baud) {
  const int timeout = SerialTimeoutForBaud(baud);
  if (!link_.OpenSerial(comPort, baud, timeout)) return 1;
  const std::uint8_t mask[2] = {0x80, 0x00};
  std::optional<std::vector<std::uint8_t>> answer;
  for (int i = 0; i < 3 && !answer && !cancelRequested_; ++i)
    answer = link_.Transact(kStatusEnquiry, mask, 1, false, cancelRequested_);
  if (!answer || answer->size() <= 4) {
    link_.Close();
    return 1;
  }
  if ((*answer)[4] != 0) {
    operator_.ShowNotice("Error: This port is an echoback port, not an Aurisond");
    link_.Close();
    return 2;
  }
  std::uint8_t slow[4];
  bytes::PutU32LE(slow, 0, 19200);
  for (int i = 0; i < 3 && !cancelRequested_; ++i) {
    link_.Send(kBaudSet, slow, false);
    WaitSteps(500, cancelRequested_);
    link_.Close();
    if (!link_.OpenSerial(comPort, 19200, SerialTimeoutForBaud(19200))) {
      link_.OpenSerial(comPort, baud, timeout);  // still at the old rate: try the change again
      continue;
    }
    if (!Probe(1)) {
      link_.Close();
      if (!link_.OpenSerial(comPort, baud, timeout)) break;
      continue;
    }
    link_.Close();
    selectedLinkType_ = LINK_SERIAL;
    if (Connect(comPort, 19200, {}) == 0) {
      panel_.SetValue(connectpanel::kBaud, std::int64_t{19200});
      operator_.ShowNotice("Unit successfully recovered at 19.2kbaud");
    } else {
      operator_.ShowNotice(
          "Baud Rate reset to 19.2kbaud, however the connection remains unstable.\nPlease check your cabling and try "
          "to connect again.");
    }
    return 0;
  }
  link_.Close();
  operator_.ShowNotice("Baud recovery failed on unit at COM" + std::to_string(comPort));
  return -1;
}

void HyloConnect::ToggleCustSerialTimeout(bool on) {
  int timeout = 0;
  {
    std::lock_guard guard(ini_.SettingsLock());
    settings_.customSerialTimeout = on;
    if (!on) settings_.serialTimeout = SerialTimeoutForBaud(settings_.baudRate);
    timeout = settings_.serialTimeout;
  }
  panel_.SetValue(connectpanel::kCustomTimeout, std::int64_t{on ? 1 : 0});
  panel_.SetDimmed(connectpanel::kSerialTimeout, !on);
  if (!on) panel_.SetValue(connectpanel::kSerialTimeout, std::int64_t{timeout});
}

}  // namespace hylo
