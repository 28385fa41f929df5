#pragma once
// Reply dispatch on MsgProcThread: each forwarded reply frame goes to the handler registered
// for its letter ("A".."\"); letters without a handler are dropped. Also the small handlers
// of the instrument's reports (time, gain, battery, synchronisation, password, epochs).
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/HyloNodes.h"
#include "link/CommandLetters.h"
#include "link/DeviceIdentity.h"

namespace hylo {

class StatusStore;

// Payload bytes and N as a signed 16-bit count; the result is not used.
using ReplyHandler = std::function<int(std::span<const std::uint8_t> payload, std::int16_t length)>;

// Where the report handlers' results go; every member is optional.
struct ReplyPort {
  std::function<DeviceIdentity()> identity;
  StatusStore* status = nullptr;
  // The main panel's message line and the status log (which adds the time of day).
  std::function<void(std::string_view line)> logLine;
  std::function<void(std::string_view text)> showNotice;
  std::function<void()> saveDisplaySettings;
  // The epoch triggers' module: "R" (slot index, rest), "S" (first byte, whole payload),
  // "T" (removed or not), "U" (state byte).
  std::function<void(int index, std::span<const std::uint8_t> rest)> epochTriggerReport;
  std::function<void(int first, std::span<const std::uint8_t> payload)> epochReport;
  std::function<void(bool removed)> epochRemoved;
  std::function<void(int state)> epochState;
};

// "%d[w2p0]:%d[w2p0]:%d[w2p0]" of the time of day of instrument seconds (UTC).
std::string InstrumentTimeOfDay(std::uint32_t seconds);
// "%idB" for a valid gain of an LF, HF or AF unit, "0dB" for any other gain, "-" for other models.
std::string GainText(int modelCode, int gain);
// The 24-byte synchronisation record (host order) built from a "[" report, or none when short.
bool SyncRecordFromReport(std::span<const std::uint8_t> payload, std::array<std::uint8_t, 24>& record);

class HyloProcMsg {
 public:
  // Register before the workers start (or from MsgProcThread itself). False for a letter
  // outside "A".."\".
  bool RegisterReplyHandler(std::uint8_t letter, ReplyHandler handler);
  // Dispatches one type 10 node; true when a handler ran. Never frees the node.
  bool DispatchReply(MessageNode& node) const;

  // Registers "A", "G", "R", "S", "T", "U", "V", "Z" and "[" with their results going to `port`.
  void RegisterReportHandlers(ReplyPort port);

  // Each returns 0 when handled, −1 when the payload was too short and ignored.
  int TimeSynced(std::span<const std::uint8_t> payload) const;
  int GainReport(std::span<const std::uint8_t> payload) const;
  int BatteryReport(std::span<const std::uint8_t> payload) const;
  int SyncReport(std::span<const std::uint8_t> payload) const;
  int EpochTriggerReport(std::span<const std::uint8_t> payload) const;
  int EpochReport(std::span<const std::uint8_t> payload) const;
  int EpochRemoval(std::span<const std::uint8_t> payload) const;
  int EpochState(std::span<const std::uint8_t> payload) const;
  int PasswordReset() const;

 private:
  static constexpr std::size_t kLetters = cmd::kLastLetter - cmd::kFirstLetter + 1;
  void Log(std::string_view line) const;
  void Notice(std::string_view text) const;
  DeviceIdentity Identity() const;

  std::array<ReplyHandler, kLetters> handlers_{};
  ReplyPort port_;
};

}  // namespace hylo
