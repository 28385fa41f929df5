#include "SpectrogramWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "display/AxisTicks.h"

namespace hylo::app {

QRgb SpectrogramColour(int level, int span) {
  const double t = std::clamp(level / static_cast<double>(std::max(span, 1)), 0.0, 1.0);
  const int r = static_cast<int>(255 * std::clamp(2 * t - 0.5, 0.0, 1.0));
  const int g = static_cast<int>(std::min(255.0, 255 * std::clamp(2 * t - 1.0, 0.0, 1.0) + 80 * t));
  const int b = static_cast<int>(255 * std::clamp(1.0 - 2 * std::abs(t - 0.35), 0.0, 1.0));
  return qRgb(r, g, b);
}

SpectrogramWidget::SpectrogramWidget(QWidget* parent)
    : QWidget(parent), image_(kSpectrogramColumns, 512, QImage::Format_RGB32) {
  setObjectName("spectrogram");
  setMinimumSize(320, 160);
  setMouseTracking(true);
  image_.fill(Qt::black);
}

void SpectrogramWidget::SetView(std::shared_ptr<const SpectrogramView> view) {
  view_ = std::move(view);
  dirty_ = true;
  if (isVisible()) update();
}

void SpectrogramWidget::Convert() {
  dirty_ = false;
  if (!view_ || view_->image.size() < std::size_t{512} * kSpectrogramColumns) return;
  if (lutSpan_ != view_->colourMapSpan) {
    lutSpan_ = view_->colourMapSpan;
    for (int i = 0; i < 256; ++i) lut_[static_cast<std::size_t>(i)] = SpectrogramColour(i, lutSpan_);
  }
  const std::uint8_t* levels = view_->image.data();
  for (int y = 0; y < 512; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    const std::uint8_t* bin = levels + (511 - y);
    for (int c = 0; c < kSpectrogramColumns; ++c) row[c] = lut_[bin[static_cast<std::size_t>(c) * 512]];
  }
}

namespace {

constexpr int kLeftAxis = 62;
constexpr int kBottomAxis = 20;
constexpr int kTitle = 24;
constexpr int kScaleArea = 84;

// The top of the frequency axis: all 512 rows of the image, 0 when no spectrum has come.
double TopHz(const SpectrogramView* v) { return v && !v->traces.empty() ? v->traces.back().binWidthHz * 512 : 0; }

}  // namespace

QRect SpectrogramWidget::PlotRect() const {
  return {kLeftAxis, kTitle, std::max(width() - kLeftAxis - kScaleArea, 10),
          std::max(height() - kTitle - kBottomAxis, 10)};
}

QString SpectrogramWidget::ReadoutAt(QPoint point) const {
  const QRect plot = PlotRect();
  if (!view_ || !plot.contains(point) || view_->image.size() < std::size_t{512} * kSpectrogramColumns) return {};
  // The image column and row drawn at this pixel, sampled at the pixel's centre.
  const int column = std::clamp(static_cast<int>((point.x() - plot.left() + 0.5) * kSpectrogramColumns / plot.width()),
                                0, kSpectrogramColumns - 1);
  const int row = std::clamp(static_cast<int>((point.y() - plot.top() + 0.5) * 512 / plot.height()), 0, 511);
  const int bin = 511 - row;
  const double binHz = TopHz(view_.get()) / 512;
  const double seconds =
      -(kSpectrogramColumns - 1 - column) * ZoomSpan(view_->zoomLevel, view_->columnSeconds) / kSpectrogramColumns;
  const int level = view_->displayReference + view_->image[static_cast<std::size_t>(column) * 512 + bin];
  QString text = binHz > 0 ? QString::fromStdString(FormatFrequency(bin * binHz)) : QString("bin %1").arg(bin);
  return text + "   " + QString::fromStdString(FormatSeconds(seconds)) + "   " +
         QString("%1 %2").arg(level).arg(QString::fromStdString(view_->unitText));
}

void SpectrogramWidget::mouseMoveEvent(QMouseEvent* event) {
  pointer_ = event->position().toPoint();
  readout_ = ReadoutAt(pointer_);
  update();
}

void SpectrogramWidget::leaveEvent(QEvent*) {
  pointer_ = {-1, -1};
  readout_.clear();
  update();
}

void SpectrogramWidget::paintEvent(QPaintEvent*) {
  if (dirty_) Convert();
  if (pointer_.x() >= 0) readout_ = ReadoutAt(pointer_);
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRect gram = PlotRect();
  p.drawImage(gram, image_);
  const QFontMetrics metrics(p.font());
  p.setPen(Qt::white);
  // Frequency up the left side, time before now along the bottom.
  const double topHz = TopHz(view_.get());
  for (const AxisTick& t : FrequencyTicks(0, topHz, std::max(gram.height() / 40, 2))) {
    const int y = gram.bottom() - static_cast<int>(std::lround(t.value / topHz * gram.height()));
    p.drawLine(gram.left() - 4, y, gram.left() - 1, y);
    const QString label = QString::fromStdString(t.label);
    p.drawText(QPointF(gram.left() - 6 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2.0), label);
  }
  if (view_) {
    const double across = ZoomSpan(view_->zoomLevel, view_->columnSeconds);
    for (const AxisTick& t : TimeTicks(-across, 0, std::max(gram.width() / 90, 2))) {
      const int x = gram.right() - static_cast<int>(std::lround(-t.value / across * gram.width()));
      p.drawLine(x, gram.bottom() + 1, x, gram.bottom() + 4);
      const QString label = QString::fromStdString(t.label);
      const int w = metrics.horizontalAdvance(label);
      p.drawText(QPointF(std::clamp(x - w / 2, 0, width() - w), gram.bottom() + 4 + metrics.ascent()), label);
    }
  }
  // The colour scale: the reference level at the bottom, the span at the top, in the unit shown.
  const int span = view_ ? view_->colourMapSpan : 100;
  const int reference = view_ ? view_->displayReference : 0;
  const QRect scale(gram.right() + 8, gram.top(), 10, gram.height());
  for (int y = 0; y < scale.height(); ++y) {
    p.setPen(QColor(SpectrogramColour(span * (scale.height() - 1 - y) / std::max(scale.height() - 1, 1), span)));
    p.drawLine(scale.left(), scale.top() + y, scale.right(), scale.top() + y);
  }
  p.setPen(Qt::white);
  for (int k = 0; k <= 4; ++k) {
    const int y = scale.bottom() - scale.height() * k / 4;
    p.drawText(QPointF(scale.right() + 3, y + 4), QString::number(reference + span * k / 4));
  }
  if (view_) {
    const QString unit = QString::fromStdString(view_->unitText);
    p.drawText(QPointF(std::max(scale.left() - 20, width() - metrics.horizontalAdvance(unit) - 2), 13), unit);
    p.drawText(QPointF(6, 13), "Spectrogram");
  }
  if (!readout_.isEmpty()) {
    const QString text = readout_;
    const QRect box(gram.right() - metrics.horizontalAdvance(text) - 8, 1, metrics.horizontalAdvance(text) + 6, 16);
    p.fillRect(box, QColor(0, 0, 0, 180));
    p.drawText(box, Qt::AlignCenter, text);
  }
}

}  // namespace hylo::app
