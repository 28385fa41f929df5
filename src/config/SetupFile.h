#pragma once
// HF-family setup files (".cfg"): "$KEY = value" lines with the parameter list's names.
// Loading checks each record with the instrument's error bits before it reaches the panel;
// nothing is sent until the operator applies.
#include <array>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "config/HyloSetup.h"

namespace hylo::setup {

// Keys 0..20 are the parameter identifiers; 21..27 are older names read for compatibility.
inline constexpr std::size_t kSetupFileKeyCount = 28;
enum SetupFileOldKey : std::size_t {
  kOldFftNumAccum = 21,
  kOldFftWeightFactor = 22,
  kOldFftLoggingMode = 23,
  kOldDutyRunDuration = 24,
  kOldDutyWaitDuration = 25,
  kOldWaveDataFmt = 26,
  kOldWaveLoggingMode = 27,
};
std::string_view SetupFileKey(std::size_t index);  // "$AUX_PIN" …; empty outside 0..27

struct SetupFileValues {
  std::array<std::int64_t, kSetupFileKeyCount> value{};
  std::bitset<kSetupFileKeyCount> present;
};
SetupFileValues DefaultSetupFileValues();
// Keys found by containment in index order, then the older names folded in.
SetupFileValues ParseSetupFileText(std::string_view text);

inline constexpr std::string_view kFileOpenFailedText = "File open failed";
inline constexpr std::string_view kWaveFileErrorText = "Error in wave setup";
inline constexpr std::string_view kFftFileErrorText = "Error in FFT setup";
inline constexpr std::string_view kDutyFileErrorText = "Error in duty cycle setup";
inline constexpr std::string_view kStartTimeFileErrorText = "Error in start time setup";
inline constexpr std::string_view kSyncFileErrorText = "Error in sync setup";

// The records a file stands for; each is absent when it failed (its message is in notices).
struct SetupFileRecords {
  std::optional<WaveSetup> wave;
  std::optional<FftSetup> fft;
  std::optional<DutyCycleSetup> duty;
  std::optional<StartTimeSetup> startTime;
  std::optional<int> syncPinMode;  // with the two flags below when present
  bool wakeFromStandby = false;
  bool timeSource = false;
};
SetupFileRecords SetupFileToRecords(const SetupFileValues& v, Notices& notices);
// Puts the records that passed on the panel, as if the unit had sent them.
void ApplySetupFileRecords(JobSetup& s, const SetupContext& ctx, const SetupFileRecords& r, std::uint32_t now);

// The file's text for the setup that would be sent now (with the corrections and their notices).
std::string FormatSetupFile(JobSetup& s, const SetupContext& ctx, Notices& notices);
// False (and "File open failed") when the file cannot be written.
bool WriteSetupFile(const std::filesystem::path& path, JobSetup& s, const SetupContext& ctx, Notices& notices);
// A file that cannot be opened loads the defaults.
void ReadSetupFile(const std::filesystem::path& path, JobSetup& s, const SetupContext& ctx, Notices& notices,
                   std::uint32_t now);

// 0 = valid; otherwise the instrument's setup error bits.
std::uint16_t CheckSetupRecord(const WaveSetup& r);
std::uint16_t CheckSetupRecord(const FftSetup& r);
std::uint16_t CheckSetupRecord(const StartTimeSetup& r);
std::uint16_t CheckSetupRecord(const DutyCycleSetup& r);
// Any record by its bytes: a parameter list is 0, an unknown or short record 0xFFFD.
std::uint16_t CheckSetupRecord(std::span<const std::uint8_t> record);

}  // namespace hylo::setup
