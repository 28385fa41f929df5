#pragma once
// The time-series graph's data: the newest block in volts (mean removed), its smoothed RMS
// and the long-term mean. Filled on UiUpdateThread; the GUI takes a copy on its own timer.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "stream/Records.h"

namespace hylo {

inline constexpr std::size_t kTraceMaxSamples = 768;
inline constexpr int kMaxTraces = 10;

struct TraceView {
  std::vector<double> volts;  // at most 768 samples
  std::uint32_t sampleRate = 0;
  double smoothedRms = 0;
  int rmsDecimals = 3;
  double blockMeanVolts = 0;
  double longTermMean = 0;  // raw counts × 256, as shown on the statistics panel
  int traceCount = 0;
  std::string label;  // "64 kS/sec,   1.2 msec/div"
  bool fresh = false;
};

// "64 kS/sec,   1.2 msec/div"
std::string TraceLabel(std::uint32_t sampleRate, std::size_t samples);
int RmsDecimals(double rms);

class HyloTimeSeries {
 public:
  // The record's samples come from its sample buffer (4-byte samples) when it has one.
  void AddTrace(const WaveformRecord& record);
  // Takes what is new for drawing (at most 768 samples) and clears the "new data" flag.
  TraceView DrawTrace();
  void ResetTraces();
  void ResetMean() { resetMean_ = true; }
  bool HasNewData() const;

 private:
  mutable std::mutex lock_;
  std::vector<double> prepared_;
  std::uint32_t sampleRate_ = 0;
  double smoothedRms_ = 0;
  int rmsDecimals_ = 3;
  double blockMean_ = 0;
  std::int64_t longSum_ = 0;
  std::int64_t longCount_ = 0;
  std::atomic<bool> resetMean_{false};
  int traceCount_ = 0;
  bool newData_ = false;
};

}  // namespace hylo
