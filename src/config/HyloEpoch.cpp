#include "config/HyloEpoch.h"

#include <algorithm>
#include <cmath>

#include "link/CommandLetters.h"
#include "link/DeviceIdentity.h"
#include "wire/Bytes.h"

namespace hylo::setup {

namespace {

// One FFT string in seconds; 0 when the setup gives no usable divisor.
double StringSeconds(const EpochScale& s) {
  if (s.lfRate == 0 || s.numStrings <= 0 || s.overlap >= 1.0) return 0;
  return (1.0 - s.overlap) * s.numStrings * 1024.0 / s.lfRate;
}

std::uint16_t Seconds16(double seconds) {
  return static_cast<std::uint16_t>(std::clamp(std::lround(seconds), 0L, 65535L));
}

}  // namespace

EpochForm EpochFormFor(const SetupContext& ctx) {
  if (ctx.IsLf()) return EpochForm::kLf;
  return ctx.firmware >= Firmware(2, 1, 6) ? EpochForm::kNewerHf : EpochForm::kOlderHf;
}

EpochScale EpochScaleFor(const JobSetup& s, const SetupContext& ctx, int sensitivity) {
  EpochScale e;
  e.form = EpochFormFor(ctx);
  e.lfRate = SampleRateForBandwidth(s.lfBandwidthHz);
  e.numStrings = s.lfNumStrings;
  e.overlap = s.lfOverlap;
  e.lfGain = s.lfGain;
  e.sensitivity = sensitivity;
  e.thresholdFloor = e.form == EpochForm::kOlderHf && ctx.firmware < Firmware(2, 0, 1);
  e.floorDb = s.refLevel - sensitivity;
  return e;
}

std::uint16_t LfBin(std::uint32_t hz, std::uint32_t rate) {
  if (rate == 0) return 0;
  const std::uint64_t bin = (std::uint64_t{hz} * 1024 + rate / 2) / rate;
  return static_cast<std::uint16_t>(std::min<std::uint64_t>(bin, 511));
}

std::uint32_t LfBinFrequency(std::uint16_t bin, std::uint32_t rate) {
  const std::uint64_t hz = (std::uint64_t{bin} * rate + 1023) / 1024;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(hz, rate));
}

std::uint16_t LfStrings(double seconds, const EpochScale& scale) {
  const double step = StringSeconds(scale);
  if (step <= 0 || seconds <= 0) return 0;
  // The small margin keeps a duration shown from a listed record at its own string count.
  const double strings = std::ceil(seconds / step - 1e-9);
  return static_cast<std::uint16_t>(std::clamp(strings, 0.0, 65535.0));
}

double LfSeconds(std::uint16_t strings, const EpochScale& scale) { return strings * StringSeconds(scale); }

std::uint32_t LfThresholdCode(int db, const EpochScale& scale) {
  const int code = 2 * (db + scale.lfGain + 120 + scale.sensitivity);
  return static_cast<std::uint32_t>(std::clamp(code, 0, 255));
}

int LfThresholdDb(std::uint32_t code, const EpochScale& scale) {
  const std::int64_t db = (std::int64_t{code} + 1) / 2 - scale.lfGain - 120 - scale.sensitivity;
  return static_cast<int>(std::clamp<std::int64_t>(db, 0, 255));
}

TriggerList ReadTriggersFromPanel(const EpochRows& rows, const EpochScale& scale) {
  TriggerList list{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const EpochRow& r = rows[i];
    const std::uint32_t lo = std::min(r.minFreq, r.maxFreq);
    const std::uint32_t hi = std::max(r.minFreq, r.maxFreq);
    if (scale.form == EpochForm::kLf) {
      LfEpochTrigger t;
      t.kind = r.test == 0 ? kLfKind0 : kLfKind1;
      t.firstDuration = LfStrings(r.duration, scale);
      t.secondDuration = LfStrings(r.extend, scale);
      t.lowBin = LfBin(lo, scale.lfRate);
      t.highBin = LfBin(hi, scale.lfRate);
      t.actions = r.lfActions & 0x1F;
      // The record boxes of a row are one choice: spectrum data wins over wave data.
      if ((t.actions & 0x18) == 0x18) t.actions &= ~0x08;
      t.thresholdCode = LfThresholdCode(r.threshold, scale);
      list[i].Set(t);
      list[i].valid = r.enabled;
      continue;
    }
    EpochTrigger t;
    t.type = r.test == 0 ? kAboveThreshold : kBelowThreshold;
    t.slot = static_cast<std::uint8_t>(i + 1);
    t.active = r.enabled ? 1 : 0;
    t.dur = Seconds16(r.duration);
    t.extend = Seconds16(r.extend);
    t.minFreq = lo;
    t.maxFreq = hi;
    int threshold = r.threshold;
    if (scale.thresholdFloor) threshold = std::max(threshold, scale.floorDb);
    t.threshold = static_cast<std::int16_t>(std::clamp(threshold, -32768, 32767));
    t.refType = 0;
    t.effect =
        static_cast<std::uint16_t>((r.logWave ? kEffectLogWave : 0) | (r.logFft ? kEffectLogFft : 0) | kEffectReport);
    t.preTrig = scale.form == EpochForm::kNewerHf ? static_cast<std::uint16_t>(std::clamp(r.preTrig, 0, 65535)) : 0;
    list[i].Set(t);
  }
  return list;
}

EpochRows ShowTriggers(const TriggerList& list, const EpochScale& scale) {
  EpochRows rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TriggerSlot& slot = list[i];
    EpochRow& r = rows[i];
    const std::uint16_t type = slot.Type();
    if (scale.form == EpochForm::kLf) {
      if (!IsLfType(type) || slot.size < kLfEpochRecordBytes) continue;
      const LfEpochTrigger t = slot.Lf();
      r.enabled = slot.valid;
      r.test = t.kind == kLfKind0 ? 0 : 1;
      r.duration = LfSeconds(t.firstDuration, scale);
      r.extend = LfSeconds(t.secondDuration, scale);
      r.minFreq = LfBinFrequency(t.lowBin, scale.lfRate);
      r.maxFreq = LfBinFrequency(t.highBin, scale.lfRate);
      r.lfActions = t.actions & 0x1F;
      r.threshold = LfThresholdDb(t.thresholdCode, scale);
      continue;
    }
    if (!IsBandType(type)) continue;
    const EpochTrigger t = slot.Epoch();
    r.enabled = t.active == 1;
    r.test = type == kAboveThreshold ? 0 : 1;
    r.duration = t.dur;
    r.extend = t.extend;
    r.minFreq = t.minFreq;
    r.maxFreq = t.maxFreq;
    r.threshold = t.refType == 0 ? t.threshold : t.threshold - scale.sensitivity;
    r.logWave = (t.effect & kEffectLogWave) != 0;
    r.logFft = (t.effect & kEffectLogFft) != 0;
    r.preTrig = t.preTrig;
  }
  return rows;
}

bool ParseEpochList(int count, std::span<const std::uint8_t> entries, TriggerList& list) {
  if (count < 0 || count >= static_cast<int>(kTriggerSlots)) return false;
  for (TriggerSlot& slot : list) slot.valid = false;
  std::size_t at = 0;
  for (int entry = 0; entry < count; ++entry) {
    if (entries.size() - at < 2) break;
    const std::size_t size = bytes::GetU16LE(entries, at);
    at += 2;
    if (entries.size() - at < size) break;
    const auto record = entries.subspan(at, size);
    at += size;
    if (size < 2) continue;
    const std::uint16_t type = bytes::GetU16LE(record, 0);
    if (IsLfType(type) && size >= kLfEpochRecordBytes) {
      TriggerSlot& slot = list[static_cast<std::size_t>(entry)];
      slot.Clear();
      slot.size = kLfEpochRecordBytes;
      std::copy_n(record.begin(), kLfEpochRecordBytes, slot.record.begin());
      slot.valid = true;
    } else if (IsBandType(type) && size >= kEpochRecordBytes && record[2] < kTriggerSlots) {
      TriggerSlot& slot = list[record[2]];
      slot.size = kEpochRecordBytes;
      std::copy_n(record.begin(), kEpochRecordBytes, slot.record.begin());
      slot.valid = record[3] != 0;
    }
  }
  return true;
}

// ---- HyloEpoch ---------------------------------------------------------------------------

HyloEpoch::HyloEpoch(OperatorPort& op, PanelModel& unitPanel, Ports ports)
    : operator_(op), panel_(unitPanel), ports_(std::move(ports)) {}

EpochScale HyloEpoch::Scale() const {
  const SetupContext ctx = ports_.context ? ports_.context() : SetupContext{};
  const JobSetup s = ports_.setup ? ports_.setup() : JobSetup{};
  return EpochScaleFor(s, ctx, ports_.sensitivity ? ports_.sensitivity() : -171);
}

EpochRows HyloEpoch::Rows() const {
  std::lock_guard guard(lock_);
  return rows_;
}

void HyloEpoch::SetRows(const EpochRows& rows) {
  std::int64_t revision = 0;
  {
    std::lock_guard guard(lock_);
    rows_ = rows;
    revision = ++revision_;
  }
  panel_.SetValue(unitpanel::kEpochRevision, revision);
}

TriggerList HyloEpoch::List() const {
  std::lock_guard guard(lock_);
  return list_;
}

void HyloEpoch::Publish(const TriggerList& list) {
  const EpochRows rows = ShowTriggers(list, Scale());
  std::int64_t revision = 0;
  {
    std::lock_guard guard(lock_);
    list_ = list;
    rows_ = rows;
    revision = ++revision_;
  }
  panel_.SetValue(unitpanel::kEpochRevision, revision);
}

void HyloEpoch::Line(std::string_view text) const {
  if (ports_.statusLine) ports_.statusLine(text);
}

int HyloEpoch::SendEpochTriggers() {
  const EpochScale scale = Scale();
  std::lock_guard guard(lock_);
  list_ = ReadTriggersFromPanel(rows_, scale);
  pendingAdd_ = true;
  outstanding_ = 0;
  // Under the lock, so adds released by an earlier clear's reply queue after this clear.
  const int rc = ports_.send ? ports_.send(cmd::kEpochClear, {}) : 12;
  if (rc != 0) pendingAdd_ = false;
  return rc;
}

void HyloEpoch::OnEpochClearReply(int status) {
  std::unique_lock guard(lock_);
  if (status != 0) {
    pendingAdd_ = false;
    guard.unlock();
    operator_.ShowNotice(kEpochClearFailedText);
    Line(kEpochClearFailedLine);
    return;
  }
  if (!pendingAdd_) {
    guard.unlock();
    Line(kEpochListClearedLine);
    return;
  }
  pendingAdd_ = false;
  for (std::size_t i = 0; i < list_.size(); ++i) {
    TriggerSlot slot = list_[i];
    if (!slot.valid) continue;
    if (IsBandType(slot.Type())) {
      slot.size = kEpochRecordBytes;
      slot.record[2] = static_cast<std::uint8_t>(i);
    } else if (IsLfType(slot.Type())) {
      slot.size = kLfEpochRecordBytes;
    } else {
      continue;
    }
    if (ports_.send && ports_.send(cmd::kEpochAdd, slot.Bytes()) == 0) ++outstanding_;
  }
  const bool none = outstanding_ == 0;
  guard.unlock();
  // Every row off: the cleared list is what the operator asked for.
  if (none) Line(kEpochListClearedLine);
}

void HyloEpoch::OnEpochAddReply(int status) {
  std::unique_lock guard(lock_);
  if (outstanding_ > 0) --outstanding_;
  const bool last = outstanding_ == 0;
  guard.unlock();
  if (status != 0) {
    operator_.ShowNotice(DescribeEpochError(status));
    Line(kEpochSetupFailedLine);
  } else if (last) {
    Line(kEpochTriggersAddedLine);
  }
}

void HyloEpoch::OnEpochListReply(int count, std::span<const std::uint8_t> entries) {
  TriggerList list = List();
  if (!ParseEpochList(count, entries, list)) return;
  Publish(list);
}

TriggerFileStatus HyloEpoch::LoadFile(const std::filesystem::path& path) {
  TriggerList list{};  // every slot empty (type 4, not valid) before the file fills it
  const TriggerFileStatus status = ReadTriggerFile(list, path);
  if (status == TriggerFileStatus::kOk) Publish(list);
  return status;
}

TriggerFileStatus HyloEpoch::SaveFile(const std::filesystem::path& path) {
  return WriteTriggerFile(ReadTriggersFromPanel(Rows(), Scale()), path);
}

int HyloEpoch::LoadInstrumentEpochFile() {
  const auto chosen = operator_.ChooseFile("Load Epoch File", {}, "*.cfg", false);
  if (!chosen || chosen->empty()) return 1;
  const TriggerFileStatus status = LoadFile(*chosen);
  if (status == TriggerFileStatus::kOk) return 0;
  operator_.ShowNotice(DescribeTriggerFileStatus(status, *chosen));
  return -1;
}

int HyloEpoch::SaveInstrumentEpochFile() {
  auto chosen = operator_.ChooseFile("Save Epoch File", {}, "*.cfg", true);
  if (!chosen || chosen->empty()) return 1;
  if (!chosen->has_extension()) chosen->replace_extension(".cfg");
  const TriggerFileStatus status = SaveFile(*chosen);
  if (status == TriggerFileStatus::kOk) return 0;
  operator_.ShowNotice(DescribeTriggerFileStatus(status, *chosen));
  return -1;
}

}  // namespace hylo::setup
