#include "DisplayArea.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace hylo::app {
namespace {
QWidget* Placeholder(const QString& text, const QString& id, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(id);
  label->setAlignment(Qt::AlignCenter);
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, Qt::gray);
  label->setPalette(palette);
  return label;
}
}  // namespace

DisplayArea::DisplayArea(const QString& title, const QString& id, bool bottom, QWidget* parent)
    : QWidget(parent), bottom_(bottom) {
  setObjectName(id + "Area");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* header = new QHBoxLayout;
  header->addWidget(new QLabel(title, this));
  choice_ = new QComboBox(this);
  choice_->setObjectName(id);
  for (int t = 0; t < kDisplayTypeCount; ++t) {
    if (ValidDisplayType(t, bottom_)) choice_->addItem(kDisplayTypeNames[static_cast<std::size_t>(t)], t);
  }
  header->addWidget(choice_);
  header->addStretch(1);
  layout->addLayout(header);

  pages_ = new QStackedWidget(this);
  spectrum_ = new SpectrumWidget(pages_);
  spectrogram_ = new SpectrogramWidget(pages_);
  timeSeries_ = new TimeSeriesWidget(pages_);
  levels_ = new LevelsWidget(LevelsWidget::Mode::kLevels, pages_);
  clicks_ = new LevelsWidget(LevelsWidget::Mode::kClicks, pages_);
  impulses_ = new ImpulseWidget(ImpulseWidget::Mode::kEvents, pages_);
  if (bottom_) bands_ = new ImpulseWidget(ImpulseWidget::Mode::kBands, pages_);
  for (int t = 0; t < kDisplayTypeCount; ++t) {
    QWidget* page = nullptr;
    switch (t) {
      case kDisplaySpectrum:
        page = spectrum_;
        break;
      case kDisplayTimeSeries:
        page = timeSeries_;
        break;
      case kDisplaySpectrogram:
        page = spectrogram_;
        break;
      case kDisplayLevels:
        page = levels_;
        break;
      case kDisplayClicks:
        page = clicks_;
        break;
      case kDisplayImpulse:
        page = impulses_;
        break;
      case kDisplayBands:
        page = bands_ ? static_cast<QWidget*>(bands_) : Placeholder("", "noDisplay", pages_);
        break;
      default:
        page = Placeholder("", "noDisplay", pages_);
        break;
    }
    pages_->addWidget(page);
  }
  layout->addWidget(pages_, 1);

  connect(choice_, &QComboBox::activated, this, [this](int index) {
    const int type = choice_->itemData(index).toInt();
    if (type == type_) return;
    if (accept_ && !accept_(type)) {
      choice_->setCurrentIndex(choice_->findData(type_));
      return;
    }
    SetType(type);
    if (changed_) changed_(type);
  });
  SetType(kDisplayNone);
}

bool DisplayArea::SetType(int type) {
  if (!ValidDisplayType(type, bottom_)) return false;
  type_ = type;
  pages_->setCurrentIndex(type);
  choice_->setCurrentIndex(choice_->findData(type));
  return true;
}

void DisplayArea::SetPage(int type, QWidget* page) {
  if (type <= kDisplayLevels || type >= kDisplayTypeCount || !page) return;
  QWidget* old = pages_->widget(type);
  pages_->insertWidget(type, page);
  pages_->removeWidget(old);
  old->deleteLater();
  pages_->setCurrentIndex(type_);
}

void DisplayArea::ShowSpectra(const std::shared_ptr<const SpectrogramView>& view) {
  spectrum_->SetView(view);
  spectrogram_->SetView(view);
  levels_->SetView(view);
  clicks_->SetView(view);
}

void DisplayArea::ShowTrace(const TraceView& trace) { timeSeries_->AddTrace(trace); }

void DisplayArea::ShowImpulses(const ImpulseView& view) {
  impulses_->SetView(view);
  if (bands_) bands_->SetView(view);
}

}  // namespace hylo::app
