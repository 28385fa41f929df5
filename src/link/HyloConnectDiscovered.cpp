// HyloConnect: units found by discovery (op 0) and their reconfiguration (op 8).
#include <algorithm>

#include "link/DiscoveryWire.h"
#include "link/HyloConnect.h"
#include "platform/InetPing.h"
#include "settings/HyloIni.h"
#include "shell/OperatorPort.h"

namespace hylo {

int HyloConnect::Post(const ConnectRequest& request) { return post_ ? post_(request) : HandleConnectRequest(request); }

bool HyloConnect::Reachable(const std::string& address) {
  for (int i = 0; i < 4 && !quitting_; ++i) {
    if (ping_ ? ping_(address, 1000) : platform::InetPing(address, 1000)) return true;
  }
  return false;
}

void HyloConnect::ShowFoundUnits() {
  std::vector<std::string> labels;
  {
    std::lock_guard guard(lock_);
    for (const auto& f : found_) labels.push_back(f.label);
  }
  panel_.SetItems(connectpanel::kFoundUnits, std::move(labels));
}

int HyloConnect::DiscoveredUnit(const ConnectRequest& r) {
  const discovery::DiscoveryRecord record = discovery::DecodeRecord(r.record);
  int tcpTimeout = 0;
  {
    std::lock_guard guard(ini_.SettingsLock());
    tcpTimeout = settings_.tcpTimeout;
  }
  FoundUnit unit;
  {
    std::lock_guard guard(lock_);
    auto it = std::find_if(found_.begin(), found_.end(),
                           [&](const FoundUnit& f) { return f.entryKind == 0 && f.macAddress == record.mac; });
    if (it == found_.end()) {
      FoundUnit added;
      added.position = static_cast<int>(found_.size()) + 1;
      found_.push_back(added);
      it = found_.end() - 1;
    }
    FoundUnit& f = *it;
    f.entryKind = 0;
    f.linkType = LINK_ETHERNET;
    f.unitNumber = record.unitNumber;
    f.ipAddress = record.ipAddress;
    f.gateway = record.gateway;
    f.subnetMask = record.subnetMask;
    f.macAddress = record.mac;
    f.modelCode = record.modelCode;
    f.addressMode = record.addressMode;
    f.port = 50000;
    f.timeoutMs = tcpTimeout;
    f.channelIndex = r.channel;
    f.address = netrules::DottedText(record.ipAddress);
    unit = f;
  }
  const bool reachable = Reachable(unit.address);
  const std::string label = ModelLabel(unit.modelCode, unit.unitNumber) + (reachable ? " - Ready" : " - Configure");
  {
    std::lock_guard guard(lock_);
    for (auto& f : found_)
      if (f.entryKind == 0 && f.macAddress == unit.macAddress) f.label = label;
  }
  ShowFoundUnits();
  if (reachable && link_.ConnectionType() == LINK_NONE && !quitting_) {
    selectedLinkType_ = LINK_ETHERNET;
    if (Connect(50000, 0, unit.address) == 0) {
      panel_.SetValue(connectpanel::kLinkType, std::int64_t{LINK_ETHERNET});
      panel_.SetValue(connectpanel::kAddress, unit.address);
      panel_.SetValue(connectpanel::kPort, std::int64_t{50000});
      portBase_ = 0;
    }
  }
  return 0;
}

void HyloConnect::RecordNetworkSettings(const FoundUnit& unit) {
  std::lock_guard guard(lock_);
  for (auto& f : found_) {
    if (f.entryKind != 0 || f.macAddress != unit.macAddress) continue;
    f.ipAddress = unit.ipAddress;
    f.subnetMask = unit.subnetMask;
    f.gateway = unit.gateway;
    f.addressMode = unit.addressMode;
    f.address = netrules::DottedText(unit.ipAddress);
  }
}

int HyloConnect::ReconfigureUnit(const ConnectRequest& r) {
  std::optional<FoundUnit> unit;
  for (const auto& f : FoundUnits())
    if (f.entryKind == 0 && f.unitNumber == r.unitNumber) unit = f;
  int result = 0;
  if (!unit) {
    operator_.ShowNotice("Error: Could not find unit in the list.\nPlease re-enquire network and try again.");
    result = -1;
  } else {
    if (link_.ConnectionType() == LINK_ETHERNET && HostAddress() == unit->address) Disconnect();
    if (reconfigure_) reconfigure_(*unit, r.automatic);
  }
  finishedTicket_ = r.ticket;
  return result;
}

}  // namespace hylo
