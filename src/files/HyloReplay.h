#pragma once
// The readers of recorded files for replay: WAV logs (ours and other programs' PCM files),
// text FFT logs (three layouts) and binary .fft files. Every size and count is checked
// against the file before use; a file that cannot be read is refused with a reason.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "stream/Records.h"

namespace hylo {

enum class ReplayKind { kNone = 0, kFft = 1, kWav = 2, kText = 3 };

// ".FFT"/".fft" → kFft, ".WAV"/".wav" → kWav, ".TXT"/".txt" → kText, first match in that
// order anywhere in the name; otherwise kNone.
ReplayKind ReplayKindOfName(std::string_view name);

// The parameters of the stream a file belongs to; equal parameters continue the stream.
struct ReplayStream {
  ReplayKind kind = ReplayKind::kNone;
  std::uint32_t sampleRate = 0;
  // WAV
  int bytesPerSample = 0;
  bool unsignedSamples = false;  // 8-bit PCM WAV samples are offset binary
  int gainSteps = 0;
  double peakVolts = 3.0;
  double maxCount = 0;
  double voltsPerCount = 0;
  int sensitivity = -171;
  std::uint32_t startTime = 0;
  int temperatureTenths = 0;
  int humidityTenths = 0;
  // Spectra
  std::uint16_t fftLength = 1024;
  std::uint16_t accumulation = 1;
  std::uint16_t fftStep = 1024;
  std::uint16_t fftType = 0;
  std::uint16_t weight = 0;
  std::uint8_t gain = 0;
  double recordSeconds = 0;
  int valueOffset = 0;
  int fileVersion = 0;
  int deviceType = 0;
  int serialNumber = 0;
  // Pace: the tick interval of the file's kind.
  double tickSeconds = 0;

  bool SameStreamAs(const ReplayStream& o) const;
};

// Text whose first line decides its layout.
enum class TextLayout { kUnknown, kOldest, kMiddle, kCurrent };
TextLayout ClassifyTextLine(std::string_view firstLine);

// One open replay file of any kind. Open reads and checks the header; Read fills one record.
class ReplayReader {
 public:
  enum class Result { kRecord, kEnd, kError };

  virtual ~ReplayReader() = default;
  // Empty when the header is good, else the reason in words.
  virtual std::string Open(std::FILE* file, std::uint64_t fileSize) = 0;
  const ReplayStream& Stream() const { return stream_; }
  // Waveform readers fill `wave`, spectrum readers `spectrum`.
  virtual bool IsWaveform() const = 0;
  virtual Result ReadWave(WaveformRecord& /*wave*/) { return Result::kError; }
  virtual Result ReadSpectrum(SpectrumRecord& /*spectrum*/) { return Result::kError; }
  // A text log's comment column of the last record read.
  const std::string& Comment() const { return comment_; }

 protected:
  ReplayStream stream_;
  std::string comment_;
};

std::unique_ptr<ReplayReader> MakeReplayReader(ReplayKind kind);

// What the file-details panel shows of a text log before its replay starts; `error` holds the
// reason when the header cannot be read (the other fields hold what was read before it).
struct TextLogDetails {
  std::string name, version, startDate, startTime, timeZone, computer, user, client, personnel, device;
  std::string error;
};
TextLogDetails ReadTextLogDetails(const std::filesystem::path& path);

// The WAV reader's samples: little-endian two's complement of 1 to 4 bytes (8-bit files are
// offset binary as WAV defines them).
std::int32_t WavSample(const std::uint8_t* bytes, int width, bool unsignedSamples);

// Calendar time as UTC seconds since 1970 (proleptic Gregorian).
std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second);

}  // namespace hylo
