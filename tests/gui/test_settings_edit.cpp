// Settings the UI changes while another thread saves every group, as a setup apply does from
// its background job. The race checker build fails this test if a change is not under the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MainWindow.h"
#include "support/GuiContext.h"

using namespace hylo;

TEST(SettingsEditGui, UiChangesAndABackgroundSaveShareTheSettingsLock) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  app::FilePanel* panel = window.OpenFilePanel();
  ASSERT_NE(panel, nullptr);

  std::atomic<bool> done{false};
  std::thread saver([&] {
    for (int i = 0; i < 2000 && !done.load(); ++i) SaveFields(hylo.Settings(), hylo.Groups().fileUtility.Fields());
  });
  QString last;
  for (int i = 0; i < 200; ++i) {
    // Long enough that the text lives on the heap, where a torn read would show.
    last = QString("/data/destination-folder-for-the-settings-lock-check/%1").arg(i);
    panel->Destination()->setText(last);
    emit panel->Destination()->editingFinished();
  }
  done = true;
  saver.join();

  SaveFields(hylo.Settings(), hylo.Groups().fileUtility.Fields());
  std::string stored;
  ASSERT_TRUE(hylo.Settings().GetText("File Utility", "Destination Path", stored, 261));
  EXPECT_EQ(stored, last.toStdString());
}
