#pragma once
// The impulse displays: the newest impulses' SEL and peak levels with the exposure total, or
// the latest impulse's third-octave band levels as bars.
#include <QWidget>

#include "display/ImpulseDisplay.h"

namespace hylo::app {

class ImpulseWidget final : public QWidget {
  Q_OBJECT
 public:
  enum class Mode { kEvents, kBands };
  explicit ImpulseWidget(Mode mode, QWidget* parent = nullptr);
  void SetView(const ImpulseView& view);
  const ImpulseView& View() const { return view_; }
  Mode GetMode() const { return mode_; }
  // The text over the plot ("Cumulative SEL …", or the axis title of the bands).
  QString Caption() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintEvents(class QPainter& p, const QRect& plot, double low, double high) const;
  void PaintBands(class QPainter& p, const QRect& plot, double low, double high) const;
  Mode mode_;
  ImpulseView view_;
};

// The band labels under the bars: an empty label, "25" … "20k" for the bands shown, an empty label.
QStringList ImpulseBandLabels(int bandCount);

}  // namespace hylo::app
