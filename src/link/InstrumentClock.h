#pragma once
// The instrument clock after identify and after a change of the unit's time-synchronisation
// mode: modes 0 and 3 take the host clock at once; the others keep their own time (a master
// or a synced slave) and are set only when it is more than 30 days from the host's.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "link/CommandLink.h"

namespace hylo {

inline constexpr std::int64_t kClockToleranceSeconds = 2592000;  // 30 days

enum class ClockStep { kSetAtOnce, kReadFirst };
ClockStep ClockStepFor(int syncMode);
bool ClockNeedsSetting(std::uint32_t instrumentTime, std::uint32_t hostTime);

struct ClockOutcome {
  bool read = false;  // the clock was read first
  std::optional<std::uint32_t> instrumentTime;
  bool set = false;        // "A" with the host time was answered
  std::string failedLine;  // for the status log when the link gave no answer
};

// Runs the step over the link (waiting for each answer) from a worker thread. The set is
// forwarded, so the "A" handler reports the synchronisation.
ClockOutcome SyncInstrumentClock(CommandLink& link, int syncMode, std::uint32_t hostTime,
                                 const std::atomic<bool>& cancel);

}  // namespace hylo
