#include "MainWindow.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QColor>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPalette>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "AudioControls.h"
#include "CalibrationPanel.h"
#include "SettingsEdit.h"
#include "TriggerControls.h"
#include "UiPost.h"
#include "display/HyloUIUpdate.h"
#include "processing/HyloReference.h"
#include "shell/MainPanel.h"
#include "stream/HyloProcMsg.h"

namespace hylo::app {

MainWindow::MainWindow(Hylo& hylo, QWidget* parent) : QMainWindow(parent), hylo_(hylo) {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* top = new QHBoxLayout;
  unitLine_ = new QLabel("Not Connected", central);
  unitLine_->setObjectName("unitLine");
  logIndicator_ = new QLabel("Logging Disabled", central);
  logIndicator_->setObjectName("logIndicator");
  logKinds_ = new QLabel(central);
  logKinds_->setObjectName(mainpanel::kLogKindsLabel);
  syncIndicator_ = new QLabel("Sync", central);
  syncIndicator_->setObjectName("syncIndicator");
  linkIndicator_ = new QLabel("Link", central);
  linkIndicator_->setObjectName("linkIndicator");
  linkIndicator_->setAutoFillBackground(true);
  top->addWidget(linkIndicator_);
  top->addWidget(unitLine_, 1);
  top->addWidget(logIndicator_);
  top->addWidget(logKinds_);
  top->addWidget(syncIndicator_);
  layout->addLayout(top);

  auto* status = new QHBoxLayout;
  for (const char* id : {statuspanel::kClock, statuspanel::kDate, statuspanel::kEnvironment, statuspanel::kBattery,
                         statuspanel::kSyncStatus, statuspanel::kTimeSource}) {
    auto* label = new QLabel(central);
    label->setObjectName(id);
    statusLabels_[id] = label;
    status->addWidget(label);
  }
  batteryGauge_ = new QProgressBar(central);
  batteryGauge_->setObjectName(statuspanel::kBatteryGauge);
  batteryGauge_->setRange(0, 10);
  batteryGauge_->setTextVisible(false);
  batteryGauge_->setMaximumWidth(60);
  status->addWidget(batteryGauge_);
  activity_ = new QLabel(central);
  activity_->setObjectName(statuspanel::kActivity);
  activity_->setFixedSize(14, 14);
  activity_->setAutoFillBackground(true);
  status->addWidget(activity_);
  // The two rows of five indicators (instrument and host), coloured by the type 17 codes.
  for (const char* group : {"Unit", "Host"}) {
    auto& row = leds_[group];
    for (auto*& led : row) {
      led = new QLabel(central);
      led->setFixedSize(10, 10);
      led->setAutoFillBackground(true);
      status->addWidget(led);
    }
    status->addSpacing(6);
  }
  status->addStretch(1);
  layout->addLayout(status);

  layout->addWidget(BuildDisplayControls(central));
  top_ = new DisplayArea("Top Display", "topDisplay", false, central);
  bottom_ = new DisplayArea("Bottom Display", "bottomDisplay", true, central);
  // A type this build does not know keeps the default.
  EditSettings(hylo_, [&](SettingsGroups& g) {
    if (!top_->SetType(g.display.topDisplay)) top_->SetType(g.display.topDisplay = kDisplaySpectrogram);
    if (!bottom_->SetType(g.display.bottomDisplay)) bottom_->SetType(g.display.bottomDisplay = kDisplayTimeSeries);
  });
  for (DisplayArea* area : {top_, bottom_}) {
    area->SetAcceptType([this](int type) { return AcceptDisplayType(type); });
    area->SetTypeChanged([this, area](int type) {
      EditSettings(hylo_,
                   [&](SettingsGroups& g) { (area == top_ ? g.display.topDisplay : g.display.bottomDisplay) = type; });
    });
    layout->addWidget(area, 3);
  }

  messageLine_ = new QLabel(central);
  messageLine_->setObjectName(mainpanel::kMessageLine);
  layout->addWidget(messageLine_);

  statusField_ = new QPlainTextEdit(central);
  statusField_->setObjectName("statusField");
  statusField_->setReadOnly(true);
  statusField_->setMaximumBlockCount(static_cast<int>(PanelModel::kItemLimit));
  layout->addWidget(statusField_, 1);

  // Scanning controls: each calls its core callback; the model dims and labels them.
  auto* scanning = new QHBoxLayout;
  auto scanButton = [&](const char* text, const char* id, auto callback) {
    auto* button = new QPushButton(text, central);
    button->setObjectName(id);
    scanning->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this, callback] { (hylo_.Scan().*callback)(); });
    return button;
  };
  startButton_ = scanButton("Start", scanpanel::kStart, &HyloScan::StartScanningCallback);
  pauseButton_ = scanButton("Pause", scanpanel::kPause, &HyloScan::PauseCallback);
  stopButton_ = scanButton("Stop", scanpanel::kStop, &HyloScan::StopCallback);
  scanning->addStretch(1);
  scanning->addWidget(new TriggerControls(hylo_, central));
  layout->addLayout(scanning);
  replayPanel_ = new ReplayPanel(hylo_, central);
  layout->addWidget(replayPanel_);
  // Scanning and a replay share the chain: Start waits until the replay ends.
  connect(replayPanel_, &ReplayPanel::replayingChanged, this, [this](bool on) {
    replaying_ = on;
    hylo_.Status().Append(on ? "Replaying" : "Replay Ended");
    Render(scanpanel::kStart);
  });
  layout->addWidget(new AudioControls(hylo_, central));
  layout->addWidget(new CalibrationPanel(hylo_, central));

  exitButton_ = new QPushButton("Exit", central);
  exitButton_->setObjectName("exitButton");
  layout->addWidget(exitButton_, 0, Qt::AlignRight);
  connect(exitButton_, &QPushButton::clicked, this, [this] {
    refresh_.stop();
    autoShot_.stop();
    hylo_.MainExit();
  });

  setCentralWidget(central);
  resize(1200, 900);

  BuildMenus();

  binding_ = std::make_unique<PanelBinding>(hylo_.MainPanel(), this, [this](const std::string& id) { Render(id); });
  for (const char* id :
       {mainpanel::kTitle, mainpanel::kStatusField, mainpanel::kLogIndicator, mainpanel::kLogKindsLabel,
        mainpanel::kSyncIndicator, mainpanel::kUnitLine, mainpanel::kConnectionIndicator, mainpanel::kMessageLine}) {
    Render(id);
  }
  for (const char* id : {scanpanel::kStart, scanpanel::kPause, scanpanel::kStop}) Render(id);
  // Stops asked for by worker threads (a log that will not open) run here; setup panels stop
  // scanning through the same procedure.
  hylo_.SetUiDispatch([this](std::function<void()> call) { PostToUi(this, std::move(call)); });
  hylo_.SetStopScanning([this] { hylo_.Scan().StopCallback(); });
  statusBinding_ = std::make_unique<PanelBinding>(hylo_.Data().StatusPanel(), this,
                                                  [this](const std::string& id) { RenderStatus(id); });
  // The displays pull on their own timer, so the drawing rate never depends on the data rate.
  const double seconds = std::clamp(hylo_.Groups().display.refreshRate, 0.05, 5.0);
  refresh_.setInterval(static_cast<int>(seconds * 1000));
  connect(&refresh_, &QTimer::timeout, this, [this] { RefreshTicker(); });
  refresh_.start();
}

QColor MainWindow::IndicatorColour(const std::string& group, int i) const {
  auto it = leds_.find(group);
  if (it == leds_.end() || i < 0 || i >= 5) return {};
  return it->second[static_cast<std::size_t>(i)]->palette().color(QPalette::Window);
}

QLabel* MainWindow::StatusLabel(const char* id) const {
  auto it = statusLabels_.find(id);
  return it == statusLabels_.end() ? nullptr : it->second;
}

void MainWindow::RenderStatus(const std::string& id) {
  const auto paint = [](QLabel* label, const std::string& rgb) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor(QString::fromStdString("#" + rgb)));
    label->setPalette(palette);
  };
  PanelModel& panel = hylo_.Data().StatusPanel();
  if (id == statuspanel::kBatteryGauge) {
    batteryGauge_->setValue(static_cast<int>(panel.Int(id, 0)));
    return;
  }
  if (id == statuspanel::kActivity) {
    paint(activity_, panel.Text(id));
    return;
  }
  for (auto& [group, row] : leds_) {
    if (id != std::string(statuspanel::kLeds) + group) continue;
    const auto colours = panel.Get(id).items;
    for (std::size_t i = 0; i < row.size() && i < colours.size(); ++i) paint(row[i], colours[i]);
    return;
  }
  auto it = statusLabels_.find(id);
  if (it == statusLabels_.end()) return;
  const Control control = hylo_.Data().StatusPanel().Get(id);
  if (const auto* text = std::get_if<std::string>(&control.value)) it->second->setText(QString::fromStdString(*text));
  it->second->setEnabled(!control.dimmed);
}

void MainWindow::RefreshTicker() {
  if (hylo_.Exiting() || !hylo_.Threads().Started()) return;
  hylo_.RequestRefresh();
  // One copy of the prepared arrays per tick, shared by every display that draws them.
  HyloUIUpdate& displays = hylo_.Data().Displays();
  const auto view = std::make_shared<const SpectrogramView>(displays.Spectrum().View());
  for (DisplayArea* area : {top_, bottom_}) {
    area->Spectrum()->SetTriggers(hylo_.HostTriggerList().List(), hylo_.Data().Reference().Unit(),
                                  hylo_.Data().Reference().GetSensitivity());
    area->ShowSpectra(view);
  }
  const ImpulseView impulses = displays.Impulses().View();
  for (DisplayArea* area : {top_, bottom_}) area->ShowImpulses(impulses);
  if (displays.TimeSeries().HasNewData()) {
    const TraceView trace = displays.TimeSeries().DrawTrace();
    for (DisplayArea* area : {top_, bottom_}) area->ShowTrace(trace);
  }
  if (view->columnSeconds != spanColumnSeconds_) ApplyHorizontalSpanTexts(view->columnSeconds);
  if (!horizSpan_->view()->isVisible() && horizSpan_->currentIndex() != view->zoomLevel) {
    const QSignalBlocker block(horizSpan_);
    horizSpan_->setCurrentIndex(view->zoomLevel);
  }
  if (view->displayReference != shownReference_ && !referenceLevel_->hasFocus()) {
    shownReference_ = view->displayReference;
    const QSignalBlocker block(referenceLevel_);
    referenceLevel_->setValue(shownReference_);
  }
  if (orientationPanel_ && orientationPanel_->isVisible()) orientationPanel_->Pull();
  ShowSyncIndicator();
  UpdateCommandEnabling();
}

void MainWindow::ShowSyncIndicator() {
  const DeviceIdentity unit = hylo_.Connection().Identity();
  const bool shown = SyncIndicatorShown(unit.modelCode, FirmwareVersion(unit.firmwareText), unit.hardwareRevision);
  PanelModel& panel = hylo_.MainPanel();
  const Control was = panel.Get(mainpanel::kSyncIndicator);
  if (was.visible != shown) panel.SetVisible(mainpanel::kSyncIndicator, shown);
  if (!shown) return;
  const std::int64_t state = hylo_.Data().Status().Copy().syncState;
  if (panel.Int(mainpanel::kSyncIndicator, -1) != state) panel.SetValue(mainpanel::kSyncIndicator, state);
  const std::string tooltip = SyncTooltip(static_cast<int>(state));
  if (was.tooltip != tooltip) panel.SetTooltip(mainpanel::kSyncIndicator, tooltip);
}

TimeSeriesWidget* MainWindow::TimeSeries() const {
  return (bottom_->Type() == kDisplayTimeSeries ? bottom_ : top_)->TimeSeries();
}

SpectrumWidget* MainWindow::Spectrum() const {
  return (bottom_->Type() == kDisplaySpectrum ? bottom_ : top_)->Spectrum();
}

SpectrogramWidget* MainWindow::Spectrogram() const {
  return (bottom_->Type() == kDisplaySpectrogram ? bottom_ : top_)->Spectrogram();
}

QWidget* MainWindow::BuildDisplayControls(QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  HyloSpectrum& spectrum = hylo_.Data().Displays().Spectrum();

  row->addWidget(new QLabel("Span", box));
  horizSpan_ = new QComboBox(box);
  horizSpan_->setObjectName("horizSpan");
  for (int k = 0; k <= 6; ++k) horizSpan_->addItem(QString());
  ApplyHorizontalSpanTexts(spectrum.View().columnSeconds);
  connect(horizSpan_, &QComboBox::activated, this, [this](int level) { SetHorizAxis(level); });
  row->addWidget(horizSpan_);

  row->addWidget(new QLabel("Spectrum Reference Level", box));
  referenceLevel_ = new QSpinBox(box);
  referenceLevel_->setObjectName("referenceLevel");
  referenceLevel_->setRange(-400, 400);
  referenceLevel_->setSingleStep(10);
  referenceLevel_->setKeyboardTracking(false);
  shownReference_ = hylo_.Data().Reference().DisplayReference();
  referenceLevel_->setValue(shownReference_);
  connect(referenceLevel_, &QSpinBox::valueChanged, this, [this](int value) {
    // Arrow and key steps land on the next multiple of the step.
    if (std::abs(value - shownReference_) == referenceLevel_->singleStep())
      value = StepReference(shownReference_, value);
    PublishReference(value);
  });
  row->addWidget(referenceLevel_);

  referenceUnit_ = new QComboBox(box);
  referenceUnit_->setObjectName("referenceUnit");
  referenceUnit_->addItems({"dB re 1µPa", "dBV", "dB uPa^2/Hz", "dBV^2/Hz", "dB Ambient "});
  referenceUnit_->setCurrentIndex(ListIndexFromUnit(hylo_.Data().Reference().Unit()));
  connect(referenceUnit_, &QComboBox::activated, this, [this](int) { PublishReference(referenceLevel_->value()); });
  row->addWidget(referenceUnit_);

  row->addWidget(new QLabel("Colour Map", box));
  colourMap_ = new QSpinBox(box);
  colourMap_->setObjectName("colourMap");
  colourMap_->setRange(0, 1000);
  colourMap_->setKeyboardTracking(false);
  colourMap_->setSuffix(" dB");
  connect(colourMap_, &QSpinBox::valueChanged, this, [this](int span) { SetColourMap(span); });
  row->addWidget(colourMap_);
  SetColourMap(static_cast<int>(std::min<std::uint32_t>(hylo_.Groups().spectrum.colourMapPeak, 1000)));

  peakMode_ = new QCheckBox("Peak", box);
  peakMode_->setObjectName("peakMode");
  peakMode_->setChecked(hylo_.Groups().spectrum.displayMode == 0);
  connect(peakMode_, &QCheckBox::toggled, this, [this](bool peak) { hylo_.SetPeakMode(peak); });
  spectrum.SelectVariant(peakMode_->isChecked() ? 0 : 1);
  row->addWidget(peakMode_);

  lineFilter_ = new QCheckBox("Line Filter", box);
  lineFilter_->setObjectName("lineFilter");
  connect(lineFilter_, &QCheckBox::toggled, this,
          [this](bool on) { hylo_.Data().Displays().Spectrum().SetLineFilter(on); });
  row->addWidget(lineFilter_);
  spectrum.SetDisplayToNyquist(hylo_.Groups().display.displayToNyquist);

  autoscale_ = new QCheckBox("Autoscale", box);
  autoscale_->setObjectName("spectrumAutoscale");
  connect(autoscale_, &QCheckBox::toggled, this, [this](bool on) {
    for (DisplayArea* area : {top_, bottom_}) area->Spectrum()->SetAutoscale(on);
  });
  row->addWidget(autoscale_);

  traceAxis_ = new QComboBox(box);
  traceAxis_->setObjectName("traceAxis");
  traceAxis_->addItem("Auto", QVariant::fromValue(kTraceAxisAuto));
  for (std::uint32_t uv : {100U, 1000U, 10000U, 100000U, 1000000U, 10000000U})
    traceAxis_->addItem(QString("±%1 mV").arg(uv / 1000.0), QVariant::fromValue(uv));
  connect(traceAxis_, &QComboBox::activated, this, [this](int index) {
    for (DisplayArea* area : {top_, bottom_})
      area->TimeSeries()->TraceAxisCallback(traceAxis_->itemData(index).toUInt());
  });
  row->addWidget(traceAxis_);

  auto* noise = new QPushButton("Noise Compare", box);
  noise->setObjectName("loadNoiseCompare");
  connect(noise, &QPushButton::clicked, this, [this] { LoadNoiseCompare(); });
  row->addWidget(noise);

  auto* reset = new QPushButton("Reset", box);
  reset->setObjectName("resetCharts");
  connect(reset, &QPushButton::clicked, this, [this] { MainResetChart(); });
  row->addWidget(reset);
  row->addStretch(1);
  return box;
}

void MainWindow::ApplyHorizontalSpanTexts(double columnSeconds) {
  spanColumnSeconds_ = columnSeconds;
  for (int k = 0; k <= 6; ++k) {
    const double seconds = ZoomSpan(k, columnSeconds);
    QString text = seconds < 600      ? QString("%1 s").arg(seconds, 0, 'f', seconds < 10 ? 1 : 0)
                   : seconds < 7200   ? QString("%1 min").arg(seconds / 60, 0, 'f', 1)
                   : seconds < 172800 ? QString("%1 h").arg(seconds / 3600, 0, 'f', 1)
                                      : QString("%1 days").arg(seconds / 86400, 0, 'f', 1);
    horizSpan_->setItemText(k, text);
  }
}

void MainWindow::SetHorizAxis(int level) {
  const double span = ZoomSpan(std::clamp(level, 0, 6), spanColumnSeconds_);
  hylo_.SetDisplaySetup(span);
}

void MainWindow::SetColourMap(int span) {
  const int clamped = ClampColourMap(span);
  if (colourMap_->value() != clamped) {
    const QSignalBlocker block(colourMap_);
    colourMap_->setValue(clamped);
  }
  hylo_.Data().Displays().Spectrum().SetColourMap(clamped);
  EditSettings(hylo_, [&](SettingsGroups& g) { g.spectrum.colourMapPeak = static_cast<std::uint32_t>(clamped); });
  hylo_.Data().RefreshAudioLevel();
}

void MainWindow::PublishReference(int level) {
  const int unit = UnitFromListIndex(referenceUnit_->currentIndex());
  const int shown = hylo_.Data().Reference().PublishReferences({level, unit == UNIT_AMBIENT, unit});
  if (shown == -1) return;
  shownReference_ = shown;
  const QSignalBlocker block(referenceLevel_);
  referenceLevel_->setValue(shown);
}

bool MainWindow::AcceptDisplayType(int type) {
  if (type == kDisplayClicks && !hylo_.Data().Fft().ClickTemplateLoaded()) {
    hylo_.Operator().ShowNotice("Click Detection is unavailable. \nPlease load a click detector file, and try again.");
    return false;
  }
  return true;
}

void MainWindow::LoadNoiseCompare() {
  const auto file =
      hylo_.Operator().ChooseFile("Load Noise Compare", hylo_.Groups().main.screenshotPath, "*.csv", false);
  if (!file) return;
  if (!hylo_.Data().Displays().Spectrum().LoadNoiseCompare(*file)) hylo_.Operator().ShowNotice("Error reading file.");
}

void MainWindow::MainResetChart() {
  hylo_.ResetCharts();
  for (DisplayArea* area : {top_, bottom_}) area->ResetTraces();
}

EpochWindow* MainWindow::OpenEpochWindow() {
  if (!epochWindow_) epochWindow_ = new EpochWindow(hylo_, this);
  epochWindow_->show();
  epochWindow_->raise();
  return epochWindow_;
}

StatusPanel* MainWindow::OpenStatusPanel() {
  if (!statusPanel_) statusPanel_ = new StatusPanel(hylo_, this);
  statusPanel_->show();
  statusPanel_->raise();
  return statusPanel_;
}

FilePanel* MainWindow::OpenFilePanel() {
  if (!filePanel_) filePanel_ = new FilePanel(hylo_, this);
  filePanel_->Open();
  return filePanel_;
}

OrientationPanel* MainWindow::OpenTiltMagPanel() {
  if (!orientationPanel_) orientationPanel_ = new OrientationPanel(hylo_, this);
  orientationPanel_->show();
  orientationPanel_->raise();
  orientationPanel_->Pull();
  return orientationPanel_;
}

MainWindow::~MainWindow() {
  hylo_.SetUiDispatch({});
  hylo_.SetStopScanning({});
}

void MainWindow::Render(const std::string& id) {
  const PanelModel& model = hylo_.MainPanel();
  if (id == mainpanel::kStatusField) {
    // Only the new lines; the field drops its oldest past its block limit.
    for (const auto& line : model.ItemsAfter(id, statusLinesSeen_))
      statusField_->appendPlainText(QString::fromStdString(line));
    return;
  }
  const Control control = model.Get(id);
  if (id == mainpanel::kTitle) {
    setWindowTitle(QString::fromStdString(model.Text(id)));
  } else if (id == mainpanel::kLogIndicator) {
    logIndicator_->setToolTip(QString::fromStdString(control.tooltip));
    if (const auto* text = std::get_if<std::string>(&control.value))
      logIndicator_->setText(QString::fromStdString(*text));
  } else if (id == mainpanel::kLogKindsLabel) {
    logKinds_->setText(QString::fromStdString(model.Text(id)));
    logKinds_->setVisible(control.visible && !model.Text(id).empty());
  } else if (id == mainpanel::kConnectionIndicator) {
    const auto colour = model.Int(id, 0);
    QPalette palette = linkIndicator_->palette();
    palette.setColor(QPalette::Window, colour != 0 ? QColor(static_cast<QRgb>(colour)) : QColor(Qt::transparent));
    linkIndicator_->setPalette(palette);
  } else if (id == mainpanel::kSyncIndicator) {
    syncIndicator_->setToolTip(QString::fromStdString(control.tooltip));
    syncIndicator_->setVisible(control.visible);
    const auto state = model.Int(id, 0);
    syncIndicator_->setText(state == 5 || state == 8 ? "Synced" : "Sync");
  } else if (id == scanpanel::kStart || id == scanpanel::kPause || id == scanpanel::kStop) {
    QPushButton* button = id == scanpanel::kStart ? startButton_ : id == scanpanel::kPause ? pauseButton_ : stopButton_;
    button->setEnabled(!control.dimmed && !(replaying_ && button == startButton_));
    if (!control.label.empty()) button->setText(QString::fromStdString(control.label));
  } else if (id == mainpanel::kMessageLine) {
    messageLine_->setText(QString::fromStdString(model.Text(id)));
  } else if (id == mainpanel::kUnitLine) {
    const std::string text = model.Text(id);
    if (!text.empty()) unitLine_->setText(QString::fromStdString(text));
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  refresh_.stop();
  autoShot_.stop();
  hylo_.MainExit();
  event->accept();
}

}  // namespace hylo::app
