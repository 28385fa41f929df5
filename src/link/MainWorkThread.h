#pragma once
// The periodic status enquiry: on each receive time-out, one "C" with the mask of the
// status items wanted (and the data blocks carried on the command link).
#include <atomic>
#include <cstdint>
#include <functional>

#include "core/StreamTransport.h"
#include "core/Worker.h"

namespace hylo {

class MainWorkThread final : public Worker {
 public:
  struct Port {
    std::function<int()> fftTransport;              // job setup's FFT stream transport code
    std::function<int()> waveTransport;             // job setup's waveform stream transport code
    std::function<void()> countStatusRequest;       // +1 on the status-reply handler's counter
    std::function<int(std::uint16_t)> sendEnquiry;  // "C", no wait, forwarded
  };

  void SetPort(Port port) { port_ = std::move(port); }

  int ReceiveTimeoutMs() override { return period_; }
  bool Handle(MessageNode& node) override;
  void OnTimeout() override;

  // The three status-item flags of the program settings (not saved).
  void SetHumidityWanted(bool on) { humidity_ = on; }
  void SetTemperatureWanted(bool on) { temperature_ = on; }
  // Set after every identification: LF unit or serial link.
  void SetExtendedStatusWanted(bool on) { extended_ = on; }

  int Period() const { return period_; }
  std::uint16_t StatusMask() const;
  std::uint16_t StreamMask() const;

 private:
  void Send(std::uint16_t mask);

  Port port_;
  int period_ = -1;
  std::atomic<bool> humidity_{true};
  std::atomic<bool> temperature_{true};
  std::atomic<bool> extended_{false};
};

}  // namespace hylo
