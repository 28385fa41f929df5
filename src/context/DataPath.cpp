#include "context/DataPath.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/Post.h"
#include "files/HyloReplay.h"
#include "shell/OperatorPort.h"
#include "stream/StreamBytes.h"

namespace hylo {

DataPath::DataPath(HyloNodes& nodes, HyloThreadControl& threads, HyloIni& ini, OperatorPort& op, SettingsGroups& groups,
                   HyloWav& wav)
    : nodes_(nodes),
      threads_(threads),
      operator_(op),
      groups_(groups),
      streamMessages_(nodes, [this](MessageNode* n) { return Forward(WAVE_THREAD, n); }),
      statusReplies_(nodes, [this](MessageNode* n) { return Forward(WAVE_THREAD, n); }),
      reference_(nodes, groups.reference),
      wave_(nodes),
      fft_(nodes),
      trigger_(nodes),
      logging_(ini, op, groups.logging, wav),
      impulse_(nodes) {
  streamMessages_.Attach(streams_);
  streamMessages_.SetStatusSink(StatusSink());
  statusReplies_.SetStatusSink(StatusSink());
  reference_.SetPublisher([this](MessageNode* n) {
    const int posted = Forward(UI_UPDATE_THREAD, n);
    RefreshAudioLevel();
    return posted;
  });
  reference_.SetChartReset([this] { Post(threads_, IMPULSE_THREAD, MSG_RESET_CHARTS); });

  auto fftTransport = [this] { return Transports().fft; };
  auto waveTransport = [this] { return Transports().wave; };
  auto customScan = [this] { return groups_.display.useCustomScanRate; };
  auto scanInterval = [this] { return groups_.display.scanPeriod; };
  auto setScanInterval = [this](double t) {
    groups_.display.scanPeriod = t;
    statusReplies_.SetScanInterval(t);
  };

  HyloProcWave::Context w;
  w.replayInProgress = [this] { return ReplayInProgress(); };
  w.replayActive = [this] { return ReplayActive(); };
  w.waveTransport = waveTransport;
  w.fftTransport = fftTransport;
  w.customScanRate = customScan;
  w.scanInterval = scanInterval;
  w.setScanInterval = setScanInterval;
  w.postTrigger = [this](MessageNode* n) {
    {
      std::lock_guard guard(waveTapLock_);
      if (waveTap_) waveTap_(n->As<WaveformRecord>());
    }
    return Forward(TRIGGER_THREAD, n);
  };
  w.postFft = [this](MessageNode* n) { return Forward(FFT_THREAD, n); };
  w.audio = [this](const WaveformRecord& r) { audio_.FeedAudio(r); };
  wave_.SetContext(w);

  HyloProcFft::Context f;
  f.replayInProgress = w.replayInProgress;
  f.replayActive = w.replayActive;
  f.logReplaySpectra = [this] { return logReplaySpectra_.load(); };
  f.fftTransport = fftTransport;
  f.customScanRate = customScan;
  f.scanInterval = scanInterval;
  f.setScanInterval = setScanInterval;
  f.densityCorrection = [this](double rate, double length) { reference_.SetDensityCorrection(rate, length); };
  f.postLog = [this](MessageNode* n) { return Forward(LOG_THREAD, n); };
  f.postTrigger = [this](MessageNode* n) {
    {
      std::lock_guard guard(spectrumTapLock_);
      if (spectrumTap_ && n->type == MSG_SPECTRUM) spectrumTap_(n->As<SpectrumRecord>());
    }
    return Forward(TRIGGER_THREAD, n);
  };
  f.postDisplay = [this](MessageNode* n) { return Forward(UI_UPDATE_THREAD, n); };
  fft_.SetContext(f);

  HyloTrigger::Context t;
  t.postDisplay = [this](MessageNode* n) { return Forward(UI_UPDATE_THREAD, n); };
  t.postLog = [this](MessageNode* n) { return Forward(LOG_THREAD, n); };
  t.replayingFile = w.replayInProgress;
  t.eventFired = [this](const FiredEvent& e) { logging_.Clips().AddEvent({e.firstSample, e.time, e.slot}); };
  t.postImpulse = [this](MessageNode* n) { return Forward(IMPULSE_THREAD, n); };
  trigger_.SetContext(t);

  HyloImpulse::Context im;
  im.postDisplay = [this](MessageNode* n) { return Forward(UI_UPDATE_THREAD, n); };
  im.postLog = [this](MessageNode* n) { return Forward(LOG_THREAD, n); };
  im.sensitivity = [this] { return reference_.GetSensitivity(); };
  im.debugFolder = [this] {
    std::lock_guard guard(impulseTapLock_);
    return impulseDebugFolder_;
  };
  im.measured = [this](const ImpulseRecord& r) {
    std::lock_guard guard(impulseTapLock_);
    if (impulseTap_) impulseTap_(r);
  };
  impulse_.SetContext(im);

  auto headerInfo = [this] {
    WavHeaderInfo info;
    {
      std::lock_guard guard(identityLock_);
      info.identity = identity_;
    }
    info.sensitivityDb = reference_.GetSensitivity();
    info.temperatureTenths = status_.GetTemperature();
    info.humidityTenths = status_.GetHumidity();
    return info;
  };
  headerInfo_ = headerInfo;
  HyloLogging::Context l;
  l.headerInfo = headerInfo;
  l.stopDataCollection = [this] {
    if (stopDataCollection_) stopDataCollection_();
  };
  auto statusLine = [this](std::string_view line) {
    std::lock_guard guard(statusLineLock_);
    if (statusLine_) statusLine_(line);
  };
  l.statusLine = statusLine;
  l.epochText = [this](int side, std::string_view text) {
    std::lock_guard guard(epochTextTapLock_);
    if (epochTextTap_) epochTextTap_(side, text);
  };
  wav.SetStatusLine(statusLine);
  logging_.SetContext(l);
  wav.SetHeaderSource(headerInfo);
  wav.SetStopDataCollection([this] {
    if (stopDataCollection_) stopDataCollection_();
  });
  WireReplay();
  WireListening();
}

void DataPath::WireReplay() {
  ReplayThread::Context c;
  c.setReplaying = [this](bool on) {
    if (on) replayActive_ = true;
    replayInProgress_ = on;
    if (on)
      replayAwake_.Acquire();
    else
      replayAwake_.Release();
  };
  c.newStream = [this](const ReplayStream&) { NewReplayStream(); };
  c.fileStarted = [this](const ReplayStream& s, const std::string& path) {
    reference_.SetSensitivity(s.sensitivity);
    status_.SetTemperature(s.temperatureTenths);
    status_.SetHumidity(s.humidityTenths);
    status_.SetReplayName(std::filesystem::path(path).filename().string());
    {
      std::lock_guard guard(statusLineLock_);
      if (statusLine_)
        statusLine_(s.kind == ReplayKind::kWav   ? std::string("Replaying .Wav File")
                    : s.kind == ReplayKind::kFft ? std::string("Replaying Aurisond FFT Log")
                                                 : "Unit #: " + std::to_string(s.serialNumber));
    }
    std::lock_guard guard(replayEventsLock_);
    if (replayEvents_.fileStarted) replayEvents_.fileStarted(path);
  };
  c.fileRefused = [this](const std::string& path, const std::string& reason) {
    const std::string name = std::filesystem::path(path).filename().string();
    operator_.ShowNotice(reason == "Invalid File Selected"
                             ? reason + ": " + name
                             : name + ": " + reason +
                                   "\n\nFile Replay Failed.\nEnsure the file is valid and try again.");
    std::lock_guard guard(replayEventsLock_);
    if (replayEvents_.fileRefused) replayEvents_.fileRefused(path, reason);
  };
  c.finished = [this] {
    std::lock_guard guard(replayEventsLock_);
    if (replayEvents_.finished) replayEvents_.finished();
  };
  replay_.SetContext(std::move(c));
}

void DataPath::NewReplayStream() {
  // The records of the previous stream leave the chain before its counters restart.
  DrainPipeline(std::chrono::seconds(5));
  Post(threads_, WAVE_THREAD, MSG_RESET_PROCESSING);
  Post(threads_, FFT_THREAD, MSG_RESET_PROCESSING);
  Post(threads_, IMPULSE_THREAD, MSG_RESET_CHARTS);
  if (logReplaySpectra_) {
    // One FFT log per stream: the next spectrum opens a new file with this stream's header.
    if (threads_.Started()) threads_.Barrier(LOG_THREAD, std::chrono::seconds(5));
    logging_.CloseLog(0);
  }
}

void DataPath::SetReplayEvents(ReplayEvents events) {
  std::lock_guard guard(replayEventsLock_);
  replayEvents_ = std::move(events);
}

StreamStatusSink DataPath::StatusSink() {
  StreamStatusSink sink;
  sink.environment = [this](std::optional<int> t, std::optional<int> h) {
    if (t) status_.SetTemperature(*t);
    if (h) status_.SetHumidity(*h);
  };
  sink.battery = [this](int level, int state) { status_.SetBattery(level, state); };
  sink.sensitivity = [this](int db) { reference_.SetSensitivity(db); };
  sink.orientation = [this](const std::array<std::int16_t, 6>& v) { status_.SetOrientation(v); };
  sink.sync = [this](const std::array<std::uint8_t, 24>& record, std::uint32_t state) {
    status_.SetSyncRecord(record);
    status_.SetSyncState(static_cast<std::int32_t>(state));
  };
  sink.power = [this](const std::array<std::uint8_t, 20>& record) { status_.SetPowerRecord(record); };
  sink.leds = [this](const std::array<std::uint8_t, 5>& leds) {
    Post(threads_, UI_UPDATE_THREAD, MSG_STATUS_LEDS, [&leds](MessageNode& n) {
      // Six indicator bytes and a 32-bit group selector (0: the instrument's row).
      std::memset(n.payload, 0, 12);
      std::memcpy(n.payload, leds.data(), leds.size());
    });
  };
  sink.notice = [this](std::string_view text) { operator_.ShowNotice(text); };
  return sink;
}

void DataPath::SetEpochTextTap(std::function<void(int, std::string_view)> tap) {
  std::lock_guard guard(epochTextTapLock_);
  epochTextTap_ = std::move(tap);
}

void DataPath::SetLogStatusLine(std::function<void(std::string_view)> line) {
  std::lock_guard guard(statusLineLock_);
  statusLine_ = std::move(line);
}

void DataPath::DrainPipeline(std::chrono::milliseconds timeout) {
  if (!threads_.Started()) return;
  for (const int slot : {MSG_PROC_THREAD, WAVE_THREAD, FFT_THREAD, TRIGGER_THREAD, IMPULSE_THREAD})
    threads_.Barrier(slot, timeout);
}

void DataPath::FinishLogging(std::chrono::milliseconds timeout) {
  if (threads_.Started()) {
    const std::uint64_t before = logging_.FinishedStops();
    if (hylo::Post(threads_, TRIGGER_THREAD, MSG_WAVE_TAIL)) logging_.WaitFinishedStops(before, timeout);
  }
  logging_.StopLogging();
}

void DataPath::SetWaveTap(std::function<void(const WaveformRecord&)> tap) {
  std::lock_guard guard(waveTapLock_);
  waveTap_ = std::move(tap);
}

void DataPath::SetSpectrumTap(std::function<void(const SpectrumRecord&)> tap) {
  std::lock_guard guard(spectrumTapLock_);
  spectrumTap_ = std::move(tap);
}

void DataPath::SetIdentity(const DeviceIdentity& identity) {
  {
    std::lock_guard guard(identityLock_);
    identity_ = identity;
    // A unit of another type brings its own calibration spectra.
    if (!calibrationReload_) {
      calibrationReload_.emplace(logging_.GetSettingsFolder(), [this](const CalibrationSpectrum& bins) {
        cal_.SetAmbient(bins);
        reference_.SetAmbientReference(bins, false);
      });
    }
    calibrationReload_->OnIdentity(identity.modelCode);
  }
  statusReplies_.SetModelCode(identity.modelCode);
  streamMessages_.SetFirmwareVersion(FirmwareVersion(identity.firmwareText));
}

bool DataPath::MsgProcWorker::Handle(MessageNode& node) {
  if (node.type == MSG_REPLY_FRAME) {
    if (replies) replies(node);
  } else {
    path->HandleStreamBytes(node);
  }
  return false;
}

void DataPath::ApplyImpulseSettings() {
  const ImpulseDetectionSettings& s = groups_.impulse;
  trigger_.SetImpulseDetection(
      s.enabled, {s.detectionThreshold, s.resetThreshold, s.preDetectionInterval, s.postDetectionInterval});
}

void DataPath::SetImpulseDebugFolder(const std::filesystem::path& folder) {
  std::lock_guard guard(impulseTapLock_);
  impulseDebugFolder_ = folder;
}

void DataPath::SetImpulseTap(std::function<void(const ImpulseRecord&)> tap) {
  std::lock_guard guard(impulseTapLock_);
  impulseTap_ = std::move(tap);
}

void DataPath::Initialise() {
  reference_.InitReferences();
  statusReplies_.SetScanInterval(groups_.display.scanPeriod);
  status_.SetDisplayUtc(groups_.main.displayInUtc);
  ApplyClipSettings();
  ApplyImpulseSettings();
}

bool DataPath::LoadClickTemplate(const std::filesystem::path& path) {
  fft_.ClearTemplate();
  if (path.empty()) return true;
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(error ? nullptr : std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  auto reader = MakeReplayReader(ReplayKind::kText);
  SpectrumRecord first{};
  if (!file || !reader->Open(file.get(), size).empty() ||
      reader->ReadSpectrum(first) != ReplayReader::Result::kRecord) {
    operator_.ShowNotice("Failed to Read File Header.");
    return false;
  }
  first.sampleRate = reader->Stream().sampleRate;  // the template's rate is the header's
  return Post(threads_, WAVE_THREAD, MSG_SPECTRUM_REPLAYED, first);
}

void DataPath::ApplyClipSettings() {
  const TriggerSettings& t = groups_.trigger;
  ClipSettings clips{t.clipsEnabled, t.clipFolder, t.clipSecondsBefore, t.clipSecondsAfter};
  if (clips.folder.empty()) clips.folder = std::filesystem::path(groups_.wav.path) / "Events";
  logging_.Clips().Configure(clips, headerInfo_);
}

void DataPath::WorkersStarted() {
  reference_.PublishReferences({reference_.DisplayReference(), false, reference_.Unit()});
}

void DataPath::RegisterWorkers() {
  msgProc_.path = this;
  threads_.SetWorker(MSG_PROC_THREAD, &msgProc_);
  threads_.SetWorker(IMPULSE_THREAD, &impulse_);
  threads_.SetWorker(UI_UPDATE_THREAD, &ui_);
  threads_.SetWorker(LOG_THREAD, &logging_);
  threads_.SetWorker(TRIGGER_THREAD, &trigger_);
  threads_.SetWorker(WAVE_THREAD, &wave_);
  threads_.SetWorker(FFT_THREAD, &fft_);
  threads_.SetWorker(REPLAY_THREAD, &replay_);
}

void DataPath::HandleStreamBytes(MessageNode& node) {
  int stream = -1;
  if (node.type == MSG_WAVE_STREAM_BYTES) stream = STREAM_WAVE;
  if (node.type == MSG_FFT_STREAM_BYTES) stream = STREAM_FFT;
  if (node.type == MSG_STATUS_STREAM_BYTES) stream = STREAM_STATUS;
  if (stream < 0) return;
  const auto& reads = node.As<StreamBytes>();
  for (std::size_t i = 0; i < reads.Reads(); ++i) {
    const auto read = reads.View(i);
    if (!read.empty()) streams_.ReassembleStream(stream, read, reads.datagram != 0);
  }
}

}  // namespace hylo
