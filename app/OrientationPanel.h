#pragma once
// The "Accelerometer/Magnetometer" panel: the six orientation values as strip charts, and
// the magnitudes of both vectors.
#include <QDialog>
#include <QLabel>
#include <array>
#include <memory>

#include "PanelBinding.h"
#include "context/Hylo.h"
#include "display/HyloUIUpdate.h"

namespace hylo::app {

class StripChart final : public QWidget {
  Q_OBJECT
 public:
  StripChart(const QString& title, QWidget* parent = nullptr);
  void SetValues(std::vector<double> values);
  const std::vector<double>& Values() const { return values_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_;
  std::vector<double> values_;
};

class OrientationPanel final : public QDialog {
  Q_OBJECT
 public:
  explicit OrientationPanel(Hylo& hylo, QWidget* parent = nullptr);
  // Takes the charts' points from the display thread (on the refresh timer while open).
  void Pull();
  StripChart* Chart(int i) const { return charts_.at(static_cast<std::size_t>(i)); }
  QLabel* Magnitude(bool magnetic) const { return magnetic ? magMagnitude_ : accelMagnitude_; }

 private:
  void Render(const std::string& id);
  Hylo& hylo_;
  std::array<StripChart*, 6> charts_{};
  QLabel* accelMagnitude_ = nullptr;
  QLabel* magMagnitude_ = nullptr;
  std::uint64_t shown_ = ~std::uint64_t{0};
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
