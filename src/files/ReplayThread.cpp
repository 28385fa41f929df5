#include "files/ReplayThread.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/Post.h"
#include "stream/Records.h"

namespace hylo {

namespace {
// Nodes kept free for live control traffic while a replay runs.
constexpr int kReplayNodeReserve = 100;
constexpr auto kNodeWaitStep = std::chrono::milliseconds(5);
constexpr int kFastRecordsPerTick = 64;
constexpr int kRealtimeTickMs = 10;
}  // namespace

bool ReplayThread::StartReplay(std::vector<std::string> files) {
  std::uint64_t id = 0;
  {
    std::lock_guard guard(listLock_);
    id = nextListId_++;
    handedOver_.emplace(id, std::move(files));
  }
  stopping_ = false;
  if (Post(threads_, REPLAY_THREAD, MSG_REPLAY_START, StartPayload{id})) return true;
  std::lock_guard guard(listLock_);
  handedOver_.erase(id);
  return false;
}

bool ReplayThread::StopReplay() {
  // Ends a wait for a free node at once; the message does the rest.
  stopping_ = true;
  return Post(threads_, REPLAY_THREAD, MSG_REPLAY_STOP);
}

ReplayProgress ReplayThread::Progress() const {
  std::lock_guard guard(progressLock_);
  ReplayProgress p = progress_;
  p.paused = paused_.load();
  return p;
}

bool ReplayThread::Handle(MessageNode& node) {
  if (!reader_ && node.type != MSG_REPLAY_START && node.type != MSG_REPLAY_STOP) {
    tickMs_ = -1;
    return false;
  }
  switch (node.type) {
    case MSG_REPLAY_START:
      Start(node.As<StartPayload>().listId);
      break;
    case MSG_REPLAY_STOP:
      End();
      break;
    case MSG_REPLAY_NEXT:
      CloseFile();
      if (!OpenNext()) End();
      break;
    case MSG_SET_PERIOD:
      tickMs_ = node.As<std::int32_t>();
      break;
    case MSG_REPLAY_STEP:
      Tick();
      break;
    default:
      break;
  }
  return false;
}

void ReplayThread::Start(std::uint64_t listId) {
  std::vector<std::string> files;
  bool haveList = false;
  {
    std::lock_guard guard(listLock_);
    if (auto it = handedOver_.find(listId); it != handedOver_.end()) {
      files = std::move(it->second);
      handedOver_.erase(it);
      haveList = true;
    }
  }
  CloseFile();
  if (haveList && !files.empty()) list_ = std::move(files);
  stream_.reset();
  samplePosition_ = 0;
  streamRecords_ = 0;
  streamSeconds_ = 0;
  fileIndex_ = 0;
  stopping_ = false;
  // Starting a replay lets data records flow again.
  threads_.SetScanStopped(false);
  threads_.SetScanPaused(false);
  replaying_ = true;
  if (context_.setReplaying) context_.setReplaying(true);
  paceStart_ = std::chrono::steady_clock::now();
  pacedSeconds_ = 0;
  if (!OpenNext()) End();
}

void ReplayThread::End() {
  const bool was = replaying_.exchange(false);
  CloseFile();
  Publish();
  tickMs_ = -1;
  {
    std::lock_guard guard(progressLock_);
    progress_.replaying = false;
  }
  if (was) {
    PostFileMarker({});
    if (context_.setReplaying) context_.setReplaying(false);
    if (context_.finished) context_.finished();
  }
}

bool ReplayThread::OpenNext() {
  while (fileIndex_ < list_.size()) {
    const std::string path = list_[fileIndex_++];
    if (OpenFile(path)) return true;
  }
  return false;
}

bool ReplayThread::OpenFile(const std::string& path) {
  auto refuse = [&](const std::string& reason) {
    CloseFile();
    if (context_.fileRefused) context_.fileRefused(path, reason);
    return false;
  };
  const ReplayKind kind = ReplayKindOfName(std::filesystem::path(path).filename().string());
  if (kind == ReplayKind::kNone) return refuse("Invalid File Selected");
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  file_.reset(error ? nullptr : std::fopen(path.c_str(), "rb"));
  if (!file_) return refuse("Error: Cannot open replay file");
  reader_ = MakeReplayReader(kind);
  if (const std::string reason = reader_->Open(file_.get(), size); !reason.empty()) return refuse(reason);

  const ReplayStream& s = reader_->Stream();
  if (!stream_ || !s.SameStreamAs(*stream_)) {
    samplePosition_ = 0;
    streamRecords_ = 0;
    streamSeconds_ = 0;
    baseTime_ = s.startTime;
    if (context_.newStream) context_.newStream(s);
  }
  stream_ = s;
  firstTick_ = true;
  const std::string name = std::filesystem::path(path).filename().string();
  {
    std::lock_guard guard(progressLock_);
    progress_.replaying = true;
    progress_.currentName = name;
    progress_.fileIndex = static_cast<int>(fileIndex_);
    progress_.fileCount = static_cast<int>(list_.size());
  }
  Publish();
  PostFileMarker(name);
  if (context_.fileStarted) context_.fileStarted(s, path);
  tickMs_ = TickMs();
  return true;
}

// In the records' own queue, so each stage meets the name in order with the records.
void ReplayThread::PostFileMarker(const std::string& name) {
  Post(threads_, WAVE_THREAD, MSG_REPLAY_FILE, [&name](MessageNode& node) {
    const std::size_t n = std::min(name.size(), kReplayNameBytes - 1);
    std::memcpy(node.payload, name.data(), n);
    node.payload[n] = std::byte{0};
  });
}

void ReplayThread::CloseFile() {
  reader_.reset();
  file_.reset();
}

int ReplayThread::TickMs() const {
  switch (pace_.load()) {
    case ReplayPace::kFast:
      return 0;
    case ReplayPace::kRealtime:
      return kRealtimeTickMs;
    case ReplayPace::kTicks:
    default:
      // Cut to whole ms, at least 1 and at most an hour (a header may claim any interval).
      return stream_ ? static_cast<int>(std::clamp(stream_->tickSeconds * 1000, 1.0, 3600000.0)) : -1;
  }
}

void ReplayThread::Tick() {
  if (!reader_ || paused_) return;
  const ReplayPace pace = pace_.load();
  int n = rate_.load();
  if (pace == ReplayPace::kFast) n = kFastRecordsPerTick;
  // The first tick after a WAV file opens reads about one second.
  if (pace == ReplayPace::kTicks && firstTick_ && reader_->IsWaveform())
    n = static_cast<int>(stream_->sampleRate / 1000 + 1);
  firstTick_ = false;
  const auto due = std::chrono::duration<double>(std::chrono::steady_clock::now() - paceStart_).count();
  for (int i = 0; pace == ReplayPace::kRealtime || i < n; ++i) {
    if (pace == ReplayPace::kRealtime && pacedSeconds_ >= due) break;
    const int r = ReadRecord();
    if (r == 0) {
      // The end of this file: the next one opens, or the replay ends.
      CloseFile();
      if (!OpenNext()) End();
      return;
    }
    if (r < 0) return;
  }
  Publish();
}

MessageNode* ReplayThread::TakeNode(std::int32_t type) {
  for (;;) {
    if (MessageNode* node = threads_.Nodes().AllocNode(type, kReplayNodeReserve)) return node;
    if (stopping_ || threads_.ScanStopped()) return nullptr;
    threads_.FlushPosts();  // the records held back are what frees nodes
    std::this_thread::sleep_for(kNodeWaitStep);
  }
}

int ReplayThread::ReadRecord() {
  const bool wave = reader_->IsWaveform();
  MessageNode* node = TakeNode(wave ? MSG_WAVEFORM : MSG_SPECTRUM);
  if (!node) return -1;
  const ReplayStream& s = *stream_;
  double seconds = 0;
  if (wave) {
    auto& r = node->As<WaveformRecord>();
    r = WaveformRecord{};
    if (reader_->ReadWave(r) != ReplayReader::Result::kRecord) {
      threads_.Nodes().ReleaseNode(node);
      return 0;
    }
    r.firstSample = samplePosition_;
    const std::uint64_t whole = samplePosition_ / s.sampleRate;
    r.timeStamp = static_cast<std::uint32_t>(baseTime_ + whole);
    r.blockOffset = static_cast<std::uint32_t>(samplePosition_ % s.sampleRate);
    samplePosition_ += r.sampleCount;
    seconds = static_cast<double>(r.sampleCount) / s.sampleRate;
  } else {
    auto& r = node->As<SpectrumRecord>();
    r = SpectrumRecord{};
    if (reader_->ReadSpectrum(r) != ReplayReader::Result::kRecord) {
      threads_.Nodes().ReleaseNode(node);
      return 0;
    }
    const ReplayStream& now = reader_->Stream();  // text lines update the status values
    r.reference = now.gain;
    r.sampleRate = s.sampleRate;
    r.fftLength = s.fftLength;
    r.accumulation = s.accumulation;
    r.fftStep = s.fftStep;
    r.fftType = s.fftType;
    r.weight = s.weight;
    r.recordSeconds = s.recordSeconds;
    r.recordIndex = ++streamRecords_;
    if (s.kind == ReplayKind::kFft) {
      r.firstSample = samplePosition_;
      r.timeSeconds = baseTime_ + s.recordSeconds * static_cast<double>(streamRecords_ - 1);
      r.timeStamp = static_cast<std::uint32_t>(std::min(r.timeSeconds, 4294967295.0));
    }
    samplePosition_ += s.fftStep;
    seconds = s.recordSeconds;
    if (context_.comment && !reader_->Comment().empty()) context_.comment(reader_->Comment());
  }
  streamSeconds_ += seconds;
  pacedSeconds_ += seconds;
  if (threads_.PostNode(WAVE_THREAD, node) != 1) threads_.Nodes().ReleaseNode(node);
  return 1;
}

void ReplayThread::Publish() {
  std::lock_guard guard(progressLock_);
  progress_.samplePosition = samplePosition_;
  progress_.streamSeconds = streamSeconds_;
  progress_.totalSeconds = pacedSeconds_;
}

}  // namespace hylo
