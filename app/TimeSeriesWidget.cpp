#include "TimeSeriesWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace hylo::app {

TimeSeriesWidget::TimeSeriesWidget(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 160);
  setObjectName("timeSeries");
}

void TimeSeriesWidget::AddTrace(const TraceView& trace) {
  latest_ = trace;
  traces_.push_back(trace.volts);
  while (traces_.size() > static_cast<std::size_t>(std::clamp(trace.traceCount, 1, kMaxTraces))) traces_.pop_front();
  if (isVisible()) update();
}

void TimeSeriesWidget::ResetTraces() {
  traces_.clear();
  latest_ = {};
  update();
}

void TimeSeriesWidget::TraceAxisCallback(std::uint32_t microvolts) {
  axis_ = microvolts == 0 ? kTraceAxisAuto : microvolts;
  update();
}

void TimeSeriesWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRectF plot = QRectF(rect()).adjusted(8, 20, -8, -8);
  p.setPen(QColor(60, 60, 60));
  for (int d = 0; d <= 10; ++d) {
    const double x = plot.left() + plot.width() * d / 10.0;
    p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
  }
  p.drawLine(QPointF(plot.left(), plot.center().y()), QPointF(plot.right(), plot.center().y()));
  double peak = 1e-9;
  if (axis_ == kTraceAxisAuto) {
    for (const auto& t : traces_) {
      for (double v : t) peak = std::max(peak, std::abs(v));
    }
  } else {
    peak = axis_ / 1e6;
  }
  const std::size_t count = traces_.size();
  for (std::size_t k = 0; k < count; ++k) {
    const auto& t = traces_[k];
    if (t.size() < 2) continue;
    const int alpha = static_cast<int>(255.0 * static_cast<double>(k + 1) / static_cast<double>(count));
    p.setPen(QPen(QColor(80, 255, 80, alpha), k + 1 == count ? 1.5 : 1.0));
    QPainterPath path;
    for (std::size_t i = 0; i < t.size(); ++i) {
      const double y = std::clamp(t[i] / peak, -1.0, 1.0);
      const QPointF point(plot.left() + plot.width() * static_cast<double>(i) / static_cast<double>(t.size() - 1),
                          plot.center().y() - y * plot.height() / 2);
      if (i == 0) {
        path.moveTo(point);
      } else {
        path.lineTo(point);
      }
    }
    p.drawPath(path);
  }
  p.setPen(Qt::white);
  p.drawText(QPointF(8, 14), QString::fromStdString(latest_.label) +
                                 QString("   RMS %1 V").arg(latest_.smoothedRms, 0, 'f', latest_.rmsDecimals + 3) +
                                 QString("   Waveform Mean %1").arg(latest_.longTermMean, 0, 'f', 0) +
                                 QString("   ±%1 V").arg(peak, 0, 'g', 3));
}

}  // namespace hylo::app
