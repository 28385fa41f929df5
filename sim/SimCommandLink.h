#pragma once
// The command link over TCP: one host at a time on the command port. A reboot ("Y") closes the
// connection and the port, which come back after the reboot delay.
#include <asio.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "SimInstrument.h"
#include "SimLinkCore.h"

namespace hylo::sim {

class SimCommandLink {
 public:
  using ActionHook = std::function<void(const SimAction&)>;

  SimCommandLink(asio::io_context& io, SimInstrument& instrument, asio::ip::tcp::endpoint endpoint,
                 ActionHook onAction);
  ~SimCommandLink();

  void Start();  // throws when the port cannot be bound
  void Stop();
  std::uint16_t Port() const { return port_; }
  bool Connected() const { return socket_.has_value(); }
  // The link and the command port go away for the reboot delay, then come back.
  void Reboot();

 private:
  void Listen();
  void Accept();
  void Read();
  void Write(std::vector<std::uint8_t> frame);
  void Flush();
  void Close();

  asio::io_context& io_;
  SimInstrument& instrument_;
  asio::ip::tcp::endpoint endpoint_;
  ActionHook onAction_;
  std::optional<asio::ip::tcp::acceptor> acceptor_;
  std::optional<asio::ip::tcp::socket> socket_;
  std::unique_ptr<SimLinkCore> core_;
  std::deque<std::vector<std::uint8_t>> out_;
  bool writing_ = false;
  std::array<std::uint8_t, 4096> in_{};
  asio::steady_timer closeTimer_;
  asio::steady_timer rebootTimer_;
  std::uint16_t port_ = 0;
  std::uint64_t generation_ = 0;  // ends handlers of a closed connection
  bool stopped_ = false;
};

}  // namespace hylo::sim
