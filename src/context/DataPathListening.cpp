// The audio output and the calibration, wired into the data path.
#include "context/DataPath.h"
#include "core/Post.h"
#include "shell/OperatorPort.h"

namespace hylo {

void DataPath::WireListening() {
  audio_.SetNotice([this](const std::string& text) { operator_.ShowNotice(text); });
  // Only the ticked replay waits for the speaker; the others set their own pace.
  audio_.SetReplayPacing([this] { return ReplayInProgress() && replay_.Pace() == ReplayPace::kTicks; },
                         [this] { Post(threads_, REPLAY_THREAD, MSG_REPLAY_STEP); });
  cal_.SetInstall([this](const AmbientSpectrum& ambient) { reference_.SetAmbientReference(ambient, true); });
  cal_.SetCaptureRequest([this] { logging_.RequestCalCapture(true); });
  logging_.SetCalibrationSource([this] { return cal_.IsCalibrating(); });
  ui_.SetSpectrumSink([this](const SpectrumRecord& r) {
    if (cal_.IsCalibrating()) cal_.AddCalibrationRecord(r);
  });
}

void DataPath::RefreshAudioLevel() {
  AudioLevelInputs in;
  in.referenceLevel = reference_.DisplayReference();
  in.colourMapSpan = static_cast<int>(std::min<std::uint32_t>(groups_.spectrum.colourMapPeak, 1000));
  in.unit = reference_.Unit();
  in.sensitivity = reference_.GetSensitivity();
  in.densityCorrection = reference_.GetDensityCorrection();
  audio_.UpdateAudioLevel(in);
}

void DataPath::ToggleAudioActive(bool on) {
  audio_.ToggleAudioActive(on);
  if (on) RefreshAudioLevel();
}

}  // namespace hylo
