// The file panel offscreen against hylo-sim --storage, over the file protocol and over FTP: the
// top folders listed, a folder opened, and what is checked retrieved into the destination.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "MainWindow.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

// Fills the unit's storage with `files`, connects to it and runs `use` on the open file panel;
// then retrieves what `use` checked into a fresh destination and hands that to `retrieved`.
void WithFilePanel(std::vector<std::string> simArgs, bool ftp, const std::map<std::string, std::string>& files,
                   const std::function<void(app::FilePanel&)>& use,
                   const std::function<void(const fs::path&)>& retrieved) {
  test::TempDir storage, dest;
  for (const auto& [path, content] : files) {
    fs::create_directories((storage.Path() / path).parent_path());
    test::WriteFile(storage.Path() / path, content);
  }
  simArgs.insert(simArgs.end(), {"--storage", storage.Path().string()});
  auto sim = test::StartSimOnFreePorts(simArgs, 60, ftp);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  {
    app::MainWindow window(hylo);
    test::MenuAction(window, "Instrument Files")->trigger();
    auto* panel = window.findChild<app::FilePanel*>();
    ASSERT_NE(panel, nullptr);
    use(*panel);
    if (!::testing::Test::HasFatalFailure()) {
      panel->Destination()->setText(QString::fromStdString(dest.Path().string()));
      panel->RetrieveButton()->click();
      ASSERT_TRUE(test::PumpUntil([&] { return !panel->Busy(); }, 20000));
      retrieved(dest.Path());
    }
    hylo.MainExit();
  }
}

const std::string kContent(9000, 'x');

}  // namespace

TEST(FilePanelGui, ListsTheVolumesAndRetrievesACheckedFolder) {
  WithFilePanel(
      {"--model", "lf"}, false, {{"1/DATA/A.BIN", kContent}, {"1/DATA/SUB/B.TXT", "b"}},
      [](app::FilePanel& panel) {
        QTreeWidget* tree = panel.Tree();
        ASSERT_TRUE(test::PumpUntil([&] { return tree->topLevelItemCount() == 1 && !panel.Busy(); }));
        QTreeWidgetItem* volume = tree->topLevelItem(0);
        EXPECT_EQ(volume->text(0), "Volume 1");
        volume->setExpanded(true);
        ASSERT_TRUE(test::PumpUntil([&] { return volume->childCount() == 2 && !panel.Busy(); }));
        EXPECT_EQ(volume->child(0)->text(0), "AURISOND");
        EXPECT_EQ(volume->child(1)->text(0), "DATA");
        volume->child(1)->setCheckState(0, Qt::Checked);
      },
      [](const fs::path& dest) {
        EXPECT_EQ(test::ReadFile(dest / "A.BIN"), kContent);
        EXPECT_TRUE(fs::exists(dest / "SUB/B.TXT"));
      });
}

TEST(FilePanelGui, AnHfUnitFromV2ShowsItsFtpFoldersAndRetrievesACheckedFile) {
  WithFilePanel(
      {"--model", "hf", "--firmware", "v2.1.0"}, true,
      {{"home/Aurisond/Data/a.wav", kContent}, {"home/Aurisond/Data/2026/b.wav", "b"}},
      [](app::FilePanel& panel) {
        QTreeWidget* tree = panel.Tree();
        // The home folder, then its Data folder with the files, "home" itself never shown.
        QTreeWidgetItem* data = nullptr;
        const bool listed = test::PumpUntil(
            [&] {
              if (panel.Busy() || tree->topLevelItemCount() != 1) return false;
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
        EXPECT_EQ(data->child(1)->text(0), "a.wav");
        data->child(1)->setCheckState(0, Qt::Checked);
      },
      [](const fs::path& dest) {
        EXPECT_EQ(test::ReadFile(dest / "a.wav"), kContent);
        EXPECT_FALSE(fs::exists(dest / "2026")) << "only the checked file";
      });
}
