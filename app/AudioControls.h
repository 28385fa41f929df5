#pragma once
// Listening controls: "Audio Enabled", and while it is on the volume, mute and filter choice.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>
#include <QTimer>
#include <vector>

#include "context/Hylo.h"

namespace hylo::app {

// The listening controls as the operator left them, kept in the settings document (section
// "Audio") and written with it at exit.
struct AudioSettings {
  bool enabled = false;
  int volume = 100;  // percent
  bool mute = false;
  int filter = 0;  // AudioFilter::Choice: by rate, high-pass, band-pass, none
  std::vector<SettingField> Fields();
};

class AudioControls final : public QGroupBox {
  Q_OBJECT
 public:
  explicit AudioControls(Hylo& hylo, QWidget* parent = nullptr);
  QCheckBox* Enabled() const { return enabled_; }
  QSlider* Volume() const { return volume_; }
  QCheckBox* Mute() const { return mute_; }
  QComboBox* Filter() const { return filter_; }
  // Dims the switch while the waveform rate is above what can be played.
  void Poll();

 private:
  void ShowControls(bool on);
  // Under the settings lock: the document is also saved from other threads.
  template <class Edit>
  void Keep(Edit edit);
  Hylo& hylo_;
  AudioSettings settings_;
  QCheckBox* enabled_ = nullptr;
  QSlider* volume_ = nullptr;
  QCheckBox* mute_ = nullptr;
  QComboBox* filter_ = nullptr;
  QTimer poll_;
};

}  // namespace hylo::app
