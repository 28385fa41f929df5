#pragma once
// Event clips: a WAV file per host event with a chosen time before and after the record at
// which the event fired. LogThread keeps the newest seconds of the logging copy of the wave
// in a ring (only while clips are on) and cuts each clip once its tail has arrived.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "files/HyloWav.h"
#include "stream/Records.h"

namespace hylo {

inline constexpr std::uint32_t kMaxClipSeconds = 30;  // each side of the event

struct ClipSettings {
  bool enabled = false;
  std::filesystem::path folder;
  std::uint32_t preSeconds = 5;
  std::uint32_t postSeconds = 5;
  bool operator==(const ClipSettings&) const = default;
};

struct ClipEvent {
  std::uint64_t anchorSample = 0;  // the first sample of the record at which the event fired
  std::uint32_t time = 0;          // the event line's time, for the name
  std::size_t slot = 0;
};

// "Event_20261208_121336_T1.wav": the event's UTC time and the 1-based trigger number.
std::string ClipFileName(std::uint32_t time, std::size_t slot);

class EventClips {
 public:
  // Any thread. Seconds are limited to 0..30.
  void Configure(ClipSettings settings, std::function<WavHeaderInfo()> headerInfo);
  ClipSettings Settings() const;
  // Any thread (TriggerThread): an event to cut a clip for.
  void AddEvent(const ClipEvent& event);

  // LogThread: a packed logging block (whole second or the tail), in order.
  void AddBlock(const WaveformRecord& block);
  // LogThread, at Stop: clips still waiting for their tail keep what arrived.
  void Finish();

  std::uint64_t ClipsWritten() const;
  std::uint64_t WriteFailures() const;

 private:
  void TakeNewEvents();
  void ResetRing(const WaveformRecord& block);
  void WriteDue(bool all);
  bool WriteClip(const ClipEvent& e);
  std::uint64_t Newest() const { return oldest_ + count_; }
  std::uint64_t ClipEnd(const ClipEvent& e) const {
    return e.anchorSample + std::uint64_t{active_.postSeconds} * rate_;
  }

  mutable std::mutex lock_;  // settings and incoming events
  ClipSettings settings_;
  std::function<WavHeaderInfo()> headerInfo_;
  std::vector<ClipEvent> incoming_;
  std::uint64_t written_ = 0, failures_ = 0;

  // LogThread only.
  ClipSettings active_;
  std::vector<ClipEvent> pending_;
  std::vector<std::uint8_t> ring_;  // packed samples
  std::size_t width_ = 0;
  std::uint32_t rate_ = 0;
  double rangeVolts_ = 0;
  std::uint8_t format_ = 0;
  std::size_t capacity_ = 0;  // samples
  std::size_t head_ = 0;      // ring position of the oldest sample
  std::uint64_t oldest_ = 0;  // sample index of the oldest sample
  std::uint64_t count_ = 0;
  std::uint64_t refSample_ = 0;  // a sample whose time is known: the newest block's first
  std::uint32_t refTime_ = 0;
};

}  // namespace hylo
