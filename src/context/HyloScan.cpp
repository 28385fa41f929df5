#include "context/HyloScan.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "context/DataPath.h"
#include "core/HyloThreadControl.h"
#include "core/Post.h"
#include "files/HyloWav.h"
#include "link/LinkState.h"
#include "settings/SettingsGroups.h"
#include "shell/MainPanel.h"
#include "shell/OperatorPort.h"
#include "shell/PanelModel.h"
#include "shell/StatusLog.h"

namespace hylo {
namespace {

constexpr Firmware kEpochChannelFirmware(1, 4, 0);
constexpr Firmware kStatusChannelFirmware(2, 1, 0);
constexpr int kFftLogKind = 0;
constexpr int kImpulseLogKind = 3;
// LogThread writes what it holds before it closes the logs; a disk that stalls longer than
// this leaves the close to the stop itself.
constexpr std::chrono::milliseconds kFinishLoggingWait{2000};

bool StreamCapable(int model) { return model == kModelHf || model == kModelAf; }
bool SocketTransport(int transport) { return transport == TRANSPORT_UDP || transport == TRANSPORT_TCP; }

}  // namespace

ScanPlan PlanScanning(const ScanInputs& in) {
  ScanPlan plan;
  plan.periodicEnquiry = in.waveTransport == TRANSPORT_LINK || in.fftTransport == TRANSPORT_LINK ||
                         (in.waveTransport == TRANSPORT_OFF && in.fftTransport == TRANSPORT_OFF);
  plan.streamCapable = StreamCapable(in.modelCode);
  // A resume finds its channels open; a serial link has no network address to stream to.
  if (!plan.streamCapable || in.restart || in.connectionType != LINK_ETHERNET) return plan;
  plan.openWave = SocketTransport(in.waveTransport);
  plan.openFft = SocketTransport(in.fftTransport);
  plan.epochChannel = in.firmware >= kEpochChannelFirmware;
  plan.openStatus = in.firmware >= kStatusChannelFirmware;
  return plan;
}

HyloScan::HyloScan(HyloThreadControl& threads, DataPath& data, SettingsGroups& groups, HyloWav& wav, StatusLog& log,
                   OperatorPort& op, PanelModel& mainPanel)
    : threads_(threads), data_(data), groups_(groups), wav_(wav), log_(log), operator_(op), mainPanel_(mainPanel) {
  UpdateControls();
}

ScanInputs HyloScan::Inputs(bool restart) const {
  ScanInputs in;
  in.connectionType = link_.connectionType ? link_.connectionType() : LINK_NONE;
  const DeviceIdentity identity = link_.identity ? link_.identity() : DeviceIdentity{};
  in.modelCode = identity.modelCode;
  in.firmware = FirmwareVersion(identity.firmwareText);
  const StreamCodes codes = data_.Transports();
  in.waveTransport = codes.wave;
  in.fftTransport = codes.fft;
  in.restart = restart;
  return in;
}

ScanPlan HyloScan::LastPlan() const {
  std::lock_guard guard(planLock_);
  return lastPlan_;
}

void HyloScan::PostReset(int slot, std::int32_t type) { Post(threads_, slot, type); }

void HyloScan::SetPeriod(std::int32_t periodMs) { Post(threads_, MAIN_WORK_THREAD, MSG_SET_PERIOD, periodMs); }

void HyloScan::SendJobSetup(bool start) {
  if (hooks_.sendJobSetup) hooks_.sendJobSetup(start);
}

void HyloScan::MarkActive(bool on) {
  active_ = on;
  data_.Displays().SetScanning(on);
}

void HyloScan::UpdateControls() {
  const bool running = active_ || paused_;
  mainPanel_.SetDimmed(scanpanel::kStart, running);
  mainPanel_.SetDimmed(scanpanel::kPause, !running);
  mainPanel_.SetLabel(scanpanel::kPause, paused_ ? "Resume" : "Pause");
  mainPanel_.SetDimmed(scanpanel::kStop, !running);
}

void HyloScan::WaitForChannels() {
  for (int place : {CONNECT_WAVE_STREAM, CONNECT_FFT_STREAM, CONNECT_STATUS_STREAM}) {
    if (threads_.TaskRunning(place)) threads_.WaitTask(place);
  }
}

int HyloScan::BeginScanning(bool restart) {
  if (hooks_.fitStreamCodes) hooks_.fitStreamCodes();
  const ScanInputs inputs = Inputs(restart);
  const ScanPlan plan = PlanScanning(inputs);
  {
    std::lock_guard guard(planLock_);
    lastPlan_ = plan;
  }
  data_.SetReplayActive(false);
  if (hooks_.writeJobHistory) hooks_.writeJobHistory();
  if (!restart) {
    PostReset(WAVE_THREAD, MSG_RESET_PROCESSING);
    PostReset(FFT_THREAD, MSG_RESET_PROCESSING);
  }
  if (link_.resetReplyParser) link_.resetReplyParser();
  data_.StatusReplies().ArmSkip();
  threads_.SetScanPaused(false);
  threads_.SetScanStopped(false);
  keepAwake_.Acquire();

  if (plan.periodicEnquiry) {
    const double seconds = groups_.display.scanPeriod;
    const auto ms = std::isfinite(seconds) ? std::lround(std::clamp(seconds, 0.001, 3600.0) * 1000) : 1000L;
    SetPeriod(static_cast<std::int32_t>(ms));
  }
  StreamChannels& channels = data_.Channels();
  // A start after a pause without a stop would otherwise keep dropping the data.
  channels.SetStreamDiscard(false);
  if (plan.streamCapable && !restart) {
    const StreamChannels::Peer peer = link_.peer ? link_.peer() : StreamChannels::Peer{};
    const int wave = inputs.waveTransport;
    const int fft = inputs.fftTransport;
    // A connect still running from an earlier start finishes before its place is reused.
    WaitForChannels();
    if (plan.openWave) {
      threads_.StartTask(CONNECT_WAVE_STREAM, [&channels, peer, wave] { channels.ConnectWaveStream(peer, wave); });
    }
    if (plan.openFft) {
      threads_.StartTask(CONNECT_FFT_STREAM, [&channels, peer, fft] { channels.ConnectFftStream(peer, fft); });
    }
    if (plan.epochChannel && hooks_.startEpochChannel) hooks_.startEpochChannel();
    if (plan.openStatus) {
      threads_.StartTask(CONNECT_STATUS_STREAM, [&channels, peer] { channels.ConnectStatusStream(peer); });
    }
  }
  SendJobSetup(true);
  MarkActive(true);
  return 0;
}

int HyloScan::StartScanningCallback() {
  if (!link_.connectionType || link_.connectionType() == LINK_NONE) {
    operator_.ShowNotice("No Active Connection.");
    if (hooks_.showConnectionPage) hooks_.showConnectionPage();
    MarkActive(false);
    paused_ = false;
    UpdateControls();
    return 0;
  }
  data_.Logging().BeginLogging();
  BeginScanning(false);
  paused_ = false;
  log_.Append("Scanning Started");
  PostReset(IMPULSE_THREAD, MSG_RESET_CHARTS);
  if (hooks_.applyDisplayTypes) hooks_.applyDisplayTypes();
  UpdateControls();
  return 0;
}

int HyloScan::PauseCallback() {
  if (hooks_.replayRunning && hooks_.replayRunning()) {
    if (hooks_.pauseReplay) hooks_.pauseReplay();
    return 0;
  }
  if (!active_ && !paused_) return 0;
  const bool pausing = !paused_;
  if (pausing) {
    SetPeriod(-1);
    keepAwake_.Release();
    MarkActive(false);
    // The sockets stay open; what still arrives is read and dropped.
    if (StreamCapable(Inputs(false).modelCode)) data_.Channels().SetStreamDiscard(true);
    SendJobSetup(false);
    log_.Append("Scanning Paused");
  } else {
    BeginScanning(true);
    if (hooks_.restoreChartState) hooks_.restoreChartState();
    MarkActive(true);
    log_.Append("Scanning Resumed");
  }
  paused_ = pausing;
  threads_.SetScanPaused(pausing);
  threads_.SetScanStopped(false);
  UpdateControls();
  return 0;
}

int HyloScan::StopCallback() {
  if (hooks_.replayRunning && hooks_.replayRunning()) {
    if (hooks_.stopReplay) hooks_.stopReplay();
    return 0;
  }
  // Nothing new comes in; what already arrived passes the stages before the stop rule drops
  // data records, so the files keep every sample received.
  threads_.SetScanPaused(false);
  SetPeriod(-1);
  if (StreamCapable(Inputs(false).modelCode)) {
    StreamChannels& channels = data_.Channels();
    channels.SetStreamDiscard(false);
    // A connect still under way would open its channel after the close and leave it streaming.
    WaitForChannels();
    channels.CloseStreams();
    if (link_.sendCommand) link_.sendCommand('Q');
  }
  data_.DrainPipeline(kFinishLoggingWait);
  threads_.SetScanStopped(true);
  // What already arrived is written, the logs close, and a record still on its way opens none.
  data_.FinishLogging(kFinishLoggingWait);
  keepAwake_.Release();
  SendJobSetup(false);
  MarkActive(false);
  paused_ = false;
  UpdateControls();
  log_.Append("Scanning Stopped");
  return 0;
}

}  // namespace hylo
