#pragma once
// The job setup as the instrument setup panel holds it, and the rules that turn it into
// setup records and back. No widgets here: a panel binds to `JobSetup` and shows the
// notices the rules return.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/Control.h"
#include "config/SetupRecords.h"
#include "core/StreamTransport.h"
#include "link/Firmware.h"

namespace hylo::setup {

// What the rules need to know about the connected unit and link.
struct SetupContext {
  std::uint8_t model = 0;  // kModelLf, kModelHf, kModelAf
  Firmware firmware;
  std::uint8_t featureLevel = 0;  // unit record's feature level
  std::uint8_t interfaceCode = 0;
  bool serialLink = false;
  std::uint32_t baudRate = 0;
  bool IsLf() const;
  bool IsHfFamily() const;
};

// Panel lists.
// HF-family wave logging choice.
enum WaveLogChoice : int { kLoggingOff = 0, kLogContinuous = 1, kLogDutyCycle = 2, kEpoch = 3, kEpochDutyCycle = 4 };
inline constexpr std::array<std::string_view, 5> kWaveLogLabels = {"Logging Off", "Log Continuous", "Log Duty Cycle",
                                                                   "Epoch", "Epoch & Log Duty Cycle"};
// FFT logging choice: values 0, 1, 3.
enum FftLogChoice : int { kFftLoggingOff = 0, kFftLogContinuous = 1, kFftEpoch = 3 };
// FFT type choice (panel) before overlap promotion.
enum FftTypeChoice : int { kFftMean = 0, kFftOff = 1, kFftPeak = 2, kFftFilter = 3 };
std::string_view FftTypeLabel(int choice);  // "Mean", "Off", "Peak", "Filter"

struct DataFormatItem {
  std::uint8_t code;
  std::string_view label;
};
inline constexpr std::array<DataFormatItem, 6> kDataFormats = {{{0x02, "16-bit Big Endian"},
                                                                {0x03, "24-bit Big Endian"},
                                                                {0x04, "32-bit Big Endian"},
                                                                {0x82, "16-bit Little Endian"},
                                                                {0x83, "24-bit Little Endian"},
                                                                {0x84, "32-bit Little Endian"}}};
inline constexpr std::array<double, 5> kOverlaps = {0.0, 0.5, 0.75, 0.875, 0.9375};
inline constexpr std::array<std::string_view, 5> kOverlapLabels = {"None", "50 %", "75 %", "87.5 %", "93.8 %"};
inline constexpr std::array<double, 8> kAccumulationTimes = {0.25, 0.5, 1, 2, 5, 10, 30, 60};
// Sync pin list: pin modes 0 and 2 take a PPS input, 1 and 3 drive one, 4 disables the
// pin. Mode 3 has no item of its own but is valid from a unit or a file.
struct SyncPinItem {
  int mode;
  std::string_view label;
};
inline constexpr std::array<SyncPinItem, 4> kSyncPinItems = {{{0, "Sync In - Falling Edge"},
                                                              {2, "Sync In - Rising Edge"},
                                                              {1, "Sync Out -  Falling Edge"},
                                                              {4, "Sync Disabled"}}};
inline constexpr std::uint32_t kWakeFromStandbyBit = 32;
inline constexpr int kSyncDisabled = 4;
// "Decode time from PPS" (modes 0, 2), "Encode time in PPS" (1, 3), "N/A" (4).
std::string_view TimeSourceLabel(int pinMode);

// Bandwidths in Hz offered for the model: HF ten, AF the first six, LF seven.
std::span<const std::uint32_t> BandwidthList(std::uint8_t model);
// Sample rates a unit accepts in a `WaveSetup` or `FftSetup`.
inline constexpr std::array<std::uint32_t, 10> kHfSampleRates = {1000,  2000,  4000,   8000,   16000,
                                                                 32000, 64000, 128000, 256000, 512000};
// Gains in dB: HF family 0..48, LF 0..72 (advanced) or 12, 18, 24 (simple).
std::vector<int> GainList(std::uint8_t model, bool advancedLf);

// Sample rate for a bandwidth item (bandwidth / 0.4) and back (0.4 × rate), both truncated.
// Integer arithmetic: the floating form truncates 12800 / 0.4 to 31999.
std::uint32_t SampleRateForBandwidth(std::uint32_t bandwidthHz);
std::uint32_t BandwidthForSampleRate(std::uint32_t sampleRate);

// The panel's settings and the host-side state that goes with them.
struct JobSetup {
  // HF family, waveform
  std::uint32_t waveBandwidthHz = 12800;
  int waveLogChoice = kLoggingOff;
  int waveMaxLogLength = 60;  // minutes
  std::uint8_t dataFormat = 0x83;
  int gain = 0;
  bool waveStreaming = true;
  // HF family, spectrum
  std::uint32_t spectrumBandwidthHz = 12800;
  int fftTypeChoice = kFftMean;
  double overlap = 0.5;
  double accumulationTime = 1.0;  // "Spectrum Update Rate", seconds
  int refLevel = -120;
  int fftLogChoice = kFftLoggingOff;
  int fftMaxLogLength = 60;
  bool spectrumStreaming = true;
  // Duty cycle and delayed start
  int dutyRunMinutes = 0;    // "Log Data Time"
  int dutyCycleMinutes = 0;  // run + off
  bool ignoreTimeChange = false;
  bool enableDelay = false;
  std::uint32_t startTime = 0;  // instrument time of the delayed start
  // Special features
  int syncPinMode = kSyncDisabled;
  bool wakeFromStandby = false;
  bool timeSource = false;
  // LF
  int lfGain = 12;
  std::uint32_t lfBandwidthHz = 1600;
  control::LfModeChoice lfMode{};
  int lfFftType = kFftMean;  // 0 Mean, 1 Off, 2 Peak, 3 Filter
  int lfNumStrings = 1;
  double lfOverlap = 0.0;
  // Host-side state
  bool advancedDisplay = false;
  bool lfAdvancedDisplay = false;
  bool dutyCycleInEffect = false;
  bool waveLogActive = false;  // wave log mode 1 or 2, used when reading back
  int waveStreamCode = 0;      // 0 off, 1 UDP, 2 TCP, 3 over the command link
  int fftStreamCode = 0;
  bool lfGainOutsideSimple = false;
};

// The panel's delayed-start date and time, local time, seconds 0.
struct LocalDateTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;
  int hour = 0;
  int minute = 0;
  bool operator==(const LocalDateTime&) const = default;
};
// Through the platform's local-time functions (daylight saving decided there). None when
// the date cannot be represented as instrument time.
std::optional<std::uint32_t> InstrumentTimeFromLocal(const LocalDateTime& t);
LocalDateTime LocalFromInstrumentTime(std::uint32_t instrumentTime);

using Notices = std::vector<std::string>;

inline constexpr std::string_view k512kSixteenBitText =
    "512KS/sec only supports 16 bit data. This has been changed automatically.";
inline constexpr std::string_view kNo32BitLoggingText = "Cannot log 32 bit data internally. Changing to 24 bit.";
inline constexpr std::string_view kLittleEndianLoggingText =
    "Logged data must be in little endian format. Changing to little endian.";
inline constexpr std::string_view kNo512kText =
    "The connected unit does not support 512kSamp/sec sample rate.\nThe sample rate has been changed to "
    "256kSamp/sec.";
inline constexpr std::string_view kAccumulationClampedText =
    "The spectrum update rate needs more than 65535 FFTs per update.\nThe accumulation has been limited to 65535.";
inline constexpr std::string_view kDataRateExceedsText =
    "Configured data rate exceeds the maximum suggested rate for the link.\nData will likely be lost.\nQuendal "
    "recommends reducing the data rate.";
inline constexpr std::string_view kDataRateWarningText =
    "The current data rate settings exceed the maximum suggested rate for this link.\nThis will likely lead to data "
    "loss.\nAre you sure you want to continue?";

// Builders. Automatic corrections change `s` (the panel follows) and add their message.
WaveSetup BuildWaveSetup(JobSetup& s, const SetupContext& ctx, Notices& notices);
FftSetup BuildFftSetup(JobSetup& s, const SetupContext& ctx, Notices& notices);
// `now` is the instrument time used for the start delay in minutes.
LegacyDutyCycleSetup BuildLegacyDutyCycleSetup(JobSetup& s, std::uint32_t now);
DutyCycleSetup BuildDutyCycleSetup(JobSetup& s);
StartTimeSetup BuildStartTimeSetup(const JobSetup& s);
LfSetup BuildLfSetup(const JobSetup& s);
// The entries of the parameter list, in sending order.
std::vector<SetupParamEntry> BuildSetupParamEntries(JobSetup& s, const SetupContext& ctx, Notices& notices);
// AUX_PIN value: pin mode, + 32 for wake from standby from firmware 2.1.0.
std::uint32_t AuxPinValue(const JobSetup& s, const SetupContext& ctx);
// The stream codes brought in line with the unit and link about to stream: an LF unit or a
// serial link carries data only in the status replies, so a socket code becomes 3.
void FitStreamCodes(JobSetup& s, const SetupContext& ctx);
// Stream codes after a successful `LfSetup` send: data choice 1 or 2 → 3, else 0.
void SetLfStreamCodes(JobSetup& s);

// Read-back. Records with a zero divisor (rate, step, length) are refused (false) and
// leave the panel as it was.
bool ReadBack(JobSetup& s, const SetupContext& ctx, const WaveSetup& r);
bool ReadBack(JobSetup& s, const SetupContext& ctx, const FftSetup& r);
void ReadBack(JobSetup& s, const LegacyDutyCycleSetup& r, std::uint32_t now);
void ReadBack(JobSetup& s, const DutyCycleSetup& r);
void ReadBack(JobSetup& s, const StartTimeSetup& r, std::uint32_t now);
bool ReadBack(JobSetup& s, const LfSetup& r);
// A parameter list: absent entries leave their settings as they were.
void ReadBack(JobSetup& s, const SetupContext& ctx, const SetupParamValues& v, std::uint32_t now);

// Wave log choice read back from logMode and the duty flag.
int WaveLogChoiceFor(std::uint8_t logMode, bool dutyCycleInEffect);
std::uint8_t WaveLogModeFor(int choice);
std::uint8_t FftLogModeFor(int choice);
int FftLogChoiceFor(std::uint8_t logMode);
// 0/4 Mean, 1 Off, 2/5 Peak, 3/6 Filter; None above 6.
std::optional<int> FftTypeChoiceFor(std::uint16_t fftType);
// The nearest overlap of the list.
double SnapOverlap(double overlap);
// Largest of 0, 0.25 … 3600 not above `seconds`, at least 0.25 when positive; 5000 s or more is kept.
double SnapAccumulationTime(double seconds);

// Panel consistency: run time not above cycle time, wave streaming cleared while wave
// logging below firmware 2.2.0, gain 0 for 24- and 32-bit formats, LF simple gain range.
void VerifyDutyCycle(JobSetup& s);
void ApplyPanelRules(JobSetup& s, const SetupContext& ctx);
// Leaving the LF advanced display clamps the gain into 12..24 dB.
void LeaveLfAdvancedDisplay(JobSetup& s);

}  // namespace hylo::setup
