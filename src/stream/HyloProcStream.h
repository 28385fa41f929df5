#pragma once
// Stream messages into work: descriptions kept per stream, data messages decoded into
// waveform and spectrum records for WaveThread, status records into status values.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "core/HyloNodes.h"
#include "core/Post.h"
#include "link/Firmware.h"
#include "stream/ParseStreams.h"
#include "stream/Records.h"

namespace hylo {

inline constexpr std::size_t kDescriptionBytes = 100;

// Where decoded status values go (the status store, the reference store, the displays).
struct StreamStatusSink {
  // A value the message does not carry is left as the store has it.
  std::function<void(std::optional<int> temperatureTenths, std::optional<int> humidityTenths)> environment;
  std::function<void(int batteryLevel, int batteryState)> battery;
  std::function<void(int sensitivityDb)> sensitivity;
  std::function<void(const std::array<std::int16_t, 6>&)> orientation;
  // 24-byte synchronisation record in host order, and syncState as received.
  std::function<void(const std::array<std::uint8_t, 24>&, std::uint32_t syncState)> sync;
  std::function<void(const std::array<std::uint8_t, 20>&)> power;
  std::function<void(const std::array<std::uint8_t, 5>&)> leds;
  std::function<void(std::string_view notice)> notice;
};

class HyloProcStream {
 public:
  // `post` hands a finished record node on (to WaveThread); 1 when it was taken.
  HyloProcStream(HyloNodes& nodes, std::function<int(MessageNode*)> post);

  void SetStatusSink(StreamStatusSink sink) { status_ = std::move(sink); }
  // Status record lengths are big-endian from firmware 2.2.1 on.
  void SetFirmwareVersion(Firmware version) { firmwareVersion_ = version; }
  // Registers the handlers of every stream message type on the reassembler.
  void Attach(ParseStreams& parser);

  // Each returns 0, or a negative value when the message was malformed and dropped
  // (−43 when the queue would not take a record).
  int HandleDescription(int stream, const StreamMessage& message);
  int HandleDataMessage(int stream, const StreamMessage& message);
  int HandleStatusRecords(const StreamMessage& message);
  void HandleConnectionNotice(int stream, const StreamMessage& message);

  std::uint64_t Malformed() const { return malformed_.load(); }
  // Decoded records the next stage never got (no free node, or its queue refused): a loss on
  // this side of the socket, told apart from the datagrams the network lost.
  std::uint64_t Unqueued() const { return unqueued_.load(); }
  bool HasDescription(int stream) const;

 private:
  struct Description {
    std::array<std::uint8_t, kDescriptionBytes> bytes{};
    std::size_t length = 0;  // bytes actually received, header included
  };
  int Drop();
  int DecodeWaveform(const Description& d, std::size_t descriptor, std::span<const std::uint8_t> message);
  int DecodeSpectrum(const Description& d, std::size_t descriptor, std::span<const std::uint8_t> message);
  // 0 when queued, −1 without a free node, −43 when the next stage refused it.
  template <typename Fill>
  int Emit(std::int32_t type, Fill&& fill) {
    const int result = PostToResult(nodes_, post_, type, std::forward<Fill>(fill));
    if (result != 0) ++unqueued_;
    return result;
  }

  HyloNodes& nodes_;
  std::function<int(MessageNode*)> post_;
  StreamStatusSink status_;
  Firmware firmwareVersion_;
  std::array<Description, kStreamKinds> descriptions_{};
  std::atomic<std::uint64_t> malformed_{0};
  std::atomic<std::uint64_t> unqueued_{0};
};

}  // namespace hylo
