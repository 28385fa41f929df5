#include "EpochTab.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace hylo::app {

using namespace hylo::setup;

EpochTab::EpochTab(Hylo& hylo, QWidget* parent) : QWidget(parent), hylo_(hylo) {
  setObjectName("epochTab");
  auto* layout = new QVBoxLayout(this);
  bandwidth_ = new QLabel(this);
  layout->addWidget(bandwidth_);
  auto* grid = new QGridLayout;
  const char* heads[] = {"Enable",         "Trigger",  "Duration (s)", "Extend (s)",    "Min Hz", "Max Hz",
                         "Threshold (dB)", "Log Wave", "Log FFT",      "Pre-event (s)", "Actions"};
  for (int c = 0; c < 11; ++c) grid->addWidget(new QLabel(heads[c], this), 0, c);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& r = rows_[i];
    const int row = static_cast<int>(i) + 1;
    r.enable = new QCheckBox(QString::number(row), this);
    r.test = new QComboBox(this);
    r.test->addItems({"Above Threshold", "Below Threshold"});
    r.duration = new QDoubleSpinBox(this);
    r.extend = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* d : {r.duration, r.extend}) d->setRange(0, 65535);
    r.minFreq = new QSpinBox(this);
    r.maxFreq = new QSpinBox(this);
    for (QSpinBox* f : {r.minFreq, r.maxFreq}) f->setRange(0, 512000);
    r.threshold = new QSpinBox(this);
    r.threshold->setRange(-200, 255);
    r.logWave = new QCheckBox(this);
    r.logFft = new QCheckBox(this);
    r.preTrig = new QSpinBox(this);
    r.preTrig->setRange(0, 3600);
    auto* actions = new QHBoxLayout;
    for (auto& a : r.lfActions) {
      a = new QCheckBox(this);
      actions->addWidget(a);
    }
    QWidget* cells[] = {r.enable,  r.test,      r.duration, r.extend, r.minFreq,
                        r.maxFreq, r.threshold, r.logWave,  r.logFft, r.preTrig};
    for (int c = 0; c < 10; ++c) grid->addWidget(cells[c], row, c);
    grid->addLayout(actions, row, 10);
    for (QCheckBox* b : {r.enable, r.logWave, r.logFft}) connect(b, &QCheckBox::toggled, this, [this] { Edited(); });
    for (QCheckBox* b : r.lfActions) connect(b, &QCheckBox::toggled, this, [this] { Edited(); });
    connect(r.test, &QComboBox::currentIndexChanged, this, [this] { Edited(); });
    for (QDoubleSpinBox* d : {r.duration, r.extend})
      connect(d, &QDoubleSpinBox::valueChanged, this, [this] { Edited(); });
    for (QSpinBox* s : {r.minFreq, r.maxFreq, r.threshold, r.preTrig})
      connect(s, &QSpinBox::valueChanged, this, [this] { Edited(); });
  }
  layout->addLayout(grid);
  auto* files = new QHBoxLayout;
  auto* load = new QPushButton("Load Epoch File", this);
  auto* save = new QPushButton("Save Epoch File", this);
  load->setObjectName("loadEpochFile");
  save->setObjectName("saveEpochFile");
  files->addWidget(load);
  files->addWidget(save);
  files->addStretch(1);
  layout->addLayout(files);
  layout->addStretch(1);
  connect(load, &QPushButton::clicked, this, [this] {
    // A loaded list is sent with the next Apply.
    if (hylo_.Epoch().LoadInstrumentEpochFile() == 0) hylo_.JobSetup().MarkChanged(UnitTab::kEpoch);
  });
  connect(save, &QPushButton::clicked, this, [this] { hylo_.Epoch().SaveInstrumentEpochFile(); });
  binding_ = std::make_unique<PanelBinding>(hylo_.UnitSetupPanel(), this, [this](const std::string& id) {
    if (id == unitpanel::kEpochRevision) Refresh();
  });
  Refresh();
}

EpochTab::~EpochTab() = default;

void EpochTab::Refresh() {
  const EpochScale scale = hylo_.Epoch().Scale();
  const EpochRows rows = hylo_.Epoch().Rows();
  const bool lf = scale.form == EpochForm::kLf;
  const JobSetup s = hylo_.JobSetup().Setup();
  const std::uint32_t bandwidth = lf ? s.lfBandwidthHz : s.spectrumBandwidthHz;
  bandwidth_->setText(QString("Current Bandwidth: %1 Hz").arg(bandwidth));
  filling_ = true;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& r = rows_[i];
    const EpochRow& v = rows[i];
    r.enable->setChecked(v.enabled);
    r.test->setCurrentIndex(std::clamp(v.test, 0, 1));
    r.duration->setDecimals(lf ? 3 : 0);
    r.extend->setDecimals(lf ? 3 : 0);
    r.duration->setValue(v.duration);
    r.extend->setValue(v.extend);
    // LF bands end at the current bandwidth.
    for (QSpinBox* f : {r.minFreq, r.maxFreq}) f->setMaximum(lf ? static_cast<int>(bandwidth) : 512000);
    r.minFreq->setValue(static_cast<int>(v.minFreq));
    r.maxFreq->setValue(static_cast<int>(v.maxFreq));
    r.threshold->setValue(v.threshold);
    r.logWave->setChecked(v.logWave);
    r.logFft->setChecked(v.logFft);
    r.preTrig->setValue(v.preTrig);
    for (std::size_t b = 0; b < r.lfActions.size(); ++b) r.lfActions[b]->setChecked((v.lfActions >> b) & 1);
    r.logWave->setVisible(!lf);
    r.logFft->setVisible(!lf);
    r.preTrig->setVisible(scale.form == EpochForm::kNewerHf);
    for (QCheckBox* a : r.lfActions) a->setVisible(lf);
    // A disabled row is dimmed.
    for (QWidget* w : std::initializer_list<QWidget*>{r.test, r.duration, r.extend, r.minFreq, r.maxFreq, r.threshold,
                                                      r.logWave, r.logFft, r.preTrig})
      w->setEnabled(v.enabled);
  }
  filling_ = false;
}

void EpochTab::Edited() {
  if (filling_) return;
  EpochRows rows{};
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& r = rows_[i];
    EpochRow& v = rows[i];
    v.enabled = r.enable->isChecked();
    v.test = r.test->currentIndex();
    v.duration = r.duration->value();
    v.extend = r.extend->value();
    v.minFreq = static_cast<std::uint32_t>(r.minFreq->value());
    v.maxFreq = static_cast<std::uint32_t>(r.maxFreq->value());
    v.threshold = r.threshold->value();
    v.logWave = r.logWave->isChecked();
    v.logFft = r.logFft->isChecked();
    v.preTrig = r.preTrig->value();
    for (std::size_t b = 0; b < r.lfActions.size(); ++b)
      if (r.lfActions[b]->isChecked()) v.lfActions |= static_cast<std::uint16_t>(1u << b);
  }
  hylo_.JobSetup().MarkChanged(UnitTab::kEpoch);
  hylo_.Epoch().SetRows(rows);
}

}  // namespace hylo::app
