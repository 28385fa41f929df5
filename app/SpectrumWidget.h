#pragma once
// The spectrum graph (newest traces, fading) above the scrolling spectrogram.
#include <QImage>
#include <QWidget>

#include "processing/HyloSpectrum.h"

namespace hylo::app {

class SpectrumWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrumWidget(HyloSpectrum& spectrum, QWidget* parent = nullptr);
  void Pull();
  const SpectrogramView& View() const { return view_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  HyloSpectrum& spectrum_;
  SpectrogramView view_;
  QImage image_;
};

}  // namespace hylo::app
