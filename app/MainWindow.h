#pragma once
// The main window: arranges the panels; closing it runs the same shutdown as the exit control.
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "PanelBinding.h"
#include "core/Hylo.h"

namespace hylo::app {

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(Hylo& hylo, QWidget* parent = nullptr);
  ~MainWindow() override;

  QPlainTextEdit* StatusField() const { return statusField_; }
  QPushButton* ExitButton() const { return exitButton_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Render(const std::string& controlId);

  Hylo& hylo_;
  QPlainTextEdit* statusField_ = nullptr;
  QLabel* logIndicator_ = nullptr;
  QLabel* syncIndicator_ = nullptr;
  QLabel* unitLine_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
