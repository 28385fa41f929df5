#include "link/CommsCommandLink.h"

#include <algorithm>

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

std::optional<std::vector<std::uint8_t>> CommsCommandLink::TransactLong(std::uint8_t letter,
                                                                        std::span<const std::uint8_t> payload,
                                                                        std::size_t lineBytes,
                                                                        const std::atomic<bool>& cancel) {
  // Ten bit times a byte (8N1), both ways, with a margin of a quarter.
  const int baud = std::max(state_.baudRate.load(), 1200);
  const std::uint64_t bits = (lineBytes + payload.size() + 12) * 10;
  const auto extraMs = static_cast<std::uint32_t>(bits * 1250 / static_cast<std::uint64_t>(baud) + 1);
  CommandReply reply = comms_.SendCommand(letter, payload, 1, false, &cancel, extraMs);
  if (!reply.Ok()) return std::nullopt;
  return std::move(reply.replies);
}

int CommsCommandLink::Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool forward) {
  return comms_.SendCommand(letter, static_cast<std::int16_t>(payload.size()), payload, nullptr, nullptr, nullptr, 0,
                            forward);
}

}  // namespace hylo
