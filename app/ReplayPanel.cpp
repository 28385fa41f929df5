#include "ReplayPanel.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <filesystem>

#include "SettingsEdit.h"
#include "files/HyloReplay.h"

namespace hylo::app {

ReplayPanel::ReplayPanel(Hylo& hylo, QWidget* parent) : QGroupBox("Replay", parent), hylo_(hylo) {
  setObjectName("replayPanel");
  auto* row = new QHBoxLayout(this);
  auto button = [&](const char* text, const char* name, void (ReplayPanel::*call)()) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    row->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, call] { (this->*call)(); });
    return b;
  };
  choose_ = button("Files…", "replayChoose", &ReplayPanel::ChooseFiles);
  start_ = button("Replay", "replayStart", &ReplayPanel::Start);
  pause_ = button("Pause", "replayPause", &ReplayPanel::Pause);
  stop_ = button("Stop", "replayStop", &ReplayPanel::Stop);
  row->addWidget(new QLabel("Rate", this));
  rate_ = new QSpinBox(this);
  rate_->setObjectName("replayRate");
  rate_->setRange(1, 1000);
  rate_->setValue(std::max(1, hylo_.Groups().replay.replayRate));
  rate_->setToolTip("Records read per tick");
  row->addWidget(rate_);
  connect(rate_, &QSpinBox::valueChanged, this, [this](int v) {
    EditSettings(hylo_, [&](SettingsGroups& g) { g.replay.replayRate = v; });
    hylo_.Data().Replay().SetReplayRate(v);
  });
  chosen_ = new QLabel("No files chosen", this);
  row->addWidget(chosen_);
  current_ = new QLabel(this);
  current_->setObjectName("replayCurrent");
  row->addWidget(current_, 1);
  connect(&timer_, &QTimer::timeout, this, [this] { ShowProgress(); });
  timer_.start(250);
  ShowProgress();
}

void ReplayPanel::ChooseFiles() {
  const QStringList chosen = QFileDialog::getOpenFileNames(
      this, "Select Files to Replay", QString::fromStdString(hylo_.Groups().replay.replayDirectory),
      "Replay files (*.txt *.fft *.wav *.TXT *.FFT *.WAV)");
  if (chosen.isEmpty()) return;
  std::vector<std::string> files;
  for (const QString& f : chosen) files.push_back(f.toStdString());
  SetFiles(std::move(files));
  const std::string first = std::filesystem::path(files_.front()).filename().string();
  if (first.find(".txt") != std::string::npos || first.find(".TXT") != std::string::npos) ShowDetails();
}

void ReplayPanel::ShowDetails() {
  if (files_.empty()) return;
  const TextLogDetails d = ReadTextLogDetails(files_.front());
  if (!d.error.empty()) {
    hylo_.Operator().ShowNotice(d.error);
    return;
  }
  if (details_) details_->deleteLater();
  details_ = new QDialog(this);
  details_->setObjectName("replayDetails");
  details_->setWindowTitle("File Details");
  auto* form = new QFormLayout(details_);
  const std::pair<const char*, const std::string*> rows[] = {
      {"File", &d.name},          {"Client", &d.client},  {"Personnel", &d.personnel},  {"Computer", &d.computer},
      {"User", &d.user},          {"Device", &d.device},  {"Start Date", &d.startDate}, {"Start Time", &d.startTime},
      {"Time Zone", &d.timeZone}, {"Version", &d.version}};
  for (const auto& [label, value] : rows) {
    auto* field = new QLabel(QString::fromStdString(*value), details_);
    field->setObjectName(QString("detail ") + label);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, field);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, details_);
  QPushButton* start = buttons->addButton("Start Replay", QDialogButtonBox::AcceptRole);
  start->setObjectName("replayDetailsStart");
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    details_->hide();
    Start();
  });
  connect(buttons, &QDialogButtonBox::rejected, details_, &QDialog::hide);
  details_->show();
}

void ReplayPanel::SetFiles(std::vector<std::string> files) {
  files_ = std::move(files);
  if (!files_.empty())
    EditSettings(hylo_, [&](SettingsGroups& g) {
      g.replay.replayDirectory = std::filesystem::path(files_.front()).parent_path().string();
    });
  chosen_->setText(QString("%1 file(s)").arg(files_.size()));
}

void ReplayPanel::Start() {
  if (files_.empty()) return;
  ReplayThread& replay = hylo_.Data().Replay();
  replay.SetPace(ReplayPace::kTicks);
  replay.SetReplayRate(rate_->value());
  replay.SetPaused(false);
  replay.StartReplay(files_);
  ShowProgress();
}

void ReplayPanel::Pause() {
  ReplayThread& replay = hylo_.Data().Replay();
  replay.SetPaused(!replay.Progress().paused);
  ShowProgress();
}

void ReplayPanel::Stop() { hylo_.Data().Replay().StopReplay(); }

void ReplayPanel::ShowProgress() {
  const ReplayProgress p = hylo_.Data().Replay().Progress();
  pause_->setEnabled(p.replaying);
  stop_->setEnabled(p.replaying);
  pause_->setText(p.paused ? "Resume" : "Pause");
  if (p.replaying != replaying_) {
    replaying_ = p.replaying;
    emit replayingChanged(replaying_);
  }
  if (!p.replaying) {
    current_->setText("Not replaying");
    return;
  }
  const auto seconds = static_cast<long long>(p.streamSeconds);
  current_->setText(QString("%1 (%2 of %3)  %4:%5:%6  sample %7%8")
                        .arg(QString::fromStdString(p.currentName))
                        .arg(p.fileIndex)
                        .arg(p.fileCount)
                        .arg(seconds / 3600)
                        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
                        .arg(seconds % 60, 2, 10, QChar('0'))
                        .arg(static_cast<qulonglong>(p.samplePosition))
                        .arg(p.paused ? "  paused" : ""));
}

}  // namespace hylo::app
