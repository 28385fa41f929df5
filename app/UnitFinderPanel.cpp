#include "UnitFinderPanel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "link/HyloUnitFinder.h"

namespace hylo::app {
namespace {
constexpr const char* kAddresses[] = {"ip", "mask", "gw"};
}  // namespace

UnitFinderPanel::UnitFinderPanel(Hylo& hylo, QWidget* parent) : QDialog(parent), hylo_(hylo) {
  setObjectName("unitFinderPanel");
  setWindowTitle("Unit Finder");
  HyloUnitFinder& finder = hylo_.Link().Finder();
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  model_ = new QLabel(this);
  unit_ = new QLabel(this);
  mac_ = new QLabel(this);
  mac_->setObjectName("mac");
  form->addRow("Model", model_);
  form->addRow("Unit", unit_);
  form->addRow("MAC address", mac_);
  mode_ = new QComboBox(this);
  mode_->addItem("DHCP", 1);
  mode_->addItem("Fixed address", 2);
  form->addRow("Address mode", mode_);
  interface_ = new QComboBox(this);
  form->addRow("Interface", interface_);
  const char* titles[] = {"IP address", "Subnet mask", "Gateway"};
  for (int a = 0; a < 3; ++a) {
    auto* row = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
      auto* field = new QLineEdit(this);
      const std::string id = finderpanel::Field(kAddresses[a], i);
      field->setObjectName(QString::fromStdString(id));
      field->setMaxLength(3);
      field->installEventFilter(this);
      connect(field, &QLineEdit::textEdited, this, [this, &finder, id](const QString& text) {
        const std::string next = finder.CBIpField(id, text.toStdString());
        if (auto* target = findChild<QLineEdit*>(QString::fromStdString(next))) target->setFocus();
      });
      octets_[static_cast<std::size_t>(a)][static_cast<std::size_t>(i)] = field;
      row->addWidget(field);
    }
    form->addRow(titles[a], row);
  }
  disableGateway_ = new QCheckBox("Disable gateway", this);
  form->addRow(disableGateway_);
  layout->addLayout(form);
  auto* buttons = new QHBoxLayout;
  suggest_ = new QPushButton("Suggest", this);
  accept_ = new QPushButton("Accept", this);
  accept_->setObjectName("accept");
  auto* stop = new QPushButton("Close", this);
  buttons->addWidget(suggest_);
  buttons->addWidget(accept_);
  buttons->addWidget(stop);
  layout->addLayout(buttons);

  PanelModel& model = hylo_.Link().FinderPanel();
  connect(mode_, &QComboBox::activated, this,
          [this, &finder] { finder.CBSetIpMode(static_cast<int>(mode_->currentData().toInt())); });
  connect(interface_, &QComboBox::activated, this,
          [this, &model] { model.SetValue(finderpanel::kInterface, std::int64_t{interface_->currentIndex()}); });
  connect(disableGateway_, &QCheckBox::clicked, this, [&finder](bool on) { finder.CBDisableGateway(on); });
  connect(suggest_, &QPushButton::clicked, this, [&finder] { finder.CBSuggestIp(); });
  connect(accept_, &QPushButton::clicked, this, [&finder] { finder.CBAcceptChanges(); });
  connect(stop, &QPushButton::clicked, this, [&model] { model.SetVisible(finderpanel::kPanel, false); });
  connect(this, &QDialog::rejected, this, [&model] { model.SetVisible(finderpanel::kPanel, false); });

  binding_ = std::make_unique<PanelBinding>(model, this, [this](const std::string& id) { Render(id); });
  for (const char* id : {finderpanel::kModel, finderpanel::kUnit, finderpanel::kMac, finderpanel::kIpMode,
                         finderpanel::kInterface, finderpanel::kDisableGateway})
    Render(id);
  for (const char* a : kAddresses)
    for (int i = 0; i < 4; ++i) Render(finderpanel::Field(a, i));
}

UnitFinderPanel::~UnitFinderPanel() = default;

QLineEdit* UnitFinderPanel::Octet(const char* address, int i) const {
  return findChild<QLineEdit*>(QString::fromStdString(finderpanel::Field(address, i)));
}

bool UnitFinderPanel::eventFilter(QObject* watched, QEvent* event) {
  auto* field = qobject_cast<QLineEdit*>(watched);
  if (!field || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const std::string id = field->objectName().toStdString();
  const HyloUnitFinder& finder = hylo_.Link().Finder();
  char c = 0;
  if (key->key() == Qt::Key_Backspace) {
    c = '\b';
  } else if (!key->text().isEmpty() && key->text().at(0).isPrint()) {
    c = key->text().at(0).toLatin1();
  } else {
    return QDialog::eventFilter(watched, event);  // arrows, tab and the like
  }
  switch (finder.CBIpFieldKey(id, c, field->cursorPosition() == 0 && !field->hasSelectedText())) {
    case HyloUnitFinder::KeyAction::Refuse:
      return true;
    case HyloUnitFinder::KeyAction::FocusPrevious:
      if (auto* previous = findChild<QLineEdit*>(QString::fromStdString(finder.PreviousField(id)))) {
        previous->setFocus();
        previous->end(false);
      }
      return true;
    case HyloUnitFinder::KeyAction::Accept:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void UnitFinderPanel::Render(const std::string& id) {
  const PanelModel& model = hylo_.Link().FinderPanel();
  const Control c = model.Get(id);
  if (id == finderpanel::kPanel) {
    setVisible(c.visible);
  } else if (id == finderpanel::kModel) {
    model_->setText(QString::fromStdString(model.Text(id)));
  } else if (id == finderpanel::kUnit) {
    unit_->setText(QString::number(model.Int(id, 0)));
  } else if (id == finderpanel::kMac) {
    mac_->setText(QString::fromStdString(model.Text(id)));
  } else if (id == finderpanel::kIpMode) {
    const QSignalBlocker block(mode_);
    mode_->setCurrentIndex(mode_->findData(static_cast<int>(model.Int(id, 2))));
  } else if (id == finderpanel::kInterface) {
    const QSignalBlocker block(interface_);
    interface_->clear();
    for (const auto& item : c.items) interface_->addItem(QString::fromStdString(item));
    interface_->setCurrentIndex(static_cast<int>(model.Int(id, 0)));
  } else if (id == finderpanel::kDisableGateway) {
    const QSignalBlocker block(disableGateway_);
    disableGateway_->setChecked(model.Int(id, 0) != 0);
    disableGateway_->setEnabled(!c.dimmed);
  } else if (id == finderpanel::kSuggest) {
    suggest_->setEnabled(!c.dimmed);
  } else if (auto* field = findChild<QLineEdit*>(QString::fromStdString(id))) {
    if (field->text().toStdString() != model.Text(id)) field->setText(QString::fromStdString(model.Text(id)));
    field->setEnabled(!c.dimmed);
  }
}

}  // namespace hylo::app
