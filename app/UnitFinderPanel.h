#pragma once
// The unit-finder panel: a found unit's network settings by hand (address mode, interface,
// address, mask and gateway one octet per field), Suggest and Accept. Shown while its model
// says so (the "Unit Unreachable" question's Manual answer).
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <memory>

#include "PanelBinding.h"
#include "context/Hylo.h"

namespace hylo::app {

class UnitFinderPanel final : public QDialog {
  Q_OBJECT
 public:
  explicit UnitFinderPanel(Hylo& hylo, QWidget* parent = nullptr);
  ~UnitFinderPanel() override;

  QLineEdit* Octet(const char* address, int i) const;
  QPushButton* AcceptButton() const { return accept_; }
  QPushButton* SuggestButton() const { return suggest_; }
  QCheckBox* DisableGateway() const { return disableGateway_; }
  QComboBox* Mode() const { return mode_; }
  QLabel* Mac() const { return mac_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Render(const std::string& id);

  Hylo& hylo_;
  QLabel* model_ = nullptr;
  QLabel* unit_ = nullptr;
  QLabel* mac_ = nullptr;
  QComboBox* mode_ = nullptr;
  QComboBox* interface_ = nullptr;
  std::array<std::array<QLineEdit*, 4>, 3> octets_{};  // ip, mask, gateway
  QCheckBox* disableGateway_ = nullptr;
  QPushButton* suggest_ = nullptr;
  QPushButton* accept_ = nullptr;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
