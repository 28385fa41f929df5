#pragma once
// The host's trigger list on the UI side: the five rows of the host epoch tab, the program's
// trigger file, and the main panel's click-trigger and event-counter controls. Triggers reach
// TriggerThread only as MSG_TRIGGER_CONFIG and MSG_RESET_COUNTER messages.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "files/EventClips.h"
#include "files/TriggerFile.h"
#include "link/EpochTrigger.h"
#include "settings/SettingsGroups.h"

namespace hylo {

class OperatorPort;

inline constexpr std::string_view kProgramTriggerFile = "TriggerFile.cfg";
inline constexpr std::string_view kCorrelationErrorText = "Error updating correlation trigger.";

// One row of the host epoch tab.
struct HostTriggerRow {
  bool enabled = false;
  bool below = false;  // the second test choice: any band bin below the threshold
  std::uint32_t minHz = 0;
  std::uint32_t maxHz = 0;
  std::int16_t threshold = 0;  // dB re uPa
  std::uint16_t durSeconds = 0;
  std::uint16_t extendSeconds = 0;
  bool operator==(const HostTriggerRow&) const = default;
};
using HostTriggerRows = std::array<HostTriggerRow, kEditedTriggers>;

// What the host epoch tab edits: the five rows and the event clip setting.
struct HostEpochTab {
  HostTriggerRows rows{};
  ClipSettings clips;
  bool operator==(const HostEpochTab&) const = default;
};

// The rows as trigger records (EFFECT 32, REF_TYPE 0, slot byte = row, PRE_TRIG 0), and back.
TriggerList RowsToList(const HostTriggerRows& rows);
HostTriggerRows ListToRows(const TriggerList& list);

class HostEpoch {
 public:
  struct Context {
    std::function<bool(std::span<const std::uint8_t>)> postConfig;  // MSG_TRIGGER_CONFIG
    std::function<bool(std::uint32_t)> postResetCounter;            // MSG_RESET_COUNTER
    // Runs an edit of the trigger settings under the settings lock and saves the group.
    std::function<void(const std::function<void(TriggerSettings&)>&)> editSettings;
    std::function<void()> applyClips;  // the clip settings to the clip cutter
  };
  HostEpoch(OperatorPort& op, TriggerSettings& settings, std::filesystem::path settingsFolder);
  void SetContext(Context c) { context_ = std::move(c); }

  std::filesystem::path ProgramFile() const { return settingsFolder_ / kProgramTriggerFile; }

  // Program settings Apply: the rows become the list, TriggerThread gets them, the program's
  // file keeps them. Returns the file's status.
  TriggerFileStatus Apply(const HostTriggerRows& rows);
  // At start-up and undo (the program's file) or from a chosen file. A file that cannot be
  // read leaves the list and TriggerThread's triggers as they were, and says why.
  TriggerFileStatus Load(const std::filesystem::path& path);
  TriggerFileStatus Save(const std::filesystem::path& path) const;
  const TriggerList& List() const { return list_; }
  HostTriggerRows Rows() const { return ListToRows(list_); }

  // The host epoch tab: filled from the list and the settings, applied by program settings
  // Apply; undo reloads the program's file; load and save use a chosen file.
  HostEpochTab& Tab() { return tab_; }
  void ShowTab();
  int ApplyTab();
  void UndoHyloEpochChangesCb();
  TriggerFileStatus LoadHyloEpochFileCallback(const std::filesystem::path& path);
  TriggerFileStatus SaveHyloEpochFile(const std::filesystem::path& path) const;

  // Main panel: the click trigger and the counting period.
  void SetCorrLimit(std::uint32_t limit);
  void EnableCorrTrig(bool enabled);
  void UpdateCountDur(std::uint32_t seconds);
  void EnableEventCounter(bool enabled);
  bool CounterEnabled() const { return counterEnabled_; }

  // The click record of the stored settings (slot 5).
  ClickTriggerRecord ClickRecord() const;

 private:
  void PostList();
  void Edit(const std::function<void(TriggerSettings&)>& edit);
  void PostClick();

  OperatorPort& operator_;
  TriggerSettings& settings_;
  std::filesystem::path settingsFolder_;
  Context context_;
  TriggerList list_{};
  HostEpochTab tab_;
  bool counterEnabled_ = false;
  std::uint32_t period_ = 60;  // the counting period while the counter is on
};

}  // namespace hylo
