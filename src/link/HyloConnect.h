#pragma once
// Connection management on ConnectThread: open the link (TCP with its fall-back ports, or
// serial), identify the unit, keep the link state and the connected device's identity.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "core/HyloNodes.h"
#include "core/Worker.h"
#include "files/SettingsGroups.h"
#include "link/CommandLink.h"
#include "link/DeviceIdentity.h"
#include "link/LinkState.h"
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
}  // namespace connectpanel

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
};

class HyloConnect final : public Worker {
 public:
  HyloConnect(HyloIni& ini, OperatorPort& op, ConnectionSettings& settings, CommandLink& link, PanelModel& panel,
              PanelModel& mainPanel);

  void InitConnection();
  // Where requests are posted (ConnectThread), the identity goes (data path, stores) and
  // which unit kind asks for the extended status items.
  void SetPoster(std::function<int(const ConnectRequest&)> post) { post_ = std::move(post); }
  void SetIdentityListener(std::function<void(const VersionReply&)> listener) {
    identityListener_ = std::move(listener);
  }

  // Connection panel callbacks (UI thread).
  int ConnectPort();
  int DisconnectFromUnit();
  void CancelConnect();
  void SetConnectionType(int type);

  // ConnectThread.
  bool Handle(MessageNode& node) override;
  int HandleConnectRequest(const ConnectRequest& request);
  int Connect(int port, int baud, const std::string& address);
  int Identify();
  void Disconnect();
  void ResetConnectionDisplay();

  // The "E" reply handler (MsgProcThread).
  void OnVersionReply(std::span<const std::uint8_t> payload);

  int ConnectionType() const { return connectionType_.load(); }
  int SelectedLinkType() const { return selectedLinkType_.load(); }
  int PortBase() const { return portBase_.load(); }
  std::string HostAddress() const;
  DeviceIdentity Identity() const;
  void SaveLinkSettings();

 private:
  void ShowStatus(const std::string& text);
  void RefreshUnitLine();

  HyloIni& ini_;
  OperatorPort& operator_;
  ConnectionSettings& settings_;
  CommandLink& link_;
  PanelModel& panel_;
  PanelModel& mainPanel_;
  std::function<int(const ConnectRequest&)> post_;
  std::function<void(const VersionReply&)> identityListener_;

  std::atomic<int> selectedLinkType_{LINK_NONE};
  std::atomic<int> connectionType_{LINK_NONE};
  std::atomic<int> portBase_{0};
  std::atomic<bool> cancelRequested_{false};
  mutable std::mutex lock_;
  std::string hostAddress_ = "255.255.255.255";
  DeviceIdentity identity_;
};

}  // namespace hylo
