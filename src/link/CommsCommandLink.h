#pragma once
// The command link as connection management sees it, over CommsThread and its transports.
#include <memory>
#include <string>

#include "link/CommandLink.h"
#include "link/HyloComms.h"
#include "link/HyloSerial.h"
#include "platform/TcpLink.h"

namespace hylo {

class CommsCommandLink final : public CommandLink {
 public:
  CommsCommandLink(HyloComms& comms, HyloSerial& serial, LinkState& state, TcpEventLoop& loop)
      : comms_(comms), serial_(serial), state_(state), loop_(loop) {}
  // How a COM port number maps to a device on this platform (the serial port adapter).
  void SetSerialDevice(std::function<std::string(int comPort)> device) { device_ = std::move(device); }

  bool OpenTcp(const std::string& host, int port, int timeoutMs) override;
  bool OpenSerial(int comPort, int baud, int timeoutMs) override;
  void Close() override;
  int ConnectionType() const override { return state_.connectionType.load(); }
  std::optional<std::vector<std::uint8_t>> Transact(std::uint8_t letter, std::span<const std::uint8_t> payload,
                                                    int expectedReplies, bool forward,
                                                    const std::atomic<bool>& cancel) override;
  std::optional<std::vector<std::uint8_t>> TransactLong(std::uint8_t letter, std::span<const std::uint8_t> payload,
                                                        std::size_t lineBytes,
                                                        const std::atomic<bool>& cancel) override;
  int Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool forward) override;
  void CancelCommands() override { comms_.CancelCommands(); }

 private:
  HyloComms& comms_;
  HyloSerial& serial_;
  LinkState& state_;
  TcpEventLoop& loop_;
  std::function<std::string(int)> device_;
};

}  // namespace hylo
