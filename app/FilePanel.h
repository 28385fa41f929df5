#pragma once
// The file panel: the instrument's volumes and folders as a tree with check boxes, retrieve,
// delete, write, firmware and configuration update, clear, the destination folder and a
// progress line with cancel. Every operation runs on FileSysThread; results come back here.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include "context/Hylo.h"

namespace hylo::app {

class FilePanel final : public QWidget {
  Q_OBJECT
 public:
  explicit FilePanel(Hylo& hylo, QWidget* parent = nullptr);
  // Cancels and waits (bounded) for a running job: jobs and progress call back into the panel.
  ~FilePanel() override;

  // Shows the panel and lists the volumes of the connected unit.
  void Open();
  QTreeWidget* Tree() const { return tree_; }
  QLineEdit* Destination() const { return destination_; }
  QPushButton* RetrieveButton() const { return retrieve_; }
  QPushButton* DeleteButton() const { return delete_; }
  QLabel* Message() const { return message_; }
  QLabel* ProgressText() const { return progressText_; }
  bool Busy() const;

  // The panel callbacks.
  void ProcDirEvent(QTreeWidgetItem* item);
  void RetrieveCallback();
  void DeleteCallback();
  void SendWriteComm();
  void UpdateFirmware();
  void UpdateConfig();
  void ClearData();
  void CancelAction();
  void SelectDir();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static QString PathOf(const QTreeWidgetItem* item);
  static bool IsFolder(const QTreeWidgetItem* item);
  QTreeWidgetItem* ItemFor(const QString& path) const;
  void Fill(QTreeWidgetItem* folder, const std::vector<files::RemoteEntry>& entries);
  // Runs `job` on FileSysThread with the panel busy; `done` back on the UI thread.
  void Run(const QString& title, std::function<void(files::InstrumentFiles&)> job, std::function<void()> done = {});
  // The same; false when the job could not be posted.
  bool RunJob(const QString& title, std::function<void(files::InstrumentFiles&)> job, std::function<void()> done = {});
  // The FTP branches: list a folder, retrieve named paths, delete the checked files.
  bool FtpList(const std::string& path);
  QTreeWidgetItem* FtpItem(const std::string& path);
  void FtpRetrieve(const std::vector<std::string>& names);
  void FtpDelete();
  void ShowConnectionPanel();
  void SetBusy(bool busy);
  void Tell(const std::string& text);
  void Route();
  std::vector<QTreeWidgetItem*> Chosen() const;

  Hylo& hylo_;
  bool ftp_ = false;
  QTreeWidget* tree_ = nullptr;
  QLineEdit* destination_ = nullptr;
  QPushButton* retrieve_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* write_ = nullptr;
  QPushButton* firmware_ = nullptr;
  QPushButton* config_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progressText_ = nullptr;
  QLabel* message_ = nullptr;
  int running_ = 0;  // jobs posted whose results have not come back
};

}  // namespace hylo::app
