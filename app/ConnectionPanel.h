#pragma once
// The connection panel: link settings, connect/disconnect/cancel, both searches, the baud
// change and the found-units list. Edits reach the model on commit (a button), and the model's
// changes are rendered back, whichever thread made them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <memory>

#include "PanelBinding.h"
#include "UnitFinderPanel.h"
#include "context/Hylo.h"

namespace hylo::app {

class ConnectionPanel final : public QWidget {
  Q_OBJECT
 public:
  explicit ConnectionPanel(Hylo& hylo, QWidget* parent = nullptr);
  ~ConnectionPanel() override;

  QComboBox* LinkType() const { return linkType_; }
  QLineEdit* Address() const { return address_; }
  QSpinBox* Port() const { return port_; }
  QSpinBox* TcpTimeout() const { return tcpTimeout_; }
  QPushButton* ConnectButton() const { return connect_; }
  QPushButton* DisconnectButton() const { return disconnect_; }
  QPushButton* EthernetSearchButton() const { return ethSearch_; }
  QListWidget* FoundUnits() const { return found_; }
  QLabel* Status() const { return status_; }
  QPushButton* EnquireButton() const { return enquire_; }
  QLabel* SearchProgress() const { return progress_; }
  UnitFinderPanel* Finder() const { return finder_; }

 private:
  void Commit();
  void Render(const std::string& id);

  Hylo& hylo_;
  QComboBox* linkType_ = nullptr;
  QLineEdit* address_ = nullptr;
  QSpinBox* port_ = nullptr;
  QSpinBox* tcpTimeout_ = nullptr;
  QComboBox* comPort_ = nullptr;
  QComboBox* baud_ = nullptr;
  QCheckBox* customTimeout_ = nullptr;
  QSpinBox* serialTimeout_ = nullptr;
  QPushButton* connect_ = nullptr;
  QPushButton* disconnect_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* ethSearch_ = nullptr;
  QPushButton* serialSearch_ = nullptr;
  QPushButton* setBaud_ = nullptr;
  QPushButton* recoverBaud_ = nullptr;
  QListWidget* found_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* enquire_ = nullptr;
  QPushButton* stopSearch_ = nullptr;
  QLabel* progress_ = nullptr;
  UnitFinderPanel* finder_ = nullptr;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
