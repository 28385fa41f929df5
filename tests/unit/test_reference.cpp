#include <gtest/gtest.h>

#include "processing/HyloReference.h"
#include "settings/SettingsGroups.h"

using namespace hylo;

namespace {
struct Reference : ::testing::Test {
  HyloNodes nodes;
  ReferenceSettings settings;
  HyloReference ref{nodes, settings};
  int published = 0;
  int resets = 0;
  ReferenceTable last{};
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ref.SetPublisher([this](MessageNode* n) {
      ++published;
      last = n->As<ReferenceTable>();
      nodes.FreeNode(n);
      return 1;
    });
    ref.SetChartReset([this] { ++resets; });
    ref.InitReferences();
  }
};
}  // namespace

TEST_F(Reference, UnitChangesKeepThePhysicalLevel) {
  // dB re 1 µPa → dBV at −171 dB and reference 50 shows −121.
  EXPECT_EQ(ref.PublishReferences({50, false, UNIT_DBV}), -121);
  EXPECT_EQ(last.unit, UNIT_DBV);
  EXPECT_EQ(last.acoustic, 0);
  EXPECT_EQ(last.offsets[0], -180 + 121);
  // dBV → dBV²/Hz at 64 kS/s and 1024 points (18 dB) lowers it by 18.
  ref.SetDensityCorrection(64000, 1024);
  EXPECT_EQ(ref.GetDensityCorrection(), 18);
  EXPECT_EQ(ref.PublishReferences({-121, false, UNIT_DBV_DENSITY}), -139);
  EXPECT_EQ(last.offsets[511], -180 - 18 + 139);
  EXPECT_EQ(settings.referenceType, UNIT_DBV_DENSITY);
  EXPECT_EQ(settings.dbReference, -139);
}

TEST_F(Reference, SensitivityPublishesOnlyWhenItChanges) {
  ref.SetSensitivity(-171);
  EXPECT_EQ(published, 0);
  EXPECT_EQ(resets, 0);
  ref.SetSensitivity(-165);
  EXPECT_EQ(published, 1);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(last.offsets[0], -180 + 165 - 50);
  ref.SetDensityCorrection(0, 1024);  // no bin width: ignored, not a division by zero
  EXPECT_EQ(published, 1);
}

TEST_F(Reference, AmbientViewUsesTheAmbientSpectrumAndKeepsItsOwnReference) {
  std::array<std::uint8_t, 512> ambient{};
  for (std::size_t i = 0; i < 512; ++i) ambient[i] = static_cast<std::uint8_t>(i % 100);
  ref.SetAmbientReference(ambient, true);
  EXPECT_EQ(last.unit, UNIT_AMBIENT);
  EXPECT_EQ(last.offsets[37], -37);
  EXPECT_EQ(last.displayReference, 0);
  EXPECT_EQ(ref.PublishReferences({5, true, UNIT_AMBIENT}), 5);
  EXPECT_EQ(ref.PublishReferences({5, false, UNIT_UPA}), 50) << "the absolute view gets its own level back";
  EXPECT_EQ(ref.PublishReferences({50, true, UNIT_UPA}), 5);
}

TEST(ReferenceRules, StepsAndLegacyCodes) {
  EXPECT_EQ(StepReference(47, 57), 50);
  EXPECT_EQ(StepReference(-47, -37), -40);
  EXPECT_EQ(StepReference(40, 50), 50);
  HyloNodes nodes;
  ReferenceSettings legacy;
  legacy.referenceType = 1;
  legacy.dbReference = 50;
  HyloReference ref(nodes, legacy);
  ref.InitReferences();
  EXPECT_EQ(ref.Unit(), UNIT_DBV);
  EXPECT_EQ(ref.DisplayReference(), -70);
}
