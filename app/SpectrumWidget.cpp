#include "SpectrumWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace hylo::app {
namespace {
// A simple dark-to-bright colour map over the colour-map span.
QRgb MapColour(int level, int span) {
  const double t = std::clamp(level / static_cast<double>(std::max(span, 1)), 0.0, 1.0);
  const int r = static_cast<int>(255 * std::clamp(2 * t - 0.5, 0.0, 1.0));
  const int g = static_cast<int>(255 * std::clamp(2 * t - 1.0, 0.0, 1.0) + 80 * t);
  const int b = static_cast<int>(255 * std::clamp(1.0 - 2 * std::abs(t - 0.35), 0.0, 1.0));
  return qRgb(std::min(r, 255), std::min(g, 255), b);
}
}  // namespace

SpectrumWidget::SpectrumWidget(HyloSpectrum& spectrum, QWidget* parent)
    : QWidget(parent), spectrum_(spectrum), image_(kSpectrogramColumns, 512, QImage::Format_RGB32) {
  setMinimumSize(320, 240);
  setObjectName("spectrum");
  image_.fill(Qt::black);
}

void SpectrumWidget::Pull() {
  view_ = spectrum_.View();
  for (int c = 0; c < kSpectrogramColumns; ++c) {
    const std::uint8_t* column = view_.image.data() + static_cast<std::size_t>(c) * 512;
    for (int bin = 0; bin < 512; ++bin) {
      // Low frequencies at the bottom.
      image_.setPixel(c, 511 - bin, MapColour(column[bin], view_.colourMapSpan));
    }
  }
  update();
}

void SpectrumWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRectF graph(8, 20, width() - 16, height() * 0.4 - 24);
  const QRectF gram(8, height() * 0.4 + 4, width() - 16, height() * 0.6 - 12);
  p.setPen(QColor(60, 60, 60));
  p.drawRect(graph);
  const std::size_t count = view_.traces.size();
  for (std::size_t k = 0; k < count; ++k) {
    const auto& levels = view_.traces[k].levels;
    if (levels.size() < 2) continue;
    p.setPen(QColor(255, 220, 80, static_cast<int>(255.0 * (k + 1) / count)));
    QPainterPath path;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      const double y = graph.bottom() - std::clamp(levels[i] / 255.0, 0.0, 1.0) * graph.height();
      const QPointF point(graph.left() + graph.width() * i / (levels.size() - 1), y);
      if (i == 0) {
        path.moveTo(point);
      } else {
        path.lineTo(point);
      }
    }
    p.drawPath(path);
  }
  p.drawImage(gram, image_);
  p.setPen(Qt::white);
  p.drawText(QPointF(8, 14), QString::fromStdString(view_.unitText) + QString("   zoom %1").arg(view_.zoomLevel));
}

}  // namespace hylo::app
