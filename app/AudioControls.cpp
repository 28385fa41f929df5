#include "AudioControls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

#include "settings/SettingsGroups.h"

namespace hylo::app {

std::vector<SettingField> AudioSettings::Fields() {
  return {{"Audio", "Audio Enabled", &enabled},
          {"Audio", "Volume", &volume},
          {"Audio", "Mute", &mute},
          {"Audio", "Filter", &filter}};
}

template <class Edit>
void AudioControls::Keep(Edit edit) {
  edit(settings_);
  SaveFields(hylo_.Settings(), settings_.Fields());
}

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
  // Only the operator's own switching is kept: a rate too high to play turns audio off, and
  // the next start should still play once the rate allows.
  connect(enabled_, &QCheckBox::clicked, this, [this](bool on) { Keep([&](AudioSettings& a) { a.enabled = on; }); });
  connect(volume_, &QSlider::valueChanged, this, [this, &audio](int v) {
    audio.SetVolume(v);
    Keep([&](AudioSettings& a) { a.volume = v; });
  });
  connect(mute_, &QCheckBox::toggled, this, [this, &audio](bool on) {
    audio.SetMute(on);
    Keep([&](AudioSettings& a) { a.mute = on; });
  });
  connect(filter_, &QComboBox::activated, this, [this, &audio](int index) {
    const int choice = filter_->itemData(index).toInt();
    audio.SetFilterChoice(static_cast<AudioFilter::Choice>(choice));
    Keep([&](AudioSettings& a) { a.filter = choice; });
  });

  // As the operator left them; values from a hand-edited file outside the ranges are ignored.
  LoadFields(hylo_.Settings(), settings_.Fields());
  const AudioSettings saved = settings_;
  volume_->setValue(std::clamp(saved.volume, 0, 100));
  audio.SetVolume(volume_->value());
  mute_->setChecked(saved.mute);
  if (const int index = filter_->findData(saved.filter); index >= 0) {
    filter_->setCurrentIndex(index);
    audio.SetFilterChoice(static_cast<AudioFilter::Choice>(saved.filter));
  }
  enabled_->setChecked(saved.enabled || audio.AudioOn());
  ShowControls(enabled_->isChecked());
  Keep([](AudioSettings&) {});  // a first start writes the keys too
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
