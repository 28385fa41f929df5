// Every main-window command offscreen against hylo-sim: what the simulator received, the
// questions asked and answered with real dialogs, the pages opened, screenshots and panels.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

#include "MainWindow.h"
#include "context/HyloSession.h"
#include "shell/MainPanel.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

// Answers the next question box with the button labelled `answer` and keeps its text.
void AnswerNextQuestion(const QString& answer, QString& asked) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, answer, &asked] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      asked = box->windowTitle() + ": " + box->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == answer) b->click();
      timer->stop();
      timer->deleteLater();
      return;
    }
  });
  timer->start(20);
}

long Count(const fs::path& log, const std::string& line) {
  const auto lines = test::ReadLines(log);
  return std::count(lines.begin(), lines.end(), line);
}

std::size_t Shots(const fs::path& folder) {
  std::error_code error;
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder, error), fs::directory_iterator()));
}

}  // namespace

TEST(MainCommandsGui, EveryCommandReachesTheSimulator) {
  test::TempDir logDir;
  const fs::path log = logDir.Path() / "commands.txt";
  auto sim = test::StartSimOnFreePorts({"--model", "hf", "--command-log", log.string(), "--reboot-delay", "1"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  app::MainWindow window(hylo);
  gui.notices.SetDialogParent(&window);
  std::vector<QString> opened;
  window.SetUrlOpener([&](const QString& url) { opened.push_back(url); });
  window.UpdateCommandEnabling();
  for (const char* id : {"actionEnquireStatus", "actionReset", "actionStandby", "actionResetPassword",
                         "actionWebServer", "actionDataAccess"}) {
    ASSERT_NE(window.Action(id), nullptr) << id;
    EXPECT_TRUE(window.Action(id)->isEnabled()) << id;
    EXPECT_FALSE(window.Action(id)->toolTip().isEmpty()) << id;
  }
  for (const char* id : {"startScanning", "stopScanning", "exitButton", "horizSpan", "colourMap"})
    EXPECT_FALSE(window.findChild<QWidget*>(id)->toolTip().isEmpty()) << id;
  QStringList menus;
  for (QAction* a : window.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus.join(" "), "&File &Instrument &Scan &Replay &Logging &Triggers &Panels &Help");

  // Status enquiry: one more "E" and the line in the status field.
  const long identifies = Count(log, "E");
  window.Action("actionEnquireStatus")->trigger();
  EXPECT_TRUE(test::PumpUntil([&] { return Count(log, "E") == identifies + 1; }));
  const auto lines = hylo.MainPanel().Get(mainpanel::kStatusField).items;
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.ends_with(" - Enquiring Instrument..."); }));

  // Password reset declined sends nothing; confirmed sends "V".
  QString asked;
  AnswerNextQuestion("No", asked);
  window.Action("actionResetPassword")->trigger();
  EXPECT_TRUE(asked.startsWith("Confirm: This resets the password")) << asked.toStdString();
  AnswerNextQuestion("Yes", asked);
  window.Action("actionResetPassword")->trigger();
  EXPECT_TRUE(test::PumpUntil([&] { return Count(log, "V") == 1; }));
  EXPECT_EQ(Count(log, "V"), 1) << "the declined reset sent nothing";

  // The web pages and the files (HF 2.1.0: the file panel).
  window.Action("actionWebServer")->trigger();
  ASSERT_EQ(opened.size(), 1U);
  EXPECT_TRUE(opened[0].startsWith("http://127.0.0.1:")) << opened[0].toStdString();
  window.Action("actionDataAccess")->trigger();
  auto* files = window.findChild<app::FilePanel*>();
  ASSERT_NE(files, nullptr);
  EXPECT_TRUE(files->isVisible());
  EXPECT_EQ(opened.size(), 1U) << "no browser for firmware 2.0.0 and later";

  // Screenshots on the command and on the timer.
  const fs::path shots = logDir.Path() / "shots";
  hylo.Groups().main.screenshotPath = shots.string();
  const QString shot = window.TakeScreenshot();
  EXPECT_TRUE(fs::exists(shot.toStdString()));
  hylo.Groups().main.timeScreenshotDuration = 1;
  window.Action("actionAutoScreenshots")->setChecked(true);
  EXPECT_TRUE(window.AutoScreenshotsOn());
  EXPECT_TRUE(test::PumpUntil([&] { return Shots(shots) >= 2; }, 4000));
  window.Action("actionAutoScreenshots")->setChecked(false);
  EXPECT_FALSE(window.AutoScreenshotsOn());
  EXPECT_FALSE(hylo.Groups().main.timeScreenshotActive);

  // A panel opens and hides from its menu entry.
  window.Action("panelStatus")->trigger();
  auto* status = window.findChild<app::StatusPanel*>();
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->isVisible());
  window.Action("panelStatus")->trigger();
  EXPECT_FALSE(status->isVisible());

  // Standby declined sends nothing; reset confirmed sends "Y" once.
  AnswerNextQuestion("No", asked);
  window.Action("actionStandby")->trigger();
  EXPECT_TRUE(asked.contains("low power standby mode")) << asked.toStdString();
  AnswerNextQuestion("Yes", asked);
  window.Action("actionReset")->trigger();
  EXPECT_TRUE(asked.contains("ensure external power remains connected")) << asked.toStdString();
  EXPECT_TRUE(test::PumpUntil([&] { return Count(log, "Y") == 1; }));
  EXPECT_EQ(Count(log, "Y"), 1);
  hylo.MainExit();
}
