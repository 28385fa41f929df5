#include "stream/StreamChannels.h"

#include <cstring>
#include <memory>
#include <utility>

#include "stream/StreamBytes.h"

namespace hylo {

int StreamChannels::ConnectWaveStream(const Peer& peer, int transport) {
  return Connect(STREAM_WAVE, peer, transport, WaveUdpPort(peer.portBase), WaveTcpPort(peer.portBase), false);
}

int StreamChannels::ConnectFftStream(const Peer& peer, int transport) {
  return Connect(STREAM_FFT, peer, transport, FftUdpPort(peer.portBase), FftTcpPort(peer.portBase), false);
}

int StreamChannels::ConnectStatusStream(const Peer& peer) {
  return Connect(STREAM_STATUS, peer, TRANSPORT_TCP, 0, StatusTcpPort(peer.portBase), true);
}

int StreamChannels::Connect(int stream, const Peer& peer, int transport, int udpPort, int tcpPort, bool statusChannel) {
  if (transport != TRANSPORT_UDP && transport != TRANSPORT_TCP) return 0;
  const auto request = StreamStartRequest(statusChannel);
  const bool datagram = transport == TRANSPORT_UDP;
  auto onData = [this, stream, datagram](platform::DataSockets::Reads reads) {
    ReadStreamData(stream, reads, datagram);
  };
  int handle = 0;
  if (transport == TRANSPORT_UDP) {
    handle = sockets_.OpenUdp(peer.host, udpPort, request, onData);
  } else {
    auto opened = std::make_shared<std::atomic<int>>(0);
    handle = sockets_.OpenTcp(peer.host, tcpPort, peer.timeoutMs, request, onData, [this, stream, opened] {
      // The instrument closed this stream: only its handle goes; nothing reconnects it. A
      // channel that has since replaced it stays.
      std::lock_guard guard(lock_);
      auto& slot = slots_[static_cast<std::size_t>(stream)];
      if (slot.handle == opened->load()) slot.handle = 0;
    });
    opened->store(handle);
  }
  if (handle == 0) return -1;
  Slot previous;
  {
    std::lock_guard guard(lock_);
    previous =
        std::exchange(slots_[static_cast<std::size_t>(stream)], Slot{handle, udpPort, transport == TRANSPORT_UDP});
  }
  // A second start without a stop replaces the channel rather than leaving the old one streaming.
  if (previous.handle != 0) {
    sockets_.Send(previous.handle, StreamStopRequest());
    sockets_.Close(previous.handle);
  }
  return 0;
}

void StreamChannels::ReadStreamData(int stream, platform::DataSockets::Reads reads, bool datagram) {
  if (discard_) {
    discarded_ += reads.size();
    return;
  }
  const std::int32_t type = stream == STREAM_WAVE  ? MSG_WAVE_STREAM_BYTES
                            : stream == STREAM_FFT ? MSG_FFT_STREAM_BYTES
                                                   : MSG_STATUS_STREAM_BYTES;
  lost_ += PostStreamBytes(threads_, type, reads, datagram);
}

void StreamChannels::CloseStreams() {
  std::array<Slot, kStreamKinds> slots;
  {
    std::lock_guard guard(lock_);
    slots = slots_;
    slots_ = {};
  }
  const auto stop = StreamStopRequest();
  for (const Slot& slot : slots) {
    if (slot.handle == 0) continue;
    sockets_.Send(slot.handle, stop);
    sockets_.Close(slot.handle);
  }
  parser_.Reset();
}

bool StreamChannels::Open(int stream) const {
  std::lock_guard guard(lock_);
  return stream >= 0 && stream < kStreamKinds && slots_[static_cast<std::size_t>(stream)].handle != 0;
}

int StreamChannels::Handle(int stream) const {
  std::lock_guard guard(lock_);
  return stream >= 0 && stream < kStreamKinds ? slots_[static_cast<std::size_t>(stream)].handle : 0;
}

}  // namespace hylo
