#pragma once
// Calibration: start and stop (stopping installs the ambient reference), and the elapsed time
// while it runs.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "context/Hylo.h"

namespace hylo::app {

class CalibrationPanel final : public QGroupBox {
  Q_OBJECT
 public:
  explicit CalibrationPanel(Hylo& hylo, QWidget* parent = nullptr);
  QPushButton* Switch() const { return switch_; }
  QLabel* Elapsed() const { return elapsed_; }
  QLabel* Result() const { return result_; }
  // Shows the elapsed time when a spectrum came in since the last call.
  void ShowCalibrationTime();

 private:
  void StartCalibration(bool on);
  Hylo& hylo_;
  QPushButton* switch_ = nullptr;
  QLabel* elapsed_ = nullptr;
  QLabel* result_ = nullptr;
  QTimer tick_;
};

}  // namespace hylo::app
