#include "processing/HostTriggers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "wire/Bytes.h"

namespace hylo {

namespace {

constexpr std::uint32_t kMaxBandHz = 204800;
constexpr std::uint16_t kEffectBits = kEffectLogWave | kEffectLogFft | kEffectReport;

std::string Format(const char* format, auto... args) {
  char text[256];
  const int n = std::snprintf(text, sizeof text, format, args...);
  return std::string(text, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

// The condition part of a band trigger's lines: "Hz 1000-2000 > 100uPa,".
std::string BandText(const EpochTrigger& b) {
  return Format("Hz %lu-%lu ", static_cast<unsigned long>(b.minFreq), static_cast<unsigned long>(b.maxFreq)) +
         (b.type == kAboveThreshold ? "> " : "< ") + Format(b.refType == 0 ? "%duPa," : "%dV,", int{b.threshold});
}

}  // namespace

int CheckHostTriggerRecord(std::span<const std::uint8_t> record) {
  if (record.size() < 2) return 251;
  const std::uint16_t type = bytes::GetU16LE(record, 0);
  if (type == kEmptyTrigger || type == kClickTrigger) return 0;
  if (!IsBandType(type)) return 251;
  if (record.size() < kEpochRecordBytes) return 251;
  const EpochTrigger t = EpochTrigger::Decode(record);
  if (t.effect == 0 || (t.effect & ~kEffectBits) != 0) return 252;
  if (t.maxFreq > kMaxBandHz) return 2;
  if (t.minFreq > kMaxBandHz) return 1;
  if (t.maxFreq < t.minFreq) return 249;
  if (t.slot > 5) return 253;
  if (t.refType > 1) return 248;
  return 0;
}

std::string EventTimeText(std::uint32_t seconds) {
  using namespace std::chrono;
  const sys_seconds at{std::chrono::seconds{seconds}};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  if (int{date.year()} == 1970) return Format("Secs %d ", static_cast<int>(seconds));
  const hh_mm_ss clock{at - day};
  return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d,", int{date.year()}, static_cast<int>(unsigned{date.month()}),
                static_cast<int>(unsigned{date.day()}), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
}

int HostTriggers::Configure(std::span<const std::uint8_t> record) {
  if (const int code = CheckHostTriggerRecord(record); code != 0) return code;
  const std::uint16_t type = bytes::GetU16LE(record, 0);
  if (type == kEmptyTrigger) {
    const std::uint8_t slot = record.size() > 2 ? record[2] : 0;
    if (slot <= 5) {
      slots_[slot] = ActiveTrigger{};
    } else if (slot >= 7) {
      for (std::size_t i = 0; i < kTriggerSlots; ++i) {
        if (i != kClickSlot) slots_[i] = ActiveTrigger{};
      }
    }
    return 0;
  }
  ActiveTrigger a;
  a.type = type;
  std::size_t slot = kClickSlot;  // a click trigger has one place, whatever its slot byte says
  if (type == kClickTrigger) {
    if (record.size() < kClickRecordBytes) return 251;
    a.click = ClickTriggerRecord::Decode(record);
  } else {
    a.band = EpochTrigger::Decode(record);
    slot = a.band.slot;
  }
  a.lastState = slots_[slot].lastState;
  Reconfigure(a);
  slots_[slot] = a;
  return 0;
}

void HostTriggers::Reconfigure(ActiveTrigger& a) const {
  const double rate = params_.sampleRate;
  const double perRecord = static_cast<double>(params_.accumulation) * params_.fftStep;
  const double recordsPerSecond = perRecord > 0 ? rate / perRecord : 0;
  a.countdown = 0;
  a.eventEnd = ActiveTrigger::kNoEventEnd;
  if (a.type == kClickTrigger) {
    const double n = std::trunc(a.click.durationSeconds * recordsPerSecond);
    a.durationRecords = static_cast<std::uint32_t>(std::clamp(n, 1.0, 4.0e9));
    a.extendSeconds = a.click.extendSeconds;
    a.effect = a.click.effect;
    a.enabled = a.click.enabled != 0;
    a.slotNumber = kClickSlot;
    a.valid = a.enabled;
  } else if (IsBandType(a.type)) {
    const EpochTrigger& b = a.band;
    const double n = std::ceil(b.dur * recordsPerSecond);
    a.durationRecords = static_cast<std::uint32_t>(std::clamp(n, 1.0, 4.0e9));
    a.extendSeconds = b.extend;
    a.effect = b.effect;
    a.enabled = b.active != 0;
    a.slotNumber = b.slot;
    const int code = b.threshold + (b.refType == 0 ? sensitivity_ : 0) + 180;
    a.thresholdCode = std::min(code, 255);
    auto bin = [&](std::uint32_t hz) {
      if (params_.sampleRate == 0) return std::uint16_t{0};
      const std::uint64_t k = std::uint64_t{params_.fftLength} * hz / params_.sampleRate;
      return static_cast<std::uint16_t>(std::min<std::uint64_t>(k, kSpectrumBins - 1));
    };
    a.highBin = bin(b.maxFreq);
    a.lowBin = bin(b.minFreq);
    a.valid = a.enabled && perRecord > 0 && b.minFreq <= 0.4 * rate;
  } else {
    a.valid = false;
  }
  a.countdown = a.durationRecords;
}

void HostTriggers::SetFftParameters(const FftParameters& p) {
  params_ = p;
  for (auto& a : slots_) {
    if (IsBandType(a.type) || a.type == kClickTrigger) Reconfigure(a);
    a.countdown = a.durationRecords;
    a.eventEnd = ActiveTrigger::kNoEventEnd;
    a.countSeconds = 0;
    a.countHits = 0;
  }
}

void HostTriggers::ResetCounting(std::uint32_t periodSeconds) {
  countPeriod_ = periodSeconds;
  for (auto& a : slots_) {
    a.countSeconds = 0;
    a.countHits = 0;
  }
}

void HostTriggers::SetSensitivity(int db) {
  if (db == sensitivity_) return;
  sensitivity_ = db;
  // Thresholds in dB re uPa move with the sensitivity; the running counts stay.
  for (auto& a : slots_) {
    if (IsBandType(a.type)) {
      const int code = a.band.threshold + (a.band.refType == 0 ? sensitivity_ : 0) + 180;
      a.thresholdCode = std::min(code, 255);
    }
  }
}

bool HostTriggers::Signal(const ActiveTrigger& a, const SpectrumRecord& r) const {
  if (!a.enabled || !a.valid) return false;
  if (a.type == kClickTrigger) return r.clickScoreValid && r.clickScore >= a.click.limit;
  const std::uint8_t* first = r.bins + a.lowBin;
  const std::uint8_t* last = r.bins + std::max(a.lowBin, a.highBin) + 1;
  if (a.type == kAboveThreshold) return std::any_of(first, last, [&](std::uint8_t b) { return b > a.thresholdCode; });
  if (a.type == kBelowThreshold) return std::any_of(first, last, [&](std::uint8_t b) { return b < a.thresholdCode; });
  return false;
}

std::string HostTriggers::EventLine(const ActiveTrigger& a, const SpectrumRecord& r, std::uint32_t t,
                                    std::string_view replayName) const {
  const auto seq = static_cast<unsigned long long>(r.firstSample);
  std::string line;
  if (a.type == kClickTrigger) {
    line = EventTimeText(t) + "U Hylo," + Format("Epoch %d,Seq %llu,", a.slotNumber + 1, seq) +
           Format("Click > %d,%d sec,", static_cast<int>(a.click.limit), int{a.click.durationSeconds});
    line += replayName;
  } else {
    // The start is the first signal record's time: t − DUR in whole seconds names the second
    // before whenever the run of signal does not end exactly on a second boundary.
    line = EventTimeText(a.signalStart) + "U Hylo," + Format("Epoch %d,Seq %llu,", a.slotNumber + 1, seq) +
           BandText(a.band) + Format("%dsec", int{a.band.dur});
    if (!replayName.empty()) line += "," + std::string(replayName);
  }
  return line + "\r\n";
}

std::string HostTriggers::CountLine(const ActiveTrigger& a, std::uint32_t t, int records,
                                    std::string_view replayName) const {
  const int active = records > 0 ? static_cast<int>(std::int64_t{a.countHits} * 100 / records) : 0;
  const std::uint32_t start = t >= countPeriod_ ? t - countPeriod_ : 0;
  std::string line = EventTimeText(start) +
                     Format("Active %d%%,Duration(sec) %d,", active, static_cast<int>(countPeriod_)) +
                     Format("Epoch %d,", a.slotNumber + 1);
  line += a.type == kClickTrigger ? Format("Click > %d,", static_cast<int>(a.click.limit)) : BandText(a.band);
  line += replayName;
  return line + "\r\n";
}

void HostTriggers::Evaluate(const SpectrumRecord& r, std::uint32_t t, std::string_view replayName, TriggerOutput& out) {
  for (std::size_t i = 0; i < kTriggerSlots; ++i) {
    ActiveTrigger& a = slots_[i];
    const bool signal = Signal(a, r);
    if (a.enabled) {
      a.countSeconds += r.recordSeconds;
      if (signal) ++a.countHits;
    }
    std::uint8_t state = kNoSignalInactive;
    if (!signal) {
      if (a.eventEnd < std::int64_t{t}) {
        a.countdown = a.durationRecords;
        a.eventEnd = ActiveTrigger::kNoEventEnd;
      } else {
        state = kNoSignalActive;
      }
    } else {
      state = kSignalActive;
      if (a.countdown == a.durationRecords) a.signalStart = t;
      if (a.countdown != 0) {
        state = kSignalInactive;
        if (--a.countdown == 0) {
          state = kSignalActive;
          if (a.effect & kEffectReport) out.lines.push_back(EventLine(a, r, t, replayName));
          const std::uint32_t at = a.type == kClickTrigger ? t : a.signalStart;
          const std::uint64_t perRecord = std::uint64_t{params_.accumulation} * params_.fftStep;
          out.fired.push_back({i, a.type, at, r.firstSample, perRecord});
        }
      }
      if (a.countdown == 0) a.eventEnd = std::int64_t{t} + a.extendSeconds;
    }
    if (countPeriod_ != 0 && a.enabled && a.countSeconds >= countPeriod_) {
      const int records = r.recordSeconds > 0 ? static_cast<int>(a.countSeconds / r.recordSeconds) : 0;
      out.lines.push_back(CountLine(a, t, records, replayName));
      a.countSeconds = 0;
      a.countHits = 0;
    }
    if (state != a.lastState) out.changed = true;
    a.lastState = state;
    out.states[i] = state;
  }
}

}  // namespace hylo
