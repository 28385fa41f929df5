#include "link/InstrumentClock.h"

#include <array>

#include "link/CommandLetters.h"
#include "wire/Bytes.h"

namespace hylo {

ClockStep ClockStepFor(int syncMode) {
  return syncMode == 0 || syncMode == 3 ? ClockStep::kSetAtOnce : ClockStep::kReadFirst;
}

bool ClockNeedsSetting(std::uint32_t instrumentTime, std::uint32_t hostTime) {
  const std::int64_t apart = static_cast<std::int64_t>(instrumentTime) - static_cast<std::int64_t>(hostTime);
  return apart > kClockToleranceSeconds || apart < -kClockToleranceSeconds;
}

ClockOutcome SyncInstrumentClock(CommandLink& link, int syncMode, std::uint32_t hostTime,
                                 const std::atomic<bool>& cancel) {
  ClockOutcome out;
  std::array<std::uint8_t, 4> payload{};
  if (ClockStepFor(syncMode) == ClockStep::kReadFirst) {
    out.read = true;
    const auto reply = link.Transact(cmd::kClock, payload, 1, false, cancel);
    // Reply: "*", letter, length (2), then the instrument time.
    if (!reply || reply->size() < 8) {
      out.failedLine = "Time Not Set, Data link Error Code -1";
      return out;
    }
    out.instrumentTime = bytes::GetU32LE(*reply, 4);
    if (!ClockNeedsSetting(*out.instrumentTime, hostTime)) return out;
  }
  bytes::PutU32LE(payload, 0, hostTime);
  const auto reply = link.Transact(cmd::kClock, payload, 1, true, cancel);
  out.set = reply.has_value();
  if (!out.set) out.failedLine = "Time Not Set, Data link Error Code -1";
  return out;
}

}  // namespace hylo
