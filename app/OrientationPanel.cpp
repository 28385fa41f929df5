#include "OrientationPanel.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace hylo::app {

StripChart::StripChart(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {
  setMinimumSize(260, 70);
}

void StripChart::SetValues(std::vector<double> values) {
  values_ = std::move(values);
  update();
}

void StripChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.setPen(Qt::white);
  const QString last = values_.empty() ? QString() : QString::number(values_.back(), 'g', 5);
  p.drawText(QPointF(4, 12), title_ + "  " + last);
  if (values_.size() < 2) return;
  const auto [lo, hi] = std::minmax_element(values_.begin(), values_.end());
  const double low = *lo, span = std::max(*hi - *lo, 1e-9);
  const QRectF plot = QRectF(rect()).adjusted(4, 16, -4, -4);
  QPainterPath path;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const QPointF point(
        plot.left() + plot.width() * static_cast<double>(i) / static_cast<double>(kStripChartPoints - 1),
        plot.bottom() - (values_[i] - low) / span * plot.height());
    if (i == 0) {
      path.moveTo(point);
    } else {
      path.lineTo(point);
    }
  }
  p.setPen(QColor(80, 200, 255));
  p.drawPath(path);
}

OrientationPanel::OrientationPanel(Hylo& hylo, QWidget* parent) : QDialog(parent), hylo_(hylo) {
  setObjectName("orientationPanel");
  setWindowTitle("Accelerometer/Magnetometer");
  auto* grid = new QGridLayout(this);
  const char* titles[6] = {"Accel X (g)", "Accel Y (g)", "Accel Z (g)", "Mag X", "Mag Y", "Mag Z"};
  for (int i = 0; i < 6; ++i) {
    charts_[static_cast<std::size_t>(i)] = new StripChart(titles[i], this);
    grid->addWidget(charts_[static_cast<std::size_t>(i)], i % 3, i / 3);
  }
  accelMagnitude_ = new QLabel(this);
  accelMagnitude_->setObjectName(statuspanel::kAccelMagnitude);
  magMagnitude_ = new QLabel(this);
  magMagnitude_->setObjectName(statuspanel::kMagMagnitude);
  grid->addWidget(accelMagnitude_, 3, 0);
  grid->addWidget(magMagnitude_, 3, 1);
  binding_ =
      std::make_unique<PanelBinding>(hylo_.Data().StatusPanel(), this, [this](const std::string& id) { Render(id); });
  Render(statuspanel::kAccelMagnitude);
  Render(statuspanel::kMagMagnitude);
  Pull();
}

void OrientationPanel::Render(const std::string& id) {
  const std::string text = hylo_.Data().StatusPanel().Text(id);
  if (id == statuspanel::kAccelMagnitude) accelMagnitude_->setText(QString::fromStdString("|Accel| " + text + " g"));
  if (id == statuspanel::kMagMagnitude) magMagnitude_->setText(QString::fromStdString("|Mag| " + text));
}

void OrientationPanel::Pull() {
  OrientationCharts charts = hylo_.Data().Displays().Orientation();
  if (charts.samples == shown_) return;
  shown_ = charts.samples;
  for (std::size_t i = 0; i < 6; ++i) charts_[i]->SetValues(std::move(charts.values[i]));
}

}  // namespace hylo::app
