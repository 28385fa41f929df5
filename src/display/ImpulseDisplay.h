#pragma once
// What the impulse displays draw: the newest impulses' levels, the latest band levels and
// the exposure total since the chart reset. Written by
// UiUpdateThread, copied out by the window once per refresh.
#include <array>
#include <cstdint>
#include <deque>
#include <mutex>

#include "processing/ImpulseRecord.h"

namespace hylo {

struct ImpulseEvent {
  std::int32_t number = 0;
  std::uint32_t time = 0;
  double sel = 0, spl = 0, pk = 0, cumulativeSel = 0;
};

struct ImpulseView {
  std::deque<ImpulseEvent> events;  // oldest first, at most kImpulseViewEvents
  std::array<double, kImpulseMaxBands> bandLevels{};
  int bandCount = 0;
  double cumulativeSel = 0;   // since the last chart reset; 0: none yet
  std::uint64_t updates = 0;  // changes with every impulse and reset
};
inline constexpr std::size_t kImpulseViewEvents = 200;

class ImpulseDisplay {
 public:
  void Add(const ImpulseRecord& r);
  void Reset();
  ImpulseView View() const;

 private:
  mutable std::mutex lock_;
  ImpulseView view_;
};

}  // namespace hylo
