#pragma once
// What the recording and replay commands count and list for their JSON summaries.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "stream/Records.h"

namespace hylo::cli {
namespace fs = std::filesystem;

// What reached WaveThread and FftThread, counted on their threads.
class Tally {
 public:
  void Wave(const WaveformRecord& r) {
    std::lock_guard guard(lock_);
    if (r.late == 2) return;  // a repeated datagram: nothing new
    if (r.late == 1) {        // a reordered one fills samples counted missed before
      missedSamples_ -= std::min<std::uint64_t>(missedSamples_, r.sampleCount);
      ++waveRecords_;
      return;
    }
    if (waveRecords_ == 0) {
      firstSample_ = r.firstSample;
      firstTime_ = r.timeStamp;
    } else {
      missedSamples_ += r.missedSamples;
    }
    nextSample_ = r.firstSample + r.sampleCount;
    sampleRate_ = r.sampleRate;
    ++waveRecords_;
  }
  void Spectrum(const SpectrumRecord& r) {
    std::lock_guard guard(lock_);
    if (spectrumRecords_ > 0) missedRecords_ += r.missedRecords;
    ++spectrumRecords_;
  }
  nlohmann::json Json() const {
    std::lock_guard guard(lock_);
    return {{"waveformRecords", waveRecords_}, {"spectrumRecords", spectrumRecords_},
            {"missedSamples", missedSamples_}, {"missedRecords", missedRecords_},
            {"firstSample", firstSample_},     {"nextSample", nextSample_},
            {"sampleRate", sampleRate_},       {"firstTime", firstTime_}};
  }
  std::string Progress(double elapsed) const {
    std::lock_guard guard(lock_);
    char line[160];
    std::snprintf(line, sizeof line, "\r%7.1f s  waveform %llu  spectra %llu  missed %llu samples, %llu records ",
                  elapsed, static_cast<unsigned long long>(waveRecords_),
                  static_cast<unsigned long long>(spectrumRecords_), static_cast<unsigned long long>(missedSamples_),
                  static_cast<unsigned long long>(missedRecords_));
    return line;
  }
  bool AnyData() const {
    std::lock_guard guard(lock_);
    return waveRecords_ + spectrumRecords_ > 0;
  }

 private:
  mutable std::mutex lock_;
  std::uint64_t waveRecords_ = 0, spectrumRecords_ = 0, missedSamples_ = 0, missedRecords_ = 0;
  std::uint64_t firstSample_ = 0, nextSample_ = 0;
  std::uint32_t sampleRate_ = 0;
  std::uint32_t firstTime_ = 0;  // the first record's time, seconds
};

// Epoch texts as they reach the logging thread: host event lines and the instrument's texts.
class EventTally {
 public:
  void Text(int side, std::string_view text) {
    std::lock_guard guard(lock_);
    if (side == 1 && text.find("U Hylo,") != std::string_view::npos) ++host_;
    if (side == 0 && !text.starts_with("Connection Established") && !text.starts_with("Connection Terminated"))
      ++instrument_;
  }
  nlohmann::json Json() const {
    std::lock_guard guard(lock_);
    return {{"host", host_}, {"instrument", instrument_}};
  }

 private:
  mutable std::mutex lock_;
  std::uint64_t host_ = 0, instrument_ = 0;
};

using Snapshot = std::map<fs::path, fs::file_time_type>;

inline Snapshot Files(const std::string& dir) {
  Snapshot s;
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return s;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file(ec)) s[e.path()] = e.last_write_time(ec);
  }
  return s;
}

// Files that are new or changed since `before`, in name order.
inline std::vector<std::string> Written(const std::vector<std::string>& dirs, const std::vector<Snapshot>& before) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    for (const auto& [path, time] : Files(dirs[i])) {
      const auto it = before[i].find(path);
      if (it == before[i].end() || it->second != time) out.push_back(path.string());
    }
  }
  return out;
}

}  // namespace hylo::cli
