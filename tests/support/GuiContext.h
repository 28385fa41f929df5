#pragma once
// A Qt application and a fresh context with its folders in a temp dir, for GUI tests.
#include <QApplication>
#include <memory>

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
};

}  // namespace hylo::test
