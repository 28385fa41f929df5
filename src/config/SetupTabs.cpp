#include "config/SetupTabs.h"

#include "link/DeviceIdentity.h"

namespace hylo::setup {

UnitTabsShown UnitSetupTabs(const SetupContext& ctx) {
  UnitTabsShown t;
  if (ctx.IsLf()) {
    t.lf = true;
    t.initial = UnitTab::kLf;
  } else if (ctx.IsHfFamily()) {
    t.hf = true;
    t.hfTitle = ctx.model == kModelAf ? kAfTabTitle : kHfTabTitle;
    t.specialFeatures = ctx.firmware >= Firmware(2, 0, 0) && ctx.featureLevel >= 2;
    t.initial = UnitTab::kHf;
  }
  if (ctx.IsLf() || ctx.IsHfFamily()) {
    t.olderEpoch = ctx.firmware < Firmware(2, 1, 6);
    t.newerEpoch = !t.olderEpoch;
  }
  return t;
}

}  // namespace hylo::setup
