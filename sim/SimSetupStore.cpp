#include "SimSetupStore.h"

#include "wire/Bytes.h"

namespace hylo::sim {
namespace {

using hylo::bytes::GetU16LE;
using hylo::bytes::GetU32LE;
using hylo::bytes::PutU16LE;
using hylo::bytes::PutU32LE;

constexpr std::uint16_t kLfType = 12, kWaveType = 14, kFftType = 15, kLegacyDutyType = 16, kStartTimeType = 18,
                        kDutyType = 19, kParamListType = 20;

enum Param : std::uint16_t {
  kAuxPin = 0,
  kLogStartTime,
  kFftSampleRate,
  kFftRefLevel,
  kFftPtsPer,
  kFftSampsBtw,
  kFftTypeP,
  kFftAccum,
  kFftWeight,
  kFftLogMode,
  kFftLogLength,
  kDutyCycleTime,
  kDutyRunTime,
  kDutyIgnoreTimeChange,
  kWaveSampleRate,
  kWaveBitDepth,
  kWaveGain,
  kWaveEndian,
  kWaveLogMode,
  kWaveLogLength,
  kTimeSrc,
  kParamCount
};

bool GoodGain(unsigned gain) { return gain <= 72 && gain % 6 == 0; }

std::vector<std::uint8_t> Record(std::size_t size, std::uint16_t type) {
  std::vector<std::uint8_t> r(size, 0);
  PutU16LE(r, 0, type);
  return r;
}

}  // namespace

SimSetupStore::SimSetupStore(int model, std::uint32_t firmware) : model_(model), firmware_(firmware) {
  lf_ = Record(24, kLfType);
  PutU16LE(lf_, 2, 18);    // gain
  PutU32LE(lf_, 4, 4000);  // sample rate
  PutU16LE(lf_, 8, 0);     // operating mode
  PutU16LE(lf_, 14, 0);    // mean
  PutU16LE(lf_, 16, 4);    // accumulation
  PutU16LE(lf_, 20, 1);
  PutU16LE(lf_, 22, 1);

  wave_ = Record(12, kWaveType);
  PutU16LE(wave_, 2, 0);
  PutU32LE(wave_, 4, 128000);
  wave_[8] = 0;
  wave_[9] = 10;
  wave_[10] = 0x03;  // 24-bit big-endian

  fft_ = Record(20, kFftType);
  PutU16LE(fft_, 2, static_cast<std::uint16_t>(-120));
  PutU32LE(fft_, 4, 128000);
  PutU16LE(fft_, 8, 1024);
  PutU16LE(fft_, 10, 0);
  PutU16LE(fft_, 12, 1024);
  PutU16LE(fft_, 14, 10);
  PutU16LE(fft_, 16, 0);
  fft_[18] = 0;
  fft_[19] = 10;

  legacyDuty_ = Record(12, kLegacyDutyType);
  PutU16LE(legacyDuty_, 6, 1);
  duty_ = Record(8, kDutyType);
  PutU16LE(duty_, 4, 1);
  startTime_ = Record(12, kStartTimeType);
  PutU32LE(startTime_, 4, 0xFFFFFFFFu);
}

bool SimSetupStore::UsesParamList() const { return model_ == 7 || (model_ == 5 && firmware_ >= 0x020000); }

std::vector<std::uint8_t> SimSetupStore::ErrorRecord(std::uint16_t code) {
  std::vector<std::uint8_t> r(4, 0);
  PutU16LE(r, 0, 0xFFFF);
  PutU16LE(r, 2, code);
  return r;
}

std::vector<std::uint8_t> SimSetupStore::ErrorReply(std::uint16_t code) {
  auto r = ErrorRecord(code);
  r.resize(kErrorReplySize, 0);
  return r;
}

bool SimSetupStore::IsErrorReply(std::span<const std::uint8_t> reply) {
  return reply.size() == kErrorReplySize && GetU16LE(reply, 0) == 0xFFFF;
}

std::vector<std::vector<std::uint8_t>> SimSetupStore::ReadReplies() const {
  auto withStatus = [](const std::vector<std::uint8_t>& rec) {
    std::vector<std::uint8_t> p{0};
    p.insert(p.end(), rec.begin(), rec.end());
    return p;
  };
  if (model_ == 2) return {withStatus(lf_)};
  if (UsesParamList()) return {withStatus(BuildParamList())};
  if (model_ == 5 && firmware_ >= 0x010500)
    return {withStatus(wave_), withStatus(fft_), withStatus(duty_), withStatus(startTime_)};
  if (model_ == 5) return {withStatus(wave_), withStatus(fft_), withStatus(legacyDuty_)};
  return {withStatus(ErrorRecord(kParameterError))};
}

std::vector<std::uint8_t> SimSetupStore::BuildParamList() const {
  std::vector<std::pair<std::uint16_t, std::uint32_t>> e;
  e.emplace_back(kWaveSampleRate, GetU32LE(wave_, 4));
  e.emplace_back(kWaveGain, GetU16LE(wave_, 2));
  e.emplace_back(kWaveBitDepth, (wave_[10] & 0x7Fu) * 8u);
  e.emplace_back(kWaveEndian, (wave_[10] & 0x80u) ? 1u : 0u);
  e.emplace_back(kWaveLogMode, wave_[8]);
  if (wave_[8] != 0) e.emplace_back(kWaveLogLength, wave_[9]);
  e.emplace_back(kFftSampleRate, GetU32LE(fft_, 4));
  e.emplace_back(kFftRefLevel,
                 static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(GetU16LE(fft_, 2)))));
  e.emplace_back(kFftPtsPer, GetU16LE(fft_, 8));
  e.emplace_back(kFftSampsBtw, GetU16LE(fft_, 12));
  e.emplace_back(kFftTypeP, GetU16LE(fft_, 10));
  e.emplace_back(kFftAccum, GetU16LE(fft_, 14));
  if (GetU16LE(fft_, 10) == 6) e.emplace_back(kFftWeight, GetU16LE(fft_, 16));
  e.emplace_back(kFftLogMode, fft_[18]);
  if (fft_[18] != 0) e.emplace_back(kFftLogLength, fft_[19]);
  e.emplace_back(kDutyCycleTime, GetU16LE(duty_, 2) + GetU16LE(duty_, 4));
  e.emplace_back(kDutyRunTime, GetU16LE(duty_, 2));
  e.emplace_back(kLogStartTime, GetU32LE(startTime_, 4));
  e.emplace_back(kAuxPin, auxPin_);
  e.emplace_back(kTimeSrc, timeSource_);
  std::vector<std::uint8_t> r(4 + 8 * e.size(), 0);
  r[0] = static_cast<std::uint8_t>(kParamListType);
  r[1] = 0;
  PutU16LE(r, 2, static_cast<std::uint16_t>(e.size()));
  for (std::size_t i = 0; i < e.size(); ++i) {
    PutU16LE(r, 4 + 8 * i, e[i].first);
    PutU16LE(r, 6 + 8 * i, 4);
    PutU32LE(r, 8 + 8 * i, e[i].second);
  }
  return r;
}

std::uint16_t SimSetupStore::CheckLf(std::span<const std::uint8_t> r) const {
  if (!GoodGain(GetU16LE(r, 2))) return kGainError;
  const auto rate = GetU32LE(r, 4);
  if (rate == 0 || rate > 32000) return kBandwidthError;
  if (GetU16LE(r, 8) > 35) return kModeError;
  const auto type = GetU16LE(r, 14);
  if (type > 6) return kFftError;
  if (type != 1 && GetU16LE(r, 16) == 0) return kFftError;
  if (type >= 4 && (GetU16LE(r, 20) == 0 || GetU16LE(r, 22) < GetU16LE(r, 20))) return kFftError;
  return 0;
}

std::uint16_t SimSetupStore::CheckWave(std::span<const std::uint8_t> r) const {
  const unsigned bytes = r[10] & 0x7Fu;
  if (bytes < 2 || bytes > 4) return kModeError;
  const unsigned gain = GetU16LE(r, 2);
  if (!GoodGain(gain) || (bytes != 2 && gain != 0)) return kGainError;
  const auto rate = GetU32LE(r, 4);
  if (rate == 0 || rate > 512000) return kBandwidthError;
  if (rate > 256000 && bytes == 4) return kBandwidthError;  // the fastest rates need 16- or 24-bit data
  if (r[8] > 2) return kLoggingError;
  if (r[8] != 0 && r[9] == 0) return kLoggingError;
  return 0;
}

std::uint16_t SimSetupStore::CheckFft(std::span<const std::uint8_t> r) const {
  const auto rate = GetU32LE(r, 4);
  if (rate == 0 || rate > 512000) return kBandwidthError;
  const auto ref = static_cast<std::int16_t>(GetU16LE(r, 2));
  const auto type = GetU16LE(r, 10);
  const auto step = GetU16LE(r, 12);
  if (GetU16LE(r, 8) != 1024 || type > 6 || step == 0 || step > 1024 || GetU16LE(r, 14) == 0 || ref < -180 ||
      ref > -120 || ((type == 3 || type == 6) && GetU16LE(r, 16) == 0))
    return kFftError;
  if (r[18] > 2 || (r[18] != 0 && r[19] == 0)) return kLoggingError;
  return 0;
}

std::uint16_t SimSetupStore::ApplyParamList(std::span<const std::uint8_t> r) {
  const std::size_t count = GetU16LE(r, 2);
  if (r[1] != 0 || r.size() != 4 + 8 * count) return kParameterError;
  std::vector<std::uint8_t> wave = wave_, fft = fft_, duty = duty_, start = startTime_;
  std::uint32_t aux = auxPin_, timeSrc = timeSource_, cycle = GetU16LE(duty_, 2) + GetU16LE(duty_, 4);
  std::uint32_t run = GetU16LE(duty_, 2);
  unsigned bits = (wave[10] & 0x7Fu) * 8u;
  bool little = (wave[10] & 0x80u) != 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 4 + 8 * i;
    const auto id = GetU16LE(r, at);
    const auto size = GetU16LE(r, at + 2);
    const auto v = GetU32LE(r, at + 4);
    if (size != 4 || id >= kParamCount) continue;  // unknown entries are skipped
    switch (id) {
      case kAuxPin:
        aux = v;
        break;
      case kLogStartTime:
        PutU32LE(start, 4, v);
        break;
      case kFftSampleRate:
        PutU32LE(fft, 4, v);
        break;
      case kFftRefLevel:
        PutU16LE(fft, 2, static_cast<std::uint16_t>(v));
        break;
      case kFftPtsPer:
        PutU16LE(fft, 8, static_cast<std::uint16_t>(v > 0xFFFF ? 0 : v));
        break;
      case kFftSampsBtw:
        PutU16LE(fft, 12, static_cast<std::uint16_t>(v > 0xFFFF ? 0 : v));
        break;
      case kFftTypeP:
        PutU16LE(fft, 10, static_cast<std::uint16_t>(v > 0xFFFF ? 0xFFFF : v));
        break;
      case kFftAccum:
        PutU16LE(fft, 14, static_cast<std::uint16_t>(v > 0xFFFF ? 0 : v));
        break;
      case kFftWeight:
        PutU16LE(fft, 16, static_cast<std::uint16_t>(v > 0xFFFF ? 0 : v));
        break;
      case kFftLogMode:
        fft[18] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        break;
      case kFftLogLength:
        fft[19] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        break;
      case kDutyCycleTime:
        cycle = v;
        break;
      case kDutyRunTime:
        run = v;
        break;
      case kWaveSampleRate:
        PutU32LE(wave, 4, v);
        break;
      case kWaveBitDepth:
        bits = v;
        break;
      case kWaveGain:
        PutU16LE(wave, 2, static_cast<std::uint16_t>(v > 0xFFFF ? 0xFFFF : v));
        break;
      case kWaveEndian:
        little = v != 0;
        break;
      case kWaveLogMode:
        wave[8] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        break;
      case kWaveLogLength:
        wave[9] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        break;
      case kTimeSrc:
        timeSrc = v;
        break;
      default:
        break;
    }
  }
  if (bits % 8 != 0 || bits / 8 < 2 || bits / 8 > 4) return kModeError;
  wave[10] = static_cast<std::uint8_t>((bits / 8) | (little ? 0x80 : 0));
  if (run > cycle || cycle > 0xFFFF) return kLoggingError;
  if (const auto e = CheckWave(wave)) return e;
  if (const auto e = CheckFft(fft)) return e;
  if ((aux & 0x1Fu) > 4) return kParameterError;
  PutU16LE(duty, 2, static_cast<std::uint16_t>(run));
  PutU16LE(duty, 4, static_cast<std::uint16_t>(cycle - run));
  wave_ = wave;
  fft_ = fft;
  duty_ = duty;
  startTime_ = start;
  auxPin_ = aux;
  timeSource_ = timeSrc;
  return 0;
}

std::vector<std::uint8_t> SimSetupStore::Write(std::span<const std::uint8_t> r) {
  if (forced_) return ErrorReply(*forced_);
  if (r.size() < 4) return ErrorReply(kParameterError);
  const std::uint16_t type = (r[0] == kParamListType && r[1] == 0) ? kParamListType : GetU16LE(r, 0);
  const std::vector<std::uint8_t> echo(r.begin(), r.end());
  std::uint16_t err = kParameterError;
  const bool hf = model_ == 5 || model_ == 7;
  switch (type) {
    case kLfType:
      if (model_ == 2 && r.size() == 24 && (err = CheckLf(r)) == 0) lf_ = echo;
      break;
    case kWaveType:
      if (hf && r.size() == 12 && (err = CheckWave(r)) == 0) wave_ = echo;
      break;
    case kFftType:
      if (hf && r.size() == 20 && (err = CheckFft(r)) == 0) fft_ = echo;
      break;
    case kLegacyDutyType:
      if (hf && r.size() == 12) {
        err = GetU16LE(r, 6) == 0 ? kLoggingError : 0;
        if (err == 0) legacyDuty_ = echo;
      }
      break;
    case kStartTimeType:
      if (hf && r.size() == 12) {
        err = (GetU16LE(r, 2) != 0 || GetU32LE(r, 8) != 0) ? kParameterError : 0;
        if (err == 0) startTime_ = echo;
      }
      break;
    case kDutyType:
      if (hf && r.size() == 8) {
        err = r[7] != 0 ? kParameterError : 0;
        if (err == 0) duty_ = echo;
      }
      break;
    case kParamListType:
      if (hf) err = ApplyParamList(r);
      break;
    default:
      break;
  }
  if (err != 0) return ErrorReply(err);
  return echo;
}

bool SimSetupStore::SetWave(std::uint32_t rate, int bytesPerSample, bool littleEndian) {
  if (model_ == 2) {
    auto lf = lf_;
    PutU32LE(lf, 4, rate);
    if (CheckLf(lf) != 0) return false;
    lf_ = lf;
    return true;
  }
  auto wave = wave_;
  PutU32LE(wave, 4, rate);
  wave[10] = static_cast<std::uint8_t>(bytesPerSample | (littleEndian ? 0x80 : 0));
  if (bytesPerSample != 2) PutU16LE(wave, 2, 0);
  if (CheckWave(wave) != 0) return false;
  wave_ = wave;
  auto fft = fft_;
  PutU32LE(fft, 4, rate);
  if (CheckFft(fft) == 0) fft_ = fft;
  return true;
}

std::uint32_t SimSetupStore::WaveSampleRate() const { return model_ == 2 ? GetU32LE(lf_, 4) : GetU32LE(wave_, 4); }
int SimSetupStore::BytesPerSample() const { return model_ == 2 ? 2 : (wave_[10] & 0x7F); }
bool SimSetupStore::LittleEndian() const { return model_ != 2 && (wave_[10] & 0x80) != 0; }
int SimSetupStore::Gain() const { return model_ == 2 ? GetU16LE(lf_, 2) : GetU16LE(wave_, 2); }
std::int16_t SimSetupStore::FftRefLevel() const {
  return model_ == 2 ? std::int16_t{-120} : static_cast<std::int16_t>(GetU16LE(fft_, 2));
}
std::uint32_t SimSetupStore::FftSampleRate() const { return model_ == 2 ? GetU32LE(lf_, 4) : GetU32LE(fft_, 4); }
int SimSetupStore::FftType() const { return model_ == 2 ? GetU16LE(lf_, 14) : GetU16LE(fft_, 10); }
int SimSetupStore::FftStep() const { return model_ == 2 ? 1024 : GetU16LE(fft_, 12); }
int SimSetupStore::FftAccumulation() const {
  const int a = model_ == 2 ? GetU16LE(lf_, 16) : GetU16LE(fft_, 14);
  return a < 1 ? 1 : a;
}
int SimSetupStore::FftWeight() const { return model_ == 2 ? GetU16LE(lf_, 18) : GetU16LE(fft_, 16); }

}  // namespace hylo::sim
