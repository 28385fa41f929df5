// hylo: the desktop application.
#include <QApplication>
#include <QCoreApplication>
#include <QDockWidget>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string_view>
#include <memory>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "QtOperator.h"
#include "context/Hylo.h"
#include "platform/LogFile.h"
#include "platform/TerminationSignal.h"

namespace {

constexpr const char* kHelp =
    "usage: hylo [options]\n"
    "The desktop companion for Aurisond digital hydrophones: connect, set up, scan, record and replay.\n"
    "\n"
    "  --help                  show this text and exit\n"
    "  --version               show the version and exit\n"
    "  --connect               connect with the stored link settings once the window is up\n"
    "  --settings-dir DIR      keep Hylo.ini and the job files in DIR instead of the user's folder\n"
    "  --data-dir DIR          write recordings, screenshots and sessions under DIR\n"
    "  --screenshot FILE       scan once connected, save the main window as FILE and exit\n"
    "  --scan-seconds N        with --screenshot: seconds of scanning first (default 5)\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before any display is opened, so they work on a machine without one.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("hylo %s\n", HYLO_VERSION);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);
  // Qt adopts the user's locale; our text files and headers always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  hylo::app::QtOperator notices;
  hylo::HyloOptions options;
  const QStringList args = app.arguments();
  // --connect: connect with the stored link settings once the window is up (the demo).
  const bool connectAtStart = args.contains("--connect");
  // --screenshot FILE [--scan-seconds N]: scan once connected, save the main window after N
  // seconds of scanning (5 by default) and exit; a person looks at the picture.
  QString screenshot;
  int scanSeconds = 5;
  // Demo and test runs keep their files out of the user's own folders.
  for (qsizetype i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--settings-dir") options.settingsFolder = args[i + 1].toStdString();
    if (args[i] == "--data-dir") options.dataFolder = args[i + 1].toStdString();
    if (args[i] == "--screenshot") screenshot = args[i + 1];
    if (args[i] == "--scan-seconds") scanSeconds = std::clamp(args[i + 1].toInt(), 1, 600);
  }
  hylo::Hylo hylo(notices, options);
  hylo.Threads().SetEventPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  hylo.Start();

  hylo::app::MainWindow window(hylo);
  auto* dock = new QDockWidget("Connection", &window);
  dock->setObjectName("connectionDock");
  dock->setWidget(new hylo::app::ConnectionPanel(hylo, dock));
  window.addDockWidget(Qt::LeftDockWidgetArea, dock);
  notices.SetDialogParent(&window);
  hylo.SetEndEventLoop([&notices] {
    notices.Close();
    QCoreApplication::quit();
  });
  // A terminal's Ctrl-C or a SIGTERM runs the same shutdown as the exit control.
  hylo::platform::WatchTerminationSignals();
  hylo::platform::IgnoreFileSizeSignal();
  QTimer signalWatch;
  QObject::connect(&signalWatch, &QTimer::timeout, [&hylo] {
    if (hylo::platform::TerminationRequested()) hylo.MainExit();
  });
  signalWatch.start(100);
  window.show();
  hylo.RecordUiThread();
  notices.Open();
  if (connectAtStart) QTimer::singleShot(0, &window, [&hylo] { hylo.Link().Connection().ConnectPort(); });
  int shotResult = 0;
  QTimer shotWatch;
  if (!screenshot.isEmpty()) {
    // Start scanning as soon as the unit answered; give up waiting after 30 s.
    auto waited = std::make_shared<int>(0);
    QObject::connect(&shotWatch, &QTimer::timeout, &window, [&, waited] {
      if (hylo.Exiting()) return;
      if (hylo.Scan().Active()) {
        shotWatch.stop();
        QTimer::singleShot(scanSeconds * 1000, &window, [&] {
          shotResult = window.grab().save(screenshot, "PNG") ? 0 : 1;
          hylo.MainExit();
        });
      } else if (hylo.Connection().Identity().modelCode != 0 && window.StartButton()->isEnabled()) {
        window.StartButton()->click();
      } else if (++*waited > 300) {
        shotWatch.stop();
        window.grab().save(screenshot, "PNG");
        shotResult = 2;
        hylo.MainExit();
      }
    });
    shotWatch.start(100);
  }
  const int result = QApplication::exec();
  notices.Close();
  return result != 0 ? result : shotResult;
}
