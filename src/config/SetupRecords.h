#pragma once
// Job setup records as they travel in "D" command payloads, "F" replies and setup files.
// All packed little-endian behind a u16 type. Unpackers take whatever bytes arrived and
// never read past them: a payload shorter than its record is refused, not padded.
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hylo::setup {

// Record types.
inline constexpr std::uint16_t kLfSetupType = 12;
inline constexpr std::uint16_t kWaveSetupType = 14;
inline constexpr std::uint16_t kFftSetupType = 15;
inline constexpr std::uint16_t kLegacyDutyCycleSetupType = 16;
inline constexpr std::uint16_t kStartTimeSetupType = 18;
inline constexpr std::uint16_t kDutyCycleSetupType = 19;
inline constexpr std::uint16_t kSetupParamListType = 20;
inline constexpr std::uint16_t kSetupErrorType = 0xFFFF;

// Record sizes in bytes.
inline constexpr std::size_t kLfSetupSize = 24;
inline constexpr std::size_t kWaveSetupSize = 12;
inline constexpr std::size_t kFftSetupSize = 20;
inline constexpr std::size_t kLegacyDutyCycleSetupSize = 12;
inline constexpr std::size_t kStartTimeSetupSize = 12;
inline constexpr std::size_t kDutyCycleSetupSize = 8;
inline constexpr std::size_t kSetupParamListHeadSize = 4;
inline constexpr std::size_t kSetupParamEntrySize = 8;  // id, size, 4-byte value
inline constexpr std::size_t kSetupErrorSize = 4;

// Setup parameter identifiers: the same numbers index the setup file's keys.
enum SetupParam : std::uint16_t {
  kAuxPin = 0,
  kLogStartTime = 1,
  kFftSampleRate = 2,
  kFftRefLevel = 3,
  kFftPtsPer = 4,
  kFftSampsBtw = 5,
  kFftType = 6,
  kFftAccum = 7,
  kFftWeight = 8,
  kFftLogMode = 9,
  kFftLogLength = 10,
  kDutyCycleTime = 11,
  kDutyRunTime = 12,
  kDutyIgnoreTimeChange = 13,
  kWaveSampleRate = 14,
  kWaveBitDepth = 15,
  kWaveGain = 16,
  kWaveEndian = 17,
  kWaveLogMode = 18,
  kWaveLogLength = 19,
  kTimeSrc = 20,
};
inline constexpr std::size_t kSetupParamCount = 21;
// "AUX_PIN" … "TIME_SRC"; empty for an identifier outside 0..20.
std::string_view SetupParamName(std::uint16_t id);

struct LfSetup {
  std::uint16_t gain = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t operatingMode = 0;
  std::uint16_t reserved1 = 0;
  std::uint16_t reserved2 = 0;
  std::uint16_t fftType = 0;
  std::uint16_t accumulation = 0;
  std::uint16_t filterLength = 0;
  std::uint16_t stepSixteenths = 1;
  std::uint16_t lengthUnits = 1;
  bool operator==(const LfSetup&) const = default;
};

struct WaveSetup {
  std::uint16_t gain = 0;
  std::uint32_t sampleRate = 0;
  std::uint8_t logMode = 0;
  std::uint8_t logLength = 0;
  std::uint8_t dataFormat = 0;  // bits 0–6 bytes per sample, bit 7 little-endian
  std::uint8_t reserved = 0;
  bool operator==(const WaveSetup&) const = default;
};

struct FftSetup {
  std::int16_t refLevel = -120;
  std::uint32_t sampleRate = 0;
  std::uint16_t fftLength = 1024;
  std::uint16_t fftType = 0;
  std::uint16_t fftStep = 1024;
  std::uint16_t accumulation = 1;
  std::uint16_t weight = 0;
  std::uint8_t logMode = 0;
  std::uint8_t logLength = 0;
  bool operator==(const FftSetup&) const = default;
};

struct LegacyDutyCycleSetup {
  std::uint16_t reserved = 0;
  std::uint16_t runMinutes = 0;
  std::uint16_t offMinutes = 1;
  std::int32_t startDelayMinutes = 0;
  bool operator==(const LegacyDutyCycleSetup&) const = default;
};

inline constexpr std::uint32_t kNoDelayedStart = 0xFFFFFFFF;

struct StartTimeSetup {
  std::uint16_t reserved1 = 0;
  std::uint32_t startTime = kNoDelayedStart;
  std::uint32_t reserved2 = 0;
  bool operator==(const StartTimeSetup&) const = default;
};

struct DutyCycleSetup {
  std::uint16_t runMinutes = 0;
  std::uint16_t offMinutes = 0;
  std::uint8_t ignoreTimeChange = 0;
  std::uint8_t reserved = 0;
  bool operator==(const DutyCycleSetup&) const = default;
};

struct SetupParamEntry {
  std::uint16_t id = 0;
  std::uint32_t value = 0;
  bool operator==(const SetupParamEntry&) const = default;
};

// A received parameter list as an array indexed by identifier; `present` marks the
// identifiers that came with a valid entry.
struct SetupParamValues {
  std::array<std::uint32_t, kSetupParamCount> value{};
  std::bitset<kSetupParamCount> present;
  std::uint16_t claimedCount = 0;  // the head's count
  std::uint16_t walkedCount = 0;   // entries that lay wholly inside the payload
  bool Has(std::uint16_t id) const { return id < kSetupParamCount && present.test(id); }
  bool operator==(const SetupParamValues&) const = default;
};

struct SetupErrorRecord {
  std::uint16_t code = 0;
  bool operator==(const SetupErrorRecord&) const = default;
};

std::array<std::uint8_t, kLfSetupSize> Pack(const LfSetup& r);
std::array<std::uint8_t, kWaveSetupSize> Pack(const WaveSetup& r);
std::array<std::uint8_t, kFftSetupSize> Pack(const FftSetup& r);
std::array<std::uint8_t, kLegacyDutyCycleSetupSize> Pack(const LegacyDutyCycleSetup& r);
std::array<std::uint8_t, kStartTimeSetupSize> Pack(const StartTimeSetup& r);
std::array<std::uint8_t, kDutyCycleSetupSize> Pack(const DutyCycleSetup& r);
// Head (20, 0, count) then one 8-byte entry per item, each with size 4. At most 65535 entries.
std::vector<std::uint8_t> PackSetupParamList(std::span<const SetupParamEntry> entries);

// Each unpacker refuses bytes that are shorter than the record or carry another type.
// Bytes after the record are ignored.
std::optional<LfSetup> UnpackLfSetup(std::span<const std::uint8_t> b);
std::optional<WaveSetup> UnpackWaveSetup(std::span<const std::uint8_t> b);
std::optional<FftSetup> UnpackFftSetup(std::span<const std::uint8_t> b);
std::optional<LegacyDutyCycleSetup> UnpackLegacyDutyCycleSetup(std::span<const std::uint8_t> b);
std::optional<StartTimeSetup> UnpackStartTimeSetup(std::span<const std::uint8_t> b);
std::optional<DutyCycleSetup> UnpackDutyCycleSetup(std::span<const std::uint8_t> b);
std::optional<SetupErrorRecord> UnpackSetupError(std::span<const std::uint8_t> b);
// Walks the entries by their size field and stops when an entry's header or its value
// would pass the end of the bytes, or after the head's count. Entries with an identifier
// of 21 or more, or a size other than 4, are skipped. None when the head is missing or
// not type 20.
std::optional<SetupParamValues> UnpackSetupParamList(std::span<const std::uint8_t> b);

using SetupRecord = std::variant<LfSetup, WaveSetup, FftSetup, LegacyDutyCycleSetup, StartTimeSetup, DutyCycleSetup,
                                 SetupParamValues, SetupErrorRecord>;

enum class SetupParseError {
  kTooShort,      // fewer bytes than the type's record (or no type at all)
  kUnrecognized,  // 13, 17, below 12, or above 20 and not 0xFFFF
};

struct SetupParseResult {
  std::optional<SetupRecord> record;
  std::optional<SetupParseError> error;
  std::uint16_t type = 0;  // the type read, 0 when not even two bytes came
};

// Any one record, by its leading type.
SetupParseResult ParseSetupRecord(std::span<const std::uint8_t> b);
// The payload of an "F" reply frame: a status byte (0 = good) then one record. None when
// the payload is empty or the status is not 0.
std::optional<SetupParseResult> ParseSetupEnquiryPayload(std::span<const std::uint8_t> payload);

inline constexpr std::string_view kUnrecognizedSetupText = "An unrecognized setup was received.";
// "An error occurred when retrieving job setup.\r\nError Code: %d."
std::string RetrieveSetupErrorText(std::uint16_t code);

// What a "D" reply's result code asks for.
enum class SetupResultAction { kIgnore, kAccepted, kSetupError, kJobSetupFailed };
// Payloads shorter than 6 bytes are ignored; 0xFFFF is a setup error; 12, 14–16, 18–20 are
// accepted; anything else is a failed job setup.
SetupResultAction ClassifySetupResult(std::span<const std::uint8_t> payload);
inline constexpr std::string_view kSetupErrorReplyText = "Setup error. Check your settings and try again.";

// The operator's text for an instrument setup error code (and the setup-file check codes).
std::string DescribeSetupError(std::uint16_t code);

}  // namespace hylo::setup
