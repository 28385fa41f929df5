#include "ConnectionPanel.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "link/HyloConnect.h"
#include "link/HyloUnitFinder.h"
#include "link/LinkState.h"

namespace hylo::app {
namespace {
constexpr int kBauds[] = {1250000, 921600, 460800, 256000, 230400, 115200, 19200, 9600, 4800, 2400, 1200};

void SelectData(QComboBox* box, std::int64_t value) {
  const int at = box->findData(QVariant::fromValue<qlonglong>(value));
  if (at >= 0) box->setCurrentIndex(at);
}
}  // namespace

ConnectionPanel::ConnectionPanel(Hylo& hylo, QWidget* parent) : QWidget(parent), hylo_(hylo) {
  setObjectName("connectionPanel");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  linkType_ = new QComboBox(this);
  linkType_->setObjectName("linkType");
  linkType_->addItem("Ethernet", qlonglong{LINK_ETHERNET});
  linkType_->addItem("Serial", qlonglong{LINK_SERIAL});
  linkType_->addItem("None", qlonglong{LINK_NONE});
  form->addRow("Link", linkType_);
  address_ = new QLineEdit(this);
  address_->setObjectName("address");
  address_->setMaxLength(100);
  form->addRow("Address", address_);
  port_ = new QSpinBox(this);
  port_->setObjectName("port");
  port_->setRange(1, 65535);
  form->addRow("Port", port_);
  tcpTimeout_ = new QSpinBox(this);
  tcpTimeout_->setRange(1, 60000);
  tcpTimeout_->setSuffix(" ms");
  form->addRow("TCP time-out", tcpTimeout_);
  comPort_ = new QComboBox(this);
  comPort_->setObjectName("comPort");
  form->addRow("COM port", comPort_);
  baud_ = new QComboBox(this);
  for (int b : kBauds) baud_->addItem(QString::fromUtf8(BaudLabel(b).data(), BaudLabel(b).size()), qlonglong{b});
  form->addRow("Baud", baud_);
  customTimeout_ = new QCheckBox("Custom serial time-out", this);
  serialTimeout_ = new QSpinBox(this);
  serialTimeout_->setRange(1, 60000);
  serialTimeout_->setSuffix(" ms");
  form->addRow(customTimeout_, serialTimeout_);
  layout->addLayout(form);

  auto* buttons = new QHBoxLayout;
  connect_ = new QPushButton("Connect", this);
  connect_->setObjectName("connect");
  disconnect_ = new QPushButton("Disconnect", this);
  disconnect_->setObjectName("disconnect");
  cancel_ = new QPushButton("Cancel", this);
  buttons->addWidget(connect_);
  buttons->addWidget(disconnect_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  auto* searches = new QHBoxLayout;
  ethSearch_ = new QPushButton("Search Ethernet", this);
  ethSearch_->setObjectName("ethSearch");
  serialSearch_ = new QPushButton("Search Serial", this);
  setBaud_ = new QPushButton("Update Baud Rate", this);
  searches->addWidget(ethSearch_);
  searches->addWidget(serialSearch_);
  searches->addWidget(setBaud_);
  layout->addLayout(searches);
  recoverBaud_ = new QPushButton("Recover Baud Rate", this);
  layout->addWidget(recoverBaud_, 0, Qt::AlignRight);
  auto* network = new QHBoxLayout;
  enquire_ = new QPushButton("Enquire Network", this);
  enquire_->setObjectName("enquire");
  stopSearch_ = new QPushButton("Stop", this);
  progress_ = new QLabel(this);
  progress_->setObjectName("searchProgress");
  network->addWidget(enquire_);
  network->addWidget(stopSearch_);
  network->addWidget(progress_, 1);
  layout->addLayout(network);
  finder_ = new UnitFinderPanel(hylo_, this);
  found_ = new QListWidget(this);
  found_->setObjectName("foundUnits");
  layout->addWidget(found_, 1);
  status_ = new QLabel(this);
  status_->setObjectName("connectionStatus");
  layout->addWidget(status_);

  HyloConnect& link = hylo_.Link().Connection();
  connect(connect_, &QPushButton::clicked, this, [this, &link] {
    Commit();
    link.ConnectPort();
  });
  connect(disconnect_, &QPushButton::clicked, this, [&link] { link.DisconnectFromUnit(); });
  connect(cancel_, &QPushButton::clicked, this, [&link] { link.CancelConnect(); });
  connect(ethSearch_, &QPushButton::clicked, this, [this, &link] {
    Commit();
    link.EthPortSearch();
  });
  connect(serialSearch_, &QPushButton::clicked, this, [this, &link] {
    Commit();
    link.SerialPortSearch();
  });
  connect(setBaud_, &QPushButton::clicked, this,
          [this, &link] { link.SetBaudRate(static_cast<int>(baud_->currentData().toLongLong())); });
  connect(recoverBaud_, &QPushButton::clicked, this, [this, &link] {
    Commit();
    link.RecoverBaud();
  });
  HyloUnitFinder& finder = hylo_.Link().Finder();
  // The search runs on this thread for some seconds: its Stop button must stay clickable.
  finder.SetEventPump([] { QCoreApplication::processEvents(); });
  connect(enquire_, &QPushButton::clicked, this, [&finder] { finder.CBEnquireNetwork(0); });
  connect(stopSearch_, &QPushButton::clicked, this, [&finder] { finder.StopSearch(); });
  connect(linkType_, &QComboBox::activated, this,
          [this, &link] { link.SetConnectionType(static_cast<int>(linkType_->currentData().toLongLong())); });
  connect(customTimeout_, &QCheckBox::toggled, this, [&link](bool on) { link.ToggleCustSerialTimeout(on); });
  connect(found_, &QListWidget::itemActivated, this,
          [this, &link](QListWidgetItem* item) { link.ConnToFoundUnit(found_->row(item)); });

  PanelModel& model = hylo_.Link().ConnectionPanel();
  binding_ = std::make_unique<PanelBinding>(model, this, [this](const std::string& id) { Render(id); });
  for (const char* id :
       {connectpanel::kLinkType, connectpanel::kAddress, connectpanel::kPort, connectpanel::kTcpTimeout,
        connectpanel::kComPort, connectpanel::kBaud, connectpanel::kCustomTimeout, connectpanel::kSerialTimeout,
        connectpanel::kStatus, connectpanel::kFoundUnits, connectpanel::kSearchProgress})
    Render(id);
}

ConnectionPanel::~ConnectionPanel() = default;

void ConnectionPanel::Commit() {
  PanelModel& model = hylo_.Link().ConnectionPanel();
  model.SetValue(connectpanel::kLinkType, std::int64_t{linkType_->currentData().toLongLong()});
  model.SetValue(connectpanel::kAddress, address_->text().trimmed().toStdString());
  model.SetValue(connectpanel::kPort, std::int64_t{port_->value()});
  model.SetValue(connectpanel::kTcpTimeout, std::int64_t{tcpTimeout_->value()});
  if (comPort_->currentIndex() >= 0)
    model.SetValue(connectpanel::kComPort, std::int64_t{comPort_->currentData().toLongLong()});
  model.SetValue(connectpanel::kBaud, std::int64_t{baud_->currentData().toLongLong()});
  model.SetValue(connectpanel::kCustomTimeout, std::int64_t{customTimeout_->isChecked() ? 1 : 0});
  model.SetValue(connectpanel::kSerialTimeout, std::int64_t{serialTimeout_->value()});
}

void ConnectionPanel::Render(const std::string& id) {
  const PanelModel& model = hylo_.Link().ConnectionPanel();
  const Control c = model.Get(id);
  if (id == connectpanel::kLinkType) {
    const QSignalBlocker block(linkType_);
    SelectData(linkType_, model.Int(id, LINK_NONE));
  } else if (id == connectpanel::kAddress) {
    address_->setText(QString::fromStdString(model.Text(id)));
  } else if (id == connectpanel::kPort) {
    port_->setValue(static_cast<int>(model.Int(id, 50000)));
  } else if (id == connectpanel::kTcpTimeout) {
    tcpTimeout_->setValue(static_cast<int>(model.Int(id, 100)));
  } else if (id == connectpanel::kComPort) {
    const QSignalBlocker block(comPort_);
    if (comPort_->count() != static_cast<int>(c.items.size())) {
      comPort_->clear();
      for (std::size_t i = 0; i < c.items.size(); ++i)
        comPort_->addItem(QString::fromStdString(c.items[i]), qlonglong(i + 1));
    }
    SelectData(comPort_, model.Int(id, 0));
  } else if (id == connectpanel::kBaud) {
    SelectData(baud_, model.Int(id, 256000));
  } else if (id == connectpanel::kCustomTimeout) {
    const QSignalBlocker block(customTimeout_);
    customTimeout_->setChecked(model.Int(id, 0) != 0);
  } else if (id == connectpanel::kSerialTimeout) {
    serialTimeout_->setValue(static_cast<int>(model.Int(id, 4266)));
    serialTimeout_->setEnabled(!c.dimmed);
  } else if (id == connectpanel::kStatus) {
    status_->setText(QString::fromStdString(model.Text(id)));
  } else if (id == connectpanel::kSearchProgress) {
    progress_->setText(QString::fromStdString(model.Text(id)));
    progress_->setVisible(c.visible);
  } else if (id == connectpanel::kEnquire) {
    enquire_->setEnabled(!c.dimmed);
  } else if (id == connectpanel::kFoundUnits) {
    found_->clear();
    for (const auto& label : c.items) found_->addItem(QString::fromStdString(label));
  }
}

}  // namespace hylo::app
