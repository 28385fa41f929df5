#pragma once
// The spectrum graph: the newest spectra as fading traces, autoscaled or bounded at the
// reference level plus the colour-map span.
#include <QWidget>
#include <memory>

#include "display/HyloSpectrum.h"
#include "display/TriggerBands.h"

namespace hylo::app {

class SpectrumWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrumWidget(QWidget* parent = nullptr);
  void SetView(std::shared_ptr<const SpectrogramView> view);
  // An empty view until the first refresh.
  const SpectrogramView& View() const;
  void SetAutoscale(bool on);
  // The host trigger bands drawn over the spectra, with the display unit and sensitivity.
  void SetTriggers(const TriggerList& list, int unit, double sensitivityDb);
  // Where the traces are drawn inside the widget, between the axes.
  QRect PlotRect() const;
  // Frequency and level of the newest trace under a point ("" outside the plot or without data).
  QString ReadoutAt(QPoint point) const;
  const QString& Readout() const { return readout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  std::shared_ptr<const SpectrogramView> view_;
  bool autoscale_ = false;
  TriggerList triggers_{};
  int unit_ = 0;
  double sensitivity_ = -171;
  QString readout_;
  QPoint pointer_{-1, -1};
};

}  // namespace hylo::app
