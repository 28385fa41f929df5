#pragma once
// FftThread: parameter changes, missed records, click score, the seven-level pyramid of
// ever longer averages, and the copies for logging and the displays.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "core/StreamTransport.h"
#include "core/Worker.h"
#include "stream/Records.h"

namespace hylo {

// Running mean of linear amplitudes on the byte scale: the n-th input b joins mean a.
std::uint8_t CombineLevels(int n, std::uint8_t a, std::uint8_t b);
// T(d, n) of that mean, for d in −255..255 and n in 1..3.
int CombineStep(int d, int n);

class HyloProcFft final : public Worker {
 public:
  struct Context {
    std::function<bool()> replayInProgress;
    std::function<bool()> replayActive;
    std::function<bool()> logReplaySpectra;  // a headless replay asks for the spectra it computes
    std::function<int()> fftTransport;
    std::function<bool()> customScanRate;
    std::function<double()> scanInterval;
    std::function<void(double)> setScanInterval;
    std::function<void(double sampleRate, double fftLength)> densityCorrection;
    std::function<int(MessageNode*)> postLog;      // 1 when taken
    std::function<int(MessageNode*)> postTrigger;  // 1 when taken
    std::function<int(MessageNode*)> postDisplay;  // pyramid outputs
  };

  explicit HyloProcFft(HyloNodes& nodes);
  void SetContext(Context context) { context_ = std::move(context); }

  bool Handle(MessageNode& node) override;
  // Steps of one record; returns the missed count it found.
  std::uint64_t ProcessRecord(SpectrumRecord& record);
  void LoadTemplate(const SpectrumRecord& record);
  void ClearTemplate() { templateRate_ = 0; }
  bool ClickTemplateLoaded() const { return templateRate_.load() != 0; }
  void Reset();

 private:
  struct Level {
    std::array<std::uint8_t, 512> meanBins{};
    std::array<std::uint8_t, 512> maxBins{};
    double scoreSum = 0;
    double scoreMax = -1000000;
    double powerSum = 0;
    double maxPeakToPeak = -1000000;
    double maxZeroToPeak = -1000000;
    int count = 0;
    int missedCount = 0;
    int skip = 0;
    std::uint64_t missedTotal = 0;
    std::uint64_t missedCarry = 0;
    void Clear();
  };
  struct Input {
    const std::uint8_t* bins;
    const std::uint8_t* maxBins;
    double meanScore, maxScore, rms, peakToPeak, zeroToPeak;
  };
  void Feed(int level, const Input& in);
  void Cascade(int level);
  void Missed(std::uint64_t m);
  bool ParametersChanged(const SpectrumRecord& r) const;
  void LoggingCopy(const SpectrumRecord& r);

  HyloNodes& nodes_;
  Context context_;
  bool haveParameters_ = false;
  std::uint16_t fftLength_ = 0, accumulation_ = 0, fftStep_ = 0, fftType_ = 0, weight_ = 0;
  std::uint32_t sampleRate_ = 0;
  double recordSeconds_ = 0;
  std::uint64_t lastRecordIndex_ = 0;
  double previousEnd_ = 0;
  std::array<double, 512> template_{};
  std::atomic<std::uint32_t> templateRate_{0};
  std::uint64_t backlog_ = 0;
  std::array<Level, 7> levels_{};
};

}  // namespace hylo
