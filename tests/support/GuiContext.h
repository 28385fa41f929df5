#pragma once
// A Qt application and a fresh context with its folders in a temp dir, for GUI tests.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <chrono>
#include <memory>
#include <thread>

#include "QtOperator.h"
#include "context/Hylo.h"
#include "support/TestOptions.h"

namespace hylo::test {

struct GuiContext {
  int argc = 1;
  char name[16] = "hylo_gui_tests";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
  TempDir dir;
  app::QtOperator notices;
  std::unique_ptr<Hylo> hylo;

  GuiContext() {
    hylo = std::make_unique<Hylo>(notices, TestOptions(dir));
    hylo->Threads().SetEventPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  }
  // The context, started; a failed start fails the test.
  Hylo& Started() {
    EXPECT_EQ(hylo->Start(), 0) << "the context did not start";
    return *hylo;
  }
};

// Runs the event loop until `done` holds, for at most `ms`.
template <typename F>
bool PumpUntil(F done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The named child widget of type W; a missing one fails the test.
template <typename W>
W* Child(QWidget& parent, const char* name) {
  W* w = parent.findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// The menu entry titled `text` in any of the window's menus, or null.
inline QAction* MenuAction(QMainWindow& window, const QString& text) {
  for (QAction* menu : window.menuBar()->actions())
    if (menu->menu())
      for (QAction* a : menu->menu()->actions())
        if (a->text() == text) return a;
  return nullptr;
}

}  // namespace hylo::test
