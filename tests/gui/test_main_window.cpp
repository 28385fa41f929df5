#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <thread>

#include "MainWindow.h"
#include "QtOperator.h"
#include "context/Hylo.h"
#include "support/GuiContext.h"

using namespace hylo;

TEST(MainWindowGui, NoticesFromAWorkerAreShownInOrderAndExitEndsTheLoop) {
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  app::QtOperator& notices = gui.notices;
  ASSERT_EQ(hylo.Start(), 0);
  notices.ShowNotice("before the loop");  // never shown: the loop isn't running yet

  app::MainWindow window(hylo);
  notices.SetDialogParent(&window);
  hylo.SetEndEventLoop([&] {
    notices.Close();
    QCoreApplication::quit();
  });
  window.show();
  EXPECT_EQ(window.windowTitle(), "Hylo v4.4.0");

  QStringList shown;
  QStringList titles;
  QTimer dismisser;
  QObject::connect(&dismisser, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown << box->text();
      titles << box->windowTitle();
      box->accept();
    }
    if (shown.size() == 3) {
      dismisser.stop();
      window.ExitButton()->click();
    }
  });
  QTimer::singleShot(0, [&] {
    std::thread worker([&] {
      notices.ShowNotice("first notice");
      notices.ShowNotice("second notice");
      // Cut to 3999 bytes, never inside a character: the two-byte "é" would straddle the cut.
      notices.ShowNotice(std::string(3998, 'x') + "\xC3\xA9 and more");
    });
    worker.join();
    dismisser.start(20);
  });
  QTimer::singleShot(20000, [&] { QCoreApplication::exit(3); });  // a hang fails, not blocks
  hylo.RecordUiThread();
  notices.Open();
  const int result = QApplication::exec();
  notices.Close();

  EXPECT_EQ(result, 0) << "the exit control must end the loop";
  EXPECT_EQ(shown, (QStringList{"first notice", "second notice", QString(3998, 'x')}));
  EXPECT_EQ(titles, (QStringList{"Hylo", "Hylo", "Hylo"}));
  EXPECT_TRUE(hylo.Exiting());
  EXPECT_FALSE(hylo.Threads().Started());
}
