#include "AudioControls.h"

#include <QHBoxLayout>
#include <QLabel>

namespace hylo::app {

AudioControls::AudioControls(Hylo& hylo, QWidget* parent) : QGroupBox("Audio", parent), hylo_(hylo) {
  setObjectName("audioControls");
  auto* row = new QHBoxLayout(this);
  enabled_ = new QCheckBox("Audio Enabled", this);
  enabled_->setObjectName("audioEnabled");
  row->addWidget(enabled_);
  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName("audioVolume");
  volume_->setRange(0, 100);
  volume_->setValue(100);
  volume_->setToolTip("Volume");
  row->addWidget(volume_);
  mute_ = new QCheckBox("Mute", this);
  mute_->setObjectName("audioMute");
  row->addWidget(mute_);
  filter_ = new QComboBox(this);
  filter_->setObjectName("audioFilter");
  filter_->addItem("Filter by rate", static_cast<int>(AudioFilter::Choice::kAuto));
  filter_->addItem("High-pass 150 Hz", static_cast<int>(AudioFilter::Choice::kHighPass));
  filter_->addItem("Band-pass 150 Hz - 20 kHz", static_cast<int>(AudioFilter::Choice::kBandPass));
  filter_->addItem("No filter", static_cast<int>(AudioFilter::Choice::kOff));
  row->addWidget(filter_);

  HyloAudio& audio = hylo_.Data().Audio();
  connect(enabled_, &QCheckBox::toggled, this, [this](bool on) {
    hylo_.Data().ToggleAudioActive(on);
    ShowControls(on);
  });
  connect(volume_, &QSlider::valueChanged, this, [&audio](int v) { audio.SetVolume(v); });
  connect(mute_, &QCheckBox::toggled, this, [&audio](bool on) { audio.SetMute(on); });
  connect(filter_, &QComboBox::activated, this, [this, &audio](int index) {
    audio.SetFilterChoice(static_cast<AudioFilter::Choice>(filter_->itemData(index).toInt()));
  });
  enabled_->setChecked(audio.AudioOn());
  ShowControls(audio.AudioOn());
  connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
  poll_.start(500);
}

void AudioControls::ShowControls(bool on) {
  for (QWidget* w : {static_cast<QWidget*>(volume_), static_cast<QWidget*>(mute_), static_cast<QWidget*>(filter_)})
    w->setVisible(on);
}

void AudioControls::Poll() {
  const bool available = hylo_.Data().Audio().Available();
  if (!available && enabled_->isChecked()) enabled_->setChecked(false);
  enabled_->setEnabled(available);
}

}  // namespace hylo::app
