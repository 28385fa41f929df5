#pragma once
// SerialReaderThread and the disconnect handshake with it. The reader polls the port only
// when woken (by the writer and by CommsThread while a reply is awaited).
#include <atomic>
#include <functional>
#include <semaphore>

#include "link/LinkState.h"

namespace hylo {

class HyloSerial {
 public:
  explicit HyloSerial(LinkState& link) : link_(link) {}

  // The read step the reader runs when woken (HyloComms::ReadLink).
  void SetReadLink(std::function<int()> readLink) { readLink_ = std::move(readLink); }

  // Body of pool place 17; returns when StopSerialReader was called.
  int SerialReaderThread();
  void WakeSerialReader();
  void StopSerialReader();
  // Disconnect side of the handshake: tells the reader to stop touching the port, waits
  // (bounded) for its acknowledgement, runs `closePort`, then lets the reader run again.
  // False when the reader did not answer in time (the port is closed all the same).
  bool StopReaderAndClose(const std::function<void()>& closePort, int waitLimitMs = 2000);
  bool Running() const { return running_.load(); }

 private:
  static constexpr int kMaxWakes = 10;
  LinkState& link_;
  std::function<int()> readLink_;
  std::counting_semaphore<kMaxWakes> wake_{0};
  std::atomic<int> wakes_{0};  // keeps releases within the semaphore's maximum
  std::atomic<bool> quit_{false};
  std::atomic<bool> running_{false};
};

}  // namespace hylo
