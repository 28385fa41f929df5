#include "TriggerControls.h"

#include <QHBoxLayout>
#include <QLabel>

namespace hylo::app {

TriggerControls::TriggerControls(Hylo& hylo, QWidget* parent) : QWidget(parent), hylo_(hylo) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  const TriggerSettings& s = hylo_.Groups().trigger;
  click_ = new QCheckBox("Click Trigger", this);
  click_->setObjectName("clickTrigger");
  click_->setChecked(s.correlationActive);
  limit_ = new QSpinBox(this);
  limit_->setObjectName("correlationLimit");
  limit_->setRange(0, 100000);
  limit_->setValue(static_cast<int>(s.correlationLimit));
  counter_ = new QCheckBox("Event Counter", this);
  counter_->setObjectName("eventCounter");
  counter_->setChecked(hylo_.HostTriggerList().CounterEnabled());
  period_ = new QSpinBox(this);
  period_->setObjectName("countDuration");
  period_->setRange(1, 86400);
  period_->setSuffix(" s");
  period_->setValue(s.countDuration ? static_cast<int>(s.countDuration) : 60);
  period_->setEnabled(counter_->isChecked());
  row->addWidget(click_);
  row->addWidget(new QLabel("Limit", this));
  row->addWidget(limit_);
  row->addSpacing(16);
  row->addWidget(counter_);
  row->addWidget(period_);
  row->addStretch(1);
  // Commit events only: a finished edit or a toggle.
  connect(click_, &QCheckBox::toggled, this, [this](bool on) {
    hylo_.HostTriggerList().EnableCorrTrig(on);
    // A click trigger that could not be posted is recorded disabled.
    click_->setChecked(hylo_.Groups().trigger.correlationActive);
  });
  connect(limit_, &QSpinBox::editingFinished, this,
          [this] { hylo_.HostTriggerList().SetCorrLimit(static_cast<std::uint32_t>(limit_->value())); });
  connect(counter_, &QCheckBox::toggled, this, [this](bool on) {
    period_->setEnabled(on);
    if (on) hylo_.HostTriggerList().UpdateCountDur(static_cast<std::uint32_t>(period_->value()));
    hylo_.HostTriggerList().EnableEventCounter(on);
  });
  connect(period_, &QSpinBox::editingFinished, this,
          [this] { hylo_.HostTriggerList().UpdateCountDur(static_cast<std::uint32_t>(period_->value())); });
}

}  // namespace hylo::app
