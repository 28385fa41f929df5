#include "FilePanel.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <thread>

#include "ConnectionPanel.h"
#include "SettingsEdit.h"
#include "UiPost.h"
#include "files/HyloFTP.h"
#include "link/Firmware.h"

namespace hylo::app {
namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr std::string_view kRetrieveDone = "Retrieve Process Completed Successfully";
}  // namespace

FilePanel::FilePanel(Hylo& hylo, QWidget* parent) : QWidget(parent, Qt::Window), hylo_(hylo) {
  setWindowTitle("Instrument Files");
  tree_ = new QTreeWidget(this);
  tree_->setHeaderLabels({"Name", "Path"});
  tree_->header()->setStretchLastSection(true);
  destination_ = new QLineEdit(QString::fromStdString(hylo_.Groups().fileUtility.destinationPath), this);
  auto* browse = new QPushButton("...", this);
  retrieve_ = new QPushButton("Retrieve", this);
  delete_ = new QPushButton("Delete", this);
  write_ = new QPushButton("Write", this);
  firmware_ = new QPushButton("Update Firmware", this);
  config_ = new QPushButton("Update Config", this);
  clear_ = new QPushButton("Clear Data", this);
  cancel_ = new QPushButton("Cancel", this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progressText_ = new QLabel(this);
  message_ = new QLabel(this);
  message_->setWordWrap(true);

  auto* dest = new QHBoxLayout;
  dest->addWidget(new QLabel("Destination", this));
  dest->addWidget(destination_, 1);
  dest->addWidget(browse);
  auto* buttons = new QHBoxLayout;
  for (auto* b : {retrieve_, delete_, write_, firmware_, config_, clear_}) buttons->addWidget(b);
  auto* progress = new QHBoxLayout;
  progress->addWidget(progress_, 1);
  progress->addWidget(progressText_);
  progress->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(dest);
  layout->addLayout(buttons);
  layout->addLayout(progress);
  layout->addWidget(message_);
  for (auto* w :
       {static_cast<QWidget*>(progress_), static_cast<QWidget*>(progressText_), static_cast<QWidget*>(cancel_)})
    w->setVisible(false);

  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { ProcDirEvent(item); });
  connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) {
    if (!IsFolder(item)) ProcDirEvent(item);
  });
  connect(browse, &QPushButton::clicked, this, [this] { SelectDir(); });
  connect(destination_, &QLineEdit::editingFinished, this, [this] {
    EditSettings(hylo_, [&](SettingsGroups& g) { g.fileUtility.destinationPath = destination_->text().toStdString(); });
  });
  connect(retrieve_, &QPushButton::clicked, this, [this] { RetrieveCallback(); });
  connect(delete_, &QPushButton::clicked, this, [this] { DeleteCallback(); });
  connect(write_, &QPushButton::clicked, this, [this] { SendWriteComm(); });
  connect(firmware_, &QPushButton::clicked, this, [this] { UpdateFirmware(); });
  connect(config_, &QPushButton::clicked, this, [this] { UpdateConfig(); });
  connect(clear_, &QPushButton::clicked, this, [this] { ClearData(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { CancelAction(); });

  hylo_.FileSys().SetProgress([this](const files::Progress& p) {
    PostToUi(this, [this, p] {
      progress_->setValue(p.percent);
      progressText_->setText(QString::fromStdString(p.name + "  " + p.text));
    });
  });
}

FilePanel::~FilePanel() {
  hylo_.FileSys().Cancel();
  for (int i = 0; i < 100 && hylo_.FileSys().Busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  hylo_.FileSys().SetProgress({});
}

void FilePanel::Route() {
  const DeviceIdentity id = hylo_.Connection().Identity();
  ftp_ = files::UsesFtp(id.modelCode, FirmwareVersion(id.firmwareText).packed);
  SetBusy(running_ > 0);
}

void FilePanel::Open() {
  tree_->clear();
  Route();
  show();
  raise();
  if (ftp_) {
    // The home folder, then the data folder.
    for (const auto folder : {files::ftp::kHome, files::ftp::kData})
      if (!FtpList(std::string(folder))) {
        hylo_.Operator().ShowNotice(files::ftp::kQueueFailed);
        break;
      }
    return;
  }
  Run("Volumes", [this](files::InstrumentFiles& fs) {
    std::vector<files::RemoteEntry> volumes;
    fs.List("", false, volumes);
    PostToUi(this, [this, volumes] { Fill(nullptr, volumes); });
  });
}

bool FilePanel::Busy() const { return running_ > 0; }

QString FilePanel::PathOf(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toString(); }
bool FilePanel::IsFolder(const QTreeWidgetItem* item) { return item->data(0, kFolderRole).toBool(); }

QTreeWidgetItem* FilePanel::ItemFor(const QString& path) const {
  for (QTreeWidgetItemIterator it(tree_); *it; ++it)
    if (PathOf(*it) == path) return *it;
  return nullptr;
}

void FilePanel::Fill(QTreeWidgetItem* folder, const std::vector<files::RemoteEntry>& entries) {
  if (folder) qDeleteAll(folder->takeChildren());
  const Qt::CheckState state = folder ? folder->checkState(0) : Qt::Unchecked;
  for (const auto& e : entries) {
    if (!e.refusal.empty()) {
      Tell(e.refusal);
      if (e.path.ends_with("/?")) continue;  // a name that names no place is not shown
    }
    auto* item = folder ? new QTreeWidgetItem(folder) : new QTreeWidgetItem(tree_);
    item->setText(0, QString::fromStdString(e.name));
    item->setText(1, QString::fromStdString(e.path));
    item->setData(0, kPathRole, QString::fromStdString(e.path));
    item->setData(0, kFolderRole, e.folder);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, state);
    if (e.folder) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
}

void FilePanel::Tell(const std::string& text) { message_->setText(QString::fromStdString(text)); }

void FilePanel::SetBusy(bool busy) {
  for (auto* b : {retrieve_, delete_, firmware_}) b->setEnabled(!busy);
  for (auto* b : {write_, config_}) b->setEnabled(!busy && !ftp_);
  clear_->setEnabled(!busy && ftp_);
  for (auto* w :
       {static_cast<QWidget*>(progress_), static_cast<QWidget*>(progressText_), static_cast<QWidget*>(cancel_)})
    w->setVisible(busy);
  if (busy) {
    progress_->setValue(0);
    progressText_->clear();
  }
  setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
}

void FilePanel::Run(const QString& title, std::function<void(files::InstrumentFiles&)> job,
                    std::function<void()> done) {
  RunJob(title, std::move(job), std::move(done));
}

bool FilePanel::RunJob(const QString& title, std::function<void(files::InstrumentFiles&)> job,
                       std::function<void()> done) {
  ++running_;
  SetBusy(true);
  progressText_->setText(title);
  const bool posted = hylo_.FileSys().PostJob([this, job = std::move(job), done](files::InstrumentFiles& fs) {
    job(fs);
    PostToUi(this, [this, done] {
      if (done) done();
      if (--running_ == 0) SetBusy(false);
    });
  });
  if (!posted) {
    if (--running_ == 0) SetBusy(false);
    if (!ftp_) hylo_.Operator().ShowNotice("Error: Internal Node error. Please try again.\n");
  }
  return posted;
}

std::vector<QTreeWidgetItem*> FilePanel::Chosen() const {
  std::vector<QTreeWidgetItem*> out;
  for (QTreeWidgetItemIterator it(tree_, QTreeWidgetItemIterator::Checked); *it; ++it) {
    // A checked folder stands for everything under it.
    const QTreeWidgetItem* up = (*it)->parent();
    bool covered = false;
    for (; up; up = up->parent()) covered = covered || up->checkState(0) == Qt::Checked;
    if (!covered) out.push_back(*it);
  }
  if (out.empty() && tree_->currentItem()) out.push_back(tree_->currentItem());
  return out;
}

void FilePanel::ProcDirEvent(QTreeWidgetItem* item) {
  if (!item) return;
  if (ftp_) {
    if (IsFolder(item))
      FtpList(PathOf(item).toStdString());
    else
      FtpRetrieve({PathOf(item).toStdString()});
    return;
  }
  const std::string path = PathOf(item).toStdString();
  if (!IsFolder(item)) {
    const std::filesystem::path local =
        std::filesystem::path(destination_->text().toStdString()) / item->text(0).toStdString();
    Run(item->text(0), [this, path, local](files::InstrumentFiles& fs) {
      std::uint64_t bytes = 0;
      const auto r = fs.Retrieve(path, local, bytes);
      if (!r.Ok() && !r.cancelled) hylo_.Operator().ShowNotice(r.error);
    });
    return;
  }
  Run(item->text(0), [this, path](files::InstrumentFiles& fs) {
    std::vector<files::RemoteEntry> entries;
    const auto r = fs.List(path, false, entries);
    if (!r.Ok()) {
      if (!r.cancelled) hylo_.Operator().ShowNotice(r.error);
      return;
    }
    PostToUi(this, [this, path, entries] {
      if (auto* folder = ItemFor(QString::fromStdString(path))) Fill(folder, entries);
    });
  });
}

void FilePanel::RetrieveCallback() {
  if (ftp_) {
    std::vector<std::string> names;
    for (QTreeWidgetItemIterator it(tree_, QTreeWidgetItemIterator::Checked); *it; ++it)
      names.push_back(PathOf(*it).toStdString());
    if (names.empty()) {
      hylo_.Operator().ShowNotice(files::ftp::kNothingChosen);
      return;
    }
    FtpRetrieve(names);
    return;
  }
  const auto chosen = Chosen();
  if (chosen.empty()) {
    hylo_.Operator().ShowNotice("Error: No file selected or error retrieving file list");
    return;
  }
  std::vector<std::string> paths;
  for (auto* item : chosen) paths.push_back(PathOf(item).toStdString());
  const std::filesystem::path dest = destination_->text().toStdString();
  Run("Retrieve", [this, paths, dest](files::InstrumentFiles& fs) {
    if (paths.size() > 1 || paths[0].find('.') == std::string::npos)
      hylo_.Status().Append("Multi-File Retrieve Started");
    std::size_t failed = 0;
    for (const auto& p : paths) {
      const auto s = files::RetrieveTree(fs, p, dest);
      failed += s.failed.size();
      if (!s.errors.empty()) hylo_.Operator().ShowNotice(s.errors.front());
      if (s.cancelled) return;
    }
    if (failed == 0) hylo_.Status().Append(kRetrieveDone);
  });
}

void FilePanel::DeleteCallback() {
  if (ftp_) {
    FtpDelete();
    return;
  }
  const auto chosen = Chosen();
  for (auto* item : chosen) {
    const std::string path = PathOf(item).toStdString();
    const std::string text = "Are you sure you want to delete " + item->text(0).toStdString() + "?";
    if (hylo_.Operator().Confirm("Confirm Delete?", text, {"Yes", "No"}) != 0) continue;
    Run("Delete", [this, path](files::InstrumentFiles& fs) {
      const auto r = fs.Delete(path);
      if (!r.Ok()) {
        if (!r.cancelled) hylo_.Operator().ShowNotice(r.error);
        return;
      }
      PostToUi(this, [this, path] { delete ItemFor(QString::fromStdString(path)); });
    });
  }
}

void FilePanel::SendWriteComm() {
  QTreeWidgetItem* at = tree_->currentItem();
  if (at && !IsFolder(at)) at = at->parent();
  const std::string folder = at ? PathOf(at).toStdString() : "/1";
  const auto file = hylo_.Operator().ChooseFile("Write", destination_->text().toStdString(), "*.*", false);
  if (!file) return;
  Run(QString::fromStdString(file->filename().string()), [this, folder, file = *file](files::InstrumentFiles& fs) {
    const auto r = fs.Write(file, folder);
    if (!r.Ok() && !r.cancelled) hylo_.Operator().ShowNotice(r.error);
    if (r.Ok()) PostToUi(this, [this, folder] { ProcDirEvent(ItemFor(QString::fromStdString(folder))); });
  });
}

void FilePanel::UpdateFirmware() {
  if (ftp_) {
    if (hylo_.Operator().Confirm("Continue", files::ftp::kConfirmUpdate, {"Yes", "No"}) != 0) return;
    const auto package =
        hylo_.Operator().ChooseFile("Select Update File", destination_->text().toStdString(), "*.aup", false);
    if (!package) return;
    Run(QString::fromStdString(package->filename().string()), [this, package = *package](files::InstrumentFiles& fs) {
      const auto r = fs.UpdateFirmware(package, [] { return true; });
      if (!r.cancelled) hylo_.Operator().ShowNotice(r.Ok() ? r.note : r.error);
      if (r.Ok()) PostToUi(this, [this] { ShowConnectionPanel(); });
    });
    return;
  }
  const auto password = hylo_.Operator().PromptText("Password", "Please Enter your password", "");
  if (!password) return;
  if (!files::FirmwarePasswordOk(password->substr(0, 12))) {
    hylo_.Operator().ShowNotice(files::text::kInvalidPassword);
    return;
  }
  const auto package =
      hylo_.Operator().ChooseFile("Select Firmware", destination_->text().toStdString(), "*.bin", false);
  if (!package) return;
  Run("UPDATE.BIN", [this, package = *package](files::InstrumentFiles& fs) {
    auto confirm = [this] {
      // Atomic: Qt's wake-up of this thread is invisible to the race checker.
      std::atomic<bool> yes{false};
      PostToUi(
          this,
          [this, &yes] {
            yes.store(hylo_.Operator().Confirm("Continue Update", files::text::kContinueUpdate, {"Yes", "No"}) == 0,
                      std::memory_order_release);
          },
          Qt::BlockingQueuedConnection);
      return yes.load(std::memory_order_acquire);
    };
    const auto r = fs.UpdateFirmware(package, confirm);
    if (!r.cancelled) hylo_.Operator().ShowNotice(r.Ok() ? std::string(files::text::kFirmwareDone) : r.error);
  });
}

void FilePanel::UpdateConfig() {
  const auto file =
      hylo_.Operator().ChooseFile("Select Config File", destination_->text().toStdString(), "*.cfg", false);
  if (!file) return;
  Run("UNIT.CFG", [this, file = *file](files::InstrumentFiles& fs) {
    const auto r = fs.UpdateConfig(file);
    if (!r.cancelled) hylo_.Operator().ShowNotice(r.Ok() ? std::string(files::text::kConfigDone) : r.error);
  });
}

void FilePanel::ClearData() {
  if (!ftp_) {
    hylo_.Operator().ShowNotice(files::text::kClearOverFtp);
    return;
  }
  if (hylo_.Operator().Confirm("Continue", files::ftp::kConfirmClear, {"Yes", "No"}) != 0) return;
  Run("CleanData", [this](files::InstrumentFiles& fs) {
    const auto r = fs.ClearData();
    if (!r.cancelled) hylo_.Operator().ShowNotice(r.Ok() ? r.note : r.error);
    if (r.Ok()) PostToUi(this, [this] { ShowConnectionPanel(); });
  });
}

// The unit reboots: the operator reconnects from the connection panel.
void FilePanel::ShowConnectionPanel() {
  if (!parentWidget()) return;
  for (auto* dock : parentWidget()->findChildren<QDockWidget*>())
    if (dock->findChild<ConnectionPanel*>()) {
      dock->show();
      dock->raise();
    }
}

bool FilePanel::FtpList(const std::string& path) {
  return RunJob(QString::fromStdString(path), [this, path](files::InstrumentFiles& fs) {
    std::vector<files::RemoteEntry> entries;
    const auto r = fs.List(path, true, entries);
    if (!r.Ok()) return;  // shown only as an empty folder
    PostToUi(this, [this, path, entries] {
      QTreeWidgetItem* folder = FtpItem(path);
      if (!folder) return;
      Fill(folder, entries);
      // A checked folder brings its sub-folders in, checked, all the way down.
      if (folder->checkState(0) != Qt::Checked) return;
      for (int i = 0; i < folder->childCount(); ++i) {
        const QTreeWidgetItem* child = folder->child(i);
        const QString name = child->text(0);
        if (IsFolder(child) && !name.contains(".wav") && !name.contains(".txt")) FtpList(PathOf(child).toStdString());
      }
    });
  });
}

// The tree item of an FTP folder, with the folders above it made where missing ("home" is
// never shown; the walk starts at "Aurisond").
QTreeWidgetItem* FilePanel::FtpItem(const std::string& path) {
  QTreeWidgetItem* at = nullptr;
  std::string sofar;
  std::size_t from = 0;
  while (from < path.size()) {
    const auto slash = path.find('/', from);
    const std::string part = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    from = slash == std::string::npos ? path.size() : slash + 1;
    if (part.empty()) continue;
    sofar += "/" + part;
    if (sofar == "/home") continue;
    if (QTreeWidgetItem* found = ItemFor(QString::fromStdString(sofar))) {
      at = found;
      continue;
    }
    if (!at && part != "Aurisond") return nullptr;
    auto* item = at ? new QTreeWidgetItem(at) : new QTreeWidgetItem(tree_);
    item->setText(0, QString::fromStdString(part));
    item->setText(1, QString::fromStdString(sofar));
    item->setData(0, kPathRole, QString::fromStdString(sofar));
    item->setData(0, kFolderRole, true);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, at ? at->checkState(0) : Qt::Unchecked);
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    at = item;
  }
  return at;
}

void FilePanel::FtpRetrieve(const std::vector<std::string>& names) {
  const std::filesystem::path dest = destination_->text().toStdString();
  Run("Retrieve", [this, names, dest](files::InstrumentFiles& fs) {
    auto* ftp = dynamic_cast<files::HyloFTP*>(&fs);
    if (!ftp) return;
    const files::DownloadSummary s = ftp->RetrieveNames(names, dest);
    if (!s.message.empty()) hylo_.Operator().ShowNotice(s.message);
  });
}

void FilePanel::FtpDelete() {
  if (hylo_.Operator().Confirm("Confirm Delete", files::ftp::kConfirmDelete, {"Yes", "No"}) != 0) return;
  std::vector<std::string> names;
  for (QTreeWidgetItemIterator it(tree_, QTreeWidgetItemIterator::Checked); *it; ++it) {
    const std::string path = PathOf(*it).toStdString();
    if (files::ftp::IsHomeFolder(path)) {
      hylo_.Operator().ShowNotice(files::ftp::kHomeRefused);
      return;
    }
    const QString name = (*it)->text(0);
    if (!IsFolder(*it) || name.contains(".wav") || name.contains(".txt")) names.push_back(path);
  }
  Run("Delete", [this, names](files::InstrumentFiles& fs) {
    for (const auto& path : names) {
      if (fs.Cancelled()) return;
      const auto r = fs.Delete(path);
      if (!r.Ok()) {
        if (!r.cancelled) hylo_.Operator().ShowNotice(r.error);
        return;
      }
      PostToUi(this, [this, path] { delete ItemFor(QString::fromStdString(path)); });
    }
  });
}

void FilePanel::CancelAction() {
  hylo_.FileSys().Cancel();
  for (auto* w :
       {static_cast<QWidget*>(progress_), static_cast<QWidget*>(progressText_), static_cast<QWidget*>(cancel_)})
    w->setVisible(false);
}

void FilePanel::SelectDir() {
  if (const auto dir = hylo_.Operator().ChooseFolder("Select Directory", destination_->text().toStdString())) {
    destination_->setText(QString::fromStdString(dir->string()));
    EditSettings(hylo_, [&](SettingsGroups& g) { g.fileUtility.destinationPath = dir->string(); });
  }
}

void FilePanel::closeEvent(QCloseEvent* event) {
  if (Busy() && hylo_.Operator().Confirm("Confirm",
                                         "Closing the File panel will result in cancelling any active file command. "
                                         "\nAre you sure you wish to continue?",
                                         {"Yes", "No"}) != 0) {
    event->ignore();
    return;
  }
  CancelAction();
  event->accept();
}

}  // namespace hylo::app
