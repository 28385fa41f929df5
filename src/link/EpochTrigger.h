#pragma once
// The trigger records the instrument and the host detector share: the 24-byte band trigger
// (HF family and host), the 16-byte LF trigger, the 16-byte click trigger, and the six-slot
// list that holds them. Little-endian on the wire and in memory images.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hylo {

inline constexpr std::size_t kTriggerSlots = 6;
inline constexpr std::size_t kEditedTriggers = 5;  // slot 6 is never filled from a panel
inline constexpr std::size_t kEpochRecordBytes = 24;
inline constexpr std::size_t kLfEpochRecordBytes = 16;
inline constexpr std::size_t kClickRecordBytes = 16;
inline constexpr std::size_t kClickSlot = 5;

enum EpochType : std::uint16_t {
  kLfKind0 = 0,
  kLfKind1 = 1,
  kEmptyTrigger = 4,
  kAboveThreshold = 5,  // any band bin above the threshold
  kBelowThreshold = 6,  // any band bin below the threshold
  kClickTrigger = 7,
};

inline constexpr std::uint16_t kEffectLogWave = 8;
inline constexpr std::uint16_t kEffectLogFft = 16;
inline constexpr std::uint16_t kEffectReport = 32;

constexpr bool IsBandType(std::uint16_t type) { return type == kAboveThreshold || type == kBelowThreshold; }
constexpr bool IsLfType(std::uint16_t type) { return type == kLfKind0 || type == kLfKind1; }

// `EpochTrigger`: field names follow the trigger file's keys.
struct EpochTrigger {
  std::uint16_t type = kEmptyTrigger;
  std::uint8_t slot = 0;
  std::uint8_t active = 0;
  std::uint16_t dur = 0;     // seconds of in-band signal needed
  std::uint16_t extend = 0;  // seconds the event is extended after the signal
  std::uint32_t minFreq = 0;
  std::uint32_t maxFreq = 0;
  std::uint16_t refType = 0;  // 0: threshold in dB re uPa, 1: in dBV
  std::int16_t threshold = 0;
  std::uint16_t effect = 0;
  std::uint16_t preTrig = 0;

  std::array<std::uint8_t, kEpochRecordBytes> Encode() const;
  // `bytes` must hold at least kEpochRecordBytes.
  static EpochTrigger Decode(std::span<const std::uint8_t> bytes);
  bool operator==(const EpochTrigger&) const = default;
};

// `LfEpochTrigger`: durations in FFT strings, band edges as bins, threshold in half-dB codes.
struct LfEpochTrigger {
  std::uint16_t kind = kLfKind0;
  std::uint16_t firstDuration = 0;
  std::uint16_t secondDuration = 0;
  std::uint16_t lowBin = 0;
  std::uint16_t highBin = 0;
  std::uint16_t actions = 0;  // bits 0-4, one per check box of the row
  std::uint32_t thresholdCode = 0;

  std::array<std::uint8_t, kLfEpochRecordBytes> Encode() const;
  static LfEpochTrigger Decode(std::span<const std::uint8_t> bytes);
  bool operator==(const LfEpochTrigger&) const = default;
};

// `ClickTriggerRecord`: the host's click trigger, always in slot 5.
struct ClickTriggerRecord {
  std::uint8_t enabled = 0;
  std::uint16_t effect = kEffectReport;
  std::uint16_t durationSeconds = 0;
  std::uint16_t extendSeconds = 5;
  std::uint32_t limit = 0;

  std::array<std::uint8_t, kClickRecordBytes> Encode() const;
  static ClickTriggerRecord Decode(std::span<const std::uint8_t> bytes);
  bool operator==(const ClickTriggerRecord&) const = default;
};

// `TriggerSlot`: an empty slot carries record type 4.
struct TriggerSlot {
  std::uint16_t size = kEpochRecordBytes;
  bool valid = false;
  std::array<std::uint8_t, kEpochRecordBytes> record{kEmptyTrigger};

  std::uint16_t Type() const { return static_cast<std::uint16_t>(record[0] | (record[1] << 8)); }
  std::span<const std::uint8_t> Bytes() const { return std::span(record).first(size); }
  EpochTrigger Epoch() const { return EpochTrigger::Decode(record); }
  LfEpochTrigger Lf() const { return LfEpochTrigger::Decode(record); }
  void Set(const EpochTrigger& t);    // size 24, valid = enabled
  void Set(const LfEpochTrigger& t);  // size 16, valid
  void Clear() { *this = TriggerSlot{}; }
};

using TriggerList = std::array<TriggerSlot, kTriggerSlots>;

// `DescribeEpochError`: the instrument's epoch error codes as the operator reads them.
std::string DescribeEpochError(int code);

}  // namespace hylo
