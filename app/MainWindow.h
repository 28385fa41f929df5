#pragma once
// The main window: arranges the panels; closing it runs the same shutdown as the exit control.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "DisplayArea.h"
#include "EpochWindow.h"
#include "FilePanel.h"
#include "OrientationPanel.h"
#include "PanelBinding.h"
#include "ReplayPanel.h"
#include "SettingsPanel.h"
#include "SetupPanel.h"
#include "SpectrumWidget.h"
#include "StatusPanel.h"
#include "TimeSeriesWidget.h"
#include "context/Hylo.h"
#include "context/MainCommands.h"

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
  ReplayPanel* Replay() const { return replayPanel_; }
  DisplayArea* TopDisplay() const { return top_; }
  DisplayArea* BottomDisplay() const { return bottom_; }
  // The display of that kind in the area showing it, else the top area's (both get the data).
  TimeSeriesWidget* TimeSeries() const;
  SpectrumWidget* Spectrum() const;
  SpectrogramWidget* Spectrogram() const;
  QLabel* StatusLabel(const char* id) const;
  QProgressBar* BatteryGauge() const { return batteryGauge_; }
  // The colour of indicator `i` of group "Unit" or "Host".
  QColor IndicatorColour(const std::string& group, int i) const;
  QLabel* MessageLine() const { return messageLine_; }
  QComboBox* HorizontalSpan() const { return horizSpan_; }
  QSpinBox* ReferenceLevel() const { return referenceLevel_; }
  QComboBox* ReferenceUnit() const { return referenceUnit_; }
  QSpinBox* ColourMap() const { return colourMap_; }
  StatusPanel* OpenStatusPanel();
  EpochWindow* OpenEpochWindow();
  OrientationPanel* OpenTiltMagPanel();
  FilePanel* OpenFilePanel();
  // One tick of the refresh timer: a refresh for UiUpdateThread, then the displays take
  // the prepared data.
  void RefreshTicker();
  // Posts a chart reset through ImpulseThread, which hands it on to the displays.
  void MainResetChart();
  // The horizontal span control: asks UiUpdateThread for the zoom level of `level`.
  void SetHorizAxis(int level);
  void SetColourMap(int span);
  // Asks for a "*.csv" comparison curve for the spectrum graph.
  void LoadNoiseCompare();

  // The instrument commands, screenshots and sessions of the menus (MainWindowMenus.cpp).
  MainCommands& Commands() { return *commands_; }
  // The menu or toolbar action with this object name, or null.
  QAction* Action(const QString& objectName) const;
  // Saves the window as a PNG in the screenshot folder; the file, or empty when it failed.
  QString TakeScreenshot();
  void SetAutoScreenshots(bool on);
  bool AutoScreenshotsOn() const { return autoShot_.isActive(); }
  // Where web pages go (the desktop's browser unless a test replaces it).
  void SetUrlOpener(std::function<void(const QString&)> open) { openUrl_ = std::move(open); }
  // Dims the unit commands by the table in MainCommands.
  void UpdateCommandEnabling();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Render(const std::string& controlId);
  void RenderStatus(const std::string& controlId);
  QWidget* BuildDisplayControls(QWidget* parent);
  void PublishReference(int level);
  void ApplyHorizontalSpanTexts(double columnSeconds);
  bool AcceptDisplayType(int type);
  void ShowSyncIndicator();
  void BuildMenus();
  void BuildPanelsMenu(QMenu* menu);
  QAction* AddAction(QMenu* menu, const QString& text, const char* id, const QKeySequence& keys, const QString& tip,
                     std::function<void()> run);

  Hylo& hylo_;
  ReplayPanel* replayPanel_ = nullptr;
  QPlainTextEdit* statusField_ = nullptr;
  bool replaying_ = false;
  std::uint64_t statusLinesSeen_ = 0;
  QLabel* logIndicator_ = nullptr;
  QLabel* logKinds_ = nullptr;  // which logs are on, beside the indicator
  QLabel* syncIndicator_ = nullptr;
  QLabel* linkIndicator_ = nullptr;
  QLabel* unitLine_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QLabel* messageLine_ = nullptr;
  DisplayArea* top_ = nullptr;
  DisplayArea* bottom_ = nullptr;
  QComboBox* horizSpan_ = nullptr;
  QSpinBox* referenceLevel_ = nullptr;
  QComboBox* referenceUnit_ = nullptr;
  QSpinBox* colourMap_ = nullptr;
  QCheckBox* peakMode_ = nullptr;
  QCheckBox* lineFilter_ = nullptr;
  QCheckBox* autoscale_ = nullptr;
  QComboBox* traceAxis_ = nullptr;
  double spanColumnSeconds_ = 0;
  int shownReference_ = 0;
  StatusPanel* statusPanel_ = nullptr;
  EpochWindow* epochWindow_ = nullptr;
  OrientationPanel* orientationPanel_ = nullptr;
  FilePanel* filePanel_ = nullptr;
  std::map<std::string, QLabel*> statusLabels_;
  QProgressBar* batteryGauge_ = nullptr;
  QLabel* activity_ = nullptr;
  std::map<std::string, std::array<QLabel*, 5>> leds_;
  QTimer refresh_;
  std::unique_ptr<PanelBinding> binding_;
  std::unique_ptr<PanelBinding> statusBinding_;
  SetupPanel* setupPanel_ = nullptr;
  SettingsPanel* settingsPanel_ = nullptr;
  std::unique_ptr<MainCommands> commands_;
  std::map<MainControl, QAction*> commandActions_;
  QAction* autoShotAction_ = nullptr;
  QTimer autoShot_;
  std::function<void(const QString&)> openUrl_;
};

}  // namespace hylo::app
