#include "LevelsWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>

namespace hylo::app {

LevelsWidget::LevelsWidget(Mode mode, QWidget* parent) : QWidget(parent), mode_(mode) {
  setObjectName(mode == Mode::kLevels ? "levels" : "clickDisplay");
  setMinimumSize(320, 120);
}

void LevelsWidget::SetView(std::shared_ptr<const SpectrogramView> view) {
  view_ = std::move(view);
  if (isVisible()) update();
}

std::vector<std::vector<double>> LevelsWidget::Traces() const {
  std::vector<std::vector<double>> traces(mode_ == Mode::kLevels ? 3 : 1);
  if (!view_) return traces;
  for (const auto& l : view_->levels) {
    if (mode_ == Mode::kLevels) {
      traces[0].push_back(l.rms);
      traces[1].push_back(l.peakToPeak);
      traces[2].push_back(l.zeroToPeak);
    } else {
      // Above level 0 a column combines many spectra: peak mode shows their largest score.
      traces[0].push_back(view_->zoomLevel > 0 && view_->variant == 1 ? l.clickMean : l.clickMax);
    }
  }
  return traces;
}

void LevelsWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRectF plot = QRectF(rect()).adjusted(40, 20, -8, -8);
  p.setPen(QColor(60, 60, 60));
  p.drawRect(plot);
  const auto traces = Traces();
  const auto n = traces[0].size();
  if (n < 2) return;
  // Levels of 0 dB mean "none stored"; a click score of 0 is a real value.
  const bool skipZero = mode_ == Mode::kLevels;
  double low = 1e300, high = -1e300;
  for (const auto& trace : traces) {
    for (double v : trace) {
      if (skipZero && v == 0) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (low > high) return;
  const double margin = skipZero ? 3 : std::max(1.0, 0.05 * (high - low));
  low -= margin;
  high += margin;
  static const std::array<QColor, 3> colours = {QColor(80, 255, 80), QColor(255, 120, 80), QColor(80, 180, 255)};
  static const std::array<const char*, 3> levelNames = {"RMS", "Peak-Peak", "Zero-Peak"};
  for (std::size_t k = 0; k < traces.size(); ++k) {
    QPainterPath path;
    bool started = false;
    for (std::size_t i = 0; i < n; ++i) {
      const double v = traces[k][i];
      if (skipZero && v == 0) continue;
      const QPointF point(plot.left() + plot.width() * static_cast<double>(i) / static_cast<double>(n - 1),
                          plot.bottom() - (v - low) / (high - low) * plot.height());
      if (started) {
        path.lineTo(point);
      } else {
        path.moveTo(point);
        started = true;
      }
    }
    p.setPen(colours[k]);
    p.drawPath(path);
    p.drawText(QPointF(plot.left() + 90.0 * static_cast<double>(k), 14),
               mode_ == Mode::kLevels ? levelNames[k] : "Click Score");
  }
  p.setPen(Qt::white);
  if (mode_ == Mode::kLevels)
    p.drawText(QPointF(plot.left() + 280, 14), QString("Band Level %1 dB").arg(view_->bandLevel, 0, 'f', 1));
  p.drawText(QPointF(2, plot.top() + 10), QString::number(high, 'f', 0));
  p.drawText(QPointF(2, plot.bottom()), QString::number(low, 'f', 0));
}

}  // namespace hylo::app
