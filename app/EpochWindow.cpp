#include "EpochWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "display/HyloUIUpdate.h"

namespace hylo::app {

namespace {
// The indicator states' colours and legend texts.
constexpr std::array<std::pair<const char*, const char*>, 4> kLegend = {{{"FFFFFF", "No Signal, Event Inactive"},
                                                                         {"3264FF", "Signal Present, Event Inactive"},
                                                                         {"00FF00", "Signal Present, Event Active"},
                                                                         {"FFFF00", "No Signal, Event Active"}}};

void Paint(QLabel* led, const QString& rgb) {
  led->setStyleSheet(QString("background-color: #%1; border: 1px solid gray;").arg(rgb));
}
}  // namespace

EpochWindow::EpochWindow(Hylo& hylo, QWidget* parent) : QWidget(parent, Qt::Window), hylo_(hylo) {
  setObjectName("epochWindow");
  setWindowTitle("Epoch Messages");
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  const char* rows[] = {"Aurisond", "Hylo"};
  for (int r = 0; r < 2; ++r) {
    grid->addWidget(new QLabel(rows[r], this), r, 0);
    for (int i = 0; i < 5; ++i) {
      auto* led = new QLabel(QString::number(i + 1), this);
      led->setAlignment(Qt::AlignCenter);
      led->setMinimumWidth(24);
      Paint(led, kLegend[0].first);
      leds_[static_cast<std::size_t>(r)][static_cast<std::size_t>(i)] = led;
      grid->addWidget(led, r, i + 1);
    }
  }
  layout->addLayout(grid);
  auto* legend = new QHBoxLayout;
  for (const auto& [rgb, text] : kLegend) {
    auto* swatch = new QLabel(this);
    swatch->setFixedSize(14, 14);
    Paint(swatch, rgb);
    legend->addWidget(swatch);
    legend->addWidget(new QLabel(text, this));
  }
  layout->addLayout(legend);
  events_ = new QPlainTextEdit(this);
  events_->setObjectName("epochEvents");
  events_->setReadOnly(true);
  events_->setMaximumBlockCount(static_cast<int>(PanelModel::kItemLimit));
  layout->addWidget(events_, 1);
  auto* buttons = new QHBoxLayout;
  auto* clear = new QPushButton("Clear", this);
  auto* close = new QPushButton("Close", this);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(clear, &QPushButton::clicked, this, [this] { ClearDisplay(); });
  connect(close, &QPushButton::clicked, this, &QWidget::hide);
  resize(640, 400);

  binding_ =
      std::make_unique<PanelBinding>(hylo_.Data().StatusPanel(), this, [this](const std::string& id) { Render(id); });
  for (const char* id : {statuspanel::kEventText, "ledsUnit", "ledsHost"}) Render(id);
}

EpochWindow::~EpochWindow() = default;

void EpochWindow::Render(const std::string& id) {
  const PanelModel& model = hylo_.Data().StatusPanel();
  if (id == statuspanel::kEventText) {
    // Texts carry their own line ends (or none): shown as they came.
    for (const auto& text : model.ItemsAfter(id, seen_)) {
      events_->moveCursor(QTextCursor::End);
      events_->insertPlainText(QString::fromStdString(text));
      if (!text.ends_with('\n')) events_->insertPlainText("\n");
    }
    return;
  }
  for (std::size_t row = 0; row < 2; ++row) {
    if (id != std::string(statuspanel::kLeds) + (row == 0 ? "Unit" : "Host")) continue;
    const auto colours = model.Get(id).items;
    for (std::size_t i = 0; i < leds_[row].size() && i < colours.size(); ++i)
      Paint(leds_[row][i], QString::fromStdString(colours[i]));
  }
}

}  // namespace hylo::app
