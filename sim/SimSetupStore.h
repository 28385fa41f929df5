#pragma once
// The instrument's job setup: the records it reports to "F" and the checks it applies to "D".
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hylo::sim {

// Error codes an instrument returns for a refused setup.
enum SetupError : std::uint16_t {
  kGainError = 1,
  kBandwidthError = 2,
  kModeError = 4,
  kFftError = 8,
  kLoggingError = 16,
  kParameterError = 32,
  kTriggeredRateError = 0xFFFD,
  kCannotLogError = 0xFFFE,
  kNotReadyError = 0xFFFF,
};

class SimSetupStore {
 public:
  SimSetupStore(int model, std::uint32_t firmware);

  // Payloads of the reply frames to "F": status byte 0, then one record each.
  std::vector<std::vector<std::uint8_t>> ReadReplies() const;

  // Applies a "D" payload; returns the reply payload (the echo, or an error record).
  std::vector<std::uint8_t> Write(std::span<const std::uint8_t> record);

  // Start-up waveform settings (command line); ignored when they would not pass the checks.
  bool SetWave(std::uint32_t rate, int bytesPerSample, bool littleEndian);

  // Makes every following write fail with `code` (or clears that when empty).
  void ForceError(std::optional<std::uint16_t> code) { forced_ = code; }

  // A refused "D": u16 type 0xFFFF, u16 error code, u16 0. Six bytes, because a host takes a
  // shorter "D" reply for noise and ignores it.
  static std::vector<std::uint8_t> ErrorReply(std::uint16_t code);
  static constexpr std::size_t kErrorReplySize = 6;
  static bool IsErrorReply(std::span<const std::uint8_t> reply);
  // The error record inside an "F" reply: u16 type 0xFFFF, u16 error code.
  static std::vector<std::uint8_t> ErrorRecord(std::uint16_t code);

  // What the streams need.
  std::uint32_t WaveSampleRate() const;
  int BytesPerSample() const;
  bool LittleEndian() const;
  int Gain() const;
  std::int16_t FftRefLevel() const;
  std::uint32_t FftSampleRate() const;
  int FftType() const;
  int FftStep() const;
  int FftAccumulation() const;
  int FftWeight() const;

  bool UsesParamList() const;
  bool UsesLfSetup() const { return model_ == 2; }

  const std::vector<std::uint8_t>& WaveRecord() const { return wave_; }
  const std::vector<std::uint8_t>& FftRecord() const { return fft_; }
  const std::vector<std::uint8_t>& LfRecord() const { return lf_; }

 private:
  std::uint16_t CheckLf(std::span<const std::uint8_t> r) const;
  std::uint16_t CheckWave(std::span<const std::uint8_t> r) const;
  std::uint16_t CheckFft(std::span<const std::uint8_t> r) const;
  std::uint16_t ApplyParamList(std::span<const std::uint8_t> r);
  std::vector<std::uint8_t> BuildParamList() const;

  int model_;
  std::uint32_t firmware_;
  std::optional<std::uint16_t> forced_;
  std::vector<std::uint8_t> lf_;
  std::vector<std::uint8_t> wave_;
  std::vector<std::uint8_t> fft_;
  std::vector<std::uint8_t> legacyDuty_;
  std::vector<std::uint8_t> duty_;
  std::vector<std::uint8_t> startTime_;
  std::uint32_t auxPin_ = 0;
  std::uint32_t timeSource_ = 0;
};

}  // namespace hylo::sim
