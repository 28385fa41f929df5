#pragma once
// The host's own event detector on TriggerThread: five band triggers (types 5 and 6) and the
// click trigger (type 7) evaluated on every FFT record, with the indicator states, the event
// and count lines, and the counting period. No threads here: the caller feeds records.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/EpochTrigger.h"
#include "stream/Records.h"

namespace hylo {

// `TriggerState`: what the epoch window's indicator shows.
enum TriggerState : std::uint8_t {
  kNoSignalInactive = 0,
  kSignalInactive = 1,
  kSignalActive = 2,
  kNoSignalActive = 3,
};

struct FftParameters {
  std::uint16_t fftLength = 1024;
  std::uint16_t accumulation = 16;
  std::uint16_t fftStep = 512;
  std::uint16_t fftType = 4;
  std::uint16_t weight = 1;
  std::uint32_t sampleRate = 512000;
};

// `ActiveTrigger`: a slot's stored record and the state derived from it.
struct ActiveTrigger {
  std::uint16_t type = kEmptyTrigger;
  EpochTrigger band;         // types 5 and 6
  ClickTriggerRecord click;  // type 7
  std::uint32_t countdown = 0;
  std::uint32_t signalStart = 0;  // time of the first record of the current run of signal
  std::int64_t eventEnd = kNoEventEnd;
  std::uint32_t durationRecords = 1;
  std::uint32_t extendSeconds = 0;
  std::uint16_t effect = 0;
  bool enabled = false;
  std::uint16_t slotNumber = 0;
  int thresholdCode = 0;
  std::uint16_t highBin = 0, lowBin = 0;
  bool valid = false;
  std::uint8_t lastState = kNoSignalInactive;
  double countSeconds = 0;
  std::int32_t countHits = 0;

  static constexpr std::int64_t kNoEventEnd = -1;  // earlier than any record time
};

// An event that fired on a record: what a clip needs to place itself.
struct FiredEvent {
  std::size_t slot = 0;
  std::uint16_t type = 0;
  std::uint32_t time = 0;           // the time written in the event line
  std::uint64_t firstSample = 0;    // the firing record's first sample
  std::uint64_t recordSamples = 0;  // samples the firing record covers
};

// What one record gave: lines to post and whether the indicators changed.
struct TriggerOutput {
  std::vector<std::string> lines;
  std::vector<FiredEvent> fired;
  bool changed = false;
  std::array<std::uint8_t, kTriggerSlots> states{};
  void Clear() {
    lines.clear();
    fired.clear();
    changed = false;
  }
};

// The epoch error code a trigger record fails with, 0 when it passes.
int CheckHostTriggerRecord(std::span<const std::uint8_t> record);

// Event and count line texts.
std::string EventTimeText(std::uint32_t seconds);

class HostTriggers {
 public:
  // MSG_TRIGGER_CONFIG: a 24-byte band record or a 16-byte click record (type at offset 0).
  // Returns the check result; a failing record changes nothing.
  int Configure(std::span<const std::uint8_t> record);
  // After a restart or missed records: new parameters, every trigger reconfigured and reset.
  void SetFftParameters(const FftParameters& p);
  // MSG_RESET_COUNTER: a new counting period (0 = off), every count cleared.
  void ResetCounting(std::uint32_t periodSeconds);
  // Hydrophone sensitivity in dB re 1 V/uPa (used for thresholds in dB re uPa).
  void SetSensitivity(int db);

  // Evaluates every slot on one record whose trigger time is `t`. `replayName` is the
  // replayed file's name, empty for live data.
  void Evaluate(const SpectrumRecord& r, std::uint32_t t, std::string_view replayName, TriggerOutput& out);

  const ActiveTrigger& Slot(std::size_t i) const { return slots_[i]; }
  std::uint32_t CountPeriod() const { return countPeriod_; }
  const FftParameters& Parameters() const { return params_; }

 private:
  void Reconfigure(ActiveTrigger& a) const;
  bool Signal(const ActiveTrigger& a, const SpectrumRecord& r) const;
  std::string EventLine(const ActiveTrigger& a, const SpectrumRecord& r, std::uint32_t t,
                        std::string_view replayName) const;
  std::string CountLine(const ActiveTrigger& a, std::uint32_t t, int records, std::string_view replayName) const;

  std::array<ActiveTrigger, kTriggerSlots> slots_{};
  FftParameters params_;
  std::uint32_t countPeriod_ = 0;
  int sensitivity_ = -171;
};

}  // namespace hylo
