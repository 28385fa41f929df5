#pragma once
// The instrument setup panel: LF, HF/AF, special-features and link tabs over the job setup
// the core holds. Every edit goes to the core (which applies the panel rules); the widgets
// are refilled whenever the setup changes, also when records arrive from the unit.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QWidget>
#include <functional>
#include <memory>

#include "EpochTab.h"
#include "PanelBinding.h"
#include "config/JobSetupCommands.h"
#include "context/Hylo.h"

namespace hylo::app {

class SetupPanel final : public QWidget {
  Q_OBJECT
 public:
  explicit SetupPanel(Hylo& hylo, QWidget* parent = nullptr);
  ~SetupPanel() override;

  // Opens the panel for the connected unit: scanning stops, the setup is read.
  void Open();
  void Refresh();

  QTabWidget* Tabs() const { return tabs_; }
  QWidget* LfTab() const { return lfTab_; }
  QWidget* HfTab() const { return hfTab_; }
  QWidget* SpecialTab() const { return specialTab_; }
  QWidget* LinkTab() const { return linkTab_; }
  EpochTab* EpochTriggersTab() const { return epochTab_; }
  QPushButton* ApplyButton() const { return apply_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* UndoButton() const { return undo_; }
  QPushButton* SaveFileButton() const { return saveFile_; }
  QPushButton* LoadFileButton() const { return loadFile_; }
  // True while the setup is read from or applied to the unit (off the UI thread).
  bool Busy() const { return busy_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  setup::JobSetupCommands& Cmds() { return hylo_.JobSetup(); }
  QWidget* BuildHfTab();
  QWidget* BuildLfTab();
  QWidget* BuildSpecialTab();
  QWidget* BuildLinkTab();
  void FillLists();
  // An edit of the setup from a widget, marking the tab it belongs to.
  void Edit(setup::UnitTab tab, const std::function<void(setup::JobSetup&)>& edit);
  void RenderDerived(const std::string& id);
  void UpdateDimming(const setup::JobSetup& s);
  setup::UnitTab TabAt(int index) const;
  // Runs an exchange with the unit on the background job; `then` runs here after it.
  void StartExchange(const QString& what, std::function<int()> job, std::function<void(int)> then);
  void SetBusy(bool busy, const QString& what = {});

  Hylo& hylo_;
  bool filling_ = false;
  std::int64_t shownRevision_ = -1;
  QTabWidget* tabs_ = nullptr;
  QWidget* lfTab_ = nullptr;
  QWidget* hfTab_ = nullptr;
  QWidget* specialTab_ = nullptr;
  QWidget* linkTab_ = nullptr;
  EpochTab* epochTab_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* undo_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progressText_ = nullptr;
  bool busy_ = false;

  // HF family
  QComboBox* waveBandwidth_ = nullptr;
  QLabel* waveSamples_ = nullptr;
  QComboBox* waveLog_ = nullptr;
  QSpinBox* waveMaxLog_ = nullptr;
  QSpinBox* dutyRun_ = nullptr;
  QSpinBox* dutyCycle_ = nullptr;
  QCheckBox* waveStreaming_ = nullptr;
  QCheckBox* advanced_ = nullptr;
  QComboBox* dataFormat_ = nullptr;
  QComboBox* gain_ = nullptr;
  QComboBox* spectrumBandwidth_ = nullptr;
  QLabel* spectrumSamples_ = nullptr;
  QLabel* hfBandwidth_ = nullptr;
  QComboBox* fftType_ = nullptr;
  QComboBox* overlap_ = nullptr;
  QComboBox* updateRate_ = nullptr;
  QSpinBox* refLevel_ = nullptr;
  QComboBox* fftLog_ = nullptr;
  QSpinBox* fftMaxLog_ = nullptr;
  QCheckBox* spectrumStreaming_ = nullptr;
  QPushButton* saveFile_ = nullptr;
  QPushButton* loadFile_ = nullptr;
  QCheckBox* enableDelay_ = nullptr;
  QDateTimeEdit* startTime_ = nullptr;
  // Special features
  QComboBox* syncPin_ = nullptr;
  QCheckBox* timeSource_ = nullptr;
  QCheckBox* wake_ = nullptr;
  // LF
  QComboBox* lfGain_ = nullptr;
  QComboBox* lfBandwidth_ = nullptr;
  QLabel* lfSamples_ = nullptr;
  QComboBox* lfLogging_ = nullptr;
  QComboBox* lfWaveData_ = nullptr;
  QComboBox* lfFftData_ = nullptr;
  QComboBox* lfFftType_ = nullptr;
  QSpinBox* lfStrings_ = nullptr;
  QComboBox* lfOverlap_ = nullptr;
  QCheckBox* lfAdvanced_ = nullptr;
  QLabel* lfStringsText_ = nullptr;
  QLabel* lfNote_ = nullptr;
  QLabel* lfRange_ = nullptr;
  // Link
  QLabel* linkText_ = nullptr;

  std::unique_ptr<PanelBinding> binding_;
};

}  // namespace hylo::app
