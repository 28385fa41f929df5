#include "config/SetupRecords.h"

#include <cstdio>

#include "wire/Bytes.h"

namespace hylo::setup {

using namespace hylo::bytes;

namespace {

constexpr std::array<std::string_view, kSetupParamCount> kParamNames = {"AUX_PIN",          "LOG_START_TIME",
                                                                        "FFT_SAMPLE_RATE",  "FFT_REF_LEVEL",
                                                                        "FFT_PTS_PER",      "FFT_SAMPS_BTW",
                                                                        "FFT_TYPE",         "FFT_ACCUM",
                                                                        "FFT_WEIGHT",       "FFT_LOG_MODE",
                                                                        "FFT_LOG_LENGTH",   "DUTY_CYCLE_TIME",
                                                                        "DUTY_RUN_TIME",    "DUTY_IGNORE_TIME_CHANGE",
                                                                        "WAVE_SAMPLE_RATE", "WAVE_BIT_DEPTH",
                                                                        "WAVE_GAIN",        "WAVE_ENDIAN",
                                                                        "WAVE_LOG_MODE",    "WAVE_LOG_LENGTH",
                                                                        "TIME_SRC"};

// True when `b` holds a whole record of `size` bytes that starts with `type`.
bool Holds(std::span<const std::uint8_t> b, std::uint16_t type, std::size_t size) {
  return b.size() >= size && GetU16LE(b, 0) == type;
}

}  // namespace

std::string_view SetupParamName(std::uint16_t id) {
  return id < kSetupParamCount ? kParamNames[id] : std::string_view{};
}

std::array<std::uint8_t, kLfSetupSize> Pack(const LfSetup& r) {
  std::array<std::uint8_t, kLfSetupSize> b{};
  PutU16LE(b, 0, kLfSetupType);
  PutU16LE(b, 2, r.gain);
  PutU32LE(b, 4, r.sampleRate);
  PutU16LE(b, 8, r.operatingMode);
  PutU16LE(b, 10, r.reserved1);
  PutU16LE(b, 12, r.reserved2);
  PutU16LE(b, 14, r.fftType);
  PutU16LE(b, 16, r.accumulation);
  PutU16LE(b, 18, r.filterLength);
  PutU16LE(b, 20, r.stepSixteenths);
  PutU16LE(b, 22, r.lengthUnits);
  return b;
}

std::array<std::uint8_t, kWaveSetupSize> Pack(const WaveSetup& r) {
  std::array<std::uint8_t, kWaveSetupSize> b{};
  PutU16LE(b, 0, kWaveSetupType);
  PutU16LE(b, 2, r.gain);
  PutU32LE(b, 4, r.sampleRate);
  b[8] = r.logMode;
  b[9] = r.logLength;
  b[10] = r.dataFormat;
  b[11] = r.reserved;
  return b;
}

std::array<std::uint8_t, kFftSetupSize> Pack(const FftSetup& r) {
  std::array<std::uint8_t, kFftSetupSize> b{};
  PutU16LE(b, 0, kFftSetupType);
  PutU16LE(b, 2, static_cast<std::uint16_t>(r.refLevel));
  PutU32LE(b, 4, r.sampleRate);
  PutU16LE(b, 8, r.fftLength);
  PutU16LE(b, 10, r.fftType);
  PutU16LE(b, 12, r.fftStep);
  PutU16LE(b, 14, r.accumulation);
  PutU16LE(b, 16, r.weight);
  b[18] = r.logMode;
  b[19] = r.logLength;
  return b;
}

std::array<std::uint8_t, kLegacyDutyCycleSetupSize> Pack(const LegacyDutyCycleSetup& r) {
  std::array<std::uint8_t, kLegacyDutyCycleSetupSize> b{};
  PutU16LE(b, 0, kLegacyDutyCycleSetupType);
  PutU16LE(b, 2, r.reserved);
  PutU16LE(b, 4, r.runMinutes);
  PutU16LE(b, 6, r.offMinutes);
  PutU32LE(b, 8, static_cast<std::uint32_t>(r.startDelayMinutes));
  return b;
}

std::array<std::uint8_t, kStartTimeSetupSize> Pack(const StartTimeSetup& r) {
  std::array<std::uint8_t, kStartTimeSetupSize> b{};
  PutU16LE(b, 0, kStartTimeSetupType);
  PutU16LE(b, 2, r.reserved1);
  PutU32LE(b, 4, r.startTime);
  PutU32LE(b, 8, r.reserved2);
  return b;
}

std::array<std::uint8_t, kDutyCycleSetupSize> Pack(const DutyCycleSetup& r) {
  std::array<std::uint8_t, kDutyCycleSetupSize> b{};
  PutU16LE(b, 0, kDutyCycleSetupType);
  PutU16LE(b, 2, r.runMinutes);
  PutU16LE(b, 4, r.offMinutes);
  b[6] = r.ignoreTimeChange;
  b[7] = r.reserved;
  return b;
}

std::vector<std::uint8_t> PackSetupParamList(std::span<const SetupParamEntry> entries) {
  const std::size_t n = entries.size() > 0xFFFF ? 0xFFFF : entries.size();
  std::vector<std::uint8_t> b(kSetupParamListHeadSize + kSetupParamEntrySize * n);
  b[0] = static_cast<std::uint8_t>(kSetupParamListType);
  b[1] = 0;
  PutU16LE(b, 2, static_cast<std::uint16_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = kSetupParamListHeadSize + kSetupParamEntrySize * i;
    PutU16LE(b, at, entries[i].id);
    PutU16LE(b, at + 2, 4);
    PutU32LE(b, at + 4, entries[i].value);
  }
  return b;
}

std::optional<LfSetup> UnpackLfSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kLfSetupType, kLfSetupSize)) return std::nullopt;
  LfSetup r;
  r.gain = GetU16LE(b, 2);
  r.sampleRate = GetU32LE(b, 4);
  r.operatingMode = GetU16LE(b, 8);
  r.reserved1 = GetU16LE(b, 10);
  r.reserved2 = GetU16LE(b, 12);
  r.fftType = GetU16LE(b, 14);
  r.accumulation = GetU16LE(b, 16);
  r.filterLength = GetU16LE(b, 18);
  r.stepSixteenths = GetU16LE(b, 20);
  r.lengthUnits = GetU16LE(b, 22);
  return r;
}

std::optional<WaveSetup> UnpackWaveSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kWaveSetupType, kWaveSetupSize)) return std::nullopt;
  WaveSetup r;
  r.gain = GetU16LE(b, 2);
  r.sampleRate = GetU32LE(b, 4);
  r.logMode = b[8];
  r.logLength = b[9];
  r.dataFormat = b[10];
  r.reserved = b[11];
  return r;
}

std::optional<FftSetup> UnpackFftSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kFftSetupType, kFftSetupSize)) return std::nullopt;
  FftSetup r;
  r.refLevel = GetI16LE(b, 2);
  r.sampleRate = GetU32LE(b, 4);
  r.fftLength = GetU16LE(b, 8);
  r.fftType = GetU16LE(b, 10);
  r.fftStep = GetU16LE(b, 12);
  r.accumulation = GetU16LE(b, 14);
  r.weight = GetU16LE(b, 16);
  r.logMode = b[18];
  r.logLength = b[19];
  return r;
}

std::optional<LegacyDutyCycleSetup> UnpackLegacyDutyCycleSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kLegacyDutyCycleSetupType, kLegacyDutyCycleSetupSize)) return std::nullopt;
  LegacyDutyCycleSetup r;
  r.reserved = GetU16LE(b, 2);
  r.runMinutes = GetU16LE(b, 4);
  r.offMinutes = GetU16LE(b, 6);
  r.startDelayMinutes = GetI32LE(b, 8);
  return r;
}

std::optional<StartTimeSetup> UnpackStartTimeSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kStartTimeSetupType, kStartTimeSetupSize)) return std::nullopt;
  StartTimeSetup r;
  r.reserved1 = GetU16LE(b, 2);
  r.startTime = GetU32LE(b, 4);
  r.reserved2 = GetU32LE(b, 8);
  return r;
}

std::optional<DutyCycleSetup> UnpackDutyCycleSetup(std::span<const std::uint8_t> b) {
  if (!Holds(b, kDutyCycleSetupType, kDutyCycleSetupSize)) return std::nullopt;
  DutyCycleSetup r;
  r.runMinutes = GetU16LE(b, 2);
  r.offMinutes = GetU16LE(b, 4);
  r.ignoreTimeChange = b[6];
  r.reserved = b[7];
  return r;
}

std::optional<SetupErrorRecord> UnpackSetupError(std::span<const std::uint8_t> b) {
  if (!Holds(b, kSetupErrorType, kSetupErrorSize)) return std::nullopt;
  return SetupErrorRecord{GetU16LE(b, 2)};
}

std::optional<SetupParamValues> UnpackSetupParamList(std::span<const std::uint8_t> b) {
  if (!Holds(b, kSetupParamListType, kSetupParamListHeadSize)) return std::nullopt;
  SetupParamValues v;
  v.claimedCount = GetU16LE(b, 2);
  std::size_t at = kSetupParamListHeadSize;
  for (std::uint32_t i = 0; i < v.claimedCount; ++i) {
    if (b.size() - at < 4) break;  // no room for the entry header
    const std::uint16_t id = GetU16LE(b, at);
    const std::uint16_t size = GetU16LE(b, at + 2);
    if (b.size() - at - 4 < size) break;  // the value would pass the end
    if (id < kSetupParamCount && size == 4) {
      v.value[id] = GetU32LE(b, at + 4);
      v.present.set(id);
    }
    at += 4 + static_cast<std::size_t>(size);
    ++v.walkedCount;
  }
  return v;
}

SetupParseResult ParseSetupRecord(std::span<const std::uint8_t> b) {
  SetupParseResult result;
  if (b.size() < 2) {
    result.error = SetupParseError::kTooShort;
    return result;
  }
  result.type = GetU16LE(b, 0);
  auto take = [&](auto record) {
    if (record)
      result.record = *record;
    else
      result.error = SetupParseError::kTooShort;
  };
  switch (result.type) {
    case kLfSetupType:
      take(UnpackLfSetup(b));
      break;
    case kWaveSetupType:
      take(UnpackWaveSetup(b));
      break;
    case kFftSetupType:
      take(UnpackFftSetup(b));
      break;
    case kLegacyDutyCycleSetupType:
      take(UnpackLegacyDutyCycleSetup(b));
      break;
    case kStartTimeSetupType:
      take(UnpackStartTimeSetup(b));
      break;
    case kDutyCycleSetupType:
      take(UnpackDutyCycleSetup(b));
      break;
    case kSetupParamListType:
      take(UnpackSetupParamList(b));
      break;
    case kSetupErrorType:
      take(UnpackSetupError(b));
      break;
    default:
      result.error = SetupParseError::kUnrecognized;
      break;
  }
  return result;
}

std::optional<SetupParseResult> ParseSetupEnquiryPayload(std::span<const std::uint8_t> payload) {
  if (payload.empty() || payload[0] != 0) return std::nullopt;
  return ParseSetupRecord(payload.subspan(1));
}

std::string RetrieveSetupErrorText(std::uint16_t code) {
  char text[96];
  std::snprintf(text, sizeof text, "An error occurred when retrieving job setup.%c%cError Code: %d.", '\r', '\n',
                static_cast<int>(code));
  return text;
}

SetupResultAction ClassifySetupResult(std::span<const std::uint8_t> payload) {
  if (payload.size() < 6) return SetupResultAction::kIgnore;
  const std::uint16_t code = GetU16LE(payload, 0);
  if (code == kSetupErrorType) return SetupResultAction::kSetupError;
  if (code == 12 || (code >= 14 && code <= 20 && code != 17)) return SetupResultAction::kAccepted;
  return SetupResultAction::kJobSetupFailed;
}

std::string DescribeSetupError(std::uint16_t code) {
  switch (code) {
    case 1:
      return "Gain error.\nPlease check the gain setting and try again.";
    case 2:
      return "Bandwidth error.\nPlease check the acoustic bandwidth setting and try again.";
    case 4:
      return "Operating mode error.\nPlease check the data format and operating mode and try again.";
    case 8:
      return "FFT Parameter error.\nPlease check the FFT settings and try again.";
    case 16:
      return "Logging setup error.\nPlease check the logging settings and try again.\n\nNote: Max file size is 1Gb.";
    case 0xFFFD:
      return "Triggered logging is only available up to\n 4kHz sample rate.";
    case 0xFFFE:
      return "Data cannot be logged with the current configuation.\nFor Wav logging: Reduce sample bandwidth to "
             "1600Hz.\nFor FFT logging: Decrease Window overlap, or increase accumulation.";
    case 0xFFFF:
      return "Aurisond is not ready to accept a new setup,\nPlease wait 30 seconds and try again.\nIf the issue "
             "persists, please reboot Aurisond.";
    default: {
      char text[96];
      std::snprintf(text, sizeof text, "Setup parameter error.\n\nPlease check your parameters and try again. Code: %d",
                    static_cast<int>(code));
      return text;
    }
  }
}

}  // namespace hylo::setup
