#pragma once
// The status panel: clock, environment, power record and synchronisation record texts.
#include <QDialog>
#include <QLabel>
#include <map>
#include <memory>
#include <string>

#include "PanelBinding.h"
#include "context/Hylo.h"

namespace hylo::app {

class StatusPanel final : public QDialog {
  Q_OBJECT
 public:
  explicit StatusPanel(Hylo& hylo, QWidget* parent = nullptr);
  QLabel* Field(const std::string& id) const;

 private:
  void Render(const std::string& id);
  Hylo& hylo_;
  std::map<std::string, QLabel*> fields_;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
