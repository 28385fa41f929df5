#pragma once
// Cuts data-stream bytes into stream messages (type byte, "*", big-endian length,
// payload), one state machine per stream, and dispatches them by type.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace hylo {

enum StreamKind : int { STREAM_WAVE = 0, STREAM_FFT = 1, STREAM_EPOCH = 2, STREAM_STATUS = 3 };
inline constexpr int kStreamKinds = 4;
inline constexpr std::size_t kStreamReadBytes = 1460;
// Header plus the longest payload a length field may announce, so 1457..1460 still fit.
inline constexpr std::size_t kStreamMessageBytes = 4 + kStreamReadBytes;

// Data-stream ports of the instrument, from portBase.
inline int WaveUdpPort(int portBase) { return portBase + 51676; }
inline int FftUdpPort(int portBase) { return portBase + 51677; }
inline int WaveTcpPort(int portBase) { return portBase + 51678; }
inline int FftTcpPort(int portBase) { return portBase + 51679; }
inline int EpochTcpPort(int portBase) { return portBase + 51680; }
inline int StatusTcpPort(int portBase) { return portBase + 51681; }

// "3*" start request (status channel: last word 0xFFFF) and the "4*" stop request.
std::array<std::uint8_t, 8> StreamStartRequest(bool statusChannel);
std::array<std::uint8_t, 4> StreamStopRequest();

std::string_view StreamName(int stream);
// The notice for a type "0" message: code 1..3 by stream, else "… Stream Message: %lu".
std::string StreamConnectionNotice(int stream, std::uint32_t code);

// One received stream message: type byte, length (host order) and payload.
struct StreamMessage {
  std::uint8_t type = 0;
  std::span<const std::uint8_t> payload;
  std::span<const std::uint8_t> whole;  // header and payload: offsets count from the type byte
};

class ParseStreams {
 public:
  using Handler = std::function<void(int stream, const StreamMessage&)>;

  // Handler per message type "0".."5"; an unset type is ignored.
  void SetHandler(char type, Handler handler);
  // Feeds one block of stream bytes; whole messages are dispatched as they complete. A UDP
  // datagram (`datagram`) starts afresh: a message cut short by a damaged length must not
  // take the next datagram's bytes with it. On a byte stream, a message followed by a byte
  // that cannot start the next one had a damaged length: the messages it swallowed are
  // taken again from its own bytes.
  void ReassembleStream(int stream, std::span<const std::uint8_t> bytes, bool datagram = false);
  void DispatchStreamMessage(int stream, const StreamMessage& message) const;
  // Safe from any thread: the reassembly state starts over before the next block.
  void Reset() { resetRequested_ = true; }

  // Messages dropped for a length past the slot.
  std::uint64_t Oversized() const { return oversized_; }

 private:
  struct Reassembler {
    int state = 0;
    std::array<std::uint8_t, kStreamMessageBytes> buffer{};
    std::size_t length = 0;
    std::size_t received = 0;
    std::array<std::uint8_t, 4> header{};  // kept apart until it is taken, so a rescan still
                                           // has the last message whole
    bool delivered = false;                // no header taken since the last message
  };
  void Deliver(int stream, Reassembler& slot);
  void Feed(int stream, Reassembler& slot, std::span<const std::uint8_t> bytes, bool rescan);
  void Rescan(int stream, Reassembler& slot, std::size_t headerBytes);

  std::array<Reassembler, kStreamKinds> slots_{};
  std::array<Handler, 6> handlers_{};
  std::uint64_t oversized_ = 0;
  std::atomic<bool> resetRequested_{false};
};

}  // namespace hylo
