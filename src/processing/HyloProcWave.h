#pragma once
// WaveThread: missed samples, block statistics and running levels of every waveform
// record, the host FFT when the instrument sends no spectra, and the levels put on spectra.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "core/StreamTransport.h"
#include "core/Worker.h"
#include "platform/RealFft.h"
#include "stream/Records.h"

namespace hylo {

struct BlockStats {
  std::int64_t mean = 0;  // rounded to the nearest count
  std::int64_t peakToPeak = 0;
  double standardDeviation = 0;
  double zeroToPeak = 0;
  double energyDb = 0;
};

// One pass over the block; exact for full-scale 32-bit samples.
BlockStats ComputeBlockStats(std::span<const std::int32_t> samples);
// Samples missed between the expected index and a new one, allowing for counter wraps.
std::uint64_t IndexGap(std::uint64_t newIndex, std::uint64_t expected);
// The first of the scan intervals (1 s down to 1 ms) not above t, or t itself.
double SnapScanInterval(double t);

class HyloProcWave final : public Worker {
 public:
  struct Context {
    std::function<bool()> replayInProgress;
    std::function<bool()> replayActive;
    std::function<int()> waveTransport;
    std::function<int()> fftTransport;
    std::function<bool()> customScanRate;
    std::function<double()> scanInterval;
    std::function<void(double)> setScanInterval;  // also restarts the periodic enquiry
    std::function<void(const WaveformRecord&)> audio;
    std::function<int(MessageNode*)> postTrigger;  // 1 when taken
    std::function<int(MessageNode*)> postFft;
  };

  explicit HyloProcWave(HyloNodes& nodes);
  void SetContext(Context context) { context_ = std::move(context); }

  bool Handle(MessageNode& node) override;
  void OnQuit() override {}

  void ProcessWaveform(WaveformRecord& record);
  void AttachLevels(SpectrumRecord& record);
  void Reset();

  int FramesPerRecord() const { return framesPerRecord_; }

 private:
  bool FormatChanged(const WaveformRecord& r) const;
  // 0 unless the record lies just behind the expected index; see WaveformRecord::late.
  std::int32_t LateKind(const WaveformRecord& r, std::uint32_t count);
  void RememberGap(std::uint64_t begin, std::uint64_t end);
  void NewFormat(const WaveformRecord& r);
  void ClearHostFft();
  void HostFft(const WaveformRecord& r);
  bool EmitHostRecord(const WaveformRecord& r, std::uint32_t consumed);
  void FillHostRecord(SpectrumRecord& s, const WaveformRecord& r, std::uint32_t consumed);

  HyloNodes& nodes_;
  Context context_;
  bool haveFormat_ = false;
  std::uint8_t bits_ = 0;
  std::uint32_t rate_ = 0;
  double rangeVolts_ = 0;
  std::uint64_t expectedIndex_ = 0;
  // Recent short gaps [begin, end) a late datagram may still fill.
  struct Gap {
    std::uint64_t begin = 0, end = 0;
  };
  std::array<Gap, 16> gaps_{};
  std::size_t nextGap_ = 0;
  std::uint32_t lastTimeStamp_ = 0;
  std::uint32_t lastBlockOffset_ = 0;
  double alpha_ = 0;
  double smoothedStd_ = 0;
  double maxPeakToPeak_ = 0;
  double maxZeroToPeak_ = 0;
  double lastEnergyDb_ = 0;
  std::array<double, 4> lastLevels_{};
  double countsRefDb_ = 0;
  double spectrumRefDb_ = 0;

  std::unique_ptr<platform::RealFft> fft_;
  std::array<double, 1024> window_{};
  std::array<std::int32_t, 1024> frame_{};
  std::size_t frameFill_ = 0;
  std::array<double, 512> power_{};
  int frames_ = 0;
  int framesPerRecord_ = 0;
};

}  // namespace hylo
