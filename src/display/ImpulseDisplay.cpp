#include "display/ImpulseDisplay.h"

#include <algorithm>

namespace hylo {

void ImpulseDisplay::Add(const ImpulseRecord& r) {
  std::lock_guard guard(lock_);
  view_.events.push_back({r.eventNumber, r.timeStamp, r.sel, r.spl, r.pk, r.cumulativeSel});
  while (view_.events.size() > kImpulseViewEvents) view_.events.pop_front();
  view_.bandCount = std::clamp<int>(r.bandCount, 0, kImpulseMaxBands);
  std::copy_n(r.bandLevels, view_.bandCount, view_.bandLevels.begin());
  view_.cumulativeSel = r.cumulativeSel;
  ++view_.updates;
}

void ImpulseDisplay::Reset() {
  std::lock_guard guard(lock_);
  const std::uint64_t updates = view_.updates + 1;
  view_ = {};
  view_.updates = updates;
}

ImpulseView ImpulseDisplay::View() const {
  std::lock_guard guard(lock_);
  return view_;
}

}  // namespace hylo
