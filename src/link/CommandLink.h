#pragma once
// What connection management needs of the command link: open and close it, and send a
// command and wait for its replies. The comms thread and transports stand behind it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/LinkState.h"

namespace hylo {

class CommandLink {
 public:
  virtual ~CommandLink() = default;
  // Each returns true when the link is open; the previous link is closed first.
  virtual bool OpenTcp(const std::string& host, int port, int timeoutMs) = 0;
  virtual bool OpenSerial(int comPort, int baud, int timeoutMs) = 0;
  virtual void Close() = 0;
  // LINK_ETHERNET or LINK_SERIAL while a link is open, else LINK_NONE.
  virtual int ConnectionType() const = 0;
  // Sends one command and waits (short steps, the cancel flag checked) for its replies:
  // each reply as "*", letter, length (2), payload. None on time-out, cancel or no link.
  virtual std::optional<std::vector<std::uint8_t>> Transact(std::uint8_t letter, std::span<const std::uint8_t> payload,
                                                            int expectedReplies, bool forward,
                                                            const std::atomic<bool>& cancel) = 0;
  // As Transact with one reply, for exchanges whose frames are long: the serial time-out also
  // covers `lineBytes` bytes on the line at the link's rate.
  virtual std::optional<std::vector<std::uint8_t>> TransactLong(std::uint8_t letter,
                                                                std::span<const std::uint8_t> payload,
                                                                std::size_t lineBytes,
                                                                const std::atomic<bool>& cancel) {
    (void)lineBytes;
    return Transact(letter, payload, 1, false, cancel);
  }
  // Sends without waiting; 0 when queued, 12 when not.
  virtual int Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool forward) = 0;
  // Times out whatever is outstanding at once.
  virtual void CancelCommands() = 0;
};

}  // namespace hylo
