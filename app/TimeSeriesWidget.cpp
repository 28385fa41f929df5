#include "TimeSeriesWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "display/AxisTicks.h"

namespace hylo::app {

TimeSeriesWidget::TimeSeriesWidget(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 160);
  setObjectName("timeSeries");
  setMouseTracking(true);
}

QRect TimeSeriesWidget::PlotRect() const {
  return QRect(QPoint(70, 20), QPoint(width() - 10, height() - 22)).normalized();
}

QString TimeSeriesWidget::ReadoutAt(QPoint point) const {
  const QRect plot = PlotRect();
  const auto& t = latest_.volts;
  if (t.size() < 2 || latest_.sampleRate == 0 || !plot.contains(point)) return {};
  const double at = static_cast<double>(point.x() - plot.left()) / std::max(plot.width(), 1);
  const auto i = static_cast<std::size_t>(std::lround(at * static_cast<double>(t.size() - 1)));
  const double ms = 1000.0 * static_cast<double>(i) / latest_.sampleRate;
  return QString("%1 ms   %2 V").arg(ms, 0, 'f', 2).arg(t[std::min(i, t.size() - 1)], 0, 'g', 4);
}

void TimeSeriesWidget::mouseMoveEvent(QMouseEvent* event) {
  pointer_ = event->position().toPoint();
  readout_ = ReadoutAt(pointer_);
  update();
}

void TimeSeriesWidget::leaveEvent(QEvent*) {
  pointer_ = {-1, -1};
  readout_.clear();
  update();
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
  const QRectF plot = QRectF(PlotRect());
  p.setPen(QColor(60, 60, 60));
  p.drawRect(plot);
  double peak = 1e-9;
  if (axis_ == kTraceAxisAuto) {
    for (const auto& t : traces_) {
      for (double v : t) peak = std::max(peak, std::abs(v));
    }
  } else {
    peak = axis_ / 1e6;
  }
  // Amplitude up the left side, time from the block's first sample along the bottom.
  const QFontMetrics metrics(p.font());
  const bool milli = peak < 0.5;
  for (const AxisTick& tick : NiceTicks(-peak * (milli ? 1000 : 1), peak * (milli ? 1000 : 1), 4, milli ? "mV" : "V")) {
    const double y = plot.center().y() - tick.value / (peak * (milli ? 1000 : 1)) * plot.height() / 2;
    p.setPen(QColor(45, 45, 45));
    p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    p.setPen(Qt::white);
    const QString label = QString::fromStdString(tick.label);
    p.drawText(QPointF(plot.left() - 6 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2.0), label);
  }
  if (latest_.sampleRate > 0 && latest_.volts.size() >= 2) {
    const double ms = 1000.0 * static_cast<double>(latest_.volts.size() - 1) / latest_.sampleRate;
    for (const AxisTick& tick : NiceTicks(0, ms, std::max(static_cast<int>(plot.width() / 90), 2), "ms")) {
      const double x = plot.left() + tick.value / ms * plot.width();
      p.setPen(QColor(45, 45, 45));
      p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
      p.setPen(Qt::white);
      const QString label = QString::fromStdString(tick.label);
      const double w = metrics.horizontalAdvance(label);
      p.drawText(QPointF(std::clamp(x - w / 2, 0.0, width() - w), plot.bottom() + 4 + metrics.ascent()), label);
    }
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
  if (pointer_.x() >= 0) readout_ = ReadoutAt(pointer_);
  if (!readout_.isEmpty()) {
    const int w = metrics.horizontalAdvance(readout_) + 6;
    const QRect box(static_cast<int>(plot.right()) - w, static_cast<int>(plot.top()) + 2, w, 16);
    p.fillRect(box, QColor(0, 0, 0, 180));
    p.drawText(box, Qt::AlignCenter, readout_);
  }
}

}  // namespace hylo::app
