#pragma once
// The instrument's epoch triggers: the epoch tab's rows and the records they become (LF and
// HF-family forms), the clear/add/list exchange with the unit ("U", "S", "R") and its
// status lines, and the instrument trigger file. Panel calls run on the UI thread (or the
// setup panel's background job); the reply handlers on MsgProcThread.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "config/HyloSetup.h"
#include "files/TriggerFile.h"
#include "link/EpochTrigger.h"
#include "shell/OperatorPort.h"
#include "shell/PanelModel.h"

namespace hylo::setup {

// One row of an epoch tab as the operator edits it.
struct EpochRow {
  bool enabled = false;
  int test = 0;         // 0: the first choice (type 5, LF kind 0), 1: the second (type 6, kind 1)
  double duration = 0;  // seconds
  double extend = 0;    // seconds (LF: the second duration)
  std::uint32_t minFreq = 0;
  std::uint32_t maxFreq = 0;
  int threshold = 0;     // dB (HF: dB re uPa)
  bool logWave = false;  // HF family
  bool logFft = false;
  int preTrig = 0;              // seconds, newer tab only
  std::uint16_t lfActions = 0;  // LF: one bit per check box (0-4)
  bool operator==(const EpochRow&) const = default;
};
using EpochRows = std::array<EpochRow, kEditedTriggers>;

enum class EpochForm { kLf, kOlderHf, kNewerHf };
EpochForm EpochFormFor(const SetupContext& ctx);

// What the conversions need of the setup and the unit.
struct EpochScale {
  EpochForm form = EpochForm::kOlderHf;
  std::uint32_t lfRate = 4000;  // LF sample rate R = bandwidth / 0.4
  int numStrings = 1;
  double overlap = 0;
  int lfGain = 0;
  int sensitivity = -171;       // dB re 1 V/uPa
  bool thresholdFloor = false;  // older HF tab below firmware 2.0.1
  int floorDb = 0;              // HF reference level − sensitivity
};
EpochScale EpochScaleFor(const JobSetup& s, const SetupContext& ctx, int sensitivity);

// LF conversions (integer arithmetic where the unit's own is).
std::uint16_t LfBin(std::uint32_t hz, std::uint32_t rate);
std::uint32_t LfBinFrequency(std::uint16_t bin, std::uint32_t rate);
std::uint16_t LfStrings(double seconds, const EpochScale& scale);
double LfSeconds(std::uint16_t strings, const EpochScale& scale);
std::uint32_t LfThresholdCode(int db, const EpochScale& scale);
int LfThresholdDb(std::uint32_t code, const EpochScale& scale);

// `ReadTriggersFromPanel`: the five rows into slots 0..4; slot 6 stays empty.
TriggerList ReadTriggersFromPanel(const EpochRows& rows, const EpochScale& scale);
// `ShowTriggers`: slots 0..4 as rows (empty slots give disabled rows).
EpochRows ShowTriggers(const TriggerList& list, const EpochScale& scale);

// The "R" reply (count, then the entries): false when the count is 6 or more and `list` is
// untouched. The walk stops at the first entry header or record that would pass the end.
bool ParseEpochList(int count, std::span<const std::uint8_t> entries, TriggerList& list);

inline constexpr std::string_view kEpochClearFailedText = "Error: Epoch clear list failed";
inline constexpr std::string_view kEpochListClearedLine = "Epoch List Cleared";
inline constexpr std::string_view kEpochClearFailedLine = "Epoch clear list failed";
inline constexpr std::string_view kEpochTriggersAddedLine = "Epoch Triggers Added";
inline constexpr std::string_view kEpochSetupFailedLine = "Epoch setup failed";

namespace unitpanel {
inline constexpr const char* kEpochRevision = "epochRevision";  // moves on every change of the rows
}

class HyloEpoch {
 public:
  struct Ports {
    std::function<SetupContext()> context;
    std::function<JobSetup()> setup;
    std::function<int()> sensitivity;
    // Sends one command without waiting (forwarded); 0 when queued.
    std::function<int(std::uint8_t letter, std::span<const std::uint8_t> payload)> send;
    // A status line: the main panel's status field and the job status file.
    std::function<void(std::string_view line)> statusLine;
  };

  HyloEpoch(OperatorPort& op, PanelModel& unitPanel, Ports ports);
  HyloEpoch(const HyloEpoch&) = delete;
  HyloEpoch& operator=(const HyloEpoch&) = delete;

  EpochScale Scale() const;
  EpochRows Rows() const;
  // A panel edit of the rows.
  void SetRows(const EpochRows& rows);
  TriggerList List() const;

  // Reads the list from the rows, sets the pending-add flag and sends "U"; the send result.
  int SendEpochTriggers();
  // Reply handlers (MsgProcThread).
  void OnEpochClearReply(int status);
  void OnEpochAddReply(int status);
  void OnEpochListReply(int count, std::span<const std::uint8_t> entries);

  // "Load Epoch File" / "Save Epoch File": 0 done, 1 cancelled, −1 refused (told).
  int LoadInstrumentEpochFile();
  int SaveInstrumentEpochFile();
  TriggerFileStatus LoadFile(const std::filesystem::path& path);
  TriggerFileStatus SaveFile(const std::filesystem::path& path);

 private:
  void Line(std::string_view text) const;
  void Publish(const TriggerList& list);

  OperatorPort& operator_;
  PanelModel& panel_;
  Ports ports_;

  mutable std::mutex lock_;  // also orders the adds after a clear on the link
  TriggerList list_{};
  EpochRows rows_{};
  std::int64_t revision_ = 0;
  bool pendingAdd_ = false;
  int outstanding_ = 0;
};

}  // namespace hylo::setup
