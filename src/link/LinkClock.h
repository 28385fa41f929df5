#pragma once
// The link clock: milliseconds from a monotonic clock in 64 bits, so deadlines never wrap.
// A test can start it anywhere (for instance just below 2^32) through the offset.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace hylo {

class LinkClock {
 public:
  explicit LinkClock(std::uint64_t startMs = 0) { SetNow(startMs); }
  std::uint64_t NowMs() const { return SteadyMs() + offset_.load(); }
  // Makes NowMs() read `ms` at this moment.
  void SetNow(std::uint64_t ms) { offset_.store(ms - SteadyMs()); }

 private:
  static std::uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  std::atomic<std::uint64_t> offset_{0};  // unsigned: wraps by definition, the sum is what counts
};

}  // namespace hylo
