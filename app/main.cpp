// hylo: the desktop application.
#include <QApplication>
#include <QCoreApplication>
#include <QDockWidget>
#include <QEventLoop>
#include <QTimer>
#include <clocale>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "QtOperator.h"
#include "core/Hylo.h"
#include "platform/TerminationSignal.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt adopts the user's locale; our text files and headers always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  hylo::app::QtOperator notices;
  hylo::HyloOptions options;
  const QStringList args = app.arguments();
  // --connect: connect with the stored link settings once the window is up (the demo).
  const bool connectAtStart = args.contains("--connect");
  // Demo and test runs keep their files out of the user's own folders.
  for (qsizetype i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--settings-dir") options.settingsFolder = args[i + 1].toStdString();
    if (args[i] == "--data-dir") options.dataFolder = args[i + 1].toStdString();
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
  QTimer signalWatch;
  QObject::connect(&signalWatch, &QTimer::timeout, [&hylo] {
    if (hylo::platform::TerminationRequested()) hylo.MainExit();
  });
  signalWatch.start(100);
  window.show();
  hylo.RecordUiThread();
  notices.Open();
  if (connectAtStart) QTimer::singleShot(0, &window, [&hylo] { hylo.Link().Connection().ConnectPort(); });
  const int result = QApplication::exec();
  notices.Close();
  return result;
}
