#include "stream/ParseStreams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hylo {

std::array<std::uint8_t, 8> StreamStartRequest(bool statusChannel) {
  const std::uint8_t last = statusChannel ? 0xFF : 0x00;
  return {0x33, 0x2A, 0x00, 0x04, 0x00, 0x00, last, last};
}

std::array<std::uint8_t, 4> StreamStopRequest() { return {0x34, 0x2A, 0x00, 0x00}; }

std::string_view StreamName(int stream) {
  switch (stream) {
    case STREAM_WAVE:
      return "Wave";
    case STREAM_FFT:
      return "FFT";
    case STREAM_EPOCH:
      return "Epoch";
    case STREAM_STATUS:
      return "Status";
    default:
      return "Unknown";
  }
}

std::string StreamConnectionNotice(int stream, std::uint32_t code) {
  const std::string name(StreamName(stream));
  switch (code) {
    case 1:
      return "Error: No Free " + name + " Stream Connections";
    case 2:
      return name + " Stream Connection Timed Out";
    case 3:
      return name + " Stream Connection Stopped";
    default:
      return name + " Stream Message: " + std::to_string(code);
  }
}

void ParseStreams::SetHandler(char type, Handler handler) {
  if (type >= '0' && type <= '5') handlers_[static_cast<std::size_t>(type - '0')] = std::move(handler);
}

void ParseStreams::Deliver(int stream, Reassembler& slot) const {
  StreamMessage message;
  message.type = slot.buffer[0];
  message.payload = std::span<const std::uint8_t>(slot.buffer).subspan(4, slot.length);
  message.whole = std::span<const std::uint8_t>(slot.buffer).subspan(0, 4 + slot.length);
  DispatchStreamMessage(stream, message);
}

void ParseStreams::ReassembleStream(int stream, std::span<const std::uint8_t> bytes, bool datagram) {
  if (stream < 0 || stream >= kStreamKinds) return;
  if (resetRequested_.exchange(false)) {
    for (auto& s : slots_) s.state = 0;
  }
  Reassembler& slot = slots_[static_cast<std::size_t>(stream)];
  if (datagram) slot.state = 0;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t byte = bytes[at];
    switch (slot.state) {
      case 0:
        slot.received = 0;
        slot.buffer[0] = byte;
        slot.state = 1;
        ++at;
        break;
      case 1:
        if (byte == '*') {
          slot.buffer[1] = byte;
          slot.state = 2;
          ++at;
        } else {
          slot.state = 0;  // taken again as a type byte
        }
        break;
      case 2:
        slot.buffer[2] = byte;
        slot.state = 3;
        ++at;
        break;
      case 3:
        slot.buffer[3] = byte;
        ++at;
        slot.length = (static_cast<std::size_t>(slot.buffer[2]) << 8) | slot.buffer[3];
        if (slot.length == 0) {
          slot.state = 0;
          Deliver(stream, slot);
        } else if (slot.length > kStreamReadBytes) {
          ++oversized_;
          slot.state = 0;
        } else {
          slot.state = 4;
        }
        break;
      default: {
        const std::size_t take = std::min(bytes.size() - at, slot.length - slot.received);
        std::memcpy(&slot.buffer[4 + slot.received], &bytes[at], take);
        slot.received += take;
        at += take;
        if (slot.received == slot.length) {
          slot.state = 0;
          Deliver(stream, slot);
        }
        break;
      }
    }
  }
}

void ParseStreams::DispatchStreamMessage(int stream, const StreamMessage& message) const {
  if (message.type < '0' || message.type > '5') return;
  const auto& handler = handlers_[static_cast<std::size_t>(message.type - '0')];
  if (handler) handler(stream, message);
}

}  // namespace hylo
