#include "SpectrogramWidget.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

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

void SpectrogramWidget::paintEvent(QPaintEvent*) {
  if (dirty_) Convert();
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const int scaleWidth = 46;
  const QRect gram(4, 18, width() - scaleWidth - 12, height() - 22);
  p.drawImage(gram, image_);
  // The colour scale: the reference level at the bottom, the span at the top.
  const int span = view_ ? view_->colourMapSpan : 100;
  const int reference = view_ ? view_->displayReference : 0;
  const QRect scale(gram.right() + 6, gram.top(), 10, gram.height());
  for (int y = 0; y < scale.height(); ++y) {
    p.setPen(QColor(SpectrogramColour(span * (scale.height() - 1 - y) / std::max(scale.height() - 1, 1), span)));
    p.drawLine(scale.left(), scale.top() + y, scale.right(), scale.top() + y);
  }
  p.setPen(Qt::white);
  for (int k = 0; k <= 4; ++k) {
    const int y = scale.bottom() - scale.height() * k / 4;
    p.drawText(QPointF(scale.right() + 3, y + 4),
               QString::asprintf("%3u", static_cast<unsigned>(reference + span * k / 4)));
  }
  if (view_) {
    const double across = ZoomSpan(view_->zoomLevel, view_->columnSeconds);
    p.drawText(QPointF(6, 13), QString::fromStdString(view_->unitText) +
                                   QString("   %1 s across").arg(across, 0, 'f', across < 10 ? 1 : 0));
  }
}

}  // namespace hylo::app
