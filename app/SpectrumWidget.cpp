#include "SpectrumWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace hylo::app {

SpectrumWidget::SpectrumWidget(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 160);
  setObjectName("spectrum");
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
  const QRectF graph = QRectF(rect()).adjusted(40, 20, -8, -18);
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
  p.setPen(Qt::white);
  p.drawText(QPointF(2, graph.top() + 10), QString::number(v.displayReference + high, 'f', 0));
  p.drawText(QPointF(2, graph.bottom()), QString::number(v.displayReference + low, 'f', 0));
  if (count) {
    const auto& newest = v.traces.back();
    const double top = newest.binWidthHz * static_cast<double>(newest.levels.size());
    p.drawText(QPointF(graph.left(), height() - 4), "0 Hz");
    p.drawText(QPointF(graph.right() - 70, height() - 4), QString("%1 kHz").arg(top / 1000.0, 0, 'f', 1));
  }
  p.drawText(QPointF(8, 14), QString::fromStdString(v.unitText) + (autoscale_ ? "   Auto" : ""));
}

}  // namespace hylo::app
