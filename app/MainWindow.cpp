#include "MainWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

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
  syncIndicator_ = new QLabel("Sync", central);
  syncIndicator_->setObjectName("syncIndicator");
  top->addWidget(unitLine_, 1);
  top->addWidget(logIndicator_);
  top->addWidget(syncIndicator_);
  layout->addLayout(top);

  statusField_ = new QPlainTextEdit(central);
  statusField_->setObjectName("statusField");
  statusField_->setReadOnly(true);
  layout->addWidget(statusField_, 1);

  exitButton_ = new QPushButton("Exit", central);
  exitButton_->setObjectName("exitButton");
  layout->addWidget(exitButton_, 0, Qt::AlignRight);
  connect(exitButton_, &QPushButton::clicked, this, [this] { hylo_.MainExit(); });

  setCentralWidget(central);
  resize(900, 600);

  binding_ = std::make_unique<PanelBinding>(hylo_.MainPanel(), this, [this](const std::string& id) { Render(id); });
  for (const char* id : {mainpanel::kTitle, mainpanel::kStatusField, mainpanel::kLogIndicator,
                         mainpanel::kSyncIndicator, mainpanel::kUnitLine}) {
    Render(id);
  }
}

MainWindow::~MainWindow() = default;

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
  } else if (id == mainpanel::kSyncIndicator) {
    syncIndicator_->setToolTip(QString::fromStdString(control.tooltip));
  } else if (id == mainpanel::kUnitLine) {
    const std::string text = model.Text(id);
    if (!text.empty()) unitLine_->setText(QString::fromStdString(text));
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  hylo_.MainExit();
  event->accept();
}

}  // namespace hylo::app
