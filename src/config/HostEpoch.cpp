#include "config/HostEpoch.h"

#include "shell/OperatorPort.h"

namespace hylo {

TriggerList RowsToList(const HostTriggerRows& rows) {
  TriggerList list{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const HostTriggerRow& row = rows[i];
    EpochTrigger t;
    t.type = row.below ? kBelowThreshold : kAboveThreshold;
    t.slot = static_cast<std::uint8_t>(i);
    t.active = row.enabled ? 1 : 0;
    t.dur = row.durSeconds;
    t.extend = row.extendSeconds;
    t.minFreq = std::min(row.minHz, row.maxHz);
    t.maxFreq = std::max(row.minHz, row.maxHz);
    t.threshold = row.threshold;
    t.effect = kEffectReport;
    list[i].Set(t);
  }
  return list;
}

HostTriggerRows ListToRows(const TriggerList& list) {
  HostTriggerRows rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!IsBandType(list[i].Type())) continue;
    const EpochTrigger t = list[i].Epoch();
    rows[i] = {list[i].valid, t.type == kBelowThreshold, t.minFreq, t.maxFreq, t.threshold, t.dur, t.extend};
  }
  return rows;
}

HostEpoch::HostEpoch(OperatorPort& op, TriggerSettings& settings, std::filesystem::path settingsFolder)
    : operator_(op), settings_(settings), settingsFolder_(std::move(settingsFolder)) {
  counterEnabled_ = settings_.countDuration != 0;
  if (counterEnabled_) period_ = settings_.countDuration;
}

void HostEpoch::Edit(const std::function<void(TriggerSettings&)>& edit) {
  if (context_.editSettings) {
    context_.editSettings(edit);
  } else {
    edit(settings_);
  }
}

void HostEpoch::PostList() {
  EpochTrigger clearAll;
  clearAll.slot = 7;
  if (!context_.postConfig) return;
  context_.postConfig(clearAll.Encode());
  for (const TriggerSlot& slot : list_) {
    if (slot.valid && IsBandType(slot.Type())) context_.postConfig(slot.Bytes());
  }
}

TriggerFileStatus HostEpoch::Apply(const HostTriggerRows& rows) {
  list_ = RowsToList(rows);
  PostList();
  const TriggerFileStatus status = WriteTriggerFile(list_, ProgramFile());
  if (status != TriggerFileStatus::kOk) operator_.ShowNotice(DescribeTriggerFileStatus(status, ProgramFile()));
  return status;
}

TriggerFileStatus HostEpoch::Load(const std::filesystem::path& path) {
  TriggerList loaded{};  // every slot type 4, valid 0
  const TriggerFileStatus status = ReadTriggerFile(loaded, path);
  if (status != TriggerFileStatus::kOk) {
    // A missing program file at the first start is no news to the operator.
    const bool firstStart =
        status == TriggerFileStatus::kCannotOpen && path == ProgramFile() && !std::filesystem::exists(path);
    if (!firstStart) operator_.ShowNotice(DescribeTriggerFileStatus(status, path));
    return status;
  }
  list_ = loaded;
  PostList();
  return status;
}

TriggerFileStatus HostEpoch::Save(const std::filesystem::path& path) const {
  const TriggerFileStatus status = WriteTriggerFile(list_, path);
  if (status != TriggerFileStatus::kOk) operator_.ShowNotice(DescribeTriggerFileStatus(status, path));
  return status;
}

void HostEpoch::ShowTab() {
  tab_.rows = Rows();
  tab_.clips = {settings_.clipsEnabled, settings_.clipFolder, settings_.clipSecondsBefore, settings_.clipSecondsAfter};
}

int HostEpoch::ApplyTab() {
  Edit([&](TriggerSettings& s) {
    s.clipsEnabled = tab_.clips.enabled;
    s.clipFolder = tab_.clips.folder.string();
    s.clipSecondsBefore = std::min(tab_.clips.preSeconds, kMaxClipSeconds);
    s.clipSecondsAfter = std::min(tab_.clips.postSeconds, kMaxClipSeconds);
  });
  if (context_.applyClips) context_.applyClips();
  return Apply(tab_.rows) == TriggerFileStatus::kOk ? 0 : -1;
}

void HostEpoch::UndoHyloEpochChangesCb() {
  Load(ProgramFile());
  ShowTab();
}

TriggerFileStatus HostEpoch::LoadHyloEpochFileCallback(const std::filesystem::path& path) {
  const TriggerFileStatus status = Load(path);
  if (status == TriggerFileStatus::kOk) tab_.rows = Rows();
  return status;
}

TriggerFileStatus HostEpoch::SaveHyloEpochFile(const std::filesystem::path& path) const {
  const TriggerFileStatus status = WriteTriggerFile(RowsToList(tab_.rows), path);
  if (status != TriggerFileStatus::kOk) operator_.ShowNotice(DescribeTriggerFileStatus(status, path));
  return status;
}

ClickTriggerRecord HostEpoch::ClickRecord() const {
  ClickTriggerRecord click;
  click.enabled = settings_.correlationActive ? 1 : 0;
  click.limit = settings_.correlationLimit;
  return click;
}

void HostEpoch::PostClick() {
  if (!context_.postConfig || !context_.postConfig(ClickRecord().Encode())) {
    operator_.ShowNotice(kCorrelationErrorText);
    Edit([](TriggerSettings& s) { s.correlationActive = false; });
  }
}

void HostEpoch::SetCorrLimit(std::uint32_t limit) {
  Edit([&](TriggerSettings& s) { s.correlationLimit = limit; });
  PostClick();
}

void HostEpoch::EnableCorrTrig(bool enabled) {
  Edit([&](TriggerSettings& s) { s.correlationActive = enabled; });
  PostClick();
}

// TriggerThread stores the period it was given ("Count Duration", 0 while off).
void HostEpoch::UpdateCountDur(std::uint32_t seconds) {
  period_ = seconds;
  if (counterEnabled_ && context_.postResetCounter) context_.postResetCounter(seconds);
}

void HostEpoch::EnableEventCounter(bool enabled) {
  counterEnabled_ = enabled;
  if (context_.postResetCounter) context_.postResetCounter(enabled ? period_ : 0);
}

}  // namespace hylo
