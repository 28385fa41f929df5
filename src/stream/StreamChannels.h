#pragma once
// The data sockets of a stream-capable instrument: opened when scanning starts, read into
// message nodes for MsgProcThread, closed with a stop request when scanning stops.
#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "core/HyloThreadControl.h"
#include "core/StreamTransport.h"
#include "platform/DataSockets.h"
#include "stream/ParseStreams.h"

namespace hylo {

class StreamChannels {
 public:
  struct Peer {
    std::string host;
    int portBase = 0;
    int timeoutMs = 100;
  };
  StreamChannels(HyloThreadControl& threads, ParseStreams& parser) : threads_(threads), parser_(parser) {}

  // Each returns 0, or −1 when the channel could not be made. The scanning start runs
  // them as pool tasks.
  int ConnectWaveStream(const Peer& peer, int transport);
  int ConnectFftStream(const Peer& peer, int transport);
  int ConnectStatusStream(const Peer& peer);
  void CloseStreams();
  void SetStreamDiscard(bool on) { discard_ = on; }
  bool Open(int stream) const;
  // The open channel's handle (0 when closed): a resume keeps the same one.
  int Handle(int stream) const;
  // Reads lost for want of a node or a queue place.
  std::uint64_t LostReads() const { return lost_.load(); }
  // Reads taken and dropped while discarding (a paused scan).
  std::uint64_t DiscardedReads() const { return discarded_.load(); }

 private:
  struct Slot {
    int handle = 0;
    int udpPort = 0;
    bool udp = false;
  };
  int Connect(int stream, const Peer& peer, int transport, int udpPort, int tcpPort, bool statusChannel);
  void ReadStreamData(int stream, platform::DataSockets::Reads reads, bool datagram = false);

  HyloThreadControl& threads_;
  ParseStreams& parser_;
  platform::DataSockets sockets_;
  mutable std::mutex lock_;
  std::array<Slot, kStreamKinds> slots_{};
  std::atomic<bool> discard_{false};
  std::atomic<std::uint64_t> lost_{0};
  std::atomic<std::uint64_t> discarded_{0};
};

}  // namespace hylo
