#pragma once
// Unit discovery and network configuration: the "W" enquiry on every local interface, the
// replies into the found-units list (through ConnectThread), the "X" set command built
// automatically (a free address on the PC's subnet) or from the unit-finder panel.
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/DiscoveryWire.h"
#include "link/HyloConnect.h"
#include "link/NetworkRules.h"
#include "platform/DiscoverySockets.h"
#include "shell/PanelModel.h"

namespace hylo {

class OperatorPort;

namespace finderpanel {
inline constexpr const char* kPanel = "panel";  // visible while the manual view is shown
inline constexpr const char* kModel = "model";
inline constexpr const char* kUnit = "unit";
inline constexpr const char* kMac = "mac";
inline constexpr const char* kIpMode = "ipMode";        // 1 DHCP, 2 fixed address
inline constexpr const char* kInterface = "interface";  // items: local addresses; value: index
inline constexpr const char* kDisableGateway = "disableGateway";
inline constexpr const char* kSuggest = "suggest";
inline constexpr const char* kAccept = "accept";
// The address fields: "ip0".."ip3", "mask0".."mask3", "gw0".."gw3".
std::string Field(std::string_view address, int octet);
}  // namespace finderpanel

namespace connectpanel {
inline constexpr const char* kSearchType = "searchType";  // 0 network, 1 serial ports
inline constexpr const char* kEnquire = "enquire";
inline constexpr const char* kSearchProgress = "searchProgress";
}  // namespace connectpanel

class HyloUnitFinder {
 public:
  HyloUnitFinder(OperatorPort& op, HyloConnect& connect, PanelModel& connectionPanel, PanelModel& finderPanel);
  ~HyloUnitFinder();
  HyloUnitFinder(const HyloUnitFinder&) = delete;
  HyloUnitFinder& operator=(const HyloUnitFinder&) = delete;

  // Wiring. Forget: how the found units are cleared on ConnectThread (direct when unset).
  void SetForget(std::function<void()> forget) { forget_ = std::move(forget); }
  void SetEventPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetPing(netrules::PingFunction ping) { ping_ = std::move(ping); }
  // Where enquiries and set commands go: the broadcast address unless a test says otherwise.
  void SetDestination(std::string address, std::uint16_t port);
  // Bounds of one network search: at most this long, with this pause between rounds.
  void SetSearchLimits(double maxSeconds, int roundMs);
  // Which local addresses get a channel (the system's interfaces unless set).
  void SetInterfaces(std::function<std::vector<std::string>()> list) { interfaces_ = std::move(list); }

  void InitDiscovery();
  void ShutdownDiscovery();
  int OpenDiscoveryChannels();
  int ChannelCount() const { return sockets_.Count(); }
  std::uint16_t ChannelPort(int index) const { return sockets_.LocalPort(index); }
  // Socket thread: one datagram from channel `index`.
  void OnDiscoveryData(int index, std::span<const std::uint8_t> data, bool readError);

  // Connection panel (UI thread).
  int CBEnquireNetwork(int searchType);
  void StopSearch();
  bool Searching() const { return searching_.load(); }

  // ConnectThread (op 8).
  void AutoReconfigure(const FoundUnit& unit);
  void ManualReconfigure(const FoundUnit& unit);

  // Unit-finder panel (UI thread). CBIpField takes a field's new text and returns the field
  // to move the focus to ("" to stay).
  std::string CBIpField(std::string_view field, std::string_view text);
  enum class KeyAction { Accept, Refuse, FocusPrevious };
  KeyAction CBIpFieldKey(std::string_view field, char key, bool cursorAtStart) const;
  std::string PreviousField(std::string_view field) const;
  // Exit: ends a search or an address sweep under way.
  void Quit();
  void CBSetIpMode(int mode);
  int CBSuggestIp();
  void CBDisableGateway(bool disabled);
  int CBAcceptChanges();

 private:
  netrules::Octets Read(std::string_view address) const;
  void Fill(std::string_view address, const netrules::Octets& octets);
  void DimAddressFields();
  bool Ping(const std::string& address, int timeoutMs) const;
  bool Answers(const std::string& address) const;
  void SendSetCommand(int channel, const discovery::SetCommand& command);
  void Pause(int ms);

  OperatorPort& operator_;
  HyloConnect& connect_;
  PanelModel& connectionPanel_;
  PanelModel& panel_;
  platform::DiscoverySockets sockets_;
  std::function<void()> forget_;
  std::function<void()> pump_;
  netrules::PingFunction ping_;
  std::function<std::vector<std::string>()> interfaces_;
  std::string destination_ = "255.255.255.255";
  std::uint16_t destinationPort_ = discovery::kDiscoveryPort;
  double maxSearchSeconds_ = 120;
  int roundMs_ = 1000;
  std::atomic<bool> stop_{false};
  std::atomic<bool> searching_{false};
  std::atomic<bool> shutdown_{false};
};

}  // namespace hylo
