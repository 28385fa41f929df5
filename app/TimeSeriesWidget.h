#pragma once
// The time-series graph: the newest block in volts, older blocks fading.
#include <QWidget>
#include <deque>

#include "processing/HyloTimeSeries.h"

namespace hylo::app {

class TimeSeriesWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit TimeSeriesWidget(HyloTimeSeries& series, QWidget* parent = nullptr);
  // Takes new data from the store (called on the refresh timer).
  void Pull();
  const TraceView& Latest() const { return latest_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  HyloTimeSeries& series_;
  std::deque<std::vector<double>> traces_;
  TraceView latest_;
};

}  // namespace hylo::app
