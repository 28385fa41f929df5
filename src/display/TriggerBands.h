#pragma once
// `DrawTriggerBands`' geometry: the host band triggers as rectangles on the spectrum graph,
// from MIN_FREQ to MAX_FREQ and from the graph's bottom up to the threshold, in the display
// unit, in each slot's colour.
#include <array>
#include <cstdint>
#include <vector>

#include "link/EpochTrigger.h"

namespace hylo {

inline constexpr std::array<std::uint32_t, kTriggerSlots> kTriggerBandColours{0xBBBBBB, 0xF0BBBB, 0xBBBBF0,
                                                                              0xBBF0BB, 0xF0F0F0, 0x000000};

struct TriggerBand {
  double minHz = 0, maxHz = 0;
  double bottom = 0, top = 0;  // display unit
  std::uint32_t colour = 0;
  bool operator==(const TriggerBand&) const = default;
};

// `unit` is the display unit code; in dBV (7) the threshold, in dB re uPa, moves by the
// sensitivity S.
std::vector<TriggerBand> TriggerBands(const TriggerList& list, int unit, double sensitivityDb, double bottom);

}  // namespace hylo
