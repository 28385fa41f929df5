#include "config/SetupFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

namespace hylo::setup {

namespace {

constexpr std::array<std::string_view, kSetupFileKeyCount> kKeys = {
    "$AUX_PIN",          "$LOG_START_TIME",    "$FFT_SAMPLE_RATE",   "$FFT_REF_LEVEL",
    "$FFT_PTS_PER",      "$FFT_SAMPS_BTW",     "$FFT_TYPE",          "$FFT_ACCUM",
    "$FFT_WEIGHT",       "$FFT_LOG_MODE",      "$FFT_LOG_LENGTH",    "$DUTY_CYCLE_TIME",
    "$DUTY_RUN_TIME",    "$DUTY_IGNORE_TIME_CHANGE", "$WAVE_SAMPLE_RATE", "$WAVE_BIT_DEPTH",
    "$WAVE_GAIN",        "$WAVE_ENDIAN",       "$WAVE_LOG_MODE",     "$WAVE_LOG_LENGTH",
    "$TIME_SRC",         "$FFT_NUM_ACCUM",     "$FFT_WEIGHT_FACTOR", "$FFT_LOGGING_MODE",
    "$DUTY_RUN_DURATION", "$DUTY_WAIT_DURATION", "$WAVE_DATA_FMT",   "$WAVE_LOGGING_MODE"};

constexpr std::array<std::int64_t, kSetupFileKeyCount> kDefaults = {
    0, -1, 32000, -120, 1024, 512, 4, 32, 1, 0, 1, 0, 0, 0, 32000, 24, 0, 1, 0, 1, 0, 32, 1, 0, 0, 0, 0x83, 0};

constexpr std::size_t kMaxLineLength = 255;
constexpr std::array<std::uint32_t, 10> kRates = {1000,  2000,  4000,   8000,   16000,
                                                  32000, 64000, 128000, 256000, 512000};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// "%ld": leading blanks, an optional sign, digits.
std::optional<std::int64_t> ScanLong(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  std::int64_t v = 0;
  const char* first = text.data() + i;
  const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), v);
  if (ec != std::errc{} || ptr == first) return std::nullopt;
  return v;
}

template <typename T>
bool Fits(std::int64_t v) {
  return v >= static_cast<std::int64_t>(std::numeric_limits<T>::min()) &&
         v <= static_cast<std::int64_t>(std::numeric_limits<T>::max());
}

bool KnownRate(std::uint32_t rate) { return std::find(kRates.begin(), kRates.end(), rate) != kRates.end(); }

std::optional<WaveSetup> WaveFromFile(const SetupFileValues& f) {
  const auto& v = f.value;
  const std::int64_t bytes = v[kWaveBitDepth] / 8;
  if (!Fits<std::uint16_t>(v[kWaveGain]) || !Fits<std::uint32_t>(v[kWaveSampleRate]) ||
      !Fits<std::uint8_t>(v[kWaveLogMode]) || !Fits<std::uint8_t>(v[kWaveLogLength]) || bytes < 0 || bytes > 0x7F)
    return std::nullopt;
  WaveSetup r;
  r.gain = static_cast<std::uint16_t>(v[kWaveGain]);
  r.sampleRate = static_cast<std::uint32_t>(v[kWaveSampleRate]);
  r.logMode = static_cast<std::uint8_t>(v[kWaveLogMode]);
  r.logLength = static_cast<std::uint8_t>(v[kWaveLogLength]);
  r.dataFormat = static_cast<std::uint8_t>(bytes | (v[kWaveEndian] != 0 ? 0x80 : 0));
  return r;
}

std::optional<FftSetup> FftFromFile(const SetupFileValues& f) {
  const auto& v = f.value;
  if (!Fits<std::int16_t>(v[kFftRefLevel]) || !Fits<std::uint32_t>(v[kFftSampleRate]) ||
      !Fits<std::uint16_t>(v[kFftPtsPer]) || !Fits<std::uint16_t>(v[kFftType]) ||
      !Fits<std::uint16_t>(v[kFftSampsBtw]) || !Fits<std::uint16_t>(v[kFftAccum]) ||
      !Fits<std::uint16_t>(v[kFftWeight]) || !Fits<std::uint8_t>(v[kFftLogMode]) ||
      !Fits<std::uint8_t>(v[kFftLogLength]))
    return std::nullopt;
  FftSetup r;
  r.refLevel = static_cast<std::int16_t>(v[kFftRefLevel]);
  r.sampleRate = static_cast<std::uint32_t>(v[kFftSampleRate]);
  r.fftLength = static_cast<std::uint16_t>(v[kFftPtsPer]);
  r.fftType = static_cast<std::uint16_t>(v[kFftType]);
  r.fftStep = static_cast<std::uint16_t>(v[kFftSampsBtw]);
  r.accumulation = static_cast<std::uint16_t>(v[kFftAccum]);
  r.weight = static_cast<std::uint16_t>(v[kFftWeight]);
  r.logMode = static_cast<std::uint8_t>(v[kFftLogMode]);
  r.logLength = static_cast<std::uint8_t>(v[kFftLogLength]);
  return r;
}

std::optional<DutyCycleSetup> DutyFromFile(const SetupFileValues& f) {
  const auto& v = f.value;
  // A run time without a cycle time would give a negative off time.
  const std::int64_t off = v[kDutyCycleTime] - v[kDutyRunTime];
  if (!Fits<std::uint16_t>(v[kDutyRunTime]) || !Fits<std::uint16_t>(off) ||
      !Fits<std::uint8_t>(v[kDutyIgnoreTimeChange]))
    return std::nullopt;
  DutyCycleSetup r;
  r.runMinutes = static_cast<std::uint16_t>(v[kDutyRunTime]);
  r.offMinutes = static_cast<std::uint16_t>(off);
  r.ignoreTimeChange = static_cast<std::uint8_t>(v[kDutyIgnoreTimeChange]);
  return r;
}

std::optional<StartTimeSetup> StartTimeFromFile(const SetupFileValues& f) {
  const std::int64_t t = f.value[kLogStartTime];
  // Written signed (−1 = none); an unsigned instrument time is read as well.
  if (t < std::numeric_limits<std::int32_t>::min() || t > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  StartTimeSetup r;
  r.startTime = static_cast<std::uint32_t>(t);
  return r;
}

void AddLine(std::string& out, std::string_view key, long long value) {
  out += key;
  out += " = ";
  out += std::to_string(value);
  out += '\n';
}

}  // namespace

std::string_view SetupFileKey(std::size_t index) { return index < kKeys.size() ? kKeys[index] : std::string_view{}; }

SetupFileValues DefaultSetupFileValues() {
  SetupFileValues v;
  v.value = kDefaults;
  return v;
}

SetupFileValues ParseSetupFileText(std::string_view text) {
  SetupFileValues f = DefaultSetupFileValues();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    line = line.substr(0, std::min(line.size(), kMaxLineLength));
    if (line.empty() || line.front() != '$') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view keyText = line.substr(0, eq);
    const auto value = ScanLong(line.substr(eq + 1));
    if (!value) continue;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
      if (keyText.find(kKeys[i]) != std::string_view::npos) {
        f.value[i] = *value;
        f.present.set(i);
        break;
      }
    }
  }
  auto fold = [&](std::size_t from, std::size_t to) {
    if (f.present.test(from) && !f.present.test(to)) f.value[to] = f.value[from];
  };
  fold(kOldFftNumAccum, kFftAccum);
  fold(kOldFftWeightFactor, kFftWeight);
  fold(kOldFftLoggingMode, kFftLogMode);
  fold(kOldDutyRunDuration, kDutyRunTime);
  if (f.present.test(kOldDutyWaitDuration) && !f.present.test(kDutyCycleTime)) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(f.value[kDutyRunTime], f.value[kOldDutyWaitDuration], &sum))
      sum = std::numeric_limits<std::int64_t>::max();  // fails the duty check below
    f.value[kDutyCycleTime] = sum;
  }
  if (f.present.test(kOldWaveDataFmt) && !f.present.test(kWaveBitDepth) && !f.present.test(kWaveEndian)) {
    f.value[kWaveBitDepth] = (f.value[kOldWaveDataFmt] & 0x7F) * 8;
    f.value[kWaveEndian] = (f.value[kOldWaveDataFmt] & 0x80) != 0 ? 1 : 0;
  }
  fold(kOldWaveLoggingMode, kWaveLogMode);
  return f;
}

SetupFileRecords SetupFileToRecords(const SetupFileValues& v, Notices& notices) {
  SetupFileRecords r;
  r.wave = WaveFromFile(v);
  if (!r.wave || CheckSetupRecord(*r.wave) != 0) {
    r.wave.reset();
    notices.emplace_back(kWaveFileErrorText);
  }
  r.fft = FftFromFile(v);
  if (!r.fft || CheckSetupRecord(*r.fft) != 0) {
    r.fft.reset();
    notices.emplace_back(kFftFileErrorText);
  }
  r.duty = DutyFromFile(v);
  if (!r.duty || CheckSetupRecord(*r.duty) != 0) {
    r.duty.reset();
    notices.emplace_back(kDutyFileErrorText);
  }
  r.startTime = StartTimeFromFile(v);
  if (!r.startTime || CheckSetupRecord(*r.startTime) != 0) {
    r.startTime.reset();
    notices.emplace_back(kStartTimeFileErrorText);
  }
  const std::int64_t pin = v.value[kAuxPin];
  const std::int64_t mode = pin & ~static_cast<std::int64_t>(kWakeFromStandbyBit);
  if (pin < 0 || mode >= 5) {
    notices.emplace_back(kSyncFileErrorText);
  } else {
    r.syncPinMode = static_cast<int>(mode);
    r.wakeFromStandby = (pin & kWakeFromStandbyBit) != 0;
    r.timeSource = v.value[kTimeSrc] == 1;
  }
  return r;
}

void ApplySetupFileRecords(JobSetup& s, const SetupContext& ctx, const SetupFileRecords& r, std::uint32_t now) {
  if (r.wave) ReadBack(s, ctx, *r.wave);
  if (r.fft) ReadBack(s, ctx, *r.fft);
  if (r.duty) ReadBack(s, *r.duty);
  if (r.startTime) ReadBack(s, *r.startTime, now);
  if (r.syncPinMode) {
    s.syncPinMode = *r.syncPinMode;
    s.wakeFromStandby = r.wakeFromStandby;
    s.timeSource = r.timeSource;
  }
}

std::string FormatSetupFile(JobSetup& s, const SetupContext& ctx, Notices& notices) {
  const WaveSetup w = BuildWaveSetup(s, ctx, notices);
  const FftSetup f = BuildFftSetup(s, ctx, notices);
  const StartTimeSetup t = BuildStartTimeSetup(s);
  const DutyCycleSetup d = BuildDutyCycleSetup(s);
  std::string out;
  AddLine(out, "$WAVE_GAIN", w.gain);
  AddLine(out, "$WAVE_SAMPLE_RATE", w.sampleRate);
  AddLine(out, "$WAVE_LOG_MODE", w.logMode);
  AddLine(out, "$WAVE_LOG_LENGTH", w.logLength);
  AddLine(out, "$WAVE_BIT_DEPTH", (w.dataFormat & 0x7F) * 8);
  AddLine(out, "$WAVE_ENDIAN", (w.dataFormat & 0x80) != 0 ? 1 : 0);
  AddLine(out, "$FFT_REF_LEVEL", f.refLevel);
  AddLine(out, "$FFT_SAMPLE_RATE", f.sampleRate);
  AddLine(out, "$FFT_TYPE", f.fftType);
  AddLine(out, "$FFT_ACCUM", f.accumulation);
  AddLine(out, "$FFT_WEIGHT", f.weight);
  AddLine(out, "$FFT_LOG_MODE", f.logMode);
  AddLine(out, "$FFT_LOG_LENGTH", f.logLength);
  AddLine(out, "$LOG_START_TIME", static_cast<std::int32_t>(t.startTime));
  AddLine(out, "$DUTY_RUN_TIME", d.runMinutes);
  AddLine(out, "$DUTY_CYCLE_TIME", d.runMinutes + d.offMinutes);
  AddLine(out, "$DUTY_IGNORE_TIME_CHANGE", d.ignoreTimeChange);
  const int pin = std::clamp(s.syncPinMode, 0, 4) + (s.wakeFromStandby ? static_cast<int>(kWakeFromStandbyBit) : 0);
  AddLine(out, "$AUX_PIN", pin);
  AddLine(out, "$TIME_SRC", s.timeSource ? 1 : 0);
  return out;
}

bool WriteSetupFile(const std::filesystem::path& path, JobSetup& s, const SetupContext& ctx, Notices& notices) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    notices.emplace_back(kFileOpenFailedText);
    return false;
  }
  const std::string text = FormatSetupFile(s, ctx, notices);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) {
    notices.emplace_back(kFileOpenFailedText);
    return false;
  }
  return true;
}

void ReadSetupFile(const std::filesystem::path& path, JobSetup& s, const SetupContext& ctx, Notices& notices,
                   std::uint32_t now) {
  std::string text;
  if (std::ifstream file(path, std::ios::binary); file) {
    // A setup file is a few hundred bytes; anything past 1 MB is not one.
    // Read in small steps: a few hundred bytes should not cost a megabyte buffer.
    constexpr std::size_t kMaxBytes = 1 << 20;
    char chunk[4096];
    while (text.size() < kMaxBytes) {
      file.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, kMaxBytes - text.size())));
      if (file.gcount() <= 0) break;
      text.append(chunk, static_cast<std::size_t>(file.gcount()));
    }
  }
  ApplySetupFileRecords(s, ctx, SetupFileToRecords(ParseSetupFileText(text), notices), now);
}

std::uint16_t CheckSetupRecord(const WaveSetup& r) {
  const int b = r.dataFormat & 0x7F;
  std::uint16_t code = 0;
  if (r.gain > 48 || r.gain % 6 != 0 || (r.gain != 0 && b > 2)) code = 1;
  if (!KnownRate(r.sampleRate)) code |= 2;
  if (b < 2 || b > 4) code |= 4;
  if (r.logMode != 0) {
    const std::uint64_t fileBytes = std::uint64_t{r.sampleRate} * static_cast<std::uint64_t>(b) * 60 * r.logLength;
    if (r.logLength == 0 || fileBytes > 1'000'000'000ULL) code |= 16;
    if ((r.dataFormat & 0x80) == 0 || b > 3) code |= 4;
  }
  return code;
}

std::uint16_t CheckSetupRecord(const FftSetup& r) {
  std::uint16_t code = 0;
  if (r.fftStep != 512 || r.accumulation == 0 || r.fftLength != 1024 || r.fftType < 4 || r.fftType > 6 ||
      (r.fftType == 6 && r.weight == 0) || r.refLevel < -180 || r.refLevel > -120)
    code = 8;
  if (!KnownRate(r.sampleRate))
    code |= 2;
  else if (code == 0 && r.sampleRate / (std::uint32_t{r.accumulation} * r.fftStep) > 4)
    code = 8;
  if (r.logMode != 0 && r.logLength == 0) code |= 16;
  return code;
}

std::uint16_t CheckSetupRecord(const StartTimeSetup& r) {
  return r.reserved1 != 0 || r.reserved2 != 0 ? 0xFFF7 : 0;
}

std::uint16_t CheckSetupRecord(const DutyCycleSetup& r) { return r.reserved != 0 ? 0xFFF7 : 0; }

std::uint16_t CheckSetupRecord(std::span<const std::uint8_t> record) {
  const SetupParseResult p = ParseSetupRecord(record);
  if (!p.record) return 0xFFFD;
  if (const auto* w = std::get_if<WaveSetup>(&*p.record)) return CheckSetupRecord(*w);
  if (const auto* f = std::get_if<FftSetup>(&*p.record)) return CheckSetupRecord(*f);
  if (const auto* t = std::get_if<StartTimeSetup>(&*p.record)) return CheckSetupRecord(*t);
  if (const auto* d = std::get_if<DutyCycleSetup>(&*p.record)) return CheckSetupRecord(*d);
  if (std::holds_alternative<SetupParamValues>(*p.record)) return 0;
  return 0xFFFD;
}

}  // namespace hylo::setup
