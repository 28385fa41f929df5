#pragma once
// ImpulseThread: measures each impulse candidate (type 34), keeps the exposure total and
// the event count since the last chart reset (type 8), and hands the results to the
// displays, the impulse log and the event list.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "core/Worker.h"
#include "processing/ImpulseDsp.h"

namespace hylo {

class HyloImpulse final : public Worker {
 public:
  struct Context {
    std::function<int(MessageNode*)> postDisplay;  // 1 when taken
    std::function<int(MessageNode*)> postLog;
    std::function<int()> sensitivity;                    // dB re 1 V/uPa
    std::function<std::filesystem::path()> debugFolder;  // where "FFT_OUT.txt" goes; empty: none
    std::function<void(const ImpulseRecord&)> measured;  // each measured impulse, on this thread
  };

  explicit HyloImpulse(HyloNodes& nodes) : nodes_(nodes) {}
  void SetContext(Context context) { context_ = std::move(context); }

  bool Handle(MessageNode& node) override;
  // Measures `r` in place and updates the running totals; false when it holds nothing to measure.
  bool MeasureImpulse(ImpulseRecord& r);
  void ResetTotals();

  double CumulativeSel() const { return cumulativeSel_; }
  std::int32_t EventNumber() const { return eventNumber_; }
  std::uint64_t Measured() const { return measured_.load(); }  // any thread

 private:
  void PostResults(MessageNode& node);
  void PostText(const std::string& line);
  HyloNodes& nodes_;
  Context context_;
  ImpulseMeasurement measure_;
  double cumulativeSel_ = 0;
  std::int32_t eventNumber_ = 0;
  std::atomic<std::uint64_t> measured_{0};
  std::string bins_;
};

// The event-list line of one measured impulse.
std::string ImpulseEventLine(const ImpulseRecord& r);

}  // namespace hylo
