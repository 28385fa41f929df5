#pragma once
// The time-series graph: the newest block in volts, older blocks fading.
#include <QWidget>
#include <deque>

#include "display/HyloTimeSeries.h"

namespace hylo::app {

// The vertical-scale control's "Auto" choice.
inline constexpr std::uint32_t kTraceAxisAuto = 0xFFFFFFFF;

class TimeSeriesWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit TimeSeriesWidget(QWidget* parent = nullptr);
  // A trace drawn from the store; older ones stay, fading, up to the trace count.
  void AddTrace(const TraceView& trace);
  void ResetTraces();
  const TraceView& Latest() const { return latest_; }
  // ±microvolts, or kTraceAxisAuto.
  void TraceAxisCallback(std::uint32_t microvolts);
  QRect PlotRect() const;
  // Time from the trace's start and the newest trace's sample under a point ("" outside).
  QString ReadoutAt(QPoint point) const;
  const QString& Readout() const { return readout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  std::deque<std::vector<double>> traces_;
  TraceView latest_;
  std::uint32_t axis_ = kTraceAxisAuto;
  QString readout_;
  QPoint pointer_{-1, -1};
};

}  // namespace hylo::app
