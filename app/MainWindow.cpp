#include "MainWindow.h"

#include <QCloseEvent>
#include <QColor>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPalette>
#include <QVBoxLayout>
#include <algorithm>

#include "processing/HyloUIUpdate.h"
#include "shell/MainPanel.h"

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
  logKinds_->setObjectName(kLogKindsLabel);
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
  status->addStretch(1);
  layout->addLayout(status);

  auto* graphs = new QHBoxLayout;
  timeSeries_ = new TimeSeriesWidget(hylo_.Data().Displays().TimeSeries(), central);
  spectrum_ = new SpectrumWidget(hylo_.Data().Displays().Spectrum(), central);
  graphs->addWidget(timeSeries_, 1);
  graphs->addWidget(spectrum_, 1);
  layout->addLayout(graphs, 3);

  statusField_ = new QPlainTextEdit(central);
  statusField_->setObjectName("statusField");
  statusField_->setReadOnly(true);
  statusField_->setMaximumBlockCount(1000);
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
  layout->addLayout(scanning);

  exitButton_ = new QPushButton("Exit", central);
  exitButton_->setObjectName("exitButton");
  layout->addWidget(exitButton_, 0, Qt::AlignRight);
  connect(exitButton_, &QPushButton::clicked, this, [this] {
    refresh_.stop();
    hylo_.MainExit();
  });

  setCentralWidget(central);
  resize(1100, 700);

  auto* setupMenu = menuBar()->addMenu("Setup");
  setupMenu->addAction("Instrument Setup", this, [this] {
    if (!setupPanel_) setupPanel_ = new SetupPanel(hylo_, this);
    setupPanel_->Open();
  });
  setupMenu->addAction("Hylo Settings", this, [this] {
    if (!settingsPanel_) settingsPanel_ = new SettingsPanel(hylo_, this);
    settingsPanel_->Open();
  });

  binding_ = std::make_unique<PanelBinding>(hylo_.MainPanel(), this, [this](const std::string& id) { Render(id); });
  for (const char* id : {mainpanel::kTitle, mainpanel::kStatusField, mainpanel::kLogIndicator, kLogKindsLabel,
                         mainpanel::kSyncIndicator, mainpanel::kUnitLine, mainpanel::kConnectionIndicator}) {
    Render(id);
  }
  for (const char* id : {scanpanel::kStart, scanpanel::kPause, scanpanel::kStop}) Render(id);
  // Stops asked for by worker threads (a log that will not open) run here; setup panels stop
  // scanning through the same procedure.
  hylo_.SetUiDispatch([this](std::function<void()> call) { QMetaObject::invokeMethod(this, std::move(call)); });
  hylo_.SetStopScanning([this] { hylo_.Scan().StopCallback(); });
  statusBinding_ = std::make_unique<PanelBinding>(hylo_.Data().StatusPanel(), this,
                                                  [this](const std::string& id) { RenderStatus(id); });
  // The displays pull on their own timer, so the drawing rate never depends on the data rate.
  const double seconds = std::clamp(hylo_.Groups().display.refreshRate, 0.05, 5.0);
  refresh_.setInterval(static_cast<int>(seconds * 1000));
  connect(&refresh_, &QTimer::timeout, this, [this] { RefreshTicker(); });
  refresh_.start();
}

QLabel* MainWindow::StatusLabel(const char* id) const {
  auto it = statusLabels_.find(id);
  return it == statusLabels_.end() ? nullptr : it->second;
}

void MainWindow::RenderStatus(const std::string& id) {
  auto it = statusLabels_.find(id);
  if (it == statusLabels_.end()) return;
  const Control control = hylo_.Data().StatusPanel().Get(id);
  if (const auto* text = std::get_if<std::string>(&control.value)) it->second->setText(QString::fromStdString(*text));
  it->second->setEnabled(!control.dimmed);
}

void MainWindow::RefreshTicker() {
  if (hylo_.Exiting() || !hylo_.Threads().Started()) return;
  if (MessageNode* node = hylo_.Nodes().AllocNode(MSG_REFRESH, 1)) {
    if (hylo_.Threads().PostNode(UI_UPDATE_THREAD, node) != 1) hylo_.Nodes().FreeNode(node);
  }
  timeSeries_->Pull();
  spectrum_->Pull();
}

MainWindow::~MainWindow() {
  hylo_.SetUiDispatch({});
  hylo_.SetStopScanning({});
}

void MainWindow::Render(const std::string& id) {
  const PanelModel& model = hylo_.MainPanel();
  const Control control = model.Get(id);
  if (id == mainpanel::kTitle) {
    setWindowTitle(QString::fromStdString(model.Text(id)));
  } else if (id == mainpanel::kStatusField) {
    // Append only what is new; the field only ever grows.
    const auto shown =
        static_cast<std::size_t>(statusField_->blockCount() - (statusField_->toPlainText().isEmpty() ? 1 : 0));
    for (std::size_t i = shown; i < control.items.size(); ++i) {
      statusField_->appendPlainText(QString::fromStdString(control.items[i]));
    }
  } else if (id == mainpanel::kLogIndicator) {
    logIndicator_->setToolTip(QString::fromStdString(control.tooltip));
    if (const auto* text = std::get_if<std::string>(&control.value))
      logIndicator_->setText(QString::fromStdString(*text));
  } else if (id == kLogKindsLabel) {
    logKinds_->setText(QString::fromStdString(model.Text(id)));
    logKinds_->setVisible(control.visible && !model.Text(id).empty());
  } else if (id == mainpanel::kConnectionIndicator) {
    const auto colour = model.Int(id, 0);
    QPalette palette = linkIndicator_->palette();
    palette.setColor(QPalette::Window, colour != 0 ? QColor(static_cast<QRgb>(colour)) : QColor(Qt::transparent));
    linkIndicator_->setPalette(palette);
  } else if (id == mainpanel::kSyncIndicator) {
    syncIndicator_->setToolTip(QString::fromStdString(control.tooltip));
  } else if (id == scanpanel::kStart || id == scanpanel::kPause || id == scanpanel::kStop) {
    QPushButton* button = id == scanpanel::kStart ? startButton_ : id == scanpanel::kPause ? pauseButton_ : stopButton_;
    button->setEnabled(!control.dimmed);
    if (!control.label.empty()) button->setText(QString::fromStdString(control.label));
  } else if (id == mainpanel::kUnitLine) {
    const std::string text = model.Text(id);
    if (!text.empty()) unitLine_->setText(QString::fromStdString(text));
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  refresh_.stop();
  hylo_.MainExit();
  event->accept();
}

}  // namespace hylo::app
