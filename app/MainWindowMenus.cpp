// The main window's menu bar and toolbar: every command with its shortcut and tooltip, the
// instrument commands dimmed by unit, firmware and link, screenshots and sessions.
#include <QDesktopServices>
#include <QDockWidget>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <tuple>
#include <vector>

#include "MainWindow.h"
#include "SettingsEdit.h"
#include "platform/Folders.h"
#include "shell/MainPanel.h"

namespace hylo::app {

QAction* MainWindow::AddAction(QMenu* menu, const QString& text, const char* id, const QKeySequence& keys,
                               const QString& tip, std::function<void()> run) {
  auto* action = menu->addAction(text);
  action->setObjectName(id);
  if (!keys.isEmpty()) action->setShortcut(keys);
  action->setToolTip(tip);
  action->setStatusTip(tip);
  if (run) connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
  return action;
}

QAction* MainWindow::Action(const QString& objectName) const {
  return findChild<QAction*>(objectName, Qt::FindChildrenRecursively);
}

void MainWindow::BuildMenus() {
  openUrl_ = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
  commands_ = std::make_unique<MainCommands>(hylo_, MainCommands::Hooks{
                                                        [this](const std::string& url) {
                                                          if (openUrl_) openUrl_(QString::fromStdString(url));
                                                        },
                                                        // The file panel picks its transport from the connected unit.
                                                        [this](DataAccessKind) { OpenFilePanel(); },
                                                        [this] {
                                                          if (auto* dock = findChild<QDockWidget*>("connectionDock")) {
                                                            dock->show();
                                                            dock->raise();
                                                          }
                                                        },
                                                    });

  QMenu* file = menuBar()->addMenu("&File");
  AddAction(file, "Save Session...", "actionSaveSession", QKeySequence::Save,
            "Apply pending settings and save all settings to a session file", [this] { hylo_.SaveSession(); });
  AddAction(file, "Load Session...", "actionLoadSession", QKeySequence::Open,
            "Replace all settings with those of a session file", [this] { hylo_.LoadSession(); });
  file->addSeparator();
  AddAction(file, "Screenshot", "actionScreenshot", QKeySequence(Qt::Key_F12),
            "Save the main window as a PNG in the screenshot folder", [this] { TakeScreenshot(); });
  autoShotAction_ = AddAction(file, "Auto Screenshots", "actionAutoScreenshots", QKeySequence(Qt::SHIFT | Qt::Key_F12),
                              "Take a screenshot at the set interval", [] {});
  autoShotAction_->setCheckable(true);
  connect(autoShotAction_, &QAction::toggled, this, [this](bool on) { SetAutoScreenshots(on); });
  AddAction(
      file, "Screenshot Interval...", "actionScreenshotInterval", {}, "Seconds between automatic screenshots", [this] {
        auto& main = hylo_.Groups().main;
        bool ok = false;
        const int seconds = QInputDialog::getInt(
            this, "Screenshot Interval", "Seconds between screenshots",
            static_cast<int>(std::max<std::uint32_t>(main.timeScreenshotDuration, 1)), 1, 86400, 1, &ok);
        if (!ok) return;
        EditSettings(hylo_,
                     [&](SettingsGroups& g) { g.main.timeScreenshotDuration = static_cast<std::uint32_t>(seconds); });
        if (autoShot_.isActive()) SetAutoScreenshots(true);
      });
  AddAction(file, "Screenshot Folder...", "actionScreenshotFolder", {}, "Choose where screenshots are saved", [this] {
    auto& main = hylo_.Groups().main;
    if (auto folder = hylo_.Operator().ChooseFolder("Select Screenshot Folder", main.screenshotPath))
      EditSettings(hylo_, [&](SettingsGroups& g) { g.main.screenshotPath = folder->string(); });
  });
  file->addSeparator();
  AddAction(file, "Exit", "actionExit", QKeySequence::Quit, "Stop scanning, save the settings and leave",
            [this] { exitButton_->click(); });

  QMenu* unit = menuBar()->addMenu("&Instrument");
  AddAction(unit, "Connection", "actionConnection", QKeySequence(Qt::CTRL | Qt::Key_K), "Show the connection panel",
            [this] {
              if (auto* dock = findChild<QDockWidget*>("connectionDock")) {
                dock->show();
                dock->raise();
              }
            });
  AddAction(unit, "Instrument Setup", "actionInstrumentSetup", QKeySequence(Qt::CTRL | Qt::Key_I),
            "Read and change the instrument's job setup", [this] {
              if (!setupPanel_) setupPanel_ = new SetupPanel(hylo_, this);
              setupPanel_->Open();
            });
  unit->addSeparator();
  auto command = [&](const QString& text, const char* id, QKeySequence keys, const QString& tip, MainControl control,
                     std::function<void()> run) {
    commandActions_[control] = AddAction(unit, text, id, keys, tip, std::move(run));
  };
  command("Enquire Status", "actionEnquireStatus", QKeySequence(Qt::Key_F5), "Ask the instrument who and how it is",
          MainControl::kEnquireStatus, [this] { commands_->EnquireStatus(); });
  command("Reset Instrument...", "actionReset", {}, "Restart the instrument (external power must stay connected)",
          MainControl::kReset, [this] { commands_->SendRebootCmd(false); });
  command("Standby...", "actionStandby", {}, "Put the instrument into low power standby until power is applied",
          MainControl::kStandby, [this] { commands_->SendRebootCmd(true); });
  command("Reset Password...", "actionResetPassword", {}, "Reset the instrument's password",
          MainControl::kResetPassword, [this] { commands_->SendResetPassword(); });
  unit->addSeparator();
  command("Instrument Web Pages", "actionWebServer", QKeySequence(Qt::CTRL | Qt::Key_W),
          "Open the instrument's web pages in the browser", MainControl::kWebServer,
          [this] { commands_->OpenWebServer(); });
  command("Instrument Data", "actionDataAccess", QKeySequence(Qt::CTRL | Qt::Key_D),
          "Browse and retrieve the files stored on the instrument", MainControl::kDataAccess,
          [this] { commands_->OpenDataAccess(); });

  QMenu* scan = menuBar()->addMenu("&Scan");
  AddAction(scan, "Start", "actionStart", QKeySequence(Qt::Key_F9), "Start the live data",
            [this] { startButton_->click(); });
  AddAction(scan, "Pause", "actionPause", QKeySequence(Qt::Key_F10), "Pause or resume the live data",
            [this] { pauseButton_->click(); });
  AddAction(scan, "Stop", "actionStop", QKeySequence(Qt::Key_F11), "Stop the live data",
            [this] { stopButton_->click(); });
  scan->addSeparator();
  AddAction(scan, "Reset Charts", "actionResetCharts", QKeySequence(Qt::CTRL | Qt::Key_R), "Clear the displays",
            [this] { MainResetChart(); });
  AddAction(scan, "Noise Compare...", "actionNoiseCompare", {}, "Load a comparison curve for the spectrum",
            [this] { LoadNoiseCompare(); });

  QMenu* replay = menuBar()->addMenu("&Replay");
  AddAction(replay, "Choose Files...", "actionReplayFiles", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
            "Choose recorded files to replay", [this] { replayPanel_->ChooseFiles(); });
  AddAction(replay, "Replay", "actionReplayStart", {}, "Replay the chosen files", [this] { replayPanel_->Start(); });
  AddAction(replay, "Pause Replay", "actionReplayPause", {}, "Pause the replay", [this] { replayPanel_->Pause(); });
  AddAction(replay, "Stop Replay", "actionReplayStop", {}, "Stop the replay", [this] { replayPanel_->Stop(); });

  auto openSettings = [this] {
    if (!settingsPanel_) settingsPanel_ = new SettingsPanel(hylo_, this);
    settingsPanel_->Open();
  };
  QMenu* logging = menuBar()->addMenu("&Logging");
  AddAction(logging, "Hylo Settings", "actionHyloSettings", QKeySequence(Qt::CTRL | Qt::Key_L),
            "WAV, FFT, impulse and event logs; processing and display settings", openSettings);
  AddAction(logging, "Open Data Folder", "actionDataFolder", {}, "Show the folder the logs are written to", [this] {
    if (openUrl_) openUrl_(QUrl::fromLocalFile(QString::fromStdString(hylo_.DataFolder().string())).toString());
  });

  QMenu* triggers = menuBar()->addMenu("&Triggers");
  AddAction(triggers, "Trigger Settings", "actionTriggerSettings", QKeySequence(Qt::CTRL | Qt::Key_T),
            "The instrument's epoch triggers", [this] {
              if (!setupPanel_) setupPanel_ = new SetupPanel(hylo_, this);
              setupPanel_->Open();
            });
  AddAction(triggers, "Host Trigger Settings", "actionHostTriggers", {}, "Band and click triggers run by Hylo",
            openSettings);

  BuildPanelsMenu(menuBar()->addMenu("&Panels"));

  QMenu* help = menuBar()->addMenu("&Help");
  AddAction(help, "User Guide", "actionUserGuide", QKeySequence::HelpContents, "Open the user guide", [this] {
    // Installed beside the program's share folder, or the source tree's copy in a build.
    const auto program = platform::ProgramFolder();
    for (const auto& guide : {program / "../share/doc/hylo/README.md", program / "../README.md"}) {
      std::error_code error;
      if (!std::filesystem::exists(guide, error)) continue;
      if (openUrl_) openUrl_(QUrl::fromLocalFile(QString::fromStdString(guide.lexically_normal().string())).toString());
      return;
    }
    hylo_.Operator().ShowNotice("The user guide was not found.");
  });
  AddAction(help, "About Hylo", "actionAbout", {}, "Version and licence", [this] {
    QMessageBox::about(this, "About Hylo",
                       QString("%1\nPC companion program for Aurisond digital hydrophones.")
                           .arg(QString::fromStdString(hylo_.MainPanel().Text(mainpanel::kTitle))));
  });

  auto* bar = addToolBar("Commands");
  bar->setObjectName("commandBar");
  for (const char* id : {"actionEnquireStatus", "actionReset", "actionStandby", "actionResetPassword",
                         "actionWebServer", "actionDataAccess", "actionScreenshot", "actionAutoScreenshots"})
    bar->addAction(Action(id));

  // The window's own controls explain themselves too (indicators keep the tooltips their models set).
  const std::pair<const char*, const char*> tips[] = {
      {"startScanning", "Start the live data (F9)"},
      {"pauseScanning", "Pause or resume the live data (F10)"},
      {"stopScanning", "Stop the live data (F11)"},
      {"exitButton", "Stop scanning, save the settings and leave (Ctrl+Q)"},
      {"horizSpan", "Time shown across the spectrogram"},
      {"referenceLevel", "Level at the bottom of the spectrogram's colour scale and the spectrum graph"},
      {"referenceUnit", "Unit of the spectrum and spectrogram levels"},
      {"colourMap", "Range of levels the spectrogram's colours span"},
      {"peakMode", "Show the peak (on) or the mean (off) of the spectra a column holds"},
      {"lineFilter", "Hide the bins below 10 Hz and around multiples of 60 Hz"},
      {"spectrumAutoscale", "Fit the spectrum graph's level axis to the newest spectrum"},
      {"traceAxis", "Amplitude range of the time series"},
      {"loadNoiseCompare", "Load a comparison curve (*.csv) for the spectrum graph"},
      {"resetCharts", "Clear the displays (Ctrl+R)"},
      {"unitLine", "The connected unit, its status and firmware"},
      {"linkIndicator", "Lit while a link to a unit is in use"},
      {"statusField", "What Hylo and the unit did, newest last"},
      {"messageLine", "The unit's latest message"},
  };
  for (const auto& [id, tip] : tips)
    if (auto* widget = findChild<QWidget*>(id)) widget->setToolTip(tip);

  autoShot_.setObjectName("autoScreenshotTimer");
  connect(&autoShot_, &QTimer::timeout, this, [this] {
    if (!hylo_.Exiting()) TakeScreenshot();
  });
  autoShotAction_->setChecked(hylo_.Groups().main.timeScreenshotActive);
  UpdateCommandEnabling();
}

void MainWindow::BuildPanelsMenu(QMenu* menu) {
  // The one list of panels; a new panel adds one line.
  const std::vector<std::tuple<QString, const char*, QKeySequence, QString, std::function<QWidget*()>>> entries{
      {"Status", "panelStatus", QKeySequence(Qt::ALT | Qt::Key_1), "Battery, temperature, humidity and clock",
       [this] { return static_cast<QWidget*>(OpenStatusPanel()); }},
      {"Accelerometer/Magnetometer", "panelOrientation", QKeySequence(Qt::ALT | Qt::Key_2),
       "The instrument's tilt and heading", [this] { return static_cast<QWidget*>(OpenTiltMagPanel()); }},
      {"Epoch Messages", "panelEpoch", QKeySequence(Qt::ALT | Qt::Key_3), "The instrument's event messages",
       [this] { return static_cast<QWidget*>(OpenEpochWindow()); }},
      {"Instrument Files", "panelFiles", QKeySequence(Qt::ALT | Qt::Key_4), "The files stored on the instrument",
       [this] { return static_cast<QWidget*>(OpenFilePanel()); }},
  };
  for (const auto& [text, id, keys, tip, open] : entries) {
    // Opens the panel, or hides it when it is showing.
    QAction* action = AddAction(menu, text, id, keys, tip, {});
    connect(action, &QAction::triggered, this, [action, open = open] {
      auto* shown = qobject_cast<QWidget*>(action->data().value<QObject*>());
      if (shown && shown->isVisible()) {
        shown->hide();
        return;
      }
      if (QWidget* panel = open()) action->setData(QVariant::fromValue(static_cast<QObject*>(panel)));
    });
  }
}

QString MainWindow::TakeScreenshot() {
  const QString path = QString::fromStdString(commands_->NextScreenshotPath().string());
  // A folder that cannot be made or a file that cannot be written leaves no message.
  return grab().save(path, "PNG") ? path : QString();
}

void MainWindow::SetAutoScreenshots(bool on) {
  auto& main = hylo_.Groups().main;
  EditSettings(hylo_, [&](SettingsGroups& g) { g.main.timeScreenshotActive = on; });
  if (!on) {
    autoShot_.stop();
    return;
  }
  // An interval of 0 would shoot on every pass of the event loop; one second is the least.
  const std::uint32_t seconds = std::clamp<std::uint32_t>(main.timeScreenshotDuration, 1, 86400);
  autoShot_.start(static_cast<int>(seconds * 1000));
}

void MainWindow::UpdateCommandEnabling() {
  if (!commands_) return;
  const ControlState state = commands_->State();
  for (auto& [control, action] : commandActions_) action->setEnabled(ControlEnabled(control, state));
}

}  // namespace hylo::app
