#include "StatusPanel.h"

#include <QFormLayout>

#include "display/HyloUIUpdate.h"

namespace hylo::app {

StatusPanel::StatusPanel(Hylo& hylo, QWidget* parent) : QDialog(parent), hylo_(hylo) {
  setObjectName("statusPanel");
  setWindowTitle("Status");
  auto* form = new QFormLayout(this);
  using namespace statuspanel;
  const std::pair<const char*, const char*> rows[] = {
      {kClock, "Time"},
      {kDate, "Date"},
      {kEnvironment, "Environment"},
      {kBattery, "Battery"},
      {kPowerStatus, "Charge Status"},
      {kChargePercent, "Charge (%)"},
      {kChargeMah, "Charge (mAh)"},
      {kFullChargeMah, "Full Charge (mAh)"},
      {kCurrentMa, "Current (mA)"},
      {kBatteryMv, "Battery (mV)"},
      {kBatteryTemperature, "Battery Temperature ('C)"},
      {kBoardMv, "Board (mV)"},
      {kProcessorMv, "Processor (mV)"},
      {kSyncStatus, "Sync Status"},
      {kTimeSource, "Time Source"},
      {kPpsOffset, "PPS Offset (ns)"},
      {kPpsCount, "PPS Count"},
      {kLastSync, "Last Sync"},
      {kAccel[0], "Accel X (g)"},
      {kAccel[1], "Accel Y (g)"},
      {kAccel[2], "Accel Z (g)"},
      {kMag[0], "Mag X"},
      {kMag[1], "Mag Y"},
      {kMag[2], "Mag Z"},
  };
  for (const auto& [id, title] : rows) {
    auto* label = new QLabel(this);
    label->setObjectName(id);
    fields_[id] = label;
    form->addRow(title, label);
  }
  binding_ =
      std::make_unique<PanelBinding>(hylo_.Data().StatusPanel(), this, [this](const std::string& id) { Render(id); });
  for (const auto& [id, title] : rows) Render(id);
}

QLabel* StatusPanel::Field(const std::string& id) const {
  auto it = fields_.find(id);
  return it == fields_.end() ? nullptr : it->second;
}

void StatusPanel::Render(const std::string& id) {
  QLabel* label = Field(id);
  if (!label) return;
  const Control control = hylo_.Data().StatusPanel().Get(id);
  if (const auto* text = std::get_if<std::string>(&control.value)) label->setText(QString::fromStdString(*text));
  label->setEnabled(!control.dimmed);
}

}  // namespace hylo::app
