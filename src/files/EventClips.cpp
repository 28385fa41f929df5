#include "files/EventClips.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/Folders.h"
#include "platform/LogFile.h"
#include "wire/Bytes.h"

namespace hylo {

namespace {
// Seconds of ring beyond the clip itself: the logging copy and the event reach LogThread by
// different paths, either may lead.
constexpr std::uint32_t kSlackSeconds = 4;
}  // namespace

std::string ClipFileName(std::uint32_t time, std::size_t slot) {
  using namespace std::chrono;
  const sys_seconds at{seconds{time}};
  const auto day = floor<days>(at);
  const year_month_day d{day};
  const hh_mm_ss c{at - day};
  char name[64];
  std::snprintf(name, sizeof name, "Event_%04d%02u%02u_%02d%02d%02d_T%zu.wav", int{d.year()}, unsigned{d.month()},
                unsigned{d.day()}, static_cast<int>(c.hours().count()), static_cast<int>(c.minutes().count()),
                static_cast<int>(c.seconds().count()), slot + 1);
  return name;
}

void EventClips::Configure(ClipSettings settings, std::function<WavHeaderInfo()> headerInfo) {
  settings.preSeconds = std::min(settings.preSeconds, kMaxClipSeconds);
  settings.postSeconds = std::min(settings.postSeconds, kMaxClipSeconds);
  std::lock_guard guard(lock_);
  settings_ = std::move(settings);
  headerInfo_ = std::move(headerInfo);
}

ClipSettings EventClips::Settings() const {
  std::lock_guard guard(lock_);
  return settings_;
}

void EventClips::AddEvent(const ClipEvent& event) {
  std::lock_guard guard(lock_);
  if (settings_.enabled) incoming_.push_back(event);
}

std::uint64_t EventClips::ClipsWritten() const {
  std::lock_guard guard(lock_);
  return written_;
}

std::uint64_t EventClips::WriteFailures() const {
  std::lock_guard guard(lock_);
  return failures_;
}

void EventClips::TakeNewEvents() {
  std::vector<ClipEvent> events;
  bool changed = false;
  ClipSettings settings;
  {
    std::lock_guard guard(lock_);
    changed = !(settings_ == active_);
    settings = settings_;
    events.swap(incoming_);
  }
  if (changed) {
    // New settings: clips waiting keep what arrived; a new ring starts at the next block.
    WriteDue(true);
    active_ = settings;
    rate_ = 0;
    count_ = 0;
  }
  pending_.insert(pending_.end(), events.begin(), events.end());
}

void EventClips::ResetRing(const WaveformRecord& b) {
  // Clips of the stretch that ends here keep what arrived; later events wait for the new one.
  std::erase_if(pending_, [&](const ClipEvent& e) {
    if (count_ == 0 || e.anchorSample >= Newest()) return false;
    WriteClip(e);
    return true;
  });
  width_ = std::clamp<std::size_t>(b.sampleFormat & 0x7F, 1, 4);
  rate_ = b.sampleRate;
  format_ = b.sampleFormat;
  rangeVolts_ = b.rangeVolts;
  capacity_ = static_cast<std::size_t>(active_.preSeconds + active_.postSeconds + kSlackSeconds) * rate_;
  ring_.assign(capacity_ * width_, 0);
  head_ = 0;
  oldest_ = b.firstSample;
  count_ = 0;
}

void EventClips::AddBlock(const WaveformRecord& b) {
  TakeNewEvents();
  if (!active_.enabled) {
    pending_.clear();
    ring_ = {};
    rate_ = 0;
    return;
  }
  if (!b.sampleBuffer || b.sampleCount == 0 || b.sampleRate == 0) return;
  if (b.sampleRate != rate_ || b.sampleFormat != format_ || b.firstSample != Newest()) ResetRing(b);
  const auto* in = reinterpret_cast<const std::uint8_t*>(b.sampleBuffer->data);
  const std::size_t n = std::min<std::size_t>(b.sampleCount, kSampleBufferBytes / width_);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = (head_ + count_) % capacity_;
    std::memcpy(&ring_[at * width_], in + i * width_, width_);
    if (count_ < capacity_) {
      ++count_;
    } else {
      head_ = (head_ + 1) % capacity_;
      ++oldest_;
    }
  }
  refSample_ = b.firstSample;
  refTime_ = b.timeStamp;
  WriteDue(false);
}

void EventClips::Finish() {
  TakeNewEvents();
  WriteDue(true);
  pending_.clear();
}

void EventClips::WriteDue(bool all) {
  std::erase_if(pending_, [&](const ClipEvent& e) {
    if (!all && ClipEnd(e) > Newest()) return false;
    WriteClip(e);
    return true;
  });
}

bool EventClips::WriteClip(const ClipEvent& e) {
  if (rate_ == 0 || count_ == 0) return false;
  const std::uint64_t lead = std::uint64_t{active_.preSeconds} * rate_;
  const std::uint64_t first = std::max(e.anchorSample > lead ? e.anchorSample - lead : 0, oldest_);
  const std::uint64_t end = std::min(ClipEnd(e), Newest());
  if (end <= first) return false;
  const auto samples = static_cast<std::uint32_t>(end - first);
  std::vector<std::uint8_t> data(std::size_t{samples} * width_);
  for (std::uint64_t i = 0; i < samples; ++i) {
    const std::size_t at = (head_ + static_cast<std::size_t>(first - oldest_ + i)) % capacity_;
    std::memcpy(&data[i * width_], &ring_[at * width_], width_);
  }
  WavBlock block;
  block.sampleWidth = format_;
  // The first sample's second, from the newest block's known time.
  const auto ahead = static_cast<std::int64_t>(first) - static_cast<std::int64_t>(refSample_);
  const std::int64_t rate = rate_;
  block.blockTime = static_cast<std::uint32_t>(refTime_ + (ahead >= 0 ? ahead / rate : -((-ahead + rate - 1) / rate)));
  block.sampleRate = static_cast<std::int32_t>(rate_);
  block.sampleCount = static_cast<std::int32_t>(samples);
  block.fullScaleRange = rangeVolts_;
  std::error_code ec;
  platform::CreateFolderPath(active_.folder, ec);
  // Never over an earlier clip: a second event of a trigger in the same second gets "_1" ….
  const std::string base = ClipFileName(e.time, e.slot);
  int error = EEXIST;
  platform::LogFile file;
  std::filesystem::path path;
  for (int n = 0; n < 100 && error == EEXIST; ++n) {
    path = active_.folder / (n == 0 ? base : base.substr(0, base.size() - 4) + "_" + std::to_string(n) + ".wav");
    file = platform::LogFile::CreateNew(path, error);
  }
  std::function<WavHeaderInfo()> headerInfo;
  {
    std::lock_guard guard(lock_);
    headerInfo = headerInfo_;
  }
  bool ok = file.IsOpen();
  if (ok) {
    const WavHeader header = BuildWavHeader(headerInfo ? headerInfo() : WavHeaderInfo{}, block,
                                            path.filename().string(), static_cast<std::uint32_t>(data.size()));
    ok = file.Write(header).error == 0 && file.Write(data).error == 0 && file.Close() == 0;
  }
  std::lock_guard guard(lock_);
  ++(ok ? written_ : failures_);
  return ok;
}

}  // namespace hylo
