#pragma once
// Connection management on ConnectThread: open the link (TCP with its fall-back ports, or
// serial), identify the unit, keep the link state and the connected device's identity.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/HyloNodes.h"
#include "core/Worker.h"
#include "link/ComPortMap.h"
#include "link/CommandLink.h"
#include "link/DeviceIdentity.h"
#include "link/LinkState.h"
#include "link/NetworkRules.h"
#include "settings/SettingsGroups.h"
#include "shell/PanelModel.h"

namespace hylo {

class HyloIni;
class OperatorPort;

namespace connectpanel {
inline constexpr const char* kLinkType = "linkType";
inline constexpr const char* kAddress = "address";
inline constexpr const char* kPort = "port";
inline constexpr const char* kTcpTimeout = "tcpTimeout";
inline constexpr const char* kComPort = "comPort";
inline constexpr const char* kBaud = "baud";
inline constexpr const char* kCustomTimeout = "customTimeout";
inline constexpr const char* kSerialTimeout = "serialTimeout";
inline constexpr const char* kStatus = "status";
inline constexpr const char* kFoundUnits = "foundUnits";  // items: one label per found unit
}  // namespace connectpanel

// One unit found by a search (or, later, by discovery).
struct FoundUnit {
  int entryKind = 0;  // 0 discovery, 3 serial search, 4 Ethernet search
  int linkType = LINK_ETHERNET;
  int addressMode = 0;
  int modelCode = 0;
  std::string address;
  std::uint16_t port = 0;
  std::uint16_t unitNumber = 0;
  int baud = 0;
  std::uint32_t ipAddress = 0, gateway = 0, subnetMask = 0;
  std::array<std::uint8_t, 6> macAddress{};
  int position = 0;
  int timeoutMs = 0;
  std::uint8_t channelIndex = 0;
  std::string label;
};

// Checks a host with up to four ICMP echoes before a connect or a search.
void CheckHost(const std::string& address, const std::atomic<bool>& cancel);

// Labels of found units: only the instruments and the skiff by name.
std::string FoundUnitLabel(int modelCode, int unitNumber);

// After identification: the time-out (and baud) the unit's interface calls for.
struct SerialTiming {
  int baud;
  int timeoutMs;
};
SerialTiming SerialTimingAfterIdentify(int baud, int interfaceCode, int currentTimeoutMs);
std::string_view BaudLabel(int baud);

// Payload of a type 25 node.
struct ConnectRequest {
  std::uint8_t op = 0;
  std::uint8_t channel = 0;
  char address[102] = {};
  std::uint16_t port = 0;
  std::int32_t timeoutMs = 0;
  std::int32_t baud = 0;
  std::int32_t previousBaud = 0;
  std::int32_t index = 0;  // op 5: list index
  std::uint16_t unitNumber = 0;
  bool customTimeout = false;             // op 3
  std::array<std::uint8_t, 22> record{};  // op 0: the discovery record as received
  bool automatic = false;                 // op 8
  std::uint32_t ticket = 0;               // op 8: done once FinishedTicket() reaches it
};
// What a connect request asks for.
inline constexpr std::uint8_t kOpDiscovered = 0;
inline constexpr std::uint8_t kOpConnectTcp = 1;
inline constexpr std::uint8_t kOpConnectSerial = 2;
inline constexpr std::uint8_t kOpSearchSerial = 3;
inline constexpr std::uint8_t kOpSearchEthernet = 4;
inline constexpr std::uint8_t kOpConnectFound = 5;
inline constexpr std::uint8_t kOpChangeBaud = 6;
inline constexpr std::uint8_t kOpDisconnect = 7;
inline constexpr std::uint8_t kOpReconfigure = 8;
// Not a wire op: the baud recovery, posted after the operator agreed.
inline constexpr std::uint8_t kOpRecoverBaud = 9;
// Not a wire op: the unit reported another time-synchronisation mode (in `baud`).
inline constexpr std::uint8_t kOpSyncModeChanged = 10;

class HyloConnect final : public Worker {
 public:
  HyloConnect(HyloIni& ini, OperatorPort& op, ConnectionSettings& settings, CommandLink& link, PanelModel& panel,
              PanelModel& mainPanel);

  void InitConnection();
  // Where requests are posted (ConnectThread), the identity goes (data path, stores) and
  // which unit kind asks for the extended status items.
  void SetPoster(std::function<int(const ConnectRequest&)> post) { post_ = std::move(post); }
  void SetStatusLog(std::function<void(std::string_view)> log) { statusLog_ = std::move(log); }
  // What follows on ConnectThread once a unit is identified (identified = true) or reports a
  // new time-synchronisation mode: the clock step, and after identify the "Z" enquiry.
  void SetClockStep(std::function<void(int syncMode, bool identified)> step) { clockStep_ = std::move(step); }
  // Runs when the operator disconnects, before the link closes (the epoch channel goes with it).
  void SetDisconnectListener(std::function<void()> listener) { disconnectListener_ = std::move(listener); }
  // The reachability check of discovered units (an ICMP echo unless a test gives another).
  void SetPing(netrules::PingFunction ping) { ping_ = std::move(ping); }
  // Op 8 on ConnectThread: the automatic or manual reconfiguration of a found unit.
  void SetReconfigure(std::function<void(const FoundUnit&, bool automatic)> reconfigure) {
    reconfigure_ = std::move(reconfigure);
  }
  // What the UI thread runs while it waits for ConnectThread.
  void SetEventPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetIdentityListener(std::function<void(const VersionReply&)> listener) {
    identityListener_ = std::move(listener);
  }

  // Connection panel callbacks (UI thread).
  int ConnectPort();
  int DisconnectFromUnit();
  void CancelConnect();
  // Exit: ends the connect, search or recovery under way and every later one at once.
  // Any thread.
  void Quit();
  void SetConnectionType(int type);
  int SetBaudRate(int newBaud);
  // Asks first (UI thread); the search itself runs on ConnectThread.
  int RecoverBaud();
  int EthPortSearch();
  int SerialPortSearch();
  int ConnToFoundUnit(int index);
  void ToggleCustSerialTimeout(bool on);
  // Re-reads the machine's serial ports (and the stored device) into the COM port list.
  void RefreshPorts();
  // Replaces the list outright (tests keep searches off the machine's real ports).
  void SetPorts(ComPortMap ports);
  const ComPortMap& Ports() const { return ports_; }
  std::string SerialDevice(int comPort) const;
  std::vector<FoundUnit> FoundUnits() const;
  // Posts to ConnectThread (or runs the request here when no poster is set).
  int Post(const ConnectRequest& request);
  // Up to four echoes of 1000 ms; true at the first answer.
  bool Reachable(const std::string& address);
  // A reconfigured unit's new settings, kept in its entry (found by MAC address).
  void RecordNetworkSettings(const FoundUnit& unit);
  std::uint32_t FinishedTicket() const { return finishedTicket_.load(); }
  bool Quitting() const { return quitting_.load(); }

  // ConnectThread.
  bool Handle(MessageNode& node) override;
  void OnStart() override;
  int HandleConnectRequest(const ConnectRequest& request);
  int Connect(int port, int baud, const std::string& address);
  int Identify();
  void Disconnect();
  void ResetConnectionDisplay();
  void ForgetUnits();

  // The "E" reply handler (MsgProcThread).
  void OnVersionReply(std::span<const std::uint8_t> payload);

  // The open link as the command link reports it: LINK_ETHERNET, LINK_SERIAL or LINK_NONE.
  int ConnectionType() const { return link_.ConnectionType(); }
  int SelectedLinkType() const { return selectedLinkType_.load(); }
  int PortBase() const { return portBase_.load(); }
  std::string HostAddress() const;
  DeviceIdentity Identity() const;
  // An enquiry that could not be queued: the unit counts as unknown until it answers again.
  void ForgetModel();
  void SaveLinkSettings();
  // The link settings the "E" handler may change from its own thread.
  int BaudRate() const;
  int SerialTimeout() const;
  int ComPort() const;

 private:
  void ShowStatus(const std::string& text);
  void RefreshUnitLine();
  void StatusLine(const std::string& text);
  void AddFoundUnit(FoundUnit unit);
  int SearchSerialPorts(const ConnectRequest& r);
  int SearchEthernetPorts(const ConnectRequest& r);
  int ConnectFoundUnit(const ConnectRequest& r);
  int DiscoveredUnit(const ConnectRequest& r);
  int ReconfigureUnit(const ConnectRequest& r);
  void ShowFoundUnits();
  int ChangeBaud(const ConnectRequest& r);
  int RecoverBaudOnPort(int comPort);
  int RecoverAt(int comPort, int baud);
  // Identify without passing the reply on: searches must not replace the connected identity.
  std::optional<VersionReply> Probe(int tries);
  void ClearCancel() { cancelRequested_ = quitting_.load(); }

  HyloIni& ini_;
  OperatorPort& operator_;
  ConnectionSettings& settings_;
  CommandLink& link_;
  PanelModel& panel_;
  PanelModel& mainPanel_;
  std::function<int(const ConnectRequest&)> post_;
  std::function<void(const VersionReply&)> identityListener_;
  std::function<void(std::string_view)> statusLog_;
  std::function<void(int, bool)> clockStep_;
  std::function<void()> disconnectListener_;
  netrules::PingFunction ping_;
  std::function<void(const FoundUnit&, bool)> reconfigure_;
  std::function<void()> pump_;
  std::atomic<std::uint32_t> nextTicket_{0};
  std::atomic<std::uint32_t> finishedTicket_{0};

  std::atomic<int> selectedLinkType_{LINK_NONE};
  std::atomic<int> portBase_{0};
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> quitting_{false};  // never cleared by a new connect, unlike the cancel
  mutable std::mutex lock_;
  std::string hostAddress_ = "255.255.255.255";
  DeviceIdentity identity_;
  ComPortMap ports_;
  std::vector<FoundUnit> found_;
};

}  // namespace hylo
