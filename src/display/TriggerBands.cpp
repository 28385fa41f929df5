#include "display/TriggerBands.h"

namespace hylo {

std::vector<TriggerBand> TriggerBands(const TriggerList& list, int unit, double sensitivityDb, double bottom) {
  constexpr int kUnitDbv = 7;
  std::vector<TriggerBand> bands;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!list[i].valid || !IsBandType(list[i].Type())) continue;
    const EpochTrigger t = list[i].Epoch();
    const double shift = unit == kUnitDbv ? sensitivityDb : 0;
    bands.push_back(
        {double(t.minFreq), double(t.maxFreq), bottom + shift, t.threshold + shift, kTriggerBandColours[i]});
  }
  return bands;
}

}  // namespace hylo
