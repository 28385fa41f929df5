#include "ImpulseWidget.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace hylo::app {
namespace {

constexpr const char* kBandLabels[kImpulseMaxBands] = {
    "25",  "32", "40",   "50",   "63", "80",   "100",  "125", "160", "200",  "250", "315", "400",   "500", "630",
    "800", "1k", "1.2k", "1.6k", "2k", "2.5k", "3.1k", "4k",  "5k",  "6.3k", "8k",  "10k", "12.5k", "16k", "20k"};

// A level range around what is shown, in whole 10 dB steps.
std::pair<double, double> Range(const std::vector<double>& levels) {
  double low = 1e300, high = -1e300;
  for (const double v : levels) {
    if (!std::isfinite(v)) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  if (low > high) return {0, 200};
  low = std::floor(low / 10) * 10 - 10;
  high = std::ceil(high / 10) * 10 + 10;
  return {low, high};
}

}  // namespace

QStringList ImpulseBandLabels(int bandCount) {
  QStringList labels{""};
  for (int b = 0; b < std::clamp(bandCount, 0, kImpulseMaxBands); ++b) labels << kBandLabels[b];
  labels << "";
  return labels;
}

ImpulseWidget::ImpulseWidget(Mode mode, QWidget* parent) : QWidget(parent), mode_(mode) {
  setObjectName(mode == Mode::kEvents ? "impulseDisplay" : "bandDisplay");
  setMinimumSize(200, 100);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
}

void ImpulseWidget::SetView(const ImpulseView& view) {
  if (view.updates == view_.updates) return;
  view_ = view;
  if (isVisible()) update();
}

QString ImpulseWidget::Caption() const {
  if (mode_ == Mode::kBands) return QString::fromUtf8("SPL [dB re µPa]");
  if (view_.events.empty()) return "No impulses";
  const ImpulseEvent& last = view_.events.back();
  return QString("Impulse %1   SEL %2 dB   PK %3 dB   Cumulative SEL %4 dB")
      .arg(last.number)
      .arg(last.sel, 0, 'f', 2)
      .arg(last.pk, 0, 'f', 2)
      .arg(view_.cumulativeSel, 0, 'f', 2);
}

void ImpulseWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(Qt::lightGray);
  const QRect caption(0, 0, width(), 18);
  p.drawText(caption, Qt::AlignCenter, Caption());
  const QRect plot = rect().adjusted(40, 22, -8, -20);
  if (plot.width() < 10 || plot.height() < 10) return;
  std::vector<double> levels;
  if (mode_ == Mode::kEvents) {
    for (const auto& e : view_.events) levels.insert(levels.end(), {e.sel, e.pk, e.cumulativeSel});
  } else {
    levels.assign(view_.bandLevels.begin(), view_.bandLevels.begin() + view_.bandCount);
  }
  const auto [low, high] = Range(levels);
  p.setPen(QColor(80, 80, 80));
  for (double v = low; v <= high; v += 10) {
    const int y = plot.bottom() - static_cast<int>((v - low) / (high - low) * plot.height());
    p.drawLine(plot.left(), y, plot.right(), y);
    p.drawText(QRect(0, y - 8, 36, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', 0));
  }
  if (mode_ == Mode::kEvents) {
    PaintEvents(p, plot, low, high);
  } else {
    PaintBands(p, plot, low, high);
  }
}

void ImpulseWidget::PaintEvents(QPainter& p, const QRect& plot, double low, double high) const {
  // Per impulse a SEL bar and a peak tick; the exposure total as a line across them.
  const int n = static_cast<int>(view_.events.size());
  if (n == 0) return;
  const double step = static_cast<double>(plot.width()) / std::max(n, 20);
  auto y = [&](double v) {
    return plot.bottom() - static_cast<int>((std::clamp(v, low, high) - low) / (high - low) * plot.height());
  };
  QPolygon total;
  for (int i = 0; i < n; ++i) {
    const ImpulseEvent& e = view_.events[static_cast<std::size_t>(i)];
    const int x = plot.left() + static_cast<int>(i * step);
    const int w = std::max(1, static_cast<int>(step * 0.6));
    p.fillRect(QRect(QPoint(x, y(e.sel)), QPoint(x + w, plot.bottom())), QColor(0, 160, 255));
    p.setPen(Qt::yellow);
    p.drawLine(x, y(e.pk), x + w, y(e.pk));
    total << QPoint(x + w / 2, y(e.cumulativeSel));
  }
  p.setPen(QPen(Qt::red, 2));
  p.drawPolyline(total);
}

void ImpulseWidget::PaintBands(QPainter& p, const QRect& plot, double low, double high) const {
  const QStringList labels = ImpulseBandLabels(view_.bandCount);
  const int columns = static_cast<int>(labels.size());
  const double step = static_cast<double>(plot.width()) / columns;
  for (int b = 0; b < view_.bandCount; ++b) {
    const double v = std::isfinite(view_.bandLevels[static_cast<std::size_t>(b)])
                         ? std::clamp(view_.bandLevels[static_cast<std::size_t>(b)], low, high)
                         : low;
    const int x = plot.left() + static_cast<int>((b + 1) * step);
    const int top = plot.bottom() - static_cast<int>((v - low) / (high - low) * plot.height());
    p.fillRect(QRect(QPoint(x + 1, top), QPoint(x + static_cast<int>(step) - 1, plot.bottom())), QColor(0, 200, 120));
  }
  p.setPen(Qt::lightGray);
  for (int i = 0; i < columns; ++i) {
    const int x = plot.left() + static_cast<int>(i * step);
    p.drawText(QRect(x, plot.bottom() + 2, static_cast<int>(step), 16), Qt::AlignCenter, labels[i]);
  }
}

}  // namespace hylo::app
