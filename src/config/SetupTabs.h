#pragma once
// The tabs of the two setup panels, their change flags, and which instrument tabs a unit
// gets. A tab's flag says its part is sent (or applied) on Apply.
#include <array>
#include <cstddef>
#include <string_view>

#include "config/HyloSetup.h"

namespace hylo::setup {

enum class UnitTab : std::size_t { kLf, kHf, kSpecialFeatures, kEpoch, kLink };
inline constexpr std::size_t kUnitTabCount = 5;
enum class ProgramTab : std::size_t { kLogging, kProcessing, kHostEpoch, kImpulse };
inline constexpr std::size_t kProgramTabCount = 4;

template <typename Tab, std::size_t N>
class TabFlags {
 public:
  bool Changed(Tab t) const { return flags_[static_cast<std::size_t>(t)]; }
  void Set(Tab t, bool changed = true) { flags_[static_cast<std::size_t>(t)] = changed; }
  void ClearAll() { flags_.fill(false); }
  bool Any() const {
    for (bool f : flags_)
      if (f) return true;
    return false;
  }

 private:
  std::array<bool, N> flags_{};
};
using UnitTabFlags = TabFlags<UnitTab, kUnitTabCount>;
using ProgramTabFlags = TabFlags<ProgramTab, kProgramTabCount>;

inline constexpr std::string_view kHfTabTitle = "Aurisond HF Setup";
inline constexpr std::string_view kAfTabTitle = "Aurisond AF Setup";

// The instrument tabs shown for a unit and the one that opens first.
struct UnitTabsShown {
  bool lf = false;
  bool hf = false;
  bool specialFeatures = false;
  bool olderEpoch = false;  // below firmware 2.1.6 (HF family) / any LF
  bool newerEpoch = false;  // HF family from 2.1.6
  bool link = true;
  std::string_view hfTitle;
  UnitTab initial = UnitTab::kLink;
};
UnitTabsShown UnitSetupTabs(const SetupContext& ctx);

}  // namespace hylo::setup
