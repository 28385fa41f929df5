#include "SetupPanel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

#include "UiPost.h"
#include "config/SetupDerived.h"
#include "link/DeviceIdentity.h"

namespace hylo::app {

using setup::JobSetup;
using setup::UnitTab;

namespace {

template <typename W>
W* Named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

// Selects the item with `value`; a value the list does not offer (as a unit may report)
// is added so the panel still shows what the unit has.
void Select(QComboBox* box, const QVariant& value, const QString& labelIfMissing) {
  int i = box->findData(value);
  if (i < 0 && !labelIfMissing.isEmpty()) {
    box->addItem(labelIfMissing, value);
    i = box->count() - 1;
  }
  box->setCurrentIndex(i);
}

QString BandwidthLabel(std::uint32_t hz) {
  return hz >= 10000 ? QString("%1 kHz").arg(hz / 1000.0) : QString("%1 Hz").arg(hz);
}

QString SecondsLabel(double s) {
  if (s == 0.25) return "1/4 s";
  if (s == 0.5) return "1/2 s";
  if (s == 60) return "1 min";
  return QString("%1 s").arg(s);
}

void SetSpin(QSpinBox* spin, int value) { spin->setValue(std::clamp(value, spin->minimum(), spin->maximum())); }

}  // namespace

SetupPanel::SetupPanel(Hylo& hylo, QWidget* parent) : QWidget(parent, Qt::Window), hylo_(hylo) {
  setObjectName("setupPanel");
  setWindowTitle("Instrument Setup");
  auto* layout = new QVBoxLayout(this);
  tabs_ = Named(new QTabWidget(this), "setupTabs");
  lfTab_ = BuildLfTab();
  hfTab_ = BuildHfTab();
  specialTab_ = BuildSpecialTab();
  linkTab_ = BuildLinkTab();
  epochTab_ = new EpochTab(hylo_, this);
  tabs_->addTab(lfTab_, "Aurisond LF Setup");
  tabs_->addTab(hfTab_, QString::fromUtf8(setup::kHfTabTitle.data(), static_cast<int>(setup::kHfTabTitle.size())));
  tabs_->addTab(specialTab_, "Special Features");
  tabs_->addTab(epochTab_, "Epoch Triggers");
  tabs_->addTab(linkTab_, "Link");
  layout->addWidget(tabs_);
  auto* buttons = new QHBoxLayout;
  undo_ = Named(new QPushButton("Undo Changes", this), "undoButton");
  cancel_ = Named(new QPushButton("Cancel", this), "cancelButton");
  apply_ = Named(new QPushButton("Apply", this), "applyButton");
  buttons->addWidget(undo_);
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  buttons->addWidget(apply_);
  layout->addLayout(buttons);
  auto* progressRow = new QHBoxLayout;
  progressText_ = Named(new QLabel(this), "exchangeText");
  progress_ = Named(new QProgressBar(this), "exchangeProgress");
  progress_->setRange(0, 0);  // busy: the unit gives no measure of what is left
  progressRow->addWidget(progressText_);
  progressRow->addWidget(progress_, 1);
  layout->addLayout(progressRow);
  SetBusy(false);

  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (!filling_ && index >= 0) Cmds().TabChanged(TabAt(index));
  });
  connect(apply_, &QPushButton::clicked, this, [this] {
    if (busy_) return;
    if (!Cmds().ConfirmDataRate()) {
      Cmds().MarkChanged(Cmds().CurrentTab());
      return;
    }
    StartExchange(
        "Applying the setup to the unit...", [this] { return Cmds().ApplySetupCallback(true); },
        [this](int rc) {
          if (rc == 0) hide();
        });
  });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    Cmds().CancelJobSetup();
    hide();
  });
  connect(undo_, &QPushButton::clicked, this, [this] {
    if (busy_ || !Cmds().ConfirmEnquiry(TabAt(tabs_->currentIndex()))) return;
    StartExchange(
        "Reading the setup from the unit...", [this] { return Cmds().ReadJobSetup(); }, [this](int) { Refresh(); });
  });
  binding_ = std::make_unique<PanelBinding>(hylo_.UnitSetupPanel(), this,
                                            [this](const std::string& id) { RenderDerived(id); });
}

SetupPanel::~SetupPanel() = default;

void SetupPanel::SetBusy(bool busy, const QString& what) {
  busy_ = busy;
  progressText_->setText(what);
  progressText_->setVisible(busy);
  progress_->setVisible(busy);
  tabs_->setEnabled(!busy);
  for (QPushButton* b : {apply_, cancel_, undo_}) b->setEnabled(!busy);
}

void SetupPanel::StartExchange(const QString& what, std::function<int()> job, std::function<void(int)> then) {
  SetBusy(true, what);
  QPointer<SetupPanel> self(this);
  // The result comes back through the application object, which outlives any panel.
  const bool started = Cmds().RunInBackground(std::move(job), [self, then = std::move(then)](int rc) {
    PostToUi(
        QCoreApplication::instance(),
        [self, then, rc] {
          if (!self) return;
          self->SetBusy(false);
          then(rc);
        },
        Qt::QueuedConnection);
  });
  if (!started) SetBusy(false);
}

UnitTab SetupPanel::TabAt(int index) const {
  const QWidget* w = tabs_->widget(index);
  if (w == lfTab_) return UnitTab::kLf;
  if (w == hfTab_) return UnitTab::kHf;
  if (w == specialTab_) return UnitTab::kSpecialFeatures;
  if (w == epochTab_) return UnitTab::kEpoch;
  return UnitTab::kLink;
}

void SetupPanel::Edit(UnitTab tab, const std::function<void(JobSetup&)>& edit) {
  if (filling_) return;
  Cmds().MarkChanged(tab);
  Cmds().EditSetup(edit);
  Refresh();
}

// ---- Tabs ------------------------------------------------------------------------------

QWidget* SetupPanel::BuildHfTab() {
  auto* tab = Named(new QWidget(this), "hfTab");
  auto* outer = new QVBoxLayout(tab);
  auto* layout = new QHBoxLayout;
  outer->addLayout(layout);
  auto* wave = new QGroupBox("Waveform", tab);
  auto* wf = new QFormLayout(wave);
  waveBandwidth_ = Named(new QComboBox(wave), "waveBandwidth");
  waveSamples_ = Named(new QLabel(wave), "waveSamples");
  waveLog_ = Named(new QComboBox(wave), "waveLog");
  for (std::size_t i = 0; i < setup::kWaveLogLabels.size(); ++i)
    waveLog_->addItem(QString::fromUtf8(setup::kWaveLogLabels[i].data()), static_cast<int>(i));
  waveMaxLog_ = Named(new QSpinBox(wave), "waveMaxLog");
  waveMaxLog_->setRange(1, 255);
  dutyRun_ = Named(new QSpinBox(wave), "dutyRun");
  dutyRun_->setRange(0, 65535);
  dutyCycle_ = Named(new QSpinBox(wave), "dutyCycle");
  dutyCycle_->setRange(0, 65535);
  waveStreaming_ = Named(new QCheckBox("Enable Wave Streaming", wave), "waveStreaming");
  advanced_ = Named(new QCheckBox("Advanced", wave), "advanced");
  dataFormat_ = Named(new QComboBox(wave), "dataFormat");
  for (const auto& f : setup::kDataFormats) dataFormat_->addItem(QString::fromUtf8(f.label.data()), f.code);
  gain_ = Named(new QComboBox(wave), "gain");
  for (int g : setup::GainList(kModelHf, false)) gain_->addItem(QString("%1 dB").arg(g), g);
  wf->addRow("Acoustic Bandwidth", waveBandwidth_);
  wf->addRow("", waveSamples_);
  wf->addRow("Wave Logging", waveLog_);
  wf->addRow("Max Log Length", waveMaxLog_);
  wf->addRow("Log Data Time", dutyRun_);
  wf->addRow("Cycle Time", dutyCycle_);
  wf->addRow(waveStreaming_);
  wf->addRow(advanced_);
  wf->addRow("Data Format", dataFormat_);
  wf->addRow("Gain", gain_);
  enableDelay_ = Named(new QCheckBox("Enable Delay", wave), "enableDelay");
  startTime_ = Named(new QDateTimeEdit(wave), "startTime");
  startTime_->setDisplayFormat("yyyy-MM-dd HH:mm");
  wf->addRow(enableDelay_);
  wf->addRow("Start", startTime_);

  auto* fft = new QGroupBox("Spectrum", tab);
  auto* ff = new QFormLayout(fft);
  spectrumBandwidth_ = Named(new QComboBox(fft), "spectrumBandwidth");
  spectrumSamples_ = Named(new QLabel(fft), "spectrumSamples");
  hfBandwidth_ = Named(new QLabel(fft), "hfBandwidth");
  fftType_ = Named(new QComboBox(fft), "fftType");
  for (int t : {setup::kFftMean, setup::kFftPeak, setup::kFftFilter})
    fftType_->addItem(QString::fromUtf8(setup::FftTypeLabel(t).data()), t);
  overlap_ = Named(new QComboBox(fft), "overlap");
  for (std::size_t i = 0; i < setup::kOverlaps.size(); ++i)
    overlap_->addItem(QString::fromUtf8(setup::kOverlapLabels[i].data()), setup::kOverlaps[i]);
  updateRate_ = Named(new QComboBox(fft), "updateRate");
  for (double t : setup::kAccumulationTimes) updateRate_->addItem(SecondsLabel(t), t);
  refLevel_ = Named(new QSpinBox(fft), "refLevel");
  refLevel_->setRange(-180, -120);
  fftLog_ = Named(new QComboBox(fft), "fftLog");
  fftLog_->addItem("Logging Off", setup::kFftLoggingOff);
  fftLog_->addItem("Log Continuous", setup::kFftLogContinuous);
  fftLog_->addItem("Epoch", setup::kFftEpoch);
  fftMaxLog_ = Named(new QSpinBox(fft), "fftMaxLog");
  fftMaxLog_->setRange(1, 255);
  spectrumStreaming_ = Named(new QCheckBox("Enable Spectrum Streaming", fft), "spectrumStreaming");
  ff->addRow("Acoustic Bandwidth", spectrumBandwidth_);
  ff->addRow("", spectrumSamples_);
  ff->addRow("", hfBandwidth_);
  ff->addRow("FFT Type", fftType_);
  ff->addRow("Sliding Window Overlap", overlap_);
  ff->addRow("Spectrum Update Rate", updateRate_);
  ff->addRow("Reference Level (dBV)", refLevel_);
  ff->addRow("FFT Logging", fftLog_);
  ff->addRow("Max Log Length", fftMaxLog_);
  ff->addRow(spectrumStreaming_);
  layout->addWidget(wave);
  layout->addWidget(fft);
  auto* files = new QHBoxLayout;
  saveFile_ = Named(new QPushButton("Save Setup File", tab), "saveSetupFile");
  loadFile_ = Named(new QPushButton("Load Setup File", tab), "loadSetupFile");
  files->addWidget(saveFile_);
  files->addWidget(loadFile_);
  files->addStretch(1);
  outer->addLayout(files);
  connect(saveFile_, &QPushButton::clicked, this, [this] {
    Cmds().SaveHfSetupFile();
    Refresh();
  });
  connect(loadFile_, &QPushButton::clicked, this, [this] {
    Cmds().LoadHfSetupFile();
    Refresh();
  });

  const auto tabHf = UnitTab::kHf;
  auto onCombo = [this, tabHf](QComboBox* box, std::function<void(JobSetup&, const QVariant&)> set) {
    connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, box, set, tabHf](int i) {
      if (i >= 0) Edit(tabHf, [&](JobSetup& s) { set(s, box->itemData(i)); });
    });
  };
  auto onSpin = [this, tabHf](QSpinBox* spin, std::function<void(JobSetup&, int)> set) {
    connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this, set, tabHf](int v) { Edit(tabHf, [&](JobSetup& s) { set(s, v); }); });
  };
  auto onCheck = [this, tabHf](QCheckBox* box, std::function<void(JobSetup&, bool)> set) {
    connect(box, &QCheckBox::toggled, this,
            [this, set, tabHf](bool on) { Edit(tabHf, [&](JobSetup& s) { set(s, on); }); });
  };
  onCombo(waveBandwidth_, [](JobSetup& s, const QVariant& v) { s.waveBandwidthHz = v.toUInt(); });
  onCombo(waveLog_, [](JobSetup& s, const QVariant& v) { s.waveLogChoice = v.toInt(); });
  onSpin(waveMaxLog_, [](JobSetup& s, int v) { s.waveMaxLogLength = v; });
  onSpin(dutyRun_, [](JobSetup& s, int v) { s.dutyRunMinutes = v; });
  onSpin(dutyCycle_, [](JobSetup& s, int v) { s.dutyCycleMinutes = v; });
  onCheck(waveStreaming_, [](JobSetup& s, bool on) { s.waveStreaming = on; });
  onCheck(advanced_, [](JobSetup& s, bool on) { s.advancedDisplay = on; });
  onCombo(dataFormat_, [](JobSetup& s, const QVariant& v) { s.dataFormat = static_cast<std::uint8_t>(v.toUInt()); });
  onCombo(gain_, [](JobSetup& s, const QVariant& v) { s.gain = v.toInt(); });
  onCombo(spectrumBandwidth_, [](JobSetup& s, const QVariant& v) { s.spectrumBandwidthHz = v.toUInt(); });
  onCombo(fftType_, [](JobSetup& s, const QVariant& v) { s.fftTypeChoice = v.toInt(); });
  onCombo(overlap_, [](JobSetup& s, const QVariant& v) { s.overlap = v.toDouble(); });
  onCombo(updateRate_, [](JobSetup& s, const QVariant& v) { s.accumulationTime = v.toDouble(); });
  onSpin(refLevel_, [](JobSetup& s, int v) { s.refLevel = v; });
  onCombo(fftLog_, [](JobSetup& s, const QVariant& v) { s.fftLogChoice = v.toInt(); });
  onSpin(fftMaxLog_, [](JobSetup& s, int v) { s.fftMaxLogLength = v; });
  onCheck(spectrumStreaming_, [](JobSetup& s, bool on) { s.spectrumStreaming = on; });
  // Ticking "Enable Delay" starts from the current local time.
  onCheck(enableDelay_, [](JobSetup& s, bool on) {
    s.enableDelay = on;
    if (on) {
      const QDateTime now = QDateTime::currentDateTime();
      const setup::LocalDateTime t{now.date().year(), now.date().month(), now.date().day(), now.time().hour(),
                                   now.time().minute()};
      s.startTime = setup::InstrumentTimeFromLocal(t).value_or(s.startTime);
    }
  });
  connect(startTime_, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& dt) {
    const setup::LocalDateTime t{dt.date().year(), dt.date().month(), dt.date().day(), dt.time().hour(),
                                 dt.time().minute()};
    if (const auto v = setup::InstrumentTimeFromLocal(t)) Edit(UnitTab::kHf, [v](JobSetup& s) { s.startTime = *v; });
  });
  return tab;
}

QWidget* SetupPanel::BuildLfTab() {
  auto* tab = Named(new QWidget(this), "lfTab");
  auto* f = new QFormLayout(tab);
  lfGain_ = Named(new QComboBox(tab), "lfGain");
  lfAdvanced_ = Named(new QCheckBox("Advanced", tab), "lfAdvanced");
  lfBandwidth_ = Named(new QComboBox(tab), "lfBandwidth");
  for (std::uint32_t hz : setup::BandwidthList(kModelLf)) lfBandwidth_->addItem(BandwidthLabel(hz), hz);
  lfSamples_ = Named(new QLabel(tab), "lfSamples");
  lfLogging_ = Named(new QComboBox(tab), "lfLogging");
  for (std::size_t i = 0; i < control::kLfLoggingLabels.size(); ++i)
    lfLogging_->addItem(QString::fromUtf8(control::kLfLoggingLabels[i].data()), static_cast<int>(i));
  lfWaveData_ = Named(new QComboBox(tab), "lfWaveData");
  lfFftData_ = Named(new QComboBox(tab), "lfFftData");
  for (std::size_t i = 0; i < control::kLfDataLabels.size(); ++i) {
    lfWaveData_->addItem(QString::fromUtf8(control::kLfDataLabels[i].data()), static_cast<int>(i));
    lfFftData_->addItem(QString::fromUtf8(control::kLfDataLabels[i].data()), static_cast<int>(i));
  }
  lfFftType_ = Named(new QComboBox(tab), "lfFftType");
  for (int t : {setup::kFftMean, setup::kFftOff, setup::kFftPeak, setup::kFftFilter})
    lfFftType_->addItem(QString::fromUtf8(setup::FftTypeLabel(t).data()), t);
  lfStrings_ = Named(new QSpinBox(tab), "lfStrings");
  lfStrings_->setRange(1, 65535);
  lfOverlap_ = Named(new QComboBox(tab), "lfOverlap");
  for (std::size_t i = 0; i < setup::kOverlaps.size(); ++i)
    lfOverlap_->addItem(QString::fromUtf8(setup::kOverlapLabels[i].data()), setup::kOverlaps[i]);
  lfStringsText_ = Named(new QLabel(tab), "lfStringsText");
  lfNote_ = Named(new QLabel(tab), "lfNote");
  lfRange_ = Named(new QLabel(tab), "lfRange");
  f->addRow("Gain", lfGain_);
  f->addRow(lfAdvanced_);
  f->addRow("Acoustic Bandwidth", lfBandwidth_);
  f->addRow("", lfSamples_);
  f->addRow("", lfRange_);
  f->addRow("Logging", lfLogging_);
  f->addRow("Wave Data", lfWaveData_);
  f->addRow("FFT Data", lfFftData_);
  f->addRow("FFT Type", lfFftType_);
  f->addRow("Num Strings", lfStrings_);
  f->addRow("Sliding Window Overlap", lfOverlap_);
  f->addRow("", lfStringsText_);
  f->addRow("", lfNote_);

  auto onCombo = [this](QComboBox* box, std::function<void(JobSetup&, const QVariant&)> set) {
    connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, box, set](int i) {
      if (i >= 0) Edit(UnitTab::kLf, [&](JobSetup& s) { set(s, box->itemData(i)); });
    });
  };
  onCombo(lfGain_, [](JobSetup& s, const QVariant& v) { s.lfGain = v.toInt(); });
  onCombo(lfBandwidth_, [](JobSetup& s, const QVariant& v) { s.lfBandwidthHz = v.toUInt(); });
  onCombo(lfLogging_, [](JobSetup& s, const QVariant& v) { s.lfMode.logging = v.toInt(); });
  onCombo(lfWaveData_, [](JobSetup& s, const QVariant& v) { s.lfMode.waveData = v.toInt(); });
  onCombo(lfFftData_, [](JobSetup& s, const QVariant& v) { s.lfMode.fftData = v.toInt(); });
  onCombo(lfFftType_, [](JobSetup& s, const QVariant& v) { s.lfFftType = v.toInt(); });
  onCombo(lfOverlap_, [](JobSetup& s, const QVariant& v) { s.lfOverlap = v.toDouble(); });
  connect(lfStrings_, QOverload<int>::of(&QSpinBox::valueChanged), this,
          [this](int v) { Edit(UnitTab::kLf, [v](JobSetup& s) { s.lfNumStrings = v; }); });
  connect(lfAdvanced_, &QCheckBox::toggled, this, [this](bool on) {
    Edit(UnitTab::kLf, [on](JobSetup& s) {
      if (on)
        s.lfAdvancedDisplay = true;
      else
        setup::LeaveLfAdvancedDisplay(s);
    });
  });
  return tab;
}

QWidget* SetupPanel::BuildSpecialTab() {
  auto* tab = Named(new QWidget(this), "specialTab");
  auto* f = new QFormLayout(tab);
  syncPin_ = Named(new QComboBox(tab), "syncPin");
  for (const auto& item : setup::kSyncPinItems) syncPin_->addItem(QString::fromUtf8(item.label.data()), item.mode);
  timeSource_ = Named(new QCheckBox(tab), "timeSource");
  wake_ = Named(new QCheckBox("Wake From Standby", tab), "wakeFromStandby");
  f->addRow("Sync Pin", syncPin_);
  f->addRow(timeSource_);
  f->addRow(wake_);
  connect(syncPin_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
    if (i >= 0)
      Edit(UnitTab::kSpecialFeatures, [v = syncPin_->itemData(i).toInt()](JobSetup& s) { s.syncPinMode = v; });
  });
  connect(timeSource_, &QCheckBox::toggled, this,
          [this](bool on) { Edit(UnitTab::kSpecialFeatures, [on](JobSetup& s) { s.timeSource = on; }); });
  connect(wake_, &QCheckBox::toggled, this,
          [this](bool on) { Edit(UnitTab::kSpecialFeatures, [on](JobSetup& s) { s.wakeFromStandby = on; }); });
  return tab;
}

QWidget* SetupPanel::BuildLinkTab() {
  auto* tab = Named(new QWidget(this), "linkTab");
  auto* layout = new QVBoxLayout(tab);
  linkText_ = Named(new QLabel(tab), "linkText");
  layout->addWidget(linkText_);
  layout->addStretch(1);
  return tab;
}

// ---- Filling ---------------------------------------------------------------------------

void SetupPanel::FillLists() {
  const auto model = Cmds().Context().model;
  filling_ = true;
  for (QComboBox* box : {waveBandwidth_, spectrumBandwidth_}) {
    box->clear();
    for (std::uint32_t hz : setup::BandwidthList(model == kModelAf ? kModelAf : kModelHf))
      box->addItem(BandwidthLabel(hz), hz);
  }
  filling_ = false;
}

void SetupPanel::Open() {
  if (Cmds().PanelOpen() && isVisible()) return;
  const setup::SetupContext ctx = Cmds().Context();
  const setup::UnitTabsShown shown = setup::UnitSetupTabs(ctx);
  filling_ = true;
  tabs_->setTabVisible(tabs_->indexOf(lfTab_), shown.lf);
  tabs_->setTabVisible(tabs_->indexOf(hfTab_), shown.hf);
  tabs_->setTabVisible(tabs_->indexOf(specialTab_), shown.specialFeatures);
  tabs_->setTabVisible(tabs_->indexOf(linkTab_), shown.link);
  tabs_->setTabVisible(tabs_->indexOf(epochTab_), shown.olderEpoch || shown.newerEpoch);
  epochTab_->Refresh();
  if (shown.hf)
    tabs_->setTabText(tabs_->indexOf(hfTab_),
                      QString::fromUtf8(shown.hfTitle.data(), static_cast<int>(shown.hfTitle.size())));
  const QWidget* initial = shown.initial == UnitTab::kLf ? lfTab_ : shown.initial == UnitTab::kHf ? hfTab_ : linkTab_;
  tabs_->setCurrentWidget(const_cast<QWidget*>(initial));
  filling_ = false;
  FillLists();
  linkText_->setText(QString::fromStdString(DescribeUnit(hylo_.Connection().Identity())));
  if (Cmds().BeginOpenUnitSetupPanel() && !busy_)
    StartExchange(
        "Reading the setup from the unit...", [this] { return Cmds().ReadJobSetup(); }, [this](int) { Refresh(); });
  Refresh();
  show();
  raise();
}

void SetupPanel::Refresh() {
  const JobSetup s = Cmds().Setup();
  filling_ = true;
  Select(waveBandwidth_, s.waveBandwidthHz, BandwidthLabel(s.waveBandwidthHz));
  Select(waveLog_, s.waveLogChoice, {});
  SetSpin(waveMaxLog_, s.waveMaxLogLength);
  SetSpin(dutyRun_, s.dutyRunMinutes);
  SetSpin(dutyCycle_, s.dutyCycleMinutes);
  waveStreaming_->setChecked(s.waveStreaming);
  advanced_->setChecked(s.advancedDisplay);
  Select(dataFormat_, s.dataFormat, {});
  Select(gain_, s.gain, QString("%1 dB").arg(s.gain));
  Select(spectrumBandwidth_, s.spectrumBandwidthHz, BandwidthLabel(s.spectrumBandwidthHz));
  Select(fftType_, s.fftTypeChoice, QString::fromUtf8(setup::FftTypeLabel(s.fftTypeChoice).data()));
  Select(overlap_, setup::SnapOverlap(s.overlap), {});
  Select(updateRate_, s.accumulationTime, SecondsLabel(s.accumulationTime));
  SetSpin(refLevel_, s.refLevel);
  Select(fftLog_, s.fftLogChoice, {});
  SetSpin(fftMaxLog_, s.fftMaxLogLength);
  spectrumStreaming_->setChecked(s.spectrumStreaming);
  enableDelay_->setChecked(s.enableDelay);
  if (s.enableDelay) {
    const setup::LocalDateTime t = setup::LocalFromInstrumentTime(s.startTime);
    startTime_->setDateTime(QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute)));
  }
  Select(syncPin_, s.syncPinMode, {});
  timeSource_->setChecked(s.timeSource);
  timeSource_->setText(QString::fromUtf8(setup::TimeSourceLabel(s.syncPinMode).data()));
  wake_->setChecked(s.wakeFromStandby);

  lfGain_->clear();
  for (int g : setup::GainList(kModelLf, s.lfAdvancedDisplay)) lfGain_->addItem(QString("%1 dB").arg(g), g);
  Select(lfGain_, s.lfGain, QString("%1 dB").arg(s.lfGain));
  lfAdvanced_->setChecked(s.lfAdvancedDisplay);
  Select(lfBandwidth_, s.lfBandwidthHz, BandwidthLabel(s.lfBandwidthHz));
  Select(lfLogging_, s.lfMode.logging, {});
  Select(lfWaveData_, s.lfMode.waveData, {});
  Select(lfFftData_, s.lfMode.fftData, {});
  Select(lfFftType_, s.lfFftType, {});
  SetSpin(lfStrings_, s.lfNumStrings);
  Select(lfOverlap_, setup::SnapOverlap(s.lfOverlap), {});
  filling_ = false;
  UpdateDimming(s);
  for (const char* id : {setup::unitpanel::kWaveSamples, setup::unitpanel::kSpectrumSamples,
                         setup::unitpanel::kHfBandwidth, setup::unitpanel::kLfSamples, setup::unitpanel::kLfStrings,
                         setup::unitpanel::kLfDataLossNote, setup::unitpanel::kLfSignalRange})
    RenderDerived(id);
}

void SetupPanel::UpdateDimming(const JobSetup& s) {
  const setup::SetupContext ctx = Cmds().Context();
  const bool waveLog = s.waveLogChoice != setup::kLoggingOff;
  const bool exclusive = ctx.firmware < Firmware(2, 2, 0);
  waveStreaming_->setEnabled(!(exclusive && waveLog));
  waveLog_->setEnabled(!(exclusive && s.waveStreaming));
  waveBandwidth_->setEnabled(waveLog || s.waveStreaming);
  waveMaxLog_->setEnabled(waveLog);
  const bool duty = s.waveLogChoice == setup::kLogDutyCycle || s.waveLogChoice == setup::kEpochDutyCycle;
  dutyRun_->setEnabled(duty);
  dutyCycle_->setEnabled(duty);
  const bool formats = ctx.firmware >= Firmware(1, 3, 0) && (waveLog || s.waveStreaming) && s.advancedDisplay;
  dataFormat_->setVisible(formats);
  gain_->setVisible(formats);
  gain_->setEnabled((s.dataFormat & 0x7F) < 3);
  const bool fftOn = s.fftLogChoice != setup::kFftLoggingOff || s.spectrumStreaming;
  for (QWidget* w : {static_cast<QWidget*>(spectrumBandwidth_), static_cast<QWidget*>(fftType_),
                     static_cast<QWidget*>(updateRate_), static_cast<QWidget*>(refLevel_)})
    w->setEnabled(fftOn);
  fftMaxLog_->setEnabled(s.fftLogChoice == setup::kFftLogContinuous || s.fftLogChoice == setup::kFftEpoch);
  refLevel_->setVisible(s.advancedDisplay);
  startTime_->setEnabled(s.enableDelay);
  const bool pps = ctx.featureLevel >= 2 && ctx.firmware >= Firmware(2, 1, 0);
  timeSource_->setVisible(pps && s.syncPinMode != setup::kSyncDisabled);
  wake_->setVisible(ctx.firmware >= Firmware(2, 1, 0));
  lfStrings_->setEnabled(s.lfFftType != setup::kFftOff);
}

void SetupPanel::RenderDerived(const std::string& id) {
  const PanelModel& model = hylo_.UnitSetupPanel();
  if (id == setup::unitpanel::kRevision) {
    const std::int64_t revision = model.Int(id, -1);
    if (revision != shownRevision_) {
      shownRevision_ = revision;
      Refresh();
    }
    return;
  }
  const std::pair<const char*, QLabel*> labels[] = {
      {setup::unitpanel::kWaveSamples, waveSamples_}, {setup::unitpanel::kSpectrumSamples, spectrumSamples_},
      {setup::unitpanel::kHfBandwidth, hfBandwidth_}, {setup::unitpanel::kLfSamples, lfSamples_},
      {setup::unitpanel::kLfStrings, lfStringsText_}, {setup::unitpanel::kLfDataLossNote, lfNote_},
      {setup::unitpanel::kLfSignalRange, lfRange_}};
  for (const auto& [name, label] : labels) {
    if (id != name) continue;
    const Control c = model.Get(id);
    label->setText(QString::fromStdString(model.Text(id)));
    label->setVisible(c.visible);
  }
}

void SetupPanel::closeEvent(QCloseEvent* event) {
  if (busy_) {  // the exchange under way ends first; it is bounded by the link's time-outs
    event->ignore();
    return;
  }
  Cmds().CancelJobSetup();
  event->accept();
}

}  // namespace hylo::app
