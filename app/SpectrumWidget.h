#pragma once
// The spectrum graph: the newest spectra as fading traces, autoscaled or bounded at the
// reference level plus the colour-map span.
#include <QWidget>
#include <memory>

#include "display/HyloSpectrum.h"

namespace hylo::app {

class SpectrumWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrumWidget(QWidget* parent = nullptr);
  void SetView(std::shared_ptr<const SpectrogramView> view);
  // An empty view until the first refresh.
  const SpectrogramView& View() const;
  void SetAutoscale(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<const SpectrogramView> view_;
  bool autoscale_ = false;
};

}  // namespace hylo::app
