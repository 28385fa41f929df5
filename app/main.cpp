// hylo: the desktop application.
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <clocale>

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
  // Demo and test runs keep their files out of the user's own folders.
  for (qsizetype i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--settings-dir") options.settingsFolder = args[i + 1].toStdString();
    if (args[i] == "--data-dir") options.dataFolder = args[i + 1].toStdString();
  }
  hylo::Hylo hylo(notices, options);
  hylo.Threads().SetEventPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  hylo.Start();

  hylo::app::MainWindow window(hylo);
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
  const int result = QApplication::exec();
  notices.Close();
  return result;
}
