#pragma once
// The live data path, wired: stream bytes → records → WaveThread → FftThread and
// TriggerThread → LogThread and the displays. One object so the context stays small.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include "core/HyloThreadControl.h"
#include "display/HyloUIUpdate.h"
#include "files/HyloCalibrationFile.h"
#include "files/HyloLogging.h"
#include "files/HyloWav.h"
#include "files/ReplayThread.h"
#include "platform/KeepAwake.h"
#include "processing/HyloAudio.h"
#include "processing/HyloCal.h"
#include "processing/HyloImpulse.h"
#include "processing/HyloProcFft.h"
#include "processing/HyloProcWave.h"
#include "processing/HyloReference.h"
#include "processing/HyloTrigger.h"
#include "settings/SettingsGroups.h"
#include "stream/HyloProcStream.h"
#include "stream/ParseStreams.h"
#include "stream/StatusReply.h"
#include "stream/StatusStore.h"
#include "stream/StreamChannels.h"

namespace hylo {

class HyloIni;
class OperatorPort;

class DataPath {
 public:
  DataPath(HyloNodes& nodes, HyloThreadControl& threads, HyloIni& ini, OperatorPort& op, SettingsGroups& groups,
           HyloWav& wav);
  DataPath(const DataPath&) = delete;
  DataPath& operator=(const DataPath&) = delete;

  // After the settings are loaded: values that come from them.
  void Initialise();
  // Once the workers run: the first reference table for the displays.
  void WorkersStarted();
  // Gives the worker slots their objects; call before the workers start.
  void RegisterWorkers();
  // MsgProcThread's share of stream bytes (types 4, 5, 6).
  void HandleStreamBytes(MessageNode& node);
  // MsgProcThread: stream bytes here, reply frames (type 10) to the link's dispatch.
  void SetReplyDispatch(std::function<void(MessageNode&)> dispatch) { msgProc_.replies = std::move(dispatch); }
  // Where the scanning stop procedure plugs in (open-failure of a log stops collection).
  void SetStopDataCollection(std::function<void()> stop) { stopDataCollection_ = std::move(stop); }
  void SetIdentity(const DeviceIdentity& identity);
  // Event clips from the trigger settings (the host epoch tab's clip setting).
  void ApplyClipSettings();
  // `LoadClickTemplate`: clears the click template; the first record of a spectrum log becomes
  // the new one (through WaveThread, in order with the records). True when loaded or `path` is
  // empty; an unreadable file is told to the operator.
  bool LoadClickTemplate(const std::filesystem::path& path);
  // The logging half of Stop: the wave ring's partial second goes to the WAV log and the logs
  // close on LogThread, after what it already holds; waits up to `timeout`, then closes them
  // here in any case. Nothing opens a log again until BeginLogging.
  void FinishLogging(std::chrono::milliseconds timeout);
  // Lets every record already on its way pass the decoding and processing stages, in the
  // order they feed each other, so that a stop drops none of what arrived; each stage gets
  // up to `timeout`.
  void DrainPipeline(std::chrono::milliseconds timeout);
  // Where write failures of the logs are told besides the notice.
  void SetLogStatusLine(std::function<void(std::string_view)> line);
  // Where the stream transport codes are read (the job setup); set before the workers start.
  void SetStreamCodes(StreamCodesSource source) { streamCodes_ = std::move(source); }
  StreamCodes Transports() const { return streamCodes_ ? streamCodes_() : StreamCodes{}; }

  ParseStreams& Streams() { return streams_; }
  HyloProcStream& StreamMessages() { return streamMessages_; }
  StatusReplyHandler& StatusReplies() { return statusReplies_; }
  StatusStore& Status() { return status_; }
  HyloReference& Reference() { return reference_; }
  HyloProcWave& Wave() { return wave_; }
  HyloProcFft& Fft() { return fft_; }
  HyloTrigger& Trigger() { return trigger_; }
  HyloImpulse& Impulse() { return impulse_; }
  // The impulse detection settings (the settings group) into TriggerThread's candidate stage.
  void ApplyImpulseSettings();
  // Where ImpulseThread writes the bins of the latest impulse ("FFT_OUT.txt"); empty: nowhere.
  void SetImpulseDebugFolder(const std::filesystem::path& folder);
  // Sees every measured impulse (ImpulseThread; may be set any time).
  void SetImpulseTap(std::function<void(const ImpulseRecord&)> tap);
  HyloLogging& Logging() { return logging_; }
  HyloUIUpdate& Displays() { return ui_; }
  StreamChannels& Channels() { return channels_; }
  PanelModel& StatusPanel() { return statusPanel_; }
  HyloAudio& Audio() { return audio_; }
  HyloCal& Calibration() { return cal_; }
  // Loudness from the reference level, the colour-map span and the unit, into the audio output.
  void RefreshAudioLevel();
  // The audio switch: stored, and on switching on the filter is cleared and the level recomputed.
  void ToggleAudioActive(bool on);

  ReplayThread& Replay() { return replay_; }
  // What a front end hears of a replay (each from ReplayThread; may be set any time).
  struct ReplayEvents {
    std::function<void(const std::string& path)> fileStarted;
    std::function<void(const std::string& path, const std::string& reason)> fileRefused;
    std::function<void()> finished;
  };
  void SetReplayEvents(ReplayEvents events);
  // A headless replay logs the spectra it computes; the desktop app keeps them out of the log.
  void SetLogReplaySpectra(bool on) { logReplaySpectra_ = on; }
  bool ReplayInProgress() const { return replayInProgress_.load(); }
  bool ReplayActive() const { return replayActive_.load(); }
  // The computer is kept awake while a replay runs.
  bool ReplayKeepsAwake() const { return replayAwake_.Held(); }
  void SetReplayActive(bool on) { replayActive_ = on; }
  // Sees every waveform record as WaveThread hands it on (WaveThread; may be set any time).
  void SetWaveTap(std::function<void(const WaveformRecord&)> tap);
  // Sees every epoch text as it reaches LogThread, with its side (0 instrument, 1 host).
  void SetEpochTextTap(std::function<void(int, std::string_view)> tap);
  // Sees every spectrum record as FftThread hands it on (FftThread; may be set any time).
  void SetSpectrumTap(std::function<void(const SpectrumRecord&)> tap);

 private:
  int Forward(int slot, MessageNode* node) { return threads_.PostNode(slot, node); }
  StreamStatusSink StatusSink();
  void WireReplay();
  void WireListening();  // audio output and calibration (DataPathListening.cpp)
  void NewReplayStream();
  std::function<WavHeaderInfo()> headerInfo_;

  HyloNodes& nodes_;
  HyloThreadControl& threads_;
  OperatorPort& operator_;
  SettingsGroups& groups_;
  StreamCodesSource streamCodes_;
  ParseStreams streams_;
  StreamChannels channels_{threads_, streams_};
  HyloProcStream streamMessages_;
  StatusReplyHandler statusReplies_;
  StatusStore status_;
  HyloReference reference_;
  HyloProcWave wave_;
  HyloProcFft fft_;
  HyloTrigger trigger_;
  HyloLogging logging_;
  PanelModel statusPanel_{"status"};
  HyloUIUpdate ui_{status_, statusPanel_};
  struct MsgProcWorker final : Worker {
    DataPath* path = nullptr;
    std::function<void(MessageNode&)> replies;
    bool Handle(MessageNode& node) override;
  } msgProc_;
  HyloImpulse impulse_;
  std::mutex impulseTapLock_;
  std::function<void(const ImpulseRecord&)> impulseTap_;
  std::filesystem::path impulseDebugFolder_;  // under impulseTapLock_
  std::atomic<bool> replayInProgress_{false};
  std::atomic<bool> replayActive_{false};
  std::atomic<bool> logReplaySpectra_{false};
  ReplayThread replay_{threads_};
  platform::KeepAwake replayAwake_{"Hylo is replaying recordings"};
  HyloAudio audio_;
  HyloCal cal_;
  std::mutex replayEventsLock_;
  ReplayEvents replayEvents_;
  std::function<void()> stopDataCollection_;
  std::mutex statusLineLock_;
  std::function<void(std::string_view)> statusLine_;
  std::mutex waveTapLock_;
  std::function<void(const WaveformRecord&)> waveTap_;
  std::mutex epochTextTapLock_;
  std::function<void(int, std::string_view)> epochTextTap_;
  std::mutex spectrumTapLock_;
  std::function<void(const SpectrumRecord&)> spectrumTap_;
  mutable std::mutex identityLock_;
  DeviceIdentity identity_;
  std::optional<CalibrationReloader> calibrationReload_;  // under identityLock_
};

}  // namespace hylo
