#include "link/CommsCommandLink.h"

namespace hylo {

bool CommsCommandLink::OpenTcp(const std::string& host, int port, int timeoutMs) {
  Close();
  state_.tcpTimeoutMs = timeoutMs;
  if (!comms_.OpenTcp(loop_, host, port, timeoutMs)) return false;
  state_.connectionType = LINK_ETHERNET;
  return true;
}

bool CommsCommandLink::OpenSerial(int comPort, int baud, int timeoutMs) {
  Close();
  if (!device_) return false;
  state_.serialTimeoutMs = timeoutMs;
  if (!comms_.OpenSerial(device_(comPort), baud, comPort)) return false;
  state_.connectionType = LINK_SERIAL;
  return true;
}

void CommsCommandLink::Close() {
  if (state_.connectionType == LINK_SERIAL) {
    serial_.StopReaderAndClose([this] { comms_.CloseLink(); });
  } else {
    comms_.CloseLink();
  }
  state_.connectionType = LINK_NONE;
}

std::optional<std::vector<std::uint8_t>> CommsCommandLink::Transact(std::uint8_t letter,
                                                                    std::span<const std::uint8_t> payload,
                                                                    int expectedReplies, bool forward,
                                                                    const std::atomic<bool>& cancel) {
  CommandReply reply = comms_.SendCommand(letter, payload, expectedReplies, forward, &cancel);
  if (!reply.Ok()) return std::nullopt;
  return std::move(reply.replies);
}

int CommsCommandLink::Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool forward) {
  return comms_.SendCommand(letter, static_cast<std::int16_t>(payload.size()), payload, nullptr, nullptr, nullptr, 0,
                            forward);
}

}  // namespace hylo
