#pragma once
// The status reply ("C"): status values, and the FFT and waveform blocks that carry data
// over the command link, decoded into the same records the data streams give.
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

#include "core/HyloNodes.h"
#include "core/Post.h"
#include "stream/HyloProcStream.h"
#include "stream/Records.h"

namespace hylo {

class StatusReplyHandler {
 public:
  StatusReplyHandler(HyloNodes& nodes, std::function<int(MessageNode*)> post) : nodes_(nodes), post_(std::move(post)) {}

  void SetStatusSink(StreamStatusSink sink) { status_ = std::move(sink); }
  void SetModelCode(int model) { model_ = model; }
  // The scan interval in seconds, used where a record's length follows from it.
  void SetScanInterval(double seconds) { scanInterval_ = seconds; }

  // Every start of scanning skips the first replies.
  void ArmSkip();
  // MainWorkThread counts each enquiry it sends.
  void CountRequest();
  int Requests() const;

  // 0 when handled (or ignored by rule); negative when a block was malformed and dropped.
  int HandleStatusReply(std::span<const std::uint8_t> payload);
  int SkipCounter() const;
  std::uint64_t Malformed() const { return malformed_; }

 private:
  struct FftBlock {
    std::span<const std::uint8_t> bytes;
  };
  int BuildSpectrum(std::span<const std::uint8_t> block, bool haveTime, std::uint32_t fftTime);
  int BuildWaveform(std::span<const std::uint8_t> block, bool haveStart, std::uint32_t start, std::uint32_t time);
  // 0 when queued, −1 without a free node, −43 when the next stage refused it.
  template <typename Fill>
  int Emit(std::int32_t type, Fill&& fill) {
    return PostToResult(nodes_, post_, type, std::forward<Fill>(fill));
  }

  HyloNodes& nodes_;
  std::function<int(MessageNode*)> post_;
  StreamStatusSink status_;
  int model_ = 0;
  double scanInterval_ = 0.0625;
  mutable std::mutex lock_;
  int skip_ = 0;
  int requests_ = 0;
  std::uint64_t malformed_ = 0;
};

}  // namespace hylo
