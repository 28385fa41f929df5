#include "link/MainWorkThread.h"

namespace hylo {

std::uint16_t MainWorkThread::StreamMask() const {
  std::uint16_t mask = 0;
  if (port_.fftTransport && port_.fftTransport() == TRANSPORT_LINK) mask |= 0x1018;
  if (port_.waveTransport && port_.waveTransport() == TRANSPORT_LINK) mask |= 0x2028;
  return mask;
}

std::uint16_t MainWorkThread::StatusMask() const {
  std::uint16_t mask = 0;
  if (temperature_) mask |= 0x04;
  if (humidity_) mask |= 0x02;
  mask |= StreamMask();
  if (extended_) mask |= 0x108;
  return mask;
}

void MainWorkThread::Send(std::uint16_t mask) {
  if (port_.countStatusRequest) port_.countStatusRequest();
  if (port_.sendEnquiry) port_.sendEnquiry(mask);
}

bool MainWorkThread::Handle(MessageNode& node) {
  if (node.type != MSG_SET_PERIOD) return false;
  const std::int32_t period = node.As<std::int32_t>();
  const bool starting = period_ < 0 && period >= 0;
  // A zero period would spin the thread; 1 ms is the fastest it polls.
  period_ = period < 0 ? -1 : (period == 0 ? 1 : period);
  if (starting) {
    for (int i = 0; i < 3; ++i) Send(StreamMask());
  }
  return false;
}

void MainWorkThread::OnTimeout() {
  if (period_ < 0) return;
  const std::uint16_t mask = StatusMask();
  const bool waveOnLink = port_.waveTransport && port_.waveTransport() == TRANSPORT_LINK;
  // Fast waveform over the command link needs several replies per period to keep up.
  const int sends = (waveOnLink && period_ < 10) ? 8 : 1;
  for (int i = 0; i < sends; ++i) Send(mask);
}

}  // namespace hylo
