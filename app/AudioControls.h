#pragma once
// Listening controls: "Audio Enabled", and while it is on the volume, mute and filter choice.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>
#include <QTimer>

#include "context/Hylo.h"

namespace hylo::app {

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
  Hylo& hylo_;
  QCheckBox* enabled_ = nullptr;
  QSlider* volume_ = nullptr;
  QCheckBox* mute_ = nullptr;
  QComboBox* filter_ = nullptr;
  QTimer poll_;
};

}  // namespace hylo::app
