#pragma once
// The scrolling spectrogram: the prepared 512 × 800 level image through a colour map over
// the colour-map span, with its colour scale. Converts only when shown.
#include <QImage>
#include <QWidget>
#include <array>
#include <memory>

#include "display/HyloSpectrum.h"

namespace hylo::app {

// Colour of a displayed level (0 at the reference level) over a span of `span` dB.
QRgb SpectrogramColour(int level, int span);

class SpectrogramWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit SpectrogramWidget(QWidget* parent = nullptr);
  void SetView(std::shared_ptr<const SpectrogramView> view);
  const SpectrogramView* View() const { return view_.get(); }
  // The image as last drawn: 800 columns wide, 512 bins high, low frequencies at the bottom.
  const QImage& Image() const { return image_; }
  // Where the image is drawn inside the widget, between the axes.
  QRect PlotRect() const;
  // Frequency, time and level under a point of the plot ("" outside it or without data).
  QString ReadoutAt(QPoint point) const;
  // The readout for the pointer's last position.
  const QString& Readout() const { return readout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Convert();
  std::shared_ptr<const SpectrogramView> view_;
  QImage image_;
  std::array<QRgb, 256> lut_{};
  int lutSpan_ = -1;
  bool dirty_ = false;
  QString readout_;
  QPoint pointer_{-1, -1};
};

}  // namespace hylo::app
