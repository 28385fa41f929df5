#pragma once
// The host epoch tab of the program settings panel: five trigger rows, the event clip
// setting, and load, save and undo with trigger files.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <functional>

#include "config/HostEpoch.h"

namespace hylo::app {

class HostEpochTabWidget final : public QWidget {
  Q_OBJECT
 public:
  HostEpochTabWidget(std::function<HostEpoch&()> epoch, OperatorPort& op, std::function<void()> changed,
                     QWidget* parent);
  // The tab's values from the list (at open, after undo and load).
  void Fill();
  // The controls into the tab model, before Apply.
  void Take();

 private:
  struct Row {
    QCheckBox* enabled = nullptr;
    QComboBox* test = nullptr;
    QSpinBox* minHz = nullptr;
    QSpinBox* maxHz = nullptr;
    QSpinBox* threshold = nullptr;
    QSpinBox* dur = nullptr;
    QSpinBox* extend = nullptr;
  };
  void DimRow(const Row& row);

  HostEpoch& Epoch() { return epoch_(); }
  std::function<HostEpoch&()> epoch_;  // made anew by a session load
  OperatorPort& operator_;
  std::function<void()> changed_;
  bool filling_ = false;
  std::array<Row, kEditedTriggers> rows_{};
  QCheckBox* clips_ = nullptr;
  QLineEdit* clipFolder_ = nullptr;
  QSpinBox* clipBefore_ = nullptr;
  QSpinBox* clipAfter_ = nullptr;
};

}  // namespace hylo::app
