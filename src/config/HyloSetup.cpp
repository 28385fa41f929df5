#include "config/HyloSetup.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

#include "link/DeviceIdentity.h"

namespace hylo::setup {

namespace {

constexpr std::array<std::uint32_t, 10> kHfBandwidths = {400,   800,   1600,  3200,   6400,
                                                         12800, 25600, 51200, 102400, 204800};
constexpr std::array<std::uint32_t, 7> kLfBandwidths = {100, 200, 400, 800, 1600, 3200, 6400};
constexpr std::array<double, 12> kAccumulationSnaps = {0, 0.25, 0.5, 1, 2, 5, 10, 30, 60, 600, 1800, 3600};
constexpr std::uint16_t kFftLength = 1024;

template <typename T>
T ClampTo(long long v) {
  return static_cast<T>(std::clamp<long long>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

int BytesPerSample(std::uint8_t format) { return format & 0x7F; }
bool LittleEndian(std::uint8_t format) { return (format & 0x80) != 0; }
bool IsDutyChoice(int choice) { return choice == kLogDutyCycle || choice == kEpochDutyCycle; }

std::uint16_t FftStepFor(double overlap) {
  return static_cast<std::uint16_t>(kFftLength * (1.0 - SnapOverlap(overlap)));
}

// Accumulation before the 16-bit clamp; 0 becomes 1.
std::uint64_t RawAccumulation(std::uint32_t sampleRate, double seconds, std::uint16_t step) {
  if (!(seconds > 0) || step == 0) return 1;
  const double a = std::ceil(static_cast<double>(sampleRate) * seconds / step);
  if (a >= 1e18) return std::numeric_limits<std::uint64_t>::max();
  const auto v = static_cast<std::uint64_t>(a);
  return v == 0 ? 1 : v;
}

std::uint16_t PromoteFftType(int type, std::uint16_t step) {
  if (step != kFftLength && type != kFftOff) {
    if (type == kFftMean) return 4;
    if (type == kFftPeak) return 5;
    if (type == kFftFilter) return 6;
  }
  return static_cast<std::uint16_t>(std::clamp(type, 0, 6));
}

// The FFT record the panel stands for, without corrections or notices.
FftSetup FftFromPanel(const JobSetup& s, std::uint64_t* rawAccumulation = nullptr) {
  FftSetup r;
  r.sampleRate = SampleRateForBandwidth(s.spectrumBandwidthHz);
  r.refLevel = ClampTo<std::int16_t>(s.refLevel);
  r.fftLength = kFftLength;
  r.fftStep = FftStepFor(s.overlap);
  const std::uint64_t acc = RawAccumulation(r.sampleRate, s.accumulationTime, r.fftStep);
  if (rawAccumulation) *rawAccumulation = acc;
  r.accumulation = static_cast<std::uint16_t>(std::min<std::uint64_t>(acc, 0xFFFF));
  r.logMode = FftLogModeFor(s.fftLogChoice);
  r.logLength = ClampTo<std::uint8_t>(s.fftMaxLogLength);
  r.weight = s.fftTypeChoice == kFftFilter ? static_cast<std::uint16_t>((r.accumulation + 2) / 3) : 0;
  r.fftType = PromoteFftType(s.fftTypeChoice, r.fftStep);
  return r;
}

// A socket stream goes by TCP unless the setup already asks for UDP (the saved choice).
int SocketCode(int current) { return current == TRANSPORT_UDP ? TRANSPORT_UDP : TRANSPORT_TCP; }

int StreamCodeFor(bool enabled, bool serialLink, std::uint8_t logMode, int current) {
  if (!enabled) return TRANSPORT_OFF;
  if (serialLink || logMode == 1 || logMode == 2) return TRANSPORT_LINK;
  return SocketCode(current);
}

bool ReadBackWave(JobSetup& s, const SetupContext& ctx, const WaveSetup& r, bool fromParamList) {
  if (r.sampleRate == 0) return false;
  s.waveBandwidthHz = BandwidthForSampleRate(r.sampleRate);
  s.gain = r.gain;
  s.dataFormat = r.dataFormat;
  s.waveMaxLogLength = r.logLength;
  s.waveLogChoice = WaveLogChoiceFor(r.logMode, s.dutyCycleInEffect);
  s.waveLogActive = r.logMode == 1 || r.logMode == 2;
  if (s.waveStreaming) {
    if (s.waveLogActive) {
      if (ctx.firmware >= Firmware(2, 2, 0)) {
        s.waveStreamCode = 3;
      } else {
        s.waveStreamCode = 0;
        s.waveStreaming = false;
      }
    } else if (fromParamList) {
      s.waveStreamCode = ctx.serialLink ? TRANSPORT_LINK : SocketCode(s.waveStreamCode);
    }
  }
  return true;
}

bool ReadBackFft(JobSetup& s, const SetupContext& ctx, const FftSetup& r, bool fromParamList) {
  const auto choice = FftTypeChoiceFor(r.fftType);
  if (r.sampleRate == 0 || r.fftLength == 0 || r.fftStep == 0 || !choice) return false;
  s.spectrumBandwidthHz = BandwidthForSampleRate(r.sampleRate);
  s.refLevel = r.refLevel;
  s.fftTypeChoice = *choice;
  s.overlap = SnapOverlap(1.0 - static_cast<double>(r.fftStep) / r.fftLength);
  s.accumulationTime = SnapAccumulationTime(static_cast<double>(r.accumulation) * r.fftStep / r.sampleRate);
  s.fftLogChoice = FftLogChoiceFor(r.logMode);
  s.fftMaxLogLength = r.logLength;
  if (s.spectrumStreaming) {
    if (r.logMode == 1 || r.logMode == 2)
      s.fftStreamCode = 3;
    else if (fromParamList)
      s.fftStreamCode = ctx.serialLink ? TRANSPORT_LINK : SocketCode(s.fftStreamCode);
  }
  return true;
}

void ReadBackDuty(JobSetup& s, std::uint16_t run, std::uint16_t off) {
  s.dutyCycleInEffect = run != 0 && off != 0;
  s.dutyRunMinutes = run;
  s.dutyCycleMinutes = run + off;
  // The wave record was read with the flag as it stood; bring the choice in line.
  if (s.dutyCycleInEffect) {
    if (s.waveLogChoice == kLogContinuous) s.waveLogChoice = kLogDutyCycle;
    if (s.waveLogChoice == kEpoch) s.waveLogChoice = kEpochDutyCycle;
  } else {
    if (s.waveLogChoice == kLogDutyCycle) s.waveLogChoice = kLogContinuous;
    if (s.waveLogChoice == kEpochDutyCycle) s.waveLogChoice = kEpoch;
  }
}

}  // namespace

bool SetupContext::IsLf() const { return model == kModelLf; }
bool SetupContext::IsHfFamily() const { return model == kModelHf || model == kModelAf; }

std::string_view FftTypeLabel(int choice) {
  switch (choice) {
    case kFftMean:
      return "Mean";
    case kFftOff:
      return "Off";
    case kFftPeak:
      return "Peak";
    case kFftFilter:
      return "Filter";
    default:
      return {};
  }
}

std::string_view TimeSourceLabel(int pinMode) {
  if (pinMode == 0 || pinMode == 2) return "Decode time from PPS";
  if (pinMode == 1 || pinMode == 3) return "Encode time in PPS";
  return "N/A";
}

std::span<const std::uint32_t> BandwidthList(std::uint8_t model) {
  if (model == kModelLf) return kLfBandwidths;
  if (model == kModelAf) return std::span<const std::uint32_t>(kHfBandwidths).first(6);
  return kHfBandwidths;
}

std::vector<int> GainList(std::uint8_t model, bool advancedLf) {
  std::vector<int> gains;
  if (model == kModelLf && !advancedLf) return {12, 18, 24};
  const int top = model == kModelLf ? 72 : 48;
  for (int g = 0; g <= top; g += 6) gains.push_back(g);
  return gains;
}

std::uint32_t SampleRateForBandwidth(std::uint32_t bandwidthHz) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{bandwidthHz} * 5 / 2, 0xFFFFFFFFu));
}
std::uint32_t BandwidthForSampleRate(std::uint32_t sampleRate) {
  return static_cast<std::uint32_t>(std::uint64_t{sampleRate} * 2 / 5);
}

int WaveLogChoiceFor(std::uint8_t logMode, bool dutyCycleInEffect) {
  if (logMode == 1) return dutyCycleInEffect ? kLogDutyCycle : kLogContinuous;
  if (logMode == 2) return dutyCycleInEffect ? kEpochDutyCycle : kEpoch;
  return kLoggingOff;
}
std::uint8_t WaveLogModeFor(int choice) {
  if (choice == kLogContinuous || choice == kLogDutyCycle) return 1;
  if (choice == kEpoch || choice == kEpochDutyCycle) return 2;
  return 0;
}
std::uint8_t FftLogModeFor(int choice) {
  if (choice == kFftLogContinuous) return 1;
  if (choice == kFftEpoch) return 2;
  return 0;
}
int FftLogChoiceFor(std::uint8_t logMode) {
  if (logMode == 1) return kFftLogContinuous;
  if (logMode == 2) return kFftEpoch;
  return kFftLoggingOff;
}
std::optional<int> FftTypeChoiceFor(std::uint16_t fftType) {
  switch (fftType) {
    case 0:
    case 4:
      return kFftMean;
    case 1:
      return kFftOff;
    case 2:
    case 5:
      return kFftPeak;
    case 3:
    case 6:
      return kFftFilter;
    default:
      return std::nullopt;
  }
}

double SnapOverlap(double overlap) {
  if (!std::isfinite(overlap)) return 0.0;
  double best = kOverlaps[0];
  for (double o : kOverlaps)
    if (std::abs(o - overlap) < std::abs(best - overlap)) best = o;
  return best;
}

double SnapAccumulationTime(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return 0.0;
  if (seconds >= 5000) return seconds;
  // A positive time takes at least the first non-zero choice: 0 rebuilds as one FFT per step,
  // more spectra a second than the unit takes, so a record it accepted would come back refused.
  double best = seconds > 0 ? kAccumulationSnaps[1] : 0;
  for (double v : kAccumulationSnaps)
    if (v <= seconds && v > best) best = v;
  return best;
}

std::optional<std::uint32_t> InstrumentTimeFromLocal(const LocalDateTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  const std::time_t v = std::mktime(&tm);
  if (v == static_cast<std::time_t>(-1) || v < 0 || static_cast<long long>(v) >= 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

LocalDateTime LocalFromInstrumentTime(std::uint32_t instrumentTime) {
  const auto v = static_cast<std::time_t>(instrumentTime);
  std::tm tm{};
  if (!localtime_r(&v, &tm)) return {};
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

// ---- Builders -------------------------------------------------------------------------

WaveSetup BuildWaveSetup(JobSetup& s, const SetupContext& ctx, Notices& notices) {
  WaveSetup r;
  const bool fw130 = ctx.firmware >= Firmware(1, 3, 0);
  const bool below210 = ctx.firmware < Firmware(2, 1, 0);
  r.sampleRate = SampleRateForBandwidth(s.waveBandwidthHz);
  std::uint8_t format = 0x83;
  int gain = 0;
  if (!fw130) {
    format = 0x03;
  } else if (!s.advancedDisplay) {
    format = below210 && r.sampleRate == 512000 ? 0x82 : 0x83;
  } else {
    format = s.dataFormat;
    if (below210 && r.sampleRate == 512000 && BytesPerSample(format) > 2) {
      notices.emplace_back(k512kSixteenBitText);
      format = static_cast<std::uint8_t>((format & 0x80) | 2);
      s.dataFormat = format;
    }
    gain = BytesPerSample(format) < 3 ? s.gain : 0;
  }
  r.logMode = WaveLogModeFor(s.waveLogChoice);
  s.dutyCycleInEffect = IsDutyChoice(s.waveLogChoice);
  s.waveLogActive = r.logMode != 0;
  if (r.logMode != 0 && fw130) {
    if (BytesPerSample(format) > 3) {
      if (s.advancedDisplay) notices.emplace_back(kNo32BitLoggingText);
      format = static_cast<std::uint8_t>((format & 0x80) | 3);
    }
    if (!LittleEndian(format)) {
      if (s.advancedDisplay) notices.emplace_back(kLittleEndianLoggingText);
      format = static_cast<std::uint8_t>(format | 0x80);
    }
    if (s.advancedDisplay) s.dataFormat = format;
  }
  r.gain = ClampTo<std::uint16_t>(gain);
  r.dataFormat = format;
  s.waveStreamCode = StreamCodeFor(s.waveStreaming, ctx.serialLink, r.logMode, s.waveStreamCode);
  r.logLength = ClampTo<std::uint8_t>(s.waveMaxLogLength);
  if (r.sampleRate == 512000 && ctx.firmware < Firmware(1, 4, 0)) {
    notices.emplace_back(kNo512kText);
    r.sampleRate = 256000;
    s.waveBandwidthHz = BandwidthForSampleRate(r.sampleRate);
  }
  // The unit refuses a log file over 1 GB. The format chosen here may be wider than the one
  // the length was read with, so the length shrinks to the longest file that still fits.
  if (r.logMode != 0 && r.sampleRate > 0 && BytesPerSample(format) > 0) {
    const std::uint64_t perMinute =
        std::uint64_t{r.sampleRate} * static_cast<std::uint64_t>(BytesPerSample(format)) * 60;
    const std::uint64_t longest = std::max<std::uint64_t>(1, 1'000'000'000ULL / perMinute);
    if (r.logLength > longest) {
      r.logLength = static_cast<std::uint8_t>(longest);
      s.waveMaxLogLength = r.logLength;
    }
  }
  r.reserved = 0;
  return r;
}

FftSetup BuildFftSetup(JobSetup& s, const SetupContext& ctx, Notices& notices) {
  std::uint64_t raw = 0;
  FftSetup r = FftFromPanel(s, &raw);
  // The record holds 16 bits; a wrapped count would give a far shorter update time.
  if (raw > 0xFFFF) notices.emplace_back(kAccumulationClampedText);
  s.fftStreamCode = StreamCodeFor(s.spectrumStreaming, ctx.serialLink, r.logMode, s.fftStreamCode);
  return r;
}

void VerifyDutyCycle(JobSetup& s) {
  s.dutyCycleMinutes = std::clamp(s.dutyCycleMinutes, 0, 0xFFFF);
  s.dutyRunMinutes = std::clamp(s.dutyRunMinutes, 0, s.dutyCycleMinutes);
}

LegacyDutyCycleSetup BuildLegacyDutyCycleSetup(JobSetup& s, std::uint32_t now) {
  VerifyDutyCycle(s);
  LegacyDutyCycleSetup r;
  const bool duty = IsDutyChoice(s.waveLogChoice);
  if (!duty && !s.enableDelay) return r;  // run 0, off 1, delay 0
  r.runMinutes = static_cast<std::uint16_t>(s.dutyRunMinutes);
  r.offMinutes = static_cast<std::uint16_t>(s.dutyCycleMinutes - s.dutyRunMinutes);
  if (!duty || r.offMinutes == 0) {
    r.runMinutes = 0;
    r.offMinutes = 1;
  }
  if (s.enableDelay) {
    const double minutes = std::ceil((static_cast<double>(s.startTime) - static_cast<double>(now)) / 60.0);
    r.startDelayMinutes = ClampTo<std::int32_t>(static_cast<long long>(minutes));
  }
  return r;
}

DutyCycleSetup BuildDutyCycleSetup(JobSetup& s) {
  VerifyDutyCycle(s);
  DutyCycleSetup r;
  if (!IsDutyChoice(s.waveLogChoice)) return r;  // run 0, off 0
  r.runMinutes = static_cast<std::uint16_t>(s.dutyRunMinutes);
  r.offMinutes = static_cast<std::uint16_t>(s.dutyCycleMinutes - s.dutyRunMinutes);
  if (r.offMinutes == 0) {
    r.runMinutes = 0;
    r.offMinutes = 1;
  }
  return r;
}

StartTimeSetup BuildStartTimeSetup(const JobSetup& s) {
  StartTimeSetup r;
  r.startTime = s.enableDelay ? s.startTime : kNoDelayedStart;
  return r;
}

LfSetup BuildLfSetup(const JobSetup& s) {
  LfSetup r;
  r.gain = ClampTo<std::uint16_t>(s.lfGain);
  r.sampleRate = SampleRateForBandwidth(s.lfBandwidthHz);
  r.operatingMode = control::LfOperatingMode(s.lfMode).value_or(11);  // 11: everything off
  const double overlap = SnapOverlap(s.lfOverlap);
  const auto n = ClampTo<std::uint16_t>(std::max(s.lfNumStrings, 1));
  const auto sixteenths = static_cast<std::uint16_t>(16 * (1.0 - overlap));
  int type = std::clamp(s.lfFftType, 0, 3);
  if (overlap != 0.0 || type == kFftOff) {
    if (type != kFftOff) type = PromoteFftType(type, 0);
    r.lengthUnits = 16;
    r.stepSixteenths = sixteenths;
  }
  r.fftType = static_cast<std::uint16_t>(type);
  switch (type) {
    case 3:
    case 6:
      r.filterLength = n;
      r.accumulation = static_cast<std::uint16_t>((n + 2) / 3);
      break;
    case 1:
      r.filterLength = 16;
      r.accumulation = sixteenths;
      break;
    default:
      r.accumulation = n;
      r.filterLength = 0;
      break;
  }
  return r;
}

std::uint32_t AuxPinValue(const JobSetup& s, const SetupContext& ctx) {
  auto v = static_cast<std::uint32_t>(std::clamp(s.syncPinMode, 0, 4));
  if (s.wakeFromStandby && ctx.firmware >= Firmware(2, 1, 0)) v += kWakeFromStandbyBit;
  return v;
}

std::vector<SetupParamEntry> BuildSetupParamEntries(JobSetup& s, const SetupContext& ctx, Notices& notices) {
  const WaveSetup w = BuildWaveSetup(s, ctx, notices);
  const FftSetup f = BuildFftSetup(s, ctx, notices);
  const DutyCycleSetup d = BuildDutyCycleSetup(s);
  const StartTimeSetup t = BuildStartTimeSetup(s);
  std::vector<SetupParamEntry> e;
  auto add = [&](SetupParam id, std::uint32_t value) { e.push_back({id, value}); };
  add(kWaveSampleRate, w.sampleRate);
  add(kWaveGain, w.gain);
  add(kWaveBitDepth, static_cast<std::uint32_t>(BytesPerSample(w.dataFormat) * 8));
  add(kWaveEndian, LittleEndian(w.dataFormat) ? 1 : 0);
  add(kWaveLogMode, w.logMode);
  if (w.logMode != 0) add(kWaveLogLength, w.logLength);
  add(kFftSampleRate, f.sampleRate);
  add(kFftRefLevel, static_cast<std::uint32_t>(static_cast<std::int32_t>(f.refLevel)));
  add(kFftPtsPer, f.fftLength);
  add(kFftSampsBtw, f.fftStep);
  add(kFftType, f.fftType);
  add(kFftAccum, f.accumulation);
  if (f.fftType == 6) add(kFftWeight, f.weight);
  add(kFftLogMode, f.logMode);
  if (f.logMode != 0) add(kFftLogLength, f.logLength);
  add(kDutyCycleTime, std::uint32_t{d.runMinutes} + d.offMinutes);
  add(kDutyRunTime, d.runMinutes);
  add(kLogStartTime, t.startTime);
  if (ctx.featureLevel >= 2) add(kAuxPin, AuxPinValue(s, ctx));
  if (ctx.featureLevel >= 2 && ctx.firmware >= Firmware(2, 1, 0)) add(kTimeSrc, s.timeSource ? 1 : 0);
  return e;
}

void FitStreamCodes(JobSetup& s, const SetupContext& ctx) {
  // An LF unit and a serial link have no data sockets: their data come in the status replies.
  if (!ctx.IsLf() && !ctx.serialLink) return;
  for (int* code : {&s.waveStreamCode, &s.fftStreamCode}) {
    if (*code == TRANSPORT_UDP || *code == TRANSPORT_TCP) *code = TRANSPORT_LINK;
  }
}

void SetLfStreamCodes(JobSetup& s) {
  s.waveStreamCode = s.lfMode.waveData == 1 || s.lfMode.waveData == 2 ? 3 : 0;
  s.fftStreamCode = s.lfMode.fftData == 1 || s.lfMode.fftData == 2 ? 3 : 0;
}

// ---- Read-back -------------------------------------------------------------------------

bool ReadBack(JobSetup& s, const SetupContext& ctx, const WaveSetup& r) { return ReadBackWave(s, ctx, r, false); }
bool ReadBack(JobSetup& s, const SetupContext& ctx, const FftSetup& r) { return ReadBackFft(s, ctx, r, false); }

void ReadBack(JobSetup& s, const LegacyDutyCycleSetup& r, std::uint32_t now) {
  ReadBackDuty(s, r.runMinutes, r.offMinutes);
  s.enableDelay = r.startDelayMinutes > 0;
  if (s.enableDelay)
    s.startTime = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::uint64_t{now} + std::uint64_t{static_cast<std::uint32_t>(r.startDelayMinutes)} * 60, 0xFFFFFFFEu));
}

void ReadBack(JobSetup& s, const DutyCycleSetup& r) {
  ReadBackDuty(s, r.runMinutes, r.offMinutes);
  s.ignoreTimeChange = r.ignoreTimeChange != 0;
}

void ReadBack(JobSetup& s, const StartTimeSetup& r, std::uint32_t now) {
  // 0xFFFFFFFF is negative as signed: no delayed start.
  s.enableDelay = static_cast<std::int64_t>(static_cast<std::int32_t>(r.startTime)) > static_cast<std::int64_t>(now);
  if (s.enableDelay) s.startTime = r.startTime;
}

bool ReadBack(JobSetup& s, const LfSetup& r) {
  const auto mode = control::DecodeLfOperatingMode(r.operatingMode);
  const auto choice = FftTypeChoiceFor(r.fftType);
  if (r.sampleRate == 0 || !mode || !choice) return false;
  const bool overlapType = r.fftType >= 4;
  if (overlapType && r.lengthUnits == 0) return false;
  if (r.fftType == 1 && r.filterLength == 0) return false;
  s.lfGain = r.gain;
  s.lfGainOutsideSimple = r.gain < 12 || r.gain > 24;
  s.lfBandwidthHz = BandwidthForSampleRate(r.sampleRate);
  s.lfMode = *mode;
  s.lfFftType = *choice;
  if (overlapType)
    s.lfOverlap = SnapOverlap(1.0 - static_cast<double>(r.stepSixteenths) / r.lengthUnits);
  else if (r.fftType == 1)
    s.lfOverlap = SnapOverlap(1.0 - static_cast<double>(r.accumulation) / r.filterLength);
  else
    s.lfOverlap = 0.0;
  if (r.fftType == 3 || r.fftType == 6)
    s.lfNumStrings = r.filterLength;
  else if (r.fftType != 1)
    s.lfNumStrings = r.accumulation;
  return true;
}

void ReadBack(JobSetup& s, const SetupContext& ctx, const SetupParamValues& v, std::uint32_t now) {
  auto get = [&](SetupParam id, long long fallback) -> long long { return v.Has(id) ? v.value[id] : fallback; };
  // The records the list stands for, with absent entries taken from the panel.
  WaveSetup w;
  w.sampleRate = static_cast<std::uint32_t>(get(kWaveSampleRate, SampleRateForBandwidth(s.waveBandwidthHz)));
  w.gain = ClampTo<std::uint16_t>(get(kWaveGain, s.gain));
  const long long depth = get(kWaveBitDepth, BytesPerSample(s.dataFormat) * 8);
  const bool little = get(kWaveEndian, LittleEndian(s.dataFormat) ? 1 : 0) != 0;
  w.dataFormat = static_cast<std::uint8_t>((ClampTo<std::uint8_t>(depth / 8) & 0x7F) | (little ? 0x80 : 0));
  w.logMode = ClampTo<std::uint8_t>(get(kWaveLogMode, WaveLogModeFor(s.waveLogChoice)));
  w.logLength = ClampTo<std::uint8_t>(get(kWaveLogLength, s.waveMaxLogLength));
  ReadBackWave(s, ctx, w, true);

  const FftSetup panel = FftFromPanel(s);
  FftSetup f;
  f.refLevel =
      ClampTo<std::int16_t>(v.Has(kFftRefLevel) ? static_cast<std::int32_t>(v.value[kFftRefLevel]) : panel.refLevel);
  f.sampleRate = static_cast<std::uint32_t>(get(kFftSampleRate, panel.sampleRate));
  f.fftLength = ClampTo<std::uint16_t>(get(kFftPtsPer, panel.fftLength));
  f.fftStep = ClampTo<std::uint16_t>(get(kFftSampsBtw, panel.fftStep));
  f.fftType = ClampTo<std::uint16_t>(get(kFftType, panel.fftType));
  f.accumulation = ClampTo<std::uint16_t>(get(kFftAccum, panel.accumulation));
  f.weight = ClampTo<std::uint16_t>(get(kFftWeight, panel.weight));
  f.logMode = ClampTo<std::uint8_t>(get(kFftLogMode, panel.logMode));
  f.logLength = ClampTo<std::uint8_t>(get(kFftLogLength, panel.logLength));
  ReadBackFft(s, ctx, f, true);

  if (v.Has(kDutyCycleTime) || v.Has(kDutyRunTime)) {
    const long long run = get(kDutyRunTime, s.dutyRunMinutes);
    const long long cycle = get(kDutyCycleTime, s.dutyCycleMinutes);
    DutyCycleSetup d;
    d.runMinutes = ClampTo<std::uint16_t>(run);
    d.offMinutes = ClampTo<std::uint16_t>(cycle - run);
    ReadBack(s, d);
  }
  if (v.Has(kLogStartTime)) {
    StartTimeSetup t;
    t.startTime = v.value[kLogStartTime];
    ReadBack(s, t, now);
  }
  if (v.Has(kAuxPin)) {
    const std::uint32_t pin = v.value[kAuxPin];
    if ((pin & ~kWakeFromStandbyBit) < 5) {
      s.syncPinMode = static_cast<int>(pin & ~kWakeFromStandbyBit);
      s.wakeFromStandby = (pin & kWakeFromStandbyBit) != 0;
    }
  }
  if (v.Has(kTimeSrc)) s.timeSource = v.value[kTimeSrc] == 1;
}

// ---- Panel rules ----------------------------------------------------------------------

void ApplyPanelRules(JobSetup& s, const SetupContext& ctx) {
  VerifyDutyCycle(s);
  if (ctx.IsHfFamily() && ctx.firmware < Firmware(2, 2, 0) && s.waveLogChoice != kLoggingOff) s.waveStreaming = false;
  if (BytesPerSample(s.dataFormat) > 2) s.gain = 0;
  if (s.lfGainOutsideSimple) s.lfAdvancedDisplay = true;
  if (!s.lfAdvancedDisplay) s.lfGain = std::clamp(s.lfGain, 12, 24);
}

void LeaveLfAdvancedDisplay(JobSetup& s) {
  s.lfAdvancedDisplay = false;
  s.lfGainOutsideSimple = false;
  s.lfGain = std::clamp(s.lfGain, 12, 24);
}

}  // namespace hylo::setup
