#pragma once
// Presses Start on the main window, runs the event loop until `seen` holds (polled every
// 50 ms, at most `ms`), then presses Stop and ends the context's loop.
#include <QApplication>
#include <QTimer>

#include "MainWindow.h"
#include "support/GuiContext.h"

namespace hylo::test {

template <typename Seen>
void ScanUntil(GuiContext& gui, app::MainWindow& window, Seen seen, int ms = 25000) {
  Hylo& hylo = *gui.hylo;
  hylo.SetEndEventLoop([] { QCoreApplication::quit(); });
  QTimer::singleShot(0, [&] { window.StartButton()->click(); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!seen()) return;
    poll.stop();
    window.StopButton()->click();
    QTimer::singleShot(100, [&] { hylo.MainExit(); });
  });
  poll.start(50);
  QTimer::singleShot(ms, [&] { hylo.MainExit(); });
  hylo.RecordUiThread();
  gui.notices.Open();
  QApplication::exec();
  gui.notices.Close();
}

}  // namespace hylo::test
