// The host epoch tab offscreen: a row set on the panel and applied reaches the program's
// trigger file and the list; undo after an edit brings the applied row back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>

#include "MainWindow.h"
#include "SettingsPanel.h"
#include "support/GuiContext.h"

using namespace hylo;

TEST(HostEpochTabGui, AppliedRowsReachTheProgramTriggerFile) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  QAction* open = test::MenuAction(window, "Hylo Settings");
  ASSERT_NE(open, nullptr);
  open->trigger();
  auto* panel = window.findChild<app::SettingsPanel*>();
  ASSERT_NE(panel, nullptr);
  panel->Tabs()->setCurrentWidget(panel->HostEpochTab());
  auto spin = [&](const char* name) { return panel->findChild<QSpinBox*>(name); };
  auto* enabled = panel->findChild<QCheckBox*>("hostTrigger2Enabled");
  ASSERT_TRUE(enabled && spin("hostTrigger2MinHz") && spin("hostTrigger2MaxHz") && spin("hostTrigger2Threshold"));
  enabled->setChecked(true);
  spin("hostTrigger2MinHz")->setValue(1000);
  spin("hostTrigger2MaxHz")->setValue(2000);
  spin("hostTrigger2Threshold")->setValue(110);
  spin("hostTrigger2Dur")->setValue(2);
  panel->ApplyButton()->click();

  const TriggerList& list = hylo.HostTriggerList().List();
  EXPECT_TRUE(list[1].valid);
  EXPECT_EQ(list[1].Epoch().threshold, 110);
  TriggerList file{};
  ASSERT_EQ(ReadTriggerFile(file, hylo.HostTriggerList().ProgramFile()), TriggerFileStatus::kOk);
  EXPECT_EQ(file[1].Epoch(), list[1].Epoch());

  open->trigger();
  spin("hostTrigger2Threshold")->setValue(50);
  panel->findChild<QPushButton*>("undoHostEpoch")->click();
  EXPECT_EQ(spin("hostTrigger2Threshold")->value(), 110);
  hylo.MainExit();
}
