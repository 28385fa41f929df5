#include "files/HyloReplay.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "wire/Bytes.h"

namespace hylo {

namespace {

constexpr std::size_t kLineLimit = 16384;  // longer lines are cut (a data line holds ≤ 512 values)
constexpr std::uint64_t kListLimit = 1 << 20;
constexpr std::uint32_t kFftHeaderLimit = 1 << 16;

std::string FourCc(const std::uint8_t* id) {
  std::string s(reinterpret_cast<const char*>(id), 4);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  return s;
}

bool ReadExact(std::FILE* f, void* out, std::size_t n) { return std::fread(out, 1, n, f) == n; }

bool SeekTo(std::FILE* f, std::uint64_t at) {
  if (at > static_cast<std::uint64_t>(std::numeric_limits<long>::max())) return false;
  return std::fseek(f, static_cast<long>(at), SEEK_SET) == 0;
}

// One line without its end, at most kLineLimit characters kept; false at end of file.
bool ReadLine(std::FILE* f, std::string& line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < kLineLimit) line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

bool Contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

// The number at the start of `text` (a bounded copy is parsed); nothing when none is there.
std::optional<double> Number(std::string_view text, std::size_t* used = nullptr) {
  std::string s(text.substr(0, 64));
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || !std::isfinite(v)) return std::nullopt;
  if (used) *used = static_cast<std::size_t>(end - s.c_str());
  return v;
}

std::optional<long long> Integer(std::string_view text) {
  std::string s(text.substr(0, 32));
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || errno == ERANGE) return std::nullopt;
  return v;
}

int ClampInt(double v, int lo, int hi) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(std::lround(v), static_cast<long>(lo), static_cast<long>(hi)));
}

// "H:M:S" at the start of a line, as seconds of the day; nothing when the line is no record.
std::optional<int> TimeOfDay(std::string_view line) {
  int h = 0, m = 0, s = 0;
  char buffer[32] = {};
  std::memcpy(buffer, line.data(), std::min<std::size_t>(line.size(), sizeof buffer - 1));
  if (std::sscanf(buffer, "%3d:%3d:%3d", &h, &m, &s) != 3) return std::nullopt;
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60) return std::nullopt;
  return h * 3600 + m * 60 + s;
}

std::vector<std::string_view> SplitTabs(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at <= s.size()) {
    const std::size_t tab = s.find('\t', at);
    const std::size_t end = tab == std::string_view::npos ? s.size() : tab;
    out.push_back(s.substr(at, end - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  return out;
}

int DeviceTypeOf(std::string_view device) {
  if (Contains(device, "Aurisond MF") || Contains(device, "Farhear")) return -2;
  if (Contains(device, "Aurisond LF")) return 2;
  if (Contains(device, "Aurisond HF") || Contains(device, "AurisondHF")) return 5;
  if (Contains(device, "Aurisond AF") || Contains(device, "AurisondAF")) return 7;
  if (Contains(device, "Unknown")) return 0;  // our own logs made without a unit
  return -1;
}

// ---------------------------------------------------------------------------------------
class WavReader final : public ReplayReader {
 public:
  WavReader() { stream_.kind = ReplayKind::kWav; }
  bool IsWaveform() const override { return true; }

  std::string Open(std::FILE* f, std::uint64_t fileSize) override {
    file_ = f;
    std::uint8_t head[12];
    if (fileSize < 12 || !ReadExact(f, head, 12)) return "too short for a WAV header";
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return "not a RIFF/WAVE file";
    bool haveFormat = false;
    int bits = 0;
    std::uint64_t at = 12;
    while (at + 8 <= fileSize) {
      std::uint8_t chunk[8];
      if (!SeekTo(f, at) || !ReadExact(f, chunk, 8)) return "chunk header unreadable";
      const std::uint32_t size = bytes::GetU32LE(std::span<const std::uint8_t>(chunk, 8), 4);
      const std::uint64_t body = at + 8;
      if (std::memcmp(chunk, "data", 4) == 0) {
        if (!haveFormat) return "no fmt chunk before the data";
        const std::uint64_t there = fileSize - body;
        // A writer that died leaves the planned size (or none): read what the file holds.
        const std::uint64_t announced = (size == 0 || size == 0xFFFFFFFFU) ? there : size;
        const std::uint64_t width = static_cast<std::uint64_t>(stream_.bytesPerSample);
        dataLeft_ = std::min(announced, there) / width * width;
        return Finish(bits);
      }
      if (body + size > fileSize)
        return "chunk '" + FourCc(chunk) + "' of " + std::to_string(size) + " bytes runs past the end of the file";
      if (std::memcmp(chunk, "fmt ", 4) == 0) {
        if (std::string e = Format(size, bits); !e.empty()) return e;
        haveFormat = true;
      } else if (std::memcmp(chunk, "LIST", 4) == 0 && size <= kListLimit) {
        std::vector<std::uint8_t> list(size);
        if (!ReadExact(f, list.data(), size)) return "LIST chunk unreadable";
        ReadList(list);
      }
      at = body + size + (size & 1U);
    }
    return haveFormat ? "no data chunk" : "no fmt and data chunks";
  }

  Result ReadWave(WaveformRecord& r) override {
    const auto width = static_cast<std::uint64_t>(stream_.bytesPerSample);
    const std::uint64_t want = std::min<std::uint64_t>(kWaveformRecordSamples, dataLeft_ / width);
    if (want == 0) return Result::kEnd;
    std::array<std::uint8_t, kWaveformRecordSamples * 4> raw;
    const std::size_t got = std::fread(raw.data(), 1, want * width, file_) / width;
    if (got == 0) return Result::kEnd;
    dataLeft_ = got < want ? 0 : dataLeft_ - got * width;
    // One loop per width, so the conversion is a straight-line loop the compiler can unroll.
    const std::uint8_t* in = raw.data();
    switch (stream_.unsignedSamples ? 0 : stream_.bytesPerSample) {
      case 2:
        for (std::size_t i = 0; i < got; ++i, in += 2)
          r.samples[i] = static_cast<std::int16_t>(std::uint16_t{in[0]} | std::uint16_t{in[1]} << 8);
        break;
      case 3:
        for (std::size_t i = 0; i < got; ++i, in += 3) {
          const std::uint32_t v = std::uint32_t{in[0]} << 8 | std::uint32_t{in[1]} << 16 | std::uint32_t{in[2]} << 24;
          r.samples[i] = static_cast<std::int32_t>(v) >> 8;
        }
        break;
      default:
        for (std::size_t i = 0; i < got; ++i)
          r.samples[i] = WavSample(in + i * width, stream_.bytesPerSample, stream_.unsignedSamples);
    }
    r.sampleBuffer = nullptr;
    r.sampleCount = static_cast<std::uint32_t>(got);
    r.sampleRate = stream_.sampleRate;
    r.sampleFormat = static_cast<std::uint8_t>(0x80 | stream_.bytesPerSample);
    r.gain = static_cast<std::uint8_t>(stream_.gainSteps);
    r.voltsPerCount = stream_.voltsPerCount;
    r.rangeVolts = 2 * stream_.peakVolts;
    return Result::kRecord;
  }

 private:
  std::string Format(std::uint32_t size, int& bits) {
    if (size < 16) return "fmt chunk of " + std::to_string(size) + " bytes is too short";
    std::array<std::uint8_t, 40> fmt{};
    const std::size_t take = std::min<std::size_t>(size, fmt.size());
    if (!ReadExact(file_, fmt.data(), take)) return "fmt chunk unreadable";
    const std::span<const std::uint8_t> b(fmt);
    std::uint16_t tag = bytes::GetU16LE(b, 0);
    if (tag == 0xFFFE) {
      // WAVE_FORMAT_EXTENSIBLE: the sub-format GUID says what the samples are.
      static constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
      if (take < 40 || std::memcmp(fmt.data() + 26, kGuidTail, sizeof kGuidTail) != 0)
        return "extensible format without a known sub-format";
      tag = bytes::GetU16LE(b, 24);
    }
    if (tag != 1) return "format " + std::to_string(tag) + " is not integer PCM";
    const std::uint16_t channels = bytes::GetU16LE(b, 2);
    stream_.sampleRate = bytes::GetU32LE(b, 4);
    bits = bytes::GetU16LE(b, 14);
    if (channels != 1) return std::to_string(channels) + " channels: only mono files replay";
    if (stream_.sampleRate == 0) return "sample rate 0";
    if (bits == 0 || bits > 32 || bits % 8 != 0)
      return "bits per sample " + std::to_string(bits) + " (8, 16, 24 or 32 replay)";
    stream_.bytesPerSample = bits / 8;
    stream_.unsignedSamples = bits == 8;
    return {};
  }

  void ReadList(std::span<const std::uint8_t> list) {
    if (list.size() < 4 || std::memcmp(list.data(), "INFO", 4) != 0) return;
    std::size_t at = 4;
    while (at + 8 <= list.size()) {
      const std::uint8_t* id = list.data() + at;
      const std::uint32_t size = bytes::GetU32LE(list, at + 4);
      const std::size_t body = at + 8;
      if (size > list.size() - body) break;
      const auto* text = reinterpret_cast<const char*>(list.data() + body);
      const std::string_view field(text, size);
      const std::string value(field.substr(0, field.find('\0')));
      if (std::memcmp(id, "ICMT", 4) == 0) Comment(value);
      if (std::memcmp(id, "ICRD", 4) == 0) Created(value);
      at = body + size + (size & 1U);
    }
  }

  void Comment(std::string_view text) {
    std::size_t at = 0;
    while (at <= text.size()) {
      const std::size_t comma = text.find(',', at);
      const std::string_view piece = text.substr(at, comma == std::string_view::npos ? text.npos : comma - at);
      std::size_t used = 0;
      if (const auto v = Number(piece, &used)) {
        const std::string_view label = piece.substr(std::min(used, piece.size()));
        auto within = [&](std::string_view pattern) { return !label.empty() && Contains(pattern, label); };
        if (within(" V pk, "))
          peakVolts_ = *v;
        else if (within(" dBV re 1uPa, "))
          sensitivity_ = static_cast<int>(std::clamp(*v, -1000.0, 1000.0));
        else if (within(" % RH, "))
          stream_.humidityTenths = ClampInt(*v * 10, -32768, 32767);
        else if (within(" deg C, "))
          stream_.temperatureTenths = ClampInt(*v * 10, -32768, 32767);
        else if (within(" = Max Count"))
          maxCount_ = *v;
      }
      if (comma == std::string_view::npos) break;
      at = comma + 1;
    }
  }

  void Created(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, zone = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%3d", &y, &mo, &d, &h, &mi, &s, &zone) != 7) return;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || std::abs(zone) > 24) return;
    const std::int64_t t = UtcSeconds(y, mo, d, h, mi, s) - static_cast<std::int64_t>(zone) * 3600;
    if (t >= 0 && t <= std::numeric_limits<std::uint32_t>::max()) stream_.startTime = static_cast<std::uint32_t>(t);
  }

  std::string Finish(int bits) {
    // A peak voltage ≤ 0 (or none) would make the gain loop endless: the 3.0 V default.
    stream_.peakVolts = (std::isfinite(peakVolts_) && peakVolts_ > 0) ? peakVolts_ : 3.0;
    stream_.sensitivity = sensitivity_;
    const double fullScale = std::ldexp(1.0, bits - 1);
    stream_.maxCount = (std::isfinite(maxCount_) && maxCount_ > 0 && maxCount_ <= 4294967296.0) ? maxCount_ : fullScale;
    double v = stream_.peakVolts;
    for (int i = 0; i < 12 && v < 2.5; ++i) {
      v *= 2;
      stream_.gainSteps += 6;
    }
    stream_.voltsPerCount = stream_.peakVolts / (stream_.maxCount + 1);
    stream_.tickSeconds = 2.0 * 512 / stream_.sampleRate;
    return {};
  }

  std::FILE* file_ = nullptr;
  std::uint64_t dataLeft_ = 0;
  double peakVolts_ = 0;
  int sensitivity_ = -171;
  double maxCount_ = 0;
};

// ---------------------------------------------------------------------------------------
class TextReader final : public ReplayReader {
 public:
  TextReader() {
    stream_.kind = ReplayKind::kText;
    stream_.fftType = 0;
  }
  bool IsWaveform() const override { return false; }

  std::string Open(std::FILE* f, std::uint64_t) override {
    file_ = f;
    std::string first;
    if (!ReadLine(f, first)) return "Failed to Read File Header.";
    layout_ = ClassifyTextLine(first);
    std::string e;
    switch (layout_) {
      case TextLayout::kCurrent:
        e = Current();
        break;
      case TextLayout::kMiddle:
      case TextLayout::kOldest:
        e = Older(first);
        break;
      default:
        return "File is Invalid or Corrupt. Check the file and try again.";
    }
    if (!e.empty()) return e;
    if (stream_.sampleRate == 0) {
      stream_.tickSeconds = 0.5;
      stream_.sampleRate = 4000;
    }
    if (stream_.recordSeconds <= 0)
      stream_.recordSeconds = static_cast<double>(stream_.fftStep) * stream_.accumulation / stream_.sampleRate;
    if (stream_.tickSeconds == 0) stream_.tickSeconds = std::max(stream_.recordSeconds, 1000.0 / stream_.sampleRate);
    return {};
  }

  Result ReadSpectrum(SpectrumRecord& r) override {
    std::string line;
    while (ReadLine(file_, line)) {
      if (Parse(line, r)) return Result::kRecord;
    }
    return Result::kEnd;
  }

 private:
  std::string Current() {
    std::string line;
    int type = 0;
    int ref1V = -180, ref1uPa = -180 - stream_.sensitivity;
    double overlap = 0.5;
    std::string power = "Mean";
    std::string device;
    bool data = false;
    for (int n = 0; n < 400 && ReadLine(file_, line); ++n) {
      if (Contains(line, "Data:")) {
        data = true;
        break;
      }
      const std::size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      const std::string_view key = std::string_view(line).substr(0, tab);
      const std::string_view value = std::string_view(line).substr(tab + 1);
      auto integer = [&](auto& field, long long lo, long long hi) {
        if (const auto v = Integer(value); v && *v >= lo && *v <= hi)
          field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
      };
      if (std::string* d = DetailOf(key)) *d = std::string(value.substr(0, 128));
      if (key == "File Type")
        type = Contains(value, "Spectrum")      ? 0
               : Contains(value, "Calibration") ? 2
               : Contains(value, "Time_Series") ? 1
                                                : 4;
      else if (key == "File Version")
        integer(stream_.fileVersion, 0, 1000);
      else if (key == "Start Date") {
        int y = 0, m = 0, d = 0;
        const std::string v(value.substr(0, 32));
        if (std::sscanf(v.c_str(), "%5d-%3d-%3d", &y, &m, &d) == 3 && y > 1900 && y < 3000 && m >= 1 && m <= 12 &&
            d >= 1 && d <= 31)
          dayStart_ = UtcSeconds(y, m, d, 0, 0, 0);
      } else if (key == "Time Zone") {
        const std::string v(value.substr(0, 32));
        double zone = 0;
        if (std::sscanf(v.c_str(), "UTC %lf", &zone) == 1 && std::isfinite(zone) && std::abs(zone) <= 24)
          zoneSeconds_ = static_cast<int>(zone * 3600);
      } else if (key == "Device")
        device = std::string(value.substr(0, 64));
      else if (key == "S/N")
        integer(stream_.serialNumber, 0, std::numeric_limits<int>::max());
      else if (key == "dB Ref re 1V")
        integer(ref1V, -1000, 1000);
      else if (key == "dB Ref re 1uPa")
        integer(ref1uPa, -1000, 1000);
      else if (key == "Sample Rate [S/s]")
        integer(stream_.sampleRate, 0, 100000000);
      else if (key == "FFT Size")
        integer(stream_.fftLength, 2, 65535);
      else if (key == "Overlap [%]") {
        if (const auto v = Number(value); v && *v >= 0 && *v < 100) overlap = *v / 100;
      } else if (key == "Power Calculation")
        power = std::string(value.substr(0, 32));
      else if (key == "Accumulations")
        integer(stream_.accumulation, 1, 65535);
      else if (key == "Data Weighting")
        integer(stream_.weight, 0, 65535);
    }
    if (!data) return "Failed to Read File Header.";
    if (type == 1 || type == 4) return "Error: Replay of selected log type is unsupported.";
    const int deviceType = DeviceTypeOf(device);
    if (deviceType == -2) return "Unsupported file replay.";
    if (deviceType < 0) return "unknown device \"" + device + "\"";
    stream_.deviceType = deviceType;
    stream_.sensitivity = ref1V - ref1uPa;
    stream_.valueOffset = ref1V + 180;
    const bool overlapped = overlap > 0;
    stream_.fftType = Contains(power, "Moving Average") ? (overlapped ? 6 : 3)
                      : Contains(power, "Peak")         ? (overlapped ? 5 : 2)
                                                        : (overlapped ? 4 : 0);
    stream_.fftStep = static_cast<std::uint16_t>(std::max(1L, std::lround(stream_.fftLength * (1 - overlap))));
    return {};
  }

  std::string Older(const std::string& first) {
    details_.device = first.substr(0, 128);
    if (const std::size_t v = first.find('V'); v != std::string::npos) {
      int major = 0, minor = 0, patch = 0;
      if (std::sscanf(first.substr(v + 1, 32).c_str(), "%4d.%4d.%4d", &major, &minor, &patch) == 3)
        details_.version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    }
    const int deviceType = DeviceTypeOf(first);
    if (deviceType == -2) return "Unsupported file replay.";
    if (deviceType <= 0) return "unknown device in the first line";
    stream_.deviceType = deviceType;
    auto after = [&](std::string_view text, std::string_view key) -> std::optional<double> {
      const std::size_t at = text.find(key);
      if (at == std::string_view::npos) return std::nullopt;
      return Number(text.substr(at + key.size()));
    };
    auto scan = [&](std::string_view text) {
      if (auto v = after(text, "# ")) stream_.serialNumber = ClampInt(*v, 0, std::numeric_limits<int>::max());
      if (auto v = after(text, "Sample Rate = "))
        stream_.sampleRate = static_cast<std::uint32_t>(ClampInt(*v, 0, 100000000));
      if (auto v = after(text, "Sample Rate: "))
        stream_.sampleRate = static_cast<std::uint32_t>(ClampInt(*v, 0, 100000000));
      if (auto v = after(text, "Phone Sensitivity (dB)= ")) stream_.sensitivity = ClampInt(*v, -1000, 1000);
      if (auto v = after(text, "Phone Sensitivity (dB): ")) stream_.sensitivity = ClampInt(*v, -1000, 1000);
      if (auto v = after(text, "FFT Rate = ")) fftRate_ = *v;
      if (auto v = after(text, "FFT Rate: ")) fftRate_ = *v;
      if (Contains(text, "Data Reference: dB re 1nV"))
        stream_.valueOffset = 0;
      else if (auto v = after(text, "Data Reference: dB re "))
        stream_.valueOffset = ClampInt(*v, -1000, 1000) + 180;
      else if (auto v2 = after(text, "Data Reference: "))
        stream_.valueOffset = ClampInt(*v2, -1000, 1000) + 180;
      if (auto v = after(text, "Unit:")) stream_.temperatureTenths = ClampInt(*v * 10, -32768, 32767);
    };
    scan(first);
    const int lines = layout_ == TextLayout::kOldest ? 7 : 8;
    std::string line;
    for (int n = 1; n < lines && ReadLine(file_, line); ++n) {
      if (Contains(line, "Raw ADC")) return "Hylo does not support replay of this file type.";
      scan(line);
    }
    if (Contains(first, "Raw ADC")) return "Hylo does not support replay of this file type.";
    if (stream_.sampleRate > 0 && fftRate_ > 0 && std::isfinite(fftRate_))
      stream_.recordSeconds = 2.0 * 512 * fftRate_ / stream_.sampleRate;
    stream_.tickSeconds = stream_.recordSeconds > 0 ? stream_.recordSeconds : 0;
    return {};
  }

  bool Parse(std::string_view line, SpectrumRecord& r) {
    const auto tod = TimeOfDay(line);
    if (!tod) return false;
    std::vector<std::string_view> fields;
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    if (layout_ == TextLayout::kCurrent) {
      fields = SplitTabs(line.substr(tab + 1));
      if (fields.size() < 5) return false;
      comment_ = std::string(fields[0].substr(0, 256));
      const auto t = Number(fields[1]);
      const auto h = Number(fields[2]);
      const auto seq = Integer(fields[3]);
      const auto count = Integer(fields[4]);
      if (!t || !h || !seq || !count) return false;
      stream_.temperatureTenths = ClampInt(*t * 10, -32768, 32767);
      stream_.humidityTenths = ClampInt(*h * 10, -32768, 32767);
      r.firstSample = static_cast<std::uint64_t>(std::max(0LL, *seq));
      fields.erase(fields.begin(), fields.begin() + 5);
    } else {
      // The comment is the first double-quoted text; the fields follow it.
      std::string_view after = line.substr(tab + 1);
      const std::size_t open = line.find('"');
      if (open != std::string_view::npos) {
        const std::size_t close = line.find('"', open + 1);
        if (close == std::string_view::npos) return false;
        comment_ = std::string(line.substr(open + 1, std::min<std::size_t>(close - open - 1, 256)));
        after = line.substr(close + 1);
        if (!after.empty() && after.front() == '\t') after.remove_prefix(1);
      }
      fields = SplitTabs(after);
      if (fields.size() < 4) return false;
      const auto t = Number(fields[0]);
      const auto h = Number(fields[1]);
      const auto g = Integer(fields[2]);
      const auto seq = Integer(fields[3]);
      if (!t || !h || !seq) return false;
      stream_.temperatureTenths = ClampInt(*t * 10, -32768, 32767);
      stream_.humidityTenths = ClampInt(*h * 10, -32768, 32767);
      if (g) stream_.gain = static_cast<std::uint8_t>(std::clamp(*g, 0LL, 255LL));
      r.firstSample = static_cast<std::uint64_t>(std::max(0LL, *seq));
      fields.erase(fields.begin(), fields.begin() + 4);
    }
    const bool halve = stream_.fileVersion == 3 || stream_.fileVersion == 4;
    std::uint32_t n = 0;
    for (std::string_view f : fields) {
      if (n >= static_cast<std::uint32_t>(kSpectrumBins)) break;
      const auto v = Integer(f);
      if (!v) break;
      long long value = std::clamp(*v, -100000LL, 100000LL);
      if (halve) value = (value + 1) / 2;
      r.bins[n++] = static_cast<std::uint8_t>(std::clamp(value + stream_.valueOffset, 0LL, 255LL));
    }
    std::fill(r.bins + n, r.bins + kSpectrumBins, std::uint8_t{0});
    // The line carries the time of day: the date comes from the header, a wrap is the next day.
    int second = ((*tod - zoneSeconds_) % 86400 + 86400) % 86400;
    if (lastSecond_ >= 0 && second < lastSecond_) dayStart_ += 86400;
    lastSecond_ = second;
    const std::int64_t t = std::clamp<std::int64_t>(dayStart_ + second, 0, std::numeric_limits<std::uint32_t>::max());
    r.timeStamp = static_cast<std::uint32_t>(t);
    r.timeSeconds = static_cast<double>(t);
    r.binCount = n;
    return true;
  }

  std::string* DetailOf(std::string_view key) {
    if (key == "File Version") return &details_.version;
    if (key == "Start Date") return &details_.startDate;
    if (key == "Start Time") return &details_.startTime;
    if (key == "Time Zone") return &details_.timeZone;
    if (key == "Computer") return &details_.computer;
    if (key == "User") return &details_.user;
    if (key == "Client") return &details_.client;
    if (key == "Personnel") return &details_.personnel;
    if (key == "Device") return &details_.device;
    return nullptr;
  }

 public:
  const TextLogDetails& Details() const { return details_; }

 private:
  TextLogDetails details_;
  std::FILE* file_ = nullptr;
  TextLayout layout_ = TextLayout::kUnknown;
  std::int64_t dayStart_ = 0;
  int zoneSeconds_ = 0;
  int lastSecond_ = -1;
  double fftRate_ = 0;
};

// ---------------------------------------------------------------------------------------
class FftReader final : public ReplayReader {
 public:
  FftReader() { stream_.kind = ReplayKind::kFft; }
  bool IsWaveform() const override { return false; }

  std::string Open(std::FILE* f, std::uint64_t fileSize) override {
    file_ = f;
    std::uint8_t head[8];
    if (fileSize < 8 || !ReadExact(f, head, 8)) return "Failed to Read File Header.";
    if (std::memcmp(head, "FFT_", 4) != 0)
      return "binary FFT file without the \"FFT_\" header (older layout) is not supported";
    const std::uint32_t length = bytes::GetU32LE(std::span<const std::uint8_t>(head, 8), 4);
    if (length > kFftHeaderLimit || 8 + static_cast<std::uint64_t>(length) > fileSize)
      return "header length " + std::to_string(length) + " runs past the end of the file";
    std::vector<std::uint8_t> header(length);
    if (!ReadExact(f, header.data(), length)) return "Failed to Read File Header.";
    const std::span<const std::uint8_t> h(header);
    std::optional<std::array<std::uint16_t, 8>> setup;  // p4..p18 as words, T at [1]
    std::uint32_t rate = 0;
    std::uint16_t e0 = 0, e1 = 0;
    std::size_t at = 0;
    while (at + 8 <= h.size()) {
      const std::uint32_t id = bytes::GetU32LE(h, at);
      const std::uint32_t size = bytes::GetU32LE(h, at + 4);
      const std::size_t body = at + 8;
      if (size > h.size() - body)
        return "header chunk " + std::to_string(id) + " of " + std::to_string(size) + " bytes runs past the header";
      at = body + size;
      if (id == 0) {
        if (size < 20) return "setup record of " + std::to_string(size) + " bytes is too short";
        rate = bytes::GetU32LE(h, body);
        stream_.gain = h[body + 4];
        std::array<std::uint16_t, 8> p{};
        for (std::size_t i = 0; i < 7; ++i) p[i] = bytes::GetU16LE(h, body + 6 + 2 * i);
        setup = p;
        if (p[0] >= 4 && p[0] <= 6) {
          if (at + 4 > h.size()) return "setup record misses its extension";
          e0 = bytes::GetU16LE(h, at);
          e1 = bytes::GetU16LE(h, at + 2);
          at += 4;
        }
      } else if (id == 1 && size >= 4) {
        stream_.temperatureTenths = bytes::GetI16LE(h, body);
        stream_.humidityTenths = bytes::GetI16LE(h, body + 2);
      }
    }
    if (!setup) return "no setup record in the header";
    const auto& p = *setup;
    const int type = p[0];
    const long p8 = p[1], p10 = p[2], p12 = p[3], p14 = p[4], p16 = p[5], p18 = p[6];
    long accumulation = 0, step = 1024, weight = 0, values = 0, bits = 0;
    double lengths = 0;
    int sensitivity = 0;
    switch (type) {
      case 0:
      case 2:
        accumulation = p8;
        lengths = static_cast<double>(p8 - p10);
        sensitivity = static_cast<std::int16_t>(p12);
        values = p14;
        bits = p16;
        break;
      case 1:
        if (p10 == 0) return "FFT parameter 0 in the setup record";
        accumulation = 1;
        step = 1024 * p8 / p10;
        lengths = static_cast<double>(p8) / p10;
        sensitivity = static_cast<std::int16_t>(p12);
        values = p14;
        bits = p16;
        break;
      case 3:
        accumulation = p10;
        weight = p8;
        lengths = static_cast<double>(p10);
        sensitivity = static_cast<std::int16_t>(p12);
        values = p14;
        bits = p16;
        break;
      case 4:
      case 5:
      case 6:
        if (p14 == 0) return "FFT parameter 0 in the setup record";
        accumulation = type == 6 ? p10 : p8;
        weight = type == 6 ? p8 : 0;
        step = 1024 * p12 / p14;
        lengths = static_cast<double>(type == 6 ? p10 : p8 - p10) * p12 / p14;
        sensitivity = static_cast<std::int16_t>(p16);
        values = p18;
        bits = e0;
        break;
      default:
        return "Error: Unknown FFT Processing Type";
    }
    (void)p18;
    (void)e1;
    if (rate == 0) return "sample rate 0";
    const long bytesPerValue = bits / 8;
    if (bytesPerValue < 1 || bytesPerValue > 4) return "bits per value " + std::to_string(bits);
    if (values < 1 || values > kSpectrumBins)
      return "values per record " + std::to_string(values) + " (1 to 512 replay)";
    if (accumulation < 1 || accumulation > 65535 || step < 1 || step > 65535 || !(lengths > 0))
      return "FFT parameters out of range (accumulation " + std::to_string(accumulation) + ", step " +
             std::to_string(step) + ")";
    stream_.sampleRate = rate;
    stream_.fftType = static_cast<std::uint16_t>(type);
    stream_.accumulation = static_cast<std::uint16_t>(accumulation);
    stream_.fftStep = static_cast<std::uint16_t>(step);
    stream_.weight = static_cast<std::uint16_t>(weight);
    stream_.sensitivity = sensitivity;
    valuesPerRecord_ = static_cast<int>(values);
    bytesPerValue_ = static_cast<int>(bytesPerValue);
    stream_.recordSeconds = 2.0 * lengths * static_cast<double>(values * bytesPerValue) / rate;
    stream_.tickSeconds = stream_.recordSeconds;
    if (!SeekTo(f, 8 + static_cast<std::uint64_t>(length))) return "Failed to Read File Header.";
    return {};
  }

  Result ReadSpectrum(SpectrumRecord& r) override {
    std::array<std::uint8_t, kSpectrumBins * 4> raw;
    const auto want = static_cast<std::size_t>(valuesPerRecord_ * bytesPerValue_);
    if (std::fread(raw.data(), 1, want, file_) != want) return Result::kEnd;
    const int gain2 = 2 * stream_.gain;
    for (int i = 0; i < valuesPerRecord_; ++i) {
      std::uint32_t v = 0;
      for (int k = bytesPerValue_ - 1; k >= 0; --k)
        v = (v << 8) | raw[static_cast<std::size_t>(i * bytesPerValue_ + k)];
      const long b = std::min<long>(v, 255);
      r.bins[i] = static_cast<std::uint8_t>(std::clamp((b - gain2 + 120) / 2, 0L, 255L));
    }
    std::fill(r.bins + valuesPerRecord_, r.bins + kSpectrumBins, std::uint8_t{0});
    r.binCount = static_cast<std::uint32_t>(valuesPerRecord_);
    r.timeSeconds = stream_.recordSeconds * static_cast<double>(index_);
    r.timeStamp = static_cast<std::uint32_t>(std::min(r.timeSeconds, 4294967295.0));
    ++index_;
    return Result::kRecord;
  }

 private:
  std::FILE* file_ = nullptr;
  int valuesPerRecord_ = 0;
  int bytesPerValue_ = 1;
  std::uint64_t index_ = 0;
};

}  // namespace

ReplayKind ReplayKindOfName(std::string_view name) {
  if (Contains(name, ".FFT") || Contains(name, ".fft")) return ReplayKind::kFft;
  if (Contains(name, ".WAV") || Contains(name, ".wav")) return ReplayKind::kWav;
  if (Contains(name, ".TXT") || Contains(name, ".txt")) return ReplayKind::kText;
  return ReplayKind::kNone;
}

bool ReplayStream::SameStreamAs(const ReplayStream& o) const {
  if (kind != o.kind || sampleRate != o.sampleRate) return false;
  if (kind == ReplayKind::kWav)
    return bytesPerSample == o.bytesPerSample && peakVolts == o.peakVolts && sensitivity == o.sensitivity;
  return fftLength == o.fftLength && accumulation == o.accumulation && fftStep == o.fftStep && fftType == o.fftType &&
         sensitivity == o.sensitivity;
}

TextLayout ClassifyTextLine(std::string_view line) {
  if (Contains(line, "File Details:")) return TextLayout::kCurrent;
  if (Contains(line, "AurisondHF")) return TextLayout::kMiddle;
  const std::size_t hylo = line.find("Hylo");
  if (hylo == std::string_view::npos) return TextLayout::kUnknown;
  const std::size_t v = line.find('V');
  if (v == std::string_view::npos) return TextLayout::kUnknown;
  char buffer[32] = {};
  const std::string_view tail = line.substr(v + 1);
  std::memcpy(buffer, tail.data(), std::min<std::size_t>(tail.size(), sizeof buffer - 1));
  int a = 0, b = 0, c = 0;
  if (std::sscanf(buffer, "%4d.%4d.%4d", &a, &b, &c) != 3) return TextLayout::kUnknown;
  const long version = static_cast<long>(a) * 65536 + static_cast<long>(b) * 256 + c;
  return version >= 0x20400 ? TextLayout::kMiddle : TextLayout::kOldest;
}

TextLogDetails ReadTextLogDetails(const std::filesystem::path& path) {
  TextLogDetails details;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.string().c_str(), "rb"), std::fclose);
  if (!file) {
    details.error = "Error: Cannot open file";
    return details;
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  TextReader reader;
  const std::string error = reader.Open(file.get(), ec ? 0 : size);
  details = reader.Details();
  details.name = path.filename().string();
  details.error = error;
  return details;
}

std::unique_ptr<ReplayReader> MakeReplayReader(ReplayKind kind) {
  switch (kind) {
    case ReplayKind::kWav:
      return std::make_unique<WavReader>();
    case ReplayKind::kText:
      return std::make_unique<TextReader>();
    case ReplayKind::kFft:
      return std::make_unique<FftReader>();
    default:
      return nullptr;
  }
}

std::int32_t WavSample(const std::uint8_t* b, int width, bool unsignedSamples) {
  if (unsignedSamples) return static_cast<std::int32_t>(b[0]) - 128;
  std::uint32_t v = 0;
  for (int k = width - 1; k >= 0; --k) v = (v << 8) | b[k];
  const int shift = 32 - 8 * width;
  // Sign-extend through the top bits without shifting a negative value.
  return static_cast<std::int32_t>(v << shift) >> shift;
}

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Days from civil (H. Hinnant's algorithm).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace hylo
