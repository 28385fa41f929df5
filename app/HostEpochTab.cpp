#include "HostEpochTab.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/OperatorPort.h"

namespace hylo::app {

HostEpochTabWidget::HostEpochTabWidget(std::function<HostEpoch&()> epoch, OperatorPort& op,
                                       std::function<void()> changed, QWidget* parent)
    : QWidget(parent), epoch_(std::move(epoch)), operator_(op), changed_(std::move(changed)) {
  setObjectName("hostEpochTab");
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  const QStringList heads{"Enable",       "Test",      "Min (Hz)", "Max (Hz)", "Threshold (dB re uPa)",
                          "Duration (s)", "Extend (s)"};
  for (int c = 0; c < heads.size(); ++c) grid->addWidget(new QLabel(heads[c], this), 0, c);
  auto notify = [this] {
    if (!filling_ && changed_) changed_();
  };
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& r = rows_[i];
    const QString id = QString("hostTrigger%1").arg(i + 1);
    auto spin = [&](const char* name, int lo, int hi) {
      auto* s = new QSpinBox(this);
      s->setObjectName(id + name);
      s->setRange(lo, hi);
      connect(s, &QSpinBox::valueChanged, this, notify);
      return s;
    };
    r.enabled = new QCheckBox(QString("Trigger %1").arg(i + 1), this);
    r.enabled->setObjectName(id + "Enabled");
    r.test = new QComboBox(this);
    r.test->setObjectName(id + "Test");
    r.test->addItems({"Level Above", "Level Below"});
    r.minHz = spin("MinHz", 0, 204800);
    r.maxHz = spin("MaxHz", 0, 204800);
    r.threshold = spin("Threshold", -200, 250);
    r.dur = spin("Dur", 0, 3600);
    r.extend = spin("Extend", 0, 3600);
    const int row = static_cast<int>(i) + 1;
    QWidget* cells[] = {r.enabled, r.test, r.minHz, r.maxHz, r.threshold, r.dur, r.extend};
    for (int c = 0; c < 7; ++c) grid->addWidget(cells[c], row, c);
    connect(r.enabled, &QCheckBox::toggled, this, [this, i, notify] {
      DimRow(rows_[i]);
      notify();
    });
    connect(r.test, &QComboBox::currentIndexChanged, this, notify);
  }
  layout->addLayout(grid);

  auto* clipBox = new QGroupBox("Event Clips", this);
  auto* cf = new QFormLayout(clipBox);
  clips_ = new QCheckBox("Keep a WAV clip of each event", clipBox);
  clips_->setObjectName("clipsEnabled");
  clipFolder_ = new QLineEdit(clipBox);
  clipFolder_->setObjectName("clipFolder");
  clipBefore_ = new QSpinBox(clipBox);
  clipBefore_->setObjectName("clipBefore");
  clipAfter_ = new QSpinBox(clipBox);
  clipAfter_->setObjectName("clipAfter");
  for (QSpinBox* s : {clipBefore_, clipAfter_}) {
    s->setRange(0, static_cast<int>(kMaxClipSeconds));
    connect(s, &QSpinBox::valueChanged, this, notify);
  }
  connect(clips_, &QCheckBox::toggled, this, notify);
  connect(clipFolder_, &QLineEdit::textEdited, this, notify);
  cf->addRow(clips_);
  cf->addRow("Folder", clipFolder_);
  cf->addRow("Seconds Before", clipBefore_);
  cf->addRow("Seconds After", clipAfter_);
  layout->addWidget(clipBox);

  auto* buttons = new QHBoxLayout;
  auto* load = new QPushButton("Load...", this);
  load->setObjectName("loadHostEpoch");
  auto* save = new QPushButton("Save...", this);
  save->setObjectName("saveHostEpoch");
  auto* undo = new QPushButton("Undo Changes", this);
  undo->setObjectName("undoHostEpoch");
  buttons->addWidget(load);
  buttons->addWidget(save);
  buttons->addStretch(1);
  buttons->addWidget(undo);
  layout->addLayout(buttons);
  layout->addStretch(1);

  const auto folder = Epoch().ProgramFile().parent_path();
  connect(load, &QPushButton::clicked, this, [this, folder] {
    if (const auto path = operator_.ChooseFile("Load Epoch File", folder, "*.cfg", false)) {
      if (Epoch().LoadHyloEpochFileCallback(*path) == TriggerFileStatus::kOk) {
        Fill();
        if (changed_) changed_();
      }
    }
  });
  connect(save, &QPushButton::clicked, this, [this, folder] {
    Take();
    if (const auto path = operator_.ChooseFile("Save Epoch File", folder, "*.cfg", true))
      Epoch().SaveHyloEpochFile(*path);
  });
  connect(undo, &QPushButton::clicked, this, [this] {
    Epoch().UndoHyloEpochChangesCb();
    Fill();
  });
}

void HostEpochTabWidget::DimRow(const Row& row) {
  const bool on = row.enabled->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{row.test, row.minHz, row.maxHz, row.threshold, row.dur, row.extend})
    w->setEnabled(on);
}

void HostEpochTabWidget::Fill() {
  filling_ = true;
  const HostEpochTab& tab = Epoch().Tab();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const HostTriggerRow& v = tab.rows[i];
    const Row& r = rows_[i];
    r.enabled->setChecked(v.enabled);
    r.test->setCurrentIndex(v.below ? 1 : 0);
    r.minHz->setValue(static_cast<int>(v.minHz));
    r.maxHz->setValue(static_cast<int>(v.maxHz));
    r.threshold->setValue(v.threshold);
    r.dur->setValue(v.durSeconds);
    r.extend->setValue(v.extendSeconds);
    DimRow(r);
  }
  clips_->setChecked(tab.clips.enabled);
  clipFolder_->setText(QString::fromStdString(tab.clips.folder.string()));
  clipBefore_->setValue(static_cast<int>(tab.clips.preSeconds));
  clipAfter_->setValue(static_cast<int>(tab.clips.postSeconds));
  filling_ = false;
}

void HostEpochTabWidget::Take() {
  HostEpochTab& tab = Epoch().Tab();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& r = rows_[i];
    tab.rows[i] = {r.enabled->isChecked(),
                   r.test->currentIndex() == 1,
                   static_cast<std::uint32_t>(r.minHz->value()),
                   static_cast<std::uint32_t>(r.maxHz->value()),
                   static_cast<std::int16_t>(r.threshold->value()),
                   static_cast<std::uint16_t>(r.dur->value()),
                   static_cast<std::uint16_t>(r.extend->value())};
  }
  tab.clips = {clips_->isChecked(), clipFolder_->text().toStdString(), static_cast<std::uint32_t>(clipBefore_->value()),
               static_cast<std::uint32_t>(clipAfter_->value())};
}

}  // namespace hylo::app
