#pragma once
// The epoch tab of the instrument setup panel: five trigger rows in the LF or the HF form
// (the pre-event column from firmware 2.1.6) and the trigger file buttons. Edits go to the
// core's rows and mark the tab; the rows are refilled when the unit lists its triggers.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <memory>

#include "PanelBinding.h"
#include "context/Hylo.h"

namespace hylo::app {

class EpochTab final : public QWidget {
  Q_OBJECT
 public:
  explicit EpochTab(Hylo& hylo, QWidget* parent = nullptr);
  ~EpochTab() override;
  // Puts the core's rows on the tab in the form of the connected unit.
  void Refresh();

  struct Row {
    QCheckBox* enable = nullptr;
    QComboBox* test = nullptr;
    QDoubleSpinBox* duration = nullptr;
    QDoubleSpinBox* extend = nullptr;
    QSpinBox* minFreq = nullptr;
    QSpinBox* maxFreq = nullptr;
    QSpinBox* threshold = nullptr;
    QCheckBox* logWave = nullptr;
    QCheckBox* logFft = nullptr;
    QSpinBox* preTrig = nullptr;
    std::array<QCheckBox*, 5> lfActions{};
  };
  const std::array<Row, kEditedTriggers>& Rows() const { return rows_; }

 private:
  void Edited();

  Hylo& hylo_;
  bool filling_ = false;
  std::array<Row, kEditedTriggers> rows_{};
  QLabel* bandwidth_ = nullptr;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
