#pragma once
// The main window: arranges the panels; closing it runs the same shutdown as the exit control.
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "PanelBinding.h"
#include "SettingsPanel.h"
#include "SetupPanel.h"
#include "SpectrumWidget.h"
#include "TimeSeriesWidget.h"
#include "core/Hylo.h"

namespace hylo::app {

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(Hylo& hylo, QWidget* parent = nullptr);
  ~MainWindow() override;

  QPlainTextEdit* StatusField() const { return statusField_; }
  QPushButton* ExitButton() const { return exitButton_; }
  QPushButton* StartButton() const { return startButton_; }
  QPushButton* PauseButton() const { return pauseButton_; }
  QPushButton* StopButton() const { return stopButton_; }
  TimeSeriesWidget* TimeSeries() const { return timeSeries_; }
  SpectrumWidget* Spectrum() const { return spectrum_; }
  QLabel* StatusLabel(const char* id) const;
  // One tick of the refresh timer: a refresh for UiUpdateThread, then the graphs pull.
  void RefreshTicker();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Render(const std::string& controlId);
  void RenderStatus(const std::string& controlId);

  Hylo& hylo_;
  QPlainTextEdit* statusField_ = nullptr;
  QLabel* logIndicator_ = nullptr;
  QLabel* logKinds_ = nullptr;  // which logs are on, beside the indicator
  QLabel* syncIndicator_ = nullptr;
  QLabel* linkIndicator_ = nullptr;
  QLabel* unitLine_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  TimeSeriesWidget* timeSeries_ = nullptr;
  SpectrumWidget* spectrum_ = nullptr;
  std::map<std::string, QLabel*> statusLabels_;
  QTimer refresh_;
  std::unique_ptr<PanelBinding> binding_;
  std::unique_ptr<PanelBinding> statusBinding_;
  SetupPanel* setupPanel_ = nullptr;
  SettingsPanel* settingsPanel_ = nullptr;
};

}  // namespace hylo::app
