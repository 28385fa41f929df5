#pragma once
// The main window's replay controls: choose files, start, pause, stop, the replay rate, and
// the file being replayed with its position.
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <string>
#include <vector>

#include "context/Hylo.h"

namespace hylo::app {

class ReplayPanel final : public QGroupBox {
  Q_OBJECT
 public:
  explicit ReplayPanel(Hylo& hylo, QWidget* parent = nullptr);

  // The file dialog's choice (tests set the list directly).
  void ChooseFiles();
  void SetFiles(std::vector<std::string> files);
  // A text log chosen first: its header on the file-details panel, which starts the replay.
  void ShowDetails();
  QDialog* Details() const { return details_; }
  // Hands the list to ReplayThread; the panel keeps its own copy for "Replay" again.
  void Start();
  void Pause();
  void Stop();
  // Shows the thread's progress (on the panel's timer).
  void ShowProgress();

  QPushButton* StartButton() const { return start_; }
  QPushButton* PauseButton() const { return pause_; }
  QPushButton* StopButton() const { return stop_; }
  QSpinBox* Rate() const { return rate_; }
  QLabel* Current() const { return current_; }

 signals:
  // A replay began or ended: the main window dims its scanning controls meanwhile.
  void replayingChanged(bool replaying);

 private:
  Hylo& hylo_;
  std::vector<std::string> files_;
  QPushButton* choose_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* stop_ = nullptr;
  QSpinBox* rate_ = nullptr;
  QLabel* chosen_ = nullptr;
  QLabel* current_ = nullptr;
  QDialog* details_ = nullptr;
  bool replaying_ = false;
  QTimer timer_;
};

}  // namespace hylo::app
