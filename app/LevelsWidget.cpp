#include "LevelsWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace hylo::app {

LevelsWidget::LevelsWidget(QWidget* parent) : QWidget(parent) {
  setObjectName("levels");
  setMinimumSize(320, 120);
}

void LevelsWidget::SetView(std::shared_ptr<const SpectrogramView> view) {
  view_ = std::move(view);
  if (isVisible()) update();
}

void LevelsWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRectF plot = QRectF(rect()).adjusted(40, 20, -8, -8);
  p.setPen(QColor(60, 60, 60));
  p.drawRect(plot);
  if (!view_ || view_->levels.empty()) return;
  double low = 1e9, high = -1e9;
  for (const auto& l : view_->levels) {
    for (double v : {l.rms, l.peakToPeak, l.zeroToPeak}) {
      if (v == 0) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (low > high) return;
  low -= 3;
  high += 3;
  const auto n = view_->levels.size();
  const QColor colours[3] = {QColor(80, 255, 80), QColor(255, 120, 80), QColor(80, 180, 255)};
  const char* names[3] = {"RMS", "Peak-Peak", "Zero-Peak"};
  for (int k = 0; k < 3; ++k) {
    QPainterPath path;
    bool started = false;
    for (std::size_t i = 0; i < n; ++i) {
      const auto& l = view_->levels[i];
      const double v = k == 0 ? l.rms : k == 1 ? l.peakToPeak : l.zeroToPeak;
      if (v == 0) continue;
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
    p.drawText(QPointF(plot.left() + 90.0 * k, 14), names[k]);
  }
  p.setPen(Qt::white);
  p.drawText(QPointF(plot.left() + 280, 14), QString("Band Level %1 dB").arg(view_->bandLevel, 0, 'f', 1));
  p.drawText(QPointF(2, plot.top() + 10), QString::number(high, 'f', 0));
  p.drawText(QPointF(2, plot.bottom()), QString::number(low, 'f', 0));
}

}  // namespace hylo::app
