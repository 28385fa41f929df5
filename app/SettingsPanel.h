#pragma once
// The program settings panel: logging, processing, host epoch and impulse tabs. The
// logging tab (every log's settings) and the processing tab (scan rate, display options)
// are filled here; the other tabs are filled by their own modules.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QWidget>

#include "HostEpochTab.h"
#include "context/Hylo.h"

namespace hylo::app {

class SettingsPanel final : public QWidget {
  Q_OBJECT
 public:
  explicit SettingsPanel(Hylo& hylo, QWidget* parent = nullptr);

  // Stops scanning, opens on the logging tab, fills the tabs from the settings.
  void Open();

  QTabWidget* Tabs() const { return tabs_; }
  QWidget* LoggingTab() const { return loggingTab_; }
  QWidget* ProcessingTab() const { return processingTab_; }
  QWidget* HostEpochTab() const { return hostEpochTab_; }
  QWidget* ImpulseTab() const { return impulseTab_; }
  QPushButton* ApplyButton() const { return apply_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  setup::ProgramSettings& Panel() { return hylo_.ProgramSettingsPanel(); }
  QWidget* BuildProcessingTab();
  QWidget* BuildLoggingTab();
  void FillProcessing();
  void TakeProcessing();
  void FillLogging();
  void TakeLogging();
  QWidget* BuildImpulseTab();
  void FillImpulse();
  void TakeImpulse();

  // One log's naming controls: folder, prefix, a count, next index, name format.
  struct LogControls {
    QCheckBox* enabled = nullptr;
    QLineEdit* folder = nullptr;
    QLineEdit* prefix = nullptr;
    QSpinBox* count = nullptr;  // records per file, or minutes per file for WAV
    QSpinBox* nextIndex = nullptr;
    QComboBox* nameFormat = nullptr;
  };
  LogControls AddLogGroup(QWidget* tab, const QString& title, const QString& id, const QString& countLabel,
                          int countMax);

  Hylo& hylo_;
  bool filling_ = false;
  QTabWidget* tabs_ = nullptr;
  QWidget* loggingTab_ = nullptr;
  QWidget* processingTab_ = nullptr;
  HostEpochTabWidget* hostEpochTab_ = nullptr;
  QWidget* impulseTab_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QCheckBox* customScan_ = nullptr;
  QComboBox* scanPeriod_ = nullptr;
  QDoubleSpinBox* refreshRate_ = nullptr;
  QCheckBox* dcOffset_ = nullptr;
  QCheckBox* nyquist_ = nullptr;
  QCheckBox* logScale_ = nullptr;
  LogControls fft_, wav_, impulse_;
  QLineEdit* comment_ = nullptr;
  QLineEdit* client_ = nullptr;
  QLineEdit* jobId_ = nullptr;
  QLineEdit* personnel_ = nullptr;
  QCheckBox* epochOn_[2] = {};
  QLineEdit* epochFolder_[2] = {};
  QLineEdit* clickFile_ = nullptr;
  // The impulse tab: enable, detection and reset thresholds, pre/post intervals, level maxima.
  QCheckBox* impulseOn_ = nullptr;
  QSpinBox* impulseSpin_[6] = {};
  std::string clickPath_;
};

}  // namespace hylo::app
