#include "stream/HyloProcMsg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/LinkRecords.h"
#include "stream/StatusStore.h"
#include "wire/Bytes.h"

namespace hylo {

std::string InstrumentTimeOfDay(std::uint32_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", (seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60);
  return text;
}

std::string GainText(int modelCode, int gain) {
  if (modelCode != kModelLf && modelCode != kModelHf && modelCode != kModelAf) return "-";
  if (gain > 72 || gain % 6 != 0) return "0dB";
  return std::to_string(gain) + "dB";
}

bool SyncRecordFromReport(std::span<const std::uint8_t> p, std::array<std::uint8_t, 24>& record) {
  if (p.size() < 20) return false;
  record = {};
  record[4] = p[2];  // sync mode
  record[5] = p[3];  // time source
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint32_t word = bytes::GetU32LE(p, 4 + 4 * i);
    std::memcpy(record.data() + 8 + 4 * i, &word, sizeof word);
  }
  return true;
}

bool HyloProcMsg::RegisterReplyHandler(std::uint8_t letter, ReplyHandler handler) {
  if (!cmd::IsCommandLetter(letter)) return false;
  handlers_[letter - cmd::kFirstLetter] = std::move(handler);
  return true;
}

bool HyloProcMsg::DispatchReply(MessageNode& node) const {
  if (node.type != MSG_REPLY_FRAME) return false;
  const auto& reply = node.As<ReplyFrame>();
  if (!cmd::IsCommandLetter(reply.letter)) return false;
  const auto& handler = handlers_[reply.letter - cmd::kFirstLetter];
  if (!handler) return false;
  const auto n = static_cast<std::size_t>(std::clamp<std::int32_t>(reply.length, 0, cmd::kMaxReplyPayload));
  handler(std::span<const std::uint8_t>(reply.payload).first(n), static_cast<std::int16_t>(n));
  return true;
}

void HyloProcMsg::RegisterReportHandlers(ReplyPort port) {
  port_ = std::move(port);
  auto bind = [this](std::uint8_t letter, int (HyloProcMsg::*handler)(std::span<const std::uint8_t>) const) {
    RegisterReplyHandler(
        letter, [this, handler](std::span<const std::uint8_t> p, std::int16_t) { return (this->*handler)(p); });
  };
  bind('A', &HyloProcMsg::TimeSynced);
  bind('G', &HyloProcMsg::GainReport);
  bind('R', &HyloProcMsg::EpochTriggerReport);
  bind('S', &HyloProcMsg::EpochReport);
  bind('T', &HyloProcMsg::EpochRemoval);
  bind('U', &HyloProcMsg::EpochState);
  bind('Z', &HyloProcMsg::BatteryReport);
  bind('[', &HyloProcMsg::SyncReport);
  RegisterReplyHandler('V', [this](std::span<const std::uint8_t>, std::int16_t) { return PasswordReset(); });
}

void HyloProcMsg::Log(std::string_view line) const {
  if (port_.logLine) port_.logLine(line);
}

void HyloProcMsg::Notice(std::string_view text) const {
  if (port_.showNotice) port_.showNotice(text);
}

DeviceIdentity HyloProcMsg::Identity() const { return port_.identity ? port_.identity() : DeviceIdentity{}; }

int HyloProcMsg::TimeSynced(std::span<const std::uint8_t> p) const {
  // Without a whole time stamp there is no time to report.
  if (p.size() < 4) return -1;
  const std::uint32_t seconds = bytes::GetU32LE(p, 0);
  Log(std::string(ModelName(Identity().modelCode)) + " time synced to " + InstrumentTimeOfDay(seconds) + " UTC");
  return 0;
}

int HyloProcMsg::GainReport(std::span<const std::uint8_t> p) const {
  if (p.empty()) return -1;
  const DeviceIdentity identity = Identity();
  Log(std::string(ModelName(identity.modelCode)) + " Acoustic Gain set to " + GainText(identity.modelCode, p[0]));
  if (port_.saveDisplaySettings) port_.saveDisplaySettings();
  return 0;
}

int HyloProcMsg::BatteryReport(std::span<const std::uint8_t> p) const {
  if (p.size() < 4) return -1;
  if (bytes::GetU16LE(p, 0) != 0) return 0;
  if (port_.status) port_.status->SetBattery(static_cast<std::int8_t>(p[3]), p[2]);
  return 0;
}

int HyloProcMsg::SyncReport(std::span<const std::uint8_t> p) const {
  std::array<std::uint8_t, 24> record{};
  if (!SyncRecordFromReport(p, record)) return -1;
  if (port_.status) {
    std::int32_t state = 0;
    std::memcpy(&state, record.data() + 4, sizeof state);
    port_.status->SetSyncRecord(record);
    port_.status->SetSyncState(state);
  }
  return 0;
}

int HyloProcMsg::EpochTriggerReport(std::span<const std::uint8_t> p) const {
  if (p.empty()) return -1;
  if (p[0] < 6 && port_.epochTriggerReport) port_.epochTriggerReport(p[0], p.subspan(1));
  return 0;
}

int HyloProcMsg::EpochReport(std::span<const std::uint8_t> p) const {
  if (p.empty()) return -1;
  if (port_.epochReport) port_.epochReport(p[0], p);
  return 0;
}

int HyloProcMsg::EpochRemoval(std::span<const std::uint8_t> p) const {
  if (p.empty()) return -1;
  const bool removed = p[0] == 0;
  Notice(removed ? "Epoch Trigger removed successfully" : "Error: Epoch remove failed");
  Log(removed ? "Epoch Trigger Removed" : "Epoch remove failed");
  if (port_.epochRemoved) port_.epochRemoved(removed);
  return 0;
}

int HyloProcMsg::EpochState(std::span<const std::uint8_t> p) const {
  if (p.empty()) return -1;
  if (port_.epochState) port_.epochState(p[0]);
  return 0;
}

int HyloProcMsg::PasswordReset() const {
  Notice("Password Reset");
  return 0;
}

}  // namespace hylo
