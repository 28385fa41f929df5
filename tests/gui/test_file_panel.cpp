// The file panel offscreen against hylo-sim --storage: the volumes listed, a folder expanded,
// checked and retrieved into the destination folder.
#include <gtest/gtest.h>

#include "MainWindow.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(FilePanelGui, ListsTheVolumesAndRetrievesACheckedFolder) {
  test::TempDir storage, dest;
  std::filesystem::create_directories(storage.Path() / "1/DATA/SUB");
  const std::string content(9000, 'x');
  test::WriteFile(storage.Path() / "1/DATA/A.BIN", content);
  test::WriteFile(storage.Path() / "1/DATA/SUB/B.TXT", "b");
  auto sim = test::StartSimOnFreePorts({"--model", "lf", "--storage", storage.Path().string()}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  {
    app::MainWindow window(hylo);
    test::MenuAction(window, "Instrument Files")->trigger();
    auto* panel = window.findChild<app::FilePanel*>();
    ASSERT_NE(panel, nullptr);
    QTreeWidget* tree = panel->Tree();
    ASSERT_TRUE(test::PumpUntil([&] { return tree->topLevelItemCount() == 1 && !panel->Busy(); }));
    QTreeWidgetItem* volume = tree->topLevelItem(0);
    EXPECT_EQ(volume->text(0), "Volume 1");
    volume->setExpanded(true);
    ASSERT_TRUE(test::PumpUntil([&] { return volume->childCount() == 2 && !panel->Busy(); }));
    EXPECT_EQ(volume->child(0)->text(0), "AURISOND");
    QTreeWidgetItem* data = volume->child(1);
    EXPECT_EQ(data->text(0), "DATA");
    data->setCheckState(0, Qt::Checked);
    panel->Destination()->setText(QString::fromStdString(dest.Path().string()));
    panel->RetrieveButton()->click();
    ASSERT_TRUE(test::PumpUntil([&] { return !panel->Busy(); }, 20000));
    EXPECT_EQ(test::ReadFile(dest.Path() / "A.BIN"), content);
    EXPECT_TRUE(std::filesystem::exists(dest.Path() / "SUB/B.TXT"));
    hylo.MainExit();
  }
}

TEST(FilePanelGui, AnHfUnitFromV2ShowsItsFtpFoldersAndRetrievesACheckedFile) {
  test::TempDir storage, dest;
  const std::string content(9000, 'w');
  std::filesystem::create_directories(storage.Path() / "home/Aurisond/Data/2026");
  test::WriteFile(storage.Path() / "home/Aurisond/Data/a.wav", content);
  test::WriteFile(storage.Path() / "home/Aurisond/Data/2026/b.wav", "b");
  auto sim = test::StartSimOnFreePorts({"--model", "hf", "--firmware", "v2.1.0", "--storage", storage.Path().string()},
                                       60, true);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  {
    app::MainWindow window(hylo);
    test::MenuAction(window, "Instrument Files")->trigger();
    auto* panel = window.findChild<app::FilePanel*>();
    ASSERT_NE(panel, nullptr);
    QTreeWidget* tree = panel->Tree();
    // The home folder, then its Data folder with the files, "home" itself never shown.
    QTreeWidgetItem* data = nullptr;
    const bool listed = test::PumpUntil(
        [&] {
          if (panel->Busy() || tree->topLevelItemCount() != 1) return false;
          for (int i = 0; i < tree->topLevelItem(0)->childCount(); ++i)
            if (tree->topLevelItem(0)->child(i)->text(0) == "Data") data = tree->topLevelItem(0)->child(i);
          return data && data->childCount() == 2;
        },
        20000);
    for (QTreeWidgetItemIterator it(tree); !listed && *it; ++it)
      ADD_FAILURE() << "in the tree: " << (*it)->text(1).toStdString();
    ASSERT_TRUE(listed);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Aurisond");
    EXPECT_EQ(data->child(0)->text(0), "2026");
    QTreeWidgetItem* file = data->child(1);
    EXPECT_EQ(file->text(0), "a.wav");
    file->setCheckState(0, Qt::Checked);
    panel->Destination()->setText(QString::fromStdString(dest.Path().string()));
    panel->RetrieveButton()->click();
    ASSERT_TRUE(test::PumpUntil([&] { return !panel->Busy(); }, 20000));
    EXPECT_EQ(test::ReadFile(dest.Path() / "a.wav"), content);
    EXPECT_FALSE(std::filesystem::exists(dest.Path() / "2026")) << "only the checked file";
    hylo.MainExit();
  }
}
