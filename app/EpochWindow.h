#pragma once
// The epoch window: the event texts of the instrument (epoch channel) and of the host
// triggers, the indicator LEDs of both rows with their legend, Clear and a close button
// that only hides it (the channel stays open).
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "PanelBinding.h"
#include "context/Hylo.h"

namespace hylo::app {

class EpochWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit EpochWindow(Hylo& hylo, QWidget* parent = nullptr);
  ~EpochWindow() override;
  QPlainTextEdit* Events() const { return events_; }
  // `ClearDisplay`: empties the event list.
  void ClearDisplay() { events_->clear(); }

 private:
  void Render(const std::string& id);

  Hylo& hylo_;
  QPlainTextEdit* events_ = nullptr;
  std::array<std::array<QLabel*, 5>, 2> leds_{};  // unit row, host row
  std::uint64_t seen_ = 0;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
