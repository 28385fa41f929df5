#include "files/HyloImpulseLog.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "files/HyloLogging.h"

namespace hylo {
namespace {

constexpr const char* kEol = "\r\n";
constexpr const char* kBandLabels[kImpulseMaxBands] = {
    "25",  "32", "40",   "50",   "63", "80",   "100",  "125", "160", "200",  "250", "315", "400",   "500", "630",
    "800", "1k", "1.2k", "1.6k", "2k", "2.5k", "3.1k", "4k",  "5k",  "6.3k", "8k",  "10k", "12.5k", "16k", "20k"};

int BandCount(const ImpulseRecord& r) { return std::clamp<int>(r.bandCount, 0, kImpulseMaxBands); }

}  // namespace

std::string ImpulseLogHeader(const ImpulseRecord& r, const WavHeaderInfo& info, const LoggingSettings& settings) {
  LogHeaderFields f;
  f.fileType = 3;
  f.time = r.timeStamp;
  f.firstSample = r.runningIndex;
  f.sampleRate = static_cast<std::uint32_t>(std::max(r.sampleRate, 0));
  f.fftSize = r.fftLength;
  f.binWidth = r.fftLength ? f.sampleRate / static_cast<double>(r.fftLength) : 0.0;
  f.overlap = 0;
  f.calculationName = "One Third Octave";
  f.accumulations = 1;  // one transform per impulse
  std::string columns = "Time\tComment\tSEL\tSELcum\tSPLrms\tPeak\tDuration (samples)\tImpulse #\tSequence #\t";
  for (int b = 0; b < BandCount(r); ++b) {
    columns += kBandLabels[b];
    columns += b == 0 ? " Hz\t" : "\t";
  }
  return LogHeaderBlock(f, info, settings) + columns + kEol;
}

std::string ImpulseLogLine(const ImpulseRecord& r, std::string_view comment) {
  const std::time_t time = r.timeStamp;
  std::tm t{};
  gmtime_r(&time, &t);
  char text[1600];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d\t", t.tm_hour, t.tm_min, t.tm_sec);
  std::string out = text;
  out += std::string(comment);
  std::snprintf(text, sizeof text, "\t%.1f\t%.1f\t%.1f\t%.1f\t%u\t%d\t%llu\t", r.sel, r.cumulativeSel, r.spl, r.pk,
                static_cast<unsigned>(r.durationSamples), r.eventNumber,
                static_cast<unsigned long long>(r.runningIndex));
  out += text;
  for (int b = 0; b < BandCount(r); ++b) {
    std::snprintf(text, sizeof text, "%.1f\t", r.bandLevels[b]);
    out += text;
  }
  out += kEol;
  return out;
}

}  // namespace hylo
