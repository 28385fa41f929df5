#include "SpectrumWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "display/AxisTicks.h"

namespace hylo::app {

SpectrumWidget::SpectrumWidget(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 160);
  setObjectName("spectrum");
  setMouseTracking(true);
}

QRect SpectrumWidget::PlotRect() const {
  return QRect(QPoint(62, 20), QPoint(width() - 10, height() - 22)).normalized();
}

QString SpectrumWidget::ReadoutAt(QPoint point) const {
  const QRect plot = PlotRect();
  if (!view_ || view_->traces.empty() || !plot.contains(point)) return {};
  const SpectrumTrace& newest = view_->traces.back();
  if (newest.levels.size() < 2) return {};
  const double at = static_cast<double>(point.x() - plot.left()) / std::max(plot.width(), 1);
  const auto i = static_cast<std::size_t>(std::clamp<long>(
      std::lround(at * static_cast<double>(newest.levels.size() - 1)), 0, static_cast<long>(newest.levels.size() - 1)));
  return QString::fromStdString(FormatFrequency(static_cast<double>(i) * newest.binWidthHz)) +
         QString("   %1 %2")
             .arg(view_->displayReference + newest.levels[i], 0, 'f', 0)
             .arg(QString::fromStdString(view_->unitText));
}

void SpectrumWidget::mouseMoveEvent(QMouseEvent* event) {
  pointer_ = event->position().toPoint();
  readout_ = ReadoutAt(pointer_);
  update();
}

void SpectrumWidget::leaveEvent(QEvent*) {
  pointer_ = {-1, -1};
  readout_.clear();
  update();
}

const SpectrogramView& SpectrumWidget::View() const {
  static const SpectrogramView empty;
  return view_ ? *view_ : empty;
}

void SpectrumWidget::SetView(std::shared_ptr<const SpectrogramView> view) {
  view_ = std::move(view);
  if (isVisible()) update();
}

void SpectrumWidget::SetAutoscale(bool on) {
  autoscale_ = on;
  update();
}

void SpectrumWidget::SetTriggers(const TriggerList& list, int unit, double sensitivityDb) {
  triggers_ = list;
  unit_ = unit;
  sensitivity_ = sensitivityDb;
}

void SpectrumWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRectF graph = QRectF(PlotRect());
  p.setPen(QColor(60, 60, 60));
  p.drawRect(graph);
  const SpectrogramView& v = View();
  // Levels are relative to the reference level; the axis shows them in the display unit.
  double low = 0, high = std::max(v.colourMapSpan, 1);
  if (autoscale_ && !v.traces.empty()) {
    low = 1e9;
    high = -1e9;
    for (double level : v.traces.back().levels) {
      low = std::min(low, level);
      high = std::max(high, level);
    }
    if (high - low < 10) high = low + 10;
  }
  const std::size_t count = v.traces.size();
  for (std::size_t k = 0; k < count; ++k) {
    const auto& levels = v.traces[k].levels;
    if (levels.size() < 2) continue;
    p.setPen(QColor(255, 220, 80, static_cast<int>(255.0 * static_cast<double>(k + 1) / static_cast<double>(count))));
    QPainterPath path;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      const double y = graph.bottom() - std::clamp((levels[i] - low) / (high - low), 0.0, 1.0) * graph.height();
      const QPointF point(
          graph.left() + graph.width() * static_cast<double>(i) / static_cast<double>(levels.size() - 1), y);
      if (i == 0) {
        path.moveTo(point);
      } else {
        path.lineTo(point);
      }
    }
    p.drawPath(path);
  }
  if (v.noiseCompare.size() >= 2) {
    // The comparison curve is in the display unit; the graph's levels are relative to the reference.
    QPainterPath path;
    for (std::size_t i = 0; i < v.noiseCompare.size(); ++i) {
      const double level = v.noiseCompare[i] - v.displayReference;
      const QPointF point(
          graph.left() + graph.width() * static_cast<double>(i) / static_cast<double>(v.noiseCompare.size() - 1),
          graph.bottom() - std::clamp((level - low) / (high - low), 0.0, 1.0) * graph.height());
      if (i == 0) {
        path.moveTo(point);
      } else {
        path.lineTo(point);
      }
    }
    p.setPen(QColor(80, 200, 255));
    p.drawPath(path);
  }
  if (count) {
    // `DrawTriggerBands`: outlines from the graph's bottom to each threshold.
    const double topHz = v.traces.back().binWidthHz * static_cast<double>(v.traces.back().levels.size());
    auto y = [&](double value) {
      return graph.bottom() - std::clamp((value - v.displayReference - low) / (high - low), 0.0, 1.0) * graph.height();
    };
    for (const TriggerBand& b : TriggerBands(triggers_, unit_, sensitivity_, v.displayReference + low)) {
      if (topHz <= 0) break;
      const double x0 = graph.left() + graph.width() * std::clamp(b.minHz / topHz, 0.0, 1.0);
      const double x1 = graph.left() + graph.width() * std::clamp(b.maxHz / topHz, 0.0, 1.0);
      p.setPen(QColor::fromRgb(b.colour));
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(QPointF(x0, y(b.top)), QPointF(x1, y(b.bottom))).normalized());
    }
  }
  // Level up the left side in the display unit, frequency along the bottom, with a grid.
  const QFontMetrics metrics(p.font());
  for (const AxisTick& t : NiceTicks(v.displayReference + low, v.displayReference + high,
                                     std::max(static_cast<int>(graph.height() / 35), 2))) {
    const double y = graph.bottom() - (t.value - v.displayReference - low) / (high - low) * graph.height();
    p.setPen(QColor(45, 45, 45));
    p.drawLine(QPointF(graph.left(), y), QPointF(graph.right(), y));
    p.setPen(Qt::white);
    const QString label = QString::fromStdString(t.label);
    p.drawText(QPointF(graph.left() - 6 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2.0), label);
  }
  if (count) {
    const auto& newest = v.traces.back();
    const double top = newest.binWidthHz * static_cast<double>(newest.levels.size() - 1);
    for (const AxisTick& t : FrequencyTicks(0, top, std::max(static_cast<int>(graph.width() / 90), 2))) {
      const double x = graph.left() + t.value / top * graph.width();
      p.setPen(QColor(45, 45, 45));
      p.drawLine(QPointF(x, graph.top()), QPointF(x, graph.bottom()));
      p.setPen(Qt::white);
      const QString label = QString::fromStdString(t.label);
      const double w = metrics.horizontalAdvance(label);
      p.drawText(QPointF(std::clamp(x - w / 2, 0.0, width() - w), graph.bottom() + 4 + metrics.ascent()), label);
    }
  }
  p.setPen(Qt::white);
  p.drawText(QPointF(8, 14), "Spectrum   " + QString::fromStdString(v.unitText) + (autoscale_ ? "   Auto" : ""));
  if (pointer_.x() >= 0) readout_ = ReadoutAt(pointer_);
  if (!readout_.isEmpty()) {
    const int w = metrics.horizontalAdvance(readout_) + 6;
    const QRect box(static_cast<int>(graph.right()) - w, 2, w, 16);
    p.fillRect(box, QColor(0, 0, 0, 180));
    p.drawText(box, Qt::AlignCenter, readout_);
  }
}

}  // namespace hylo::app
