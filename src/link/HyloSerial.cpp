#include "link/HyloSerial.h"

#include <chrono>
#include <thread>

namespace hylo {

void HyloSerial::WakeSerialReader() {
  int now = wakes_.load();
  while (now < kMaxWakes) {
    if (wakes_.compare_exchange_weak(now, now + 1)) {
      wake_.release();
      return;
    }
  }
}

void HyloSerial::StopSerialReader() {
  quit_.store(true);
  // Always reaches the reader, even when ten wake-ups are already waiting.
  WakeSerialReader();
}

int HyloSerial::SerialReaderThread() {
  running_.store(true);
  while (!quit_.load()) {
    wake_.acquire();
    wakes_.fetch_sub(1);
    if (quit_.load()) break;
    int n = readLink_ ? readLink_() : -1;
    if (n < 0) n = 10;
    // Wake-ups that piled up while reading are served by this read.
    for (int i = 1; i < n && wake_.try_acquire(); ++i) wakes_.fetch_sub(1);
  }
  running_.store(false);
  return 0;
}

bool HyloSerial::StopReaderAndClose(const std::function<void()>& closePort, int waitLimitMs) {
  link_.serialStopAck.store(false);  // a stale ack from an earlier disconnect must not count
  link_.serialStop.store(true);
  bool acked = !running_.load();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitLimitMs);
  while (!acked && std::chrono::steady_clock::now() < until) {
    WakeSerialReader();
    for (int i = 0; i < 10 && !acked; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      acked = link_.serialStopAck.load() || !running_.load();
    }
  }
  if (closePort) closePort();
  // Stop first, then the ack: a reader woken in between finds no stop and sets no ack.
  link_.serialStop.store(false);
  link_.serialStopAck.store(false);
  return acked;
}

}  // namespace hylo
