#include "CalibrationPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QStandardItemModel>

namespace hylo::app {

CalibrationPanel::CalibrationPanel(Hylo& hylo, QWidget* parent) : QGroupBox("Calibration", parent), hylo_(hylo) {
  setObjectName("calibrationPanel");
  auto* row = new QHBoxLayout(this);
  switch_ = new QPushButton("Start Calibration", this);
  switch_->setObjectName("calibrate");
  switch_->setCheckable(true);
  switch_->setToolTip("Collects the ambient spectrum; stopping installs it as the reference (dB Ambient)");
  row->addWidget(switch_);
  elapsed_ = new QLabel("00:00", this);
  elapsed_->setObjectName("calibrationTime");
  elapsed_->setVisible(false);
  row->addWidget(elapsed_);
  result_ = new QLabel(this);
  result_->setObjectName("calibrationResult");
  row->addWidget(result_, 1);
  connect(switch_, &QPushButton::toggled, this, [this](bool on) { StartCalibration(on); });
  connect(&tick_, &QTimer::timeout, this, [this] { ShowCalibrationTime(); });
}

void CalibrationPanel::StartCalibration(bool on) {
  HyloCal& cal = hylo_.Data().Calibration();
  const bool installed = cal.StartCalibration(on);
  switch_->setText(on ? "Stop and Install" : "Start Calibration");
  elapsed_->setVisible(on);
  // The unit list's ambient choice is for a finished calibration only.
  auto* unit = window()->findChild<QComboBox*>("referenceUnit");
  const int ambient = ListIndexFromUnit(UNIT_AMBIENT);
  if (auto* items = unit ? qobject_cast<QStandardItemModel*>(unit->model()) : nullptr; items && items->item(ambient))
    items->item(ambient)->setEnabled(!on);
  if (on) {
    result_->clear();
    ShowCalibrationTime();
    tick_.start(250);
    return;
  }
  tick_.stop();
  if (installed) {
    result_->setText("Ambient reference installed");
    if (unit) unit->setCurrentIndex(ambient);
  } else {
    result_->setText("No spectra arrived: the ambient reference is unchanged");
  }
}

void CalibrationPanel::ShowCalibrationTime() {
  if (const auto text = hylo_.Data().Calibration().ShowCalibrationTime())
    elapsed_->setText(QString::fromStdString(*text));
}

}  // namespace hylo::app
