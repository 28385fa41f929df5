#include "SimInstrument.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "SimFtpServer.h"
#include "SimSpectrum.h"
#include "wire/Bytes.h"

namespace hylo::sim {
namespace {

using hylo::bytes::GetU16LE;
using hylo::bytes::GetU32LE;
using hylo::bytes::PutU16LE;
using hylo::bytes::PutU32LE;

void AppendU16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void AppendU32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

constexpr std::size_t kStatusWaveSamples = 250;
constexpr double kFullScaleVolts = 2.5;

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

SimInstrument::SimInstrument(const SimOptions& options)
    : o_(options),
      identity_(o_),
      setup_(options.model, options.FirmwareNumber()),
      baud_(options.baud),
      statusScene_(o_, setup_.WaveSampleRate()) {
  if (o_.waveRate != 0 || o_.waveBits != 0) {
    const int bytes = o_.waveBits != 0 ? o_.waveBits / 8 : setup_.BytesPerSample();
    const std::uint32_t rate = o_.waveRate != 0 ? o_.waveRate : setup_.WaveSampleRate();
    setup_.SetWave(rate, bytes, o_.waveLittleEndian);
    statusScene_ = SimScene(o_, setup_.WaveSampleRate());
  }
  if (o_.setupError) setup_.ForceError(o_.setupError);
  if (!o_.storage.empty()) files_.emplace(o_);
  clockOffset_ = o_.clockOffset;
}

// Appends one line to the command log, for tests and for whoever watches the unit.
void SimInstrument::LogCommand(const std::string& line) const {
  std::fprintf(stderr, "hylo-sim: %s\n", line.c_str());
  if (o_.commandLog.empty()) return;
  if (std::FILE* f = std::fopen(o_.commandLog.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::uint32_t SimInstrument::Now() const { return static_cast<std::uint32_t>(SystemSeconds() + clockOffset_); }

SimAction SimInstrument::Handle(const SimFrame& f) {
  SimAction a;
  const auto& p = f.payload;
  auto reply = [&](char letter, std::vector<std::uint8_t> payload) {
    a.replies.push_back({letter, std::move(payload)});
  };
  if (files_ && files_->Handles(f)) {
    if (auto r = files_->Handle(f)) reply(f.letter, std::move(*r));
    return a;
  }
  switch (f.letter) {
    case 'A': {
      if (p.size() != 4) break;  // malformed: a careful instrument keeps its clock
      const std::uint32_t t = GetU32LE(p, 0);
      LogCommand(t != 0 ? "A set " + std::to_string(t) : "A read " + std::to_string(Now()));
      if (t != 0) clockOffset_ = static_cast<std::int64_t>(t) - SystemSeconds();
      std::vector<std::uint8_t> r(4);
      PutU32LE(r, 0, Now());
      reply('A', std::move(r));
      break;
    }
    case 'B': {
      if (p.empty()) {
        std::vector<std::uint8_t> r(4);
        PutU32LE(r, 0, baud_);
        reply('B', std::move(r));
      } else if (p.size() == 4) {
        const std::uint32_t b = GetU32LE(p, 0);
        if (b >= 1200 && b <= 1250000) {
          baud_ = b;
          a.baud = b;
        }
      }
      break;
    }
    case 'C':
      if (p.size() >= 2) {
        reply('C', StatusReply(GetU16LE(p, 0)));
      } else if (p.size() == 1) {
        reply('C', {0, 0, 0});  // the one-byte form has nothing to report here
      }
      break;
    case 'D': {
      const int gainBefore = setup_.Gain();
      auto r = setup_.Write(p);
      const bool stored = !SimSetupStore::IsErrorReply(r);
      if (stored && o_.echoFlip && r.size() >= 2 && GetU16LE(r, 0) == o_.echoFlip->recordType &&
          o_.echoFlip->offset < r.size())
        r[o_.echoFlip->offset] ^= 0xFF;
      reply('D', std::move(r));
      if (!stored) break;
      a.setupChanged = true;
      if (setup_.Gain() != gainBefore) reply('G', {static_cast<std::uint8_t>(setup_.Gain())});
      statusScene_ = SimScene(o_, setup_.WaveSampleRate());
      break;
    }
    case 'E':
      LogCommand("E");
      reply('E', identity_.Reply());
      break;
    case 'F': {
      auto records = setup_.ReadReplies();
      if (o_.enquiryFrames && records.size() > *o_.enquiryFrames) records.resize(*o_.enquiryFrames);
      for (auto& r : records) reply('F', std::move(r));
      break;
    }
    case 'Q':
      a.stopStreams = true;
      break;
    case 'R': {
      std::vector<std::uint8_t> r{static_cast<std::uint8_t>(triggers_.size())};
      for (const auto& t : triggers_) {
        AppendU16(r, static_cast<std::uint16_t>(t.record.size()));
        r.insert(r.end(), t.record.begin(), t.record.end());
      }
      reply('R', std::move(r));
      break;
    }
    case 'S':
      reply('S', {AddTrigger(p)});
      break;
    case 'T': {
      // Removal of one trigger by its index.
      std::uint8_t status = 250;
      if (p.size() >= 1 && p[0] < triggers_.size()) {
        triggers_.erase(triggers_.begin() + p[0]);
        ++triggerGeneration_;
        status = 0;
      }
      reply('T', {status});
      break;
    }
    case 'U':
      triggers_.clear();
      ++triggerGeneration_;
      reply('U', {0});
      break;
    case 'V':
      LogCommand("V");
      reply('V', {0});
      break;
    case 'Y':
      LogCommand("Y");
      a.reboot = true;
      if (o_.ServesFtp())
        for (const auto& line : ApplyUploadsOnReboot(o_.storage)) LogCommand(line);
      break;
    case 'Z':
      LogCommand("Z");
      reply('Z', {0, 0, static_cast<std::uint8_t>(o_.batteryState),
                  static_cast<std::uint8_t>(static_cast<std::int8_t>(o_.batteryLevel))});
      break;
    case '[': {
      std::vector<std::uint8_t> r(20, 0);
      r[2] = static_cast<std::uint8_t>(o_.syncState & 0xFF);         // sync mode
      r[3] = static_cast<std::uint8_t>((o_.syncState >> 8) & 0xFF);  // time source
      PutU32LE(r, 4, static_cast<std::uint32_t>(o_.syncState));
      PutU32LE(r, 8, Now());  // last synchronisation
      PutU32LE(r, 12, 0);     // offset
      PutU32LE(r, 16, 0);     // drift
      reply('[', std::move(r));
      break;
    }
    default:
      break;  // letters this instrument does not act on are ignored
  }
  return a;
}

std::uint8_t SimInstrument::AddTrigger(const std::vector<std::uint8_t>& r) {
  const bool lf = o_.model == 2;
  if (r.size() != (lf ? 16u : 24u)) return 251;
  if (triggers_.size() >= kMaxTriggers) return 253;
  if (lf) {
    if (GetU16LE(r, 0) > 1) return 251;
    const auto lo = GetU16LE(r, 6), hi = GetU16LE(r, 8);
    if (lo > 511) return 1;
    if (hi > 511 || hi < lo) return 2;
    if (GetU16LE(r, 10) & ~0x1Fu) return 252;
    if (GetU32LE(r, 12) > 255) return 16;
  } else {
    const auto type = GetU16LE(r, 0);
    if (type != 5 && type != 6) return 251;
    const auto nyquist = setup_.FftSampleRate() / 2;
    const auto lo = GetU32LE(r, 8), hi = GetU32LE(r, 12);
    if (lo > nyquist) return 1;
    if (hi > nyquist || hi < lo) return 2;
    if (GetU16LE(r, 20) & ~0x38u) return 252;
    const auto threshold = static_cast<std::int16_t>(GetU16LE(r, 18));
    if (threshold < -200 || threshold > 255) return 16;
  }
  triggers_.push_back({r});
  ++triggerGeneration_;
  return 0;
}

std::vector<std::uint8_t> SimInstrument::FftBlock() {
  std::vector<double> samples(SimSpectrum::kLength);
  statusScene_.Next(samples);
  const double fullScale = kFullScaleVolts / std::pow(10.0, setup_.Gain() / 20.0);
  SimSpectrum spectrum(1, 1024, 1, 0, fullScale);
  const auto power = spectrum.Analyse(samples);
  const int ref = setup_.FftRefLevel();
  std::vector<std::uint8_t> b;
  const std::uint16_t type = static_cast<std::uint16_t>(setup_.FftType());
  AppendU16(b, fftRecordIndex_++);
  AppendU16(b, 512);
  b.push_back(static_cast<std::uint8_t>(-120 - ref));
  AppendU32(b, setup_.FftSampleRate());
  AppendU16(b, 0);
  AppendU16(b, type);
  const auto& lf = setup_.LfRecord();
  if (setup_.UsesLfSetup()) {
    AppendU16(b, GetU16LE(lf, 16));
    AppendU16(b, GetU16LE(lf, 18));
    if (type >= 4) {
      AppendU16(b, GetU16LE(lf, 20));
      AppendU16(b, GetU16LE(lf, 22));
    }
  } else {
    AppendU16(b, static_cast<std::uint16_t>(setup_.FftAccumulation()));
    AppendU16(b, static_cast<std::uint16_t>(setup_.FftWeight()));
    if (type >= 4) {
      AppendU16(b, static_cast<std::uint16_t>(setup_.FftStep() * 16 / 1024));
      AppendU16(b, 16);
    }
  }
  for (const double pw : power) b.push_back(SimSpectrum::WireByte(10.0 * std::log10(pw + 1e-30), ref));
  lastFftTime_ = Now();
  return b;
}

std::vector<std::uint8_t> SimInstrument::WaveBlock() {
  std::vector<double> samples(kStatusWaveSamples);
  lastWaveStart_ = static_cast<std::uint32_t>(statusScene_.SampleIndex() % statusScene_.SampleRate());
  statusScene_.Next(samples);
  std::vector<std::uint8_t> b;
  AppendU16(b, waveBlockIndex_++);
  b.push_back(24);  // 24-bit, little-endian
  AppendU16(b, static_cast<std::uint16_t>(kStatusWaveSamples * 3));
  b.push_back(static_cast<std::uint8_t>(setup_.Gain()));
  AppendU32(b, setup_.WaveSampleRate());
  AppendU16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(o_.sensitivityTenths / 10)));
  AppendU16(b, static_cast<std::uint16_t>(kFullScaleVolts * 1000));
  for (const double s : samples) {
    const auto v = static_cast<std::int32_t>(std::lround(s * 8388607.0));
    for (int i = 0; i < 3; ++i)
      b.push_back(static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF));
  }
  lastWaveTime_ = Now();
  return b;
}

std::vector<std::uint8_t> SimInstrument::StatusReply(std::uint16_t mask) {
  const std::uint8_t flags = static_cast<std::uint8_t>(mask & 0x3F);
  std::vector<std::uint8_t> r{flags};
  if (flags == 0) {
    AppendU16(r, 0);
    return r;
  }
  if (flags & 0x01) AppendU16(r, 0);
  if (flags & 0x02) AppendU16(r, static_cast<std::uint16_t>(static_cast<std::int16_t>(o_.humidityTenths)));
  if (flags & 0x04) AppendU16(r, static_cast<std::uint16_t>(static_cast<std::int16_t>(o_.temperatureTenths)));
  if (flags & 0x10) {
    const auto b = FftBlock();
    r.insert(r.end(), b.begin(), b.end());
  }
  if (flags & 0x20) {
    const auto b = WaveBlock();
    r.insert(r.end(), b.begin(), b.end());
  }
  if (flags & 0x08) {
    if (mask & 0x1000) {  // FFT time stamp
      AppendU16(r, 0x10);
      AppendU16(r, 8);
      AppendU32(r, fftRecordIndex_);
      AppendU32(r, lastFftTime_ ? lastFftTime_ : Now());
    }
    if (mask & 0x0100) {  // orientation
      AppendU16(r, 0x01);
      AppendU16(r, 12);
      for (std::size_t i = 0; i < 6; ++i)
        AppendU16(r, static_cast<std::uint16_t>(i < o_.orientation.size() ? o_.orientation[i] : 0));
    }
    if (mask & 0x2000) {  // waveform start index and time
      AppendU16(r, 0x20);
      AppendU16(r, 8);
      AppendU32(r, lastWaveStart_);
      AppendU32(r, lastWaveTime_ ? lastWaveTime_ : Now());
    }
  }
  return r;
}

}  // namespace hylo::sim
