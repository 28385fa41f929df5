#include "SettingsPanel.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace hylo::app {

using setup::ProgramTab;

namespace {
constexpr double kScanPeriods[] = {1,        0.5,       0.25,       0.125,       0.0625, 0.03125,
                                   0.015625, 0.0078125, 0.00390625, 0.001953125, 0.001};
}  // namespace

SettingsPanel::SettingsPanel(Hylo& hylo, QWidget* parent) : QWidget(parent, Qt::Window), hylo_(hylo) {
  setObjectName("settingsPanel");
  setWindowTitle("Hylo Settings");
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("settingsTabs");
  loggingTab_ = BuildLoggingTab();
  processingTab_ = BuildProcessingTab();
  hostEpochTab_ = new HostEpochTabWidget([this]() -> HostEpoch& { return hylo_.HostTriggerList(); }, hylo_.Operator(),
                                         [this] { Panel().TabChanged(ProgramTab::kHostEpoch); }, this);
  impulseTab_ = BuildImpulseTab();
  tabs_->addTab(loggingTab_, "Logging");
  tabs_->addTab(processingTab_, "Processing");
  tabs_->addTab(hostEpochTab_, "Host Epoch");
  tabs_->addTab(impulseTab_, "Impulse Detection");
  layout->addWidget(tabs_);
  auto* buttons = new QHBoxLayout;
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancelButton");
  apply_ = new QPushButton("Apply", this);
  apply_->setObjectName("applyButton");
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  buttons->addWidget(apply_);
  layout->addLayout(buttons);

  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (filling_ || index < 0) return;
    Panel().TabChanged(static_cast<ProgramTab>(index));
  });
  connect(apply_, &QPushButton::clicked, this, [this] {
    TakeProcessing();
    TakeLogging();
    hostEpochTab_->Take();
    TakeImpulse();
    if (Panel().ApplyProgramSettings() == 0) hide();
    FillProcessing();
    FillImpulse();
  });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    Panel().CancelJobSetup();
    hide();
  });
}

QWidget* SettingsPanel::BuildProcessingTab() {
  auto* tab = new QWidget(this);
  tab->setObjectName("processingTab");
  auto* f = new QFormLayout(tab);
  customScan_ = new QCheckBox("Use Custom Scan Rate", tab);
  customScan_->setObjectName("customScan");
  scanPeriod_ = new QComboBox(tab);
  scanPeriod_->setObjectName("scanPeriod");
  for (double p : kScanPeriods) scanPeriod_->addItem(QString("%1 s").arg(p), p);
  refreshRate_ = new QDoubleSpinBox(tab);
  refreshRate_->setObjectName("refreshRate");
  refreshRate_->setRange(0.05, 5.0);
  refreshRate_->setDecimals(2);
  refreshRate_->setSingleStep(0.05);
  dcOffset_ = new QCheckBox("Show DC Offset", tab);
  dcOffset_->setObjectName("showDcOffset");
  nyquist_ = new QCheckBox("Display to Nyquist", tab);
  nyquist_->setObjectName("displayToNyquist");
  logScale_ = new QCheckBox("Logarithmic Frequency Scale", tab);
  logScale_->setObjectName("useLogScale");
  auto* undo = new QPushButton("Undo Changes", tab);
  undo->setObjectName("undoProcessing");
  f->addRow(customScan_);
  f->addRow("Scan Interval", scanPeriod_);
  f->addRow("Display Refresh (s)", refreshRate_);
  f->addRow(dcOffset_);
  f->addRow(nyquist_);
  f->addRow(logScale_);
  f->addRow(undo);
  connect(customScan_, &QCheckBox::toggled, this, [this](bool on) {
    scanPeriod_->setEnabled(on);
    if (!filling_) Panel().TabChanged(ProgramTab::kProcessing);
  });
  connect(undo, &QPushButton::clicked, this, [this] {
    Panel().UndoHyloProcChangesCb();
    FillProcessing();
  });
  return tab;
}

void SettingsPanel::FillProcessing() {
  const setup::ProcessingValues& v = Panel().Processing();
  filling_ = true;
  customScan_->setChecked(v.useCustomScanRate);
  scanPeriod_->setEnabled(v.useCustomScanRate);
  int index = 0;
  for (int i = 0; i < scanPeriod_->count(); ++i)
    if (scanPeriod_->itemData(i).toDouble() <= v.scanPeriod) {
      index = i;
      break;
    }
  scanPeriod_->setCurrentIndex(index);
  refreshRate_->setValue(v.refreshRate);
  dcOffset_->setChecked(v.showDcOffset);
  nyquist_->setChecked(v.displayToNyquist);
  logScale_->setChecked(v.useLogScale);
  filling_ = false;
}

void SettingsPanel::TakeProcessing() {
  setup::ProcessingValues& v = Panel().Processing();
  v.useCustomScanRate = customScan_->isChecked();
  v.scanPeriod = scanPeriod_->currentData().toDouble();
  v.refreshRate = refreshRate_->value();
  v.showDcOffset = dcOffset_->isChecked();
  v.displayToNyquist = nyquist_->isChecked();
  v.useLogScale = logScale_->isChecked();
}

void SettingsPanel::Open() {
  if (Panel().PanelOpen() && isVisible()) return;
  // Attached on every open: a session load makes the modules anew.
  Panel().AttachLogging(setup::LoggingTabPortsFor(
      hylo_.Wav(), hylo_.Data().Logging(),
      [this](bool on, int side, const std::string& folder) {
        PostEpochLogSetting(hylo_.Threads(), hylo_.Data().Logging(), on, side, folder);
      },
      [this](const std::string& path) {
        if (!hylo_.Data().LoadClickTemplate(path)) hylo_.Operator().ShowNotice(setup::kClickFileErrorText);
      }));
  Panel().OpenHyloSetupPanel();
  filling_ = true;
  tabs_->setCurrentWidget(loggingTab_);
  filling_ = false;
  FillProcessing();
  FillLogging();
  hylo_.HostTriggerList().ShowTab();
  hostEpochTab_->Fill();
  FillImpulse();
  show();
  raise();
}

QWidget* SettingsPanel::BuildImpulseTab() {
  auto* tab = new QWidget(this);
  tab->setObjectName("impulseTab");
  auto* f = new QFormLayout(tab);
  impulseOn_ = new QCheckBox("Enable Impulse Detection", tab);
  impulseOn_->setObjectName("impulseDetection");
  f->addRow(impulseOn_);
  struct Field {
    const char* label;
    const char* id;
    int low, high;
  };
  static constexpr Field kFields[6] = {
      {"Detection treshold:", "detectDb", 0, 120}, {"Reset threshold:", "resetDb", 0, 120},
      {"Pre-detection:", "preMs", 0, 10000},       {"Post-detection:", "postMs", 0, 10000},
      {"SEL maximum:", "selMax", 0, 300},          {"Band maximum:", "bandMax", 0, 300}};
  for (int i = 0; i < 6; ++i) {
    impulseSpin_[i] = new QSpinBox(tab);
    impulseSpin_[i]->setObjectName(kFields[i].id);
    impulseSpin_[i]->setRange(kFields[i].low, kFields[i].high);
    impulseSpin_[i]->setSuffix(i == 2 || i == 3 ? " ms" : " dB");
    f->addRow(kFields[i].label, impulseSpin_[i]);
    connect(impulseSpin_[i], &QSpinBox::valueChanged, this, [this] {
      if (!filling_) Panel().TabChanged(ProgramTab::kImpulse);
    });
  }
  connect(impulseOn_, &QCheckBox::toggled, this, [this] {
    if (!filling_) Panel().TabChanged(ProgramTab::kImpulse);
  });
  auto* buttons = new QHBoxLayout;
  auto* undo = new QPushButton("Undo Changes", tab);
  undo->setObjectName("undoImpulse");
  auto* defaults = new QPushButton("Defaults", tab);
  defaults->setObjectName("impulseDefaults");
  buttons->addWidget(undo);
  buttons->addWidget(defaults);
  f->addRow(buttons);
  connect(undo, &QPushButton::clicked, this, [this] {
    Panel().UndoImpulseChanges();
    FillImpulse();
  });
  connect(defaults, &QPushButton::clicked, this, [this] {
    TakeImpulse();
    Panel().SetImpDefaultsCb();
    FillImpulse();
    Panel().TabChanged(ProgramTab::kImpulse);
  });
  return tab;
}

void SettingsPanel::FillImpulse() {
  const setup::ImpulseValues& v = Panel().Impulse();
  filling_ = true;
  impulseOn_->setChecked(v.enabled);
  const int values[6] = {v.detectDb, v.resetDb, v.preMs, v.postMs, v.selMax, v.bandMax};
  for (int i = 0; i < 6; ++i) impulseSpin_[i]->setValue(values[i]);
  filling_ = false;
}

void SettingsPanel::TakeImpulse() {
  setup::ImpulseValues& v = Panel().Impulse();
  v.enabled = impulseOn_->isChecked();
  int* fields[6] = {&v.detectDb, &v.resetDb, &v.preMs, &v.postMs, &v.selMax, &v.bandMax};
  for (int i = 0; i < 6; ++i) *fields[i] = impulseSpin_[i]->value();
}

SettingsPanel::LogControls SettingsPanel::AddLogGroup(QWidget* tab, const QString& title, const QString& id,
                                                      const QString& countLabel, int countMax) {
  auto* box = new QGroupBox(title, tab);
  auto* f = new QFormLayout(box);
  LogControls c;
  c.enabled = new QCheckBox("Enabled", box);
  c.enabled->setObjectName(id + "Enabled");
  c.folder = new QLineEdit(box);
  c.folder->setObjectName(id + "Folder");
  auto* browse = new QPushButton("Browse...", box);
  browse->setObjectName(id + "Browse");
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(c.folder, 1);
  folderRow->addWidget(browse);
  c.prefix = new QLineEdit(box);
  c.prefix->setObjectName(id + "Prefix");
  c.prefix->setMaxLength(11);
  c.count = new QSpinBox(box);
  c.count->setObjectName(id + "Count");
  c.count->setRange(1, countMax);
  c.nextIndex = new QSpinBox(box);
  c.nextIndex->setObjectName(id + "NextIndex");
  c.nextIndex->setRange(1, 2147483647);
  c.nameFormat = new QComboBox(box);
  c.nameFormat->setObjectName(id + "NameFormat");
  c.nameFormat->addItems({"Sequential", "Time Stamped"});
  f->addRow(c.enabled);
  f->addRow("Folder", folderRow);
  f->addRow("Prefix", c.prefix);
  f->addRow(countLabel, c.count);
  f->addRow("Next Index", c.nextIndex);
  f->addRow("Name Format", c.nameFormat);
  tab->layout()->addWidget(box);
  QLineEdit* folder = c.folder;
  const bool isWav = id == "wav";
  connect(browse, &QPushButton::clicked, this, [this, folder, isWav] {
    const std::string shown = folder->text().toStdString();
    const auto chosen = isWav ? hylo_.Wav().FileSelectWavFolder(shown)
                              : setup::BrowseLogFolder(hylo_.Operator(), setup::LogFolderKind::kTextLog, shown);
    if (chosen) folder->setText(QString::fromStdString(*chosen));
  });
  return c;
}

QWidget* SettingsPanel::BuildLoggingTab() {
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName("loggingTab");
  scroll->setWidgetResizable(true);
  auto* tab = new QWidget(scroll);
  auto* layout = new QVBoxLayout(tab);
  auto* job = new QGroupBox("Job", tab);
  auto* jf = new QFormLayout(job);
  auto line = [&](QLineEdit*& edit, const char* id, const char* label, int max) {
    edit = new QLineEdit(job);
    edit->setObjectName(id);
    edit->setMaxLength(max);
    jf->addRow(label, edit);
  };
  line(comment_, "logComment", "Comment", 36);
  line(client_, "jobClient", "Client", 31);
  line(jobId_, "jobId", "Job ID", 31);
  line(personnel_, "jobPersonnel", "Personnel", 31);
  layout->addWidget(job);
  fft_ = AddLogGroup(tab, "FFT Log", "fft", "Records per File", 1000000);
  wav_ = AddLogGroup(tab, "WAV Log", "wav", "Minutes per File", 1440);
  impulse_ = AddLogGroup(tab, "Impulse Log", "impulse", "Records per File", 1000000);
  auto* epochs = new QGroupBox("Epoch Logs", tab);
  auto* ef = new QFormLayout(epochs);
  const char* names[2] = {"Aurisond Epoch Log", "Hylo Epoch Log"};
  for (int side = 0; side < 2; ++side) {
    epochOn_[side] = new QCheckBox(names[side], epochs);
    epochOn_[side]->setObjectName(side == 0 ? "instrumentEpochEnabled" : "hostEpochEnabled");
    epochFolder_[side] = new QLineEdit(epochs);
    epochFolder_[side]->setObjectName(side == 0 ? "instrumentEpochFolder" : "hostEpochFolder");
    auto* browse = new QPushButton("Browse...", epochs);
    browse->setObjectName(side == 0 ? "instrumentEpochBrowse" : "hostEpochBrowse");
    auto* row = new QHBoxLayout;
    row->addWidget(epochFolder_[side], 1);
    row->addWidget(browse);
    ef->addRow(epochOn_[side]);
    ef->addRow("Folder", row);
    connect(browse, &QPushButton::clicked, this, [this, side] {
      const auto kind = side == 0 ? setup::LogFolderKind::kInstrumentEpoch : setup::LogFolderKind::kHostEpoch;
      if (const auto chosen = setup::BrowseLogFolder(hylo_.Operator(), kind, epochFolder_[side]->text().toStdString()))
        epochFolder_[side]->setText(QString::fromStdString(*chosen));
    });
  }
  clickFile_ = new QLineEdit(epochs);
  clickFile_->setObjectName("clickDetectionFile");
  clickFile_->setReadOnly(true);
  auto* clickBrowse = new QPushButton("Browse...", epochs);
  clickBrowse->setObjectName("clickDetectionBrowse");
  auto* clickRow = new QHBoxLayout;
  clickRow->addWidget(clickFile_, 1);
  clickRow->addWidget(clickBrowse);
  ef->addRow("Click Detector File", clickRow);
  connect(clickBrowse, &QPushButton::clicked, this, [this] {
    if (const auto chosen = setup::BrowseClickDetectorFile(hylo_.Operator(), clickPath_)) {
      clickPath_ = *chosen;
      clickFile_->setText(QString::fromStdString(setup::ClickFileShownName(clickPath_)));
    }
  });
  layout->addWidget(epochs);
  layout->addStretch(1);
  scroll->setWidget(tab);
  return scroll;
}

void SettingsPanel::FillLogging() {
  const setup::LoggingValues& v = Panel().Logging();
  auto fill = [](LogControls& c, const std::string& folder, const std::string& prefix, int count, int next, int format,
                 bool on) {
    c.enabled->setChecked(on);
    c.folder->setText(QString::fromStdString(folder));
    c.prefix->setText(QString::fromStdString(prefix));
    c.count->setValue(count);
    c.nextIndex->setValue(next);
    c.nameFormat->setCurrentIndex(format != 0 ? 1 : 0);
  };
  fill(fft_, v.fft.folder, v.fft.prefix, v.fft.maxRecords, v.fft.nextIndex, v.fft.nameFormat, v.fft.enabled);
  fill(wav_, v.wav.folder, v.wav.prefix, v.wav.minutesPerFile, v.wav.nextIndex, v.wav.nameFormat, v.wav.enabled);
  fill(impulse_, v.impulse.folder, v.impulse.prefix, v.impulse.maxRecords, v.impulse.nextIndex, v.impulse.nameFormat,
       v.impulse.enabled);
  comment_->setText(QString::fromStdString(v.fft.comment));
  client_->setText(QString::fromStdString(v.fft.client));
  jobId_->setText(QString::fromStdString(v.fft.jobId));
  personnel_->setText(QString::fromStdString(v.fft.personnel));
  for (int side = 0; side < 2; ++side) {
    epochOn_[side]->setChecked(v.epoch.enabled[static_cast<std::size_t>(side)]);
    epochFolder_[side]->setText(QString::fromStdString(v.epoch.folder[static_cast<std::size_t>(side)]));
  }
  clickPath_ = v.clickDetectionFile;
  clickFile_->setText(QString::fromStdString(setup::ClickFileShownName(clickPath_)));
}

void SettingsPanel::TakeLogging() {
  setup::LoggingValues& v = Panel().Logging();
  auto text = [](const QLineEdit* e) { return e->text().toStdString(); };
  v.fft.enabled = fft_.enabled->isChecked();
  v.fft.folder = text(fft_.folder);
  v.fft.prefix = text(fft_.prefix);
  v.fft.maxRecords = fft_.count->value();
  v.fft.nextIndex = fft_.nextIndex->value();
  v.fft.nameFormat = fft_.nameFormat->currentIndex();
  v.fft.comment = text(comment_);
  v.fft.client = text(client_);
  v.fft.jobId = text(jobId_);
  v.fft.personnel = text(personnel_);
  v.wav.enabled = wav_.enabled->isChecked();
  v.wav.folder = text(wav_.folder);
  v.wav.prefix = text(wav_.prefix);
  v.wav.minutesPerFile = wav_.count->value();
  v.wav.nextIndex = wav_.nextIndex->value();
  v.wav.nameFormat = wav_.nameFormat->currentIndex();
  v.impulse.enabled = impulse_.enabled->isChecked();
  v.impulse.folder = text(impulse_.folder);
  v.impulse.prefix = text(impulse_.prefix);
  v.impulse.maxRecords = impulse_.count->value();
  v.impulse.nextIndex = impulse_.nextIndex->value();
  v.impulse.nameFormat = impulse_.nameFormat->currentIndex();
  for (int side = 0; side < 2; ++side) {
    v.epoch.enabled[static_cast<std::size_t>(side)] = epochOn_[side]->isChecked();
    v.epoch.folder[static_cast<std::size_t>(side)] = text(epochFolder_[side]);
  }
  v.clickDetectionFile = clickPath_;
}

void SettingsPanel::closeEvent(QCloseEvent* event) {
  Panel().CancelJobSetup();
  event->accept();
}

}  // namespace hylo::app
