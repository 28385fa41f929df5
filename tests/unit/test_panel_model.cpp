// Text lists of the panels stay bounded, and a view takes only the lines it has not seen.
#include <gtest/gtest.h>

#include <string>

#include "shell/PanelModel.h"

using namespace hylo;

TEST(PanelModel, AppendedLinesKeepTheNewestAndViewsTakeOnlyWhatIsNew) {
  PanelModel panel("main");
  std::uint64_t seen = 0;
  for (int i = 0; i < 3; ++i) panel.AppendItem("status", "line " + std::to_string(i));
  EXPECT_EQ(panel.ItemsAfter("status", seen), (std::vector<std::string>{"line 0", "line 1", "line 2"}));
  EXPECT_TRUE(panel.ItemsAfter("status", seen).empty()) << "nothing new";

  const int total = 3 * static_cast<int>(PanelModel::kItemLimit);
  for (int i = 3; i < total; ++i) panel.AppendItem("status", "line " + std::to_string(i));
  const auto held = panel.Get("status").items;
  EXPECT_GE(held.size(), PanelModel::kItemLimit);
  EXPECT_LE(held.size(), PanelModel::kItemLimit + PanelModel::kItemLimit / 4);
  EXPECT_EQ(held.back(), "line " + std::to_string(total - 1));

  // A view that fell behind gets what is still held, oldest first, and no line twice.
  const auto fresh = panel.ItemsAfter("status", seen);
  EXPECT_EQ(fresh, held);
  panel.AppendItem("status", "last");
  EXPECT_EQ(panel.ItemsAfter("status", seen), (std::vector<std::string>{"last"}));
}
