#pragma once
// The main window's click-trigger and event-counter controls.
#include <QCheckBox>
#include <QSpinBox>
#include <QWidget>

#include "context/Hylo.h"

namespace hylo::app {

class TriggerControls final : public QWidget {
  Q_OBJECT
 public:
  TriggerControls(Hylo& hylo, QWidget* parent);

 private:
  Hylo& hylo_;
  QCheckBox* click_ = nullptr;
  QSpinBox* limit_ = nullptr;
  QCheckBox* counter_ = nullptr;
  QSpinBox* period_ = nullptr;
};

}  // namespace hylo::app
