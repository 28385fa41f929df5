#include <gtest/gtest.h>

#include <sstream>

#include "files/TriggerFile.h"
#include "support/TempDir.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

EpochTrigger Band(std::uint8_t slot, std::uint16_t type, std::int16_t threshold) {
  EpochTrigger t;
  t.type = type;
  t.slot = slot;
  t.active = 1;
  t.dur = 2;
  t.extend = 5;
  t.minFreq = 1000;
  t.maxFreq = 2000;
  t.threshold = threshold;
  t.effect = kEffectReport | kEffectLogWave;
  t.preTrig = 3;
  return t;
}

// Ten key lines of trigger `n`, leaving out `skip`.
std::string Keys(int n, const std::string& skip = "", const std::string& threshold = "THRESHOLD") {
  std::ostringstream o;
  const char* keys[] = {"TYPE",     "ACTIVE",   "DUR",   "EXTEND", "MIN_FREQ",
                        "MAX_FREQ", "REF_TYPE", nullptr, "EFFECT", "PRE_TRIG"};
  const long values[] = {5, 1, 1, 0, 100, 900, 0, -100, 40, 0};
  for (int k = 0; k < 10; ++k) {
    const std::string key = keys[k] ? keys[k] : threshold;
    if (key != skip) o << "$T" << n << '_' << key << '=' << values[k] << "\r\n";
  }
  return o.str();
}

}  // namespace

TEST(TriggerFile, SavedListLoadsBackAndKeepsTheLeadingComments) {
  test::TempDir dir;
  const fs::path path = dir.Path() / "sub" / "t.cfg";
  TriggerList list{};
  list[0].Set(Band(0, kAboveThreshold, 90));
  list[3].Set(Band(3, kBelowThreshold, -20));
  list[3].valid = false;
  list[3].record[3] = 0;  // inactive triggers are kept, inactive
  ASSERT_EQ(WriteTriggerFile(list, path), TriggerFileStatus::kOk);
  EXPECT_NE(test::ReadFile(path).find("\n#Trigger 4 settings:\n$T4_TYPE=6\n$T4_ACTIVE=0\n"), std::string::npos);
  EXPECT_NE(test::ReadFile(path).find("$T4_THRESHOLD=-20\n"), std::string::npos);

  test::WriteFile(path, "# site notes\n# second\n" + test::ReadFile(path));
  ASSERT_EQ(WriteTriggerFile(list, path), TriggerFileStatus::kOk);
  EXPECT_TRUE(test::ReadFile(path).starts_with("# site notes\n# second\n\n#Trigger 1 settings:\n"));
  EXPECT_FALSE(fs::exists(dir.Path() / "sub" / "t.tmp"));

  TriggerList back{};
  ASSERT_EQ(ReadTriggerFile(back, path), TriggerFileStatus::kOk);
  for (std::size_t s = 0; s < kTriggerSlots; ++s) {
    EXPECT_EQ(back[s].Type(), list[s].Type()) << s;
    EXPECT_EQ(back[s].valid, list[s].valid) << s;
    if (IsBandType(list[s].Type())) {
      EXPECT_EQ(back[s].Epoch(), list[s].Epoch()) << s;
    }
  }
}

TEST(TriggerFile, LfListWritesOnlyTheComments) {
  test::TempDir dir;
  const fs::path path = dir.Path() / "lf.cfg";
  test::WriteFile(path, "# lf site\n");
  TriggerList list{};
  list[0].Set(LfEpochTrigger{0, 1, 1, 0, 64, 8, 100});
  ASSERT_EQ(WriteTriggerFile(list, path), TriggerFileStatus::kOk);
  EXPECT_EQ(test::ReadFile(path), "# lf site\n");
  EXPECT_EQ(WriteTriggerFile(list, dir.Path() / "lf.txt"), TriggerFileStatus::kNotTriggerFile);
}

TEST(TriggerFile, ReadTakesOnlyWholeTriggers) {
  struct Case {
    const char* name;
    std::string text;
    TriggerFileStatus status;
    std::array<bool, kTriggerSlots> loaded;
  };
  const Case cases[] = {
      {"older threshold spelling",
       Keys(2, "THRESHOLD", "THRESHHOLD"),
       TriggerFileStatus::kOk,
       {false, true, false, false, false, false}},
      {"trigger lacking PRE_TRIG",
       Keys(1) + Keys(3, "PRE_TRIG") + Keys(5),
       TriggerFileStatus::kOk,
       {true, false, false, false, true, false}},
      {"doubled key",
       Keys(1) + "$T1_DUR=4\n" + Keys(2),
       TriggerFileStatus::kOk,
       {false, true, false, false, false, false}},
      {"trigger 7 and a value too big",
       Keys(7) + Keys(1) + "$T2_EFFECT=70000\n" + Keys(2, "EFFECT"),
       TriggerFileStatus::kOk,
       {true, false, false, false, false, false}},
      {"no trigger line", "hello\n$X1_TYPE=5\n", TriggerFileStatus::kNoTriggerLines, {}},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const fs::path path = dir.Path() / "in.cfg";
    test::WriteFile(path, c.text);
    TriggerList list{};
    list[5].Set(Band(5, kAboveThreshold, 1));  // a slot the file does not name
    const TriggerList before = list;
    EXPECT_EQ(ReadTriggerFile(list, path), c.status) << c.name;
    if (c.status != TriggerFileStatus::kOk) {
      EXPECT_EQ(list[5].valid, before[5].valid) << c.name << ": a refused file leaves the list alone";
      continue;
    }
    for (std::size_t s = 0; s < kTriggerSlots; ++s) EXPECT_EQ(list[s].valid, c.loaded[s]) << c.name << " slot " << s;
    if (c.loaded[1]) {
      EXPECT_EQ(list[1].Epoch().threshold, -100) << c.name;
      EXPECT_EQ(list[1].Epoch().slot, 1) << c.name;
    }
  }
  TriggerList list{};
  EXPECT_EQ(ReadTriggerFile(list, "/nonexistent/x.cfg"), TriggerFileStatus::kCannotOpen);
}
