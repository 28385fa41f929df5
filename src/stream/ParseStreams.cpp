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

namespace {

bool IsType(std::uint8_t byte) { return byte >= '0' && byte <= '5'; }

}  // namespace

void ParseStreams::Deliver(int stream, Reassembler& slot) {
  slot.state = 0;
  slot.delivered = true;
  StreamMessage message;
  message.type = slot.buffer[0];
  message.payload = std::span<const std::uint8_t>(slot.buffer).subspan(4, slot.length);
  message.whole = std::span<const std::uint8_t>(slot.buffer).subspan(0, 4 + slot.length);
  DispatchStreamMessage(stream, message);
}

void ParseStreams::ReassembleStream(int stream, std::span<const std::uint8_t> bytes, bool datagram) {
  if (stream < 0 || stream >= kStreamKinds) return;
  if (resetRequested_.exchange(false)) {
    for (auto& s : slots_) s = Reassembler{};
  }
  Reassembler& slot = slots_[static_cast<std::size_t>(stream)];
  if (datagram) {
    slot.state = 0;
    slot.delivered = false;
  }
  Feed(stream, slot, bytes, true);
}

// Bytes that cannot start the next message came right after the last one: its length was
// damaged. Its own bytes from the first plausible header after its type byte, then the header
// bytes read since, are fed again. Only one level deep, so a hostile stream cannot nest it.
void ParseStreams::Rescan(int stream, Reassembler& slot, std::size_t headerBytes) {
  slot.delivered = false;
  slot.state = 0;
  const std::size_t end = 4 + slot.length;
  for (std::size_t p = 1; p < end; ++p) {
    if (!IsType(slot.buffer[p])) continue;
    if (p + 1 < end && slot.buffer[p + 1] != '*') continue;
    if (p + 3 < end && ((std::size_t{slot.buffer[p + 2]} << 8) | slot.buffer[p + 3]) > kStreamReadBytes) continue;
    std::array<std::uint8_t, kStreamMessageBytes + 4> again{};
    const auto from = slot.buffer.begin() + static_cast<std::ptrdiff_t>(p);
    auto to = std::copy(from, slot.buffer.begin() + static_cast<std::ptrdiff_t>(end), again.begin());
    to = std::copy_n(slot.header.begin(), headerBytes, to);
    Feed(stream, slot, std::span<const std::uint8_t>(again.begin(), to), false);
    return;
  }
}

void ParseStreams::Feed(int stream, Reassembler& slot, std::span<const std::uint8_t> bytes, bool rescan) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t byte = bytes[at];
    switch (slot.state) {
      case 0:
        if (IsType(byte)) {
          slot.header[0] = byte;
          slot.state = 1;
          ++at;
        } else if (slot.delivered && rescan) {
          Rescan(stream, slot, 0);  // the byte is taken again after what was rescanned
        } else {
          slot.delivered = false;
          ++at;
        }
        break;
      case 1:
        if (byte == '*') {
          slot.header[1] = byte;
          slot.state = 2;
          ++at;
        } else if (slot.delivered && rescan) {
          Rescan(stream, slot, 1);
        } else {
          slot.state = 0;  // taken again as a type byte
        }
        break;
      case 2:
        slot.header[2] = byte;
        slot.state = 3;
        ++at;
        break;
      case 3: {
        slot.header[3] = byte;
        ++at;
        const std::size_t length = (static_cast<std::size_t>(slot.header[2]) << 8) | byte;
        if (length > kStreamReadBytes) {
          ++oversized_;
          if (slot.delivered && rescan) {
            Rescan(stream, slot, 4);
          } else {
            slot.state = 0;
          }
          break;
        }
        std::copy(slot.header.begin(), slot.header.end(), slot.buffer.begin());
        slot.length = length;
        slot.received = 0;
        slot.delivered = false;
        if (length == 0) {
          Deliver(stream, slot);
        } else {
          slot.state = 4;
        }
        break;
      }
      default: {
        const std::size_t take = std::min(bytes.size() - at, slot.length - slot.received);
        std::memcpy(&slot.buffer[4 + slot.received], &bytes[at], take);
        slot.received += take;
        at += take;
        if (slot.received == slot.length) Deliver(stream, slot);
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
