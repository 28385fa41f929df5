#pragma once
// What every command-link transport shares: frame parsing, the instrument's answers and the
// reply faults (delayed, withheld or corrupted replies).
#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "SimFrameParser.h"
#include "SimInstrument.h"

namespace hylo::sim {

class SimLinkCore {
 public:
  using Sender = std::function<void(std::vector<std::uint8_t>)>;
  using ActionHook = std::function<void(const SimAction&)>;

  SimLinkCore(asio::io_context& io, SimInstrument& instrument, Sender send, ActionHook onAction);

  ~SimLinkCore() { *alive_ = false; }
  SimLinkCore(const SimLinkCore&) = delete;
  SimLinkCore& operator=(const SimLinkCore&) = delete;

  void OnBytes(std::span<const std::uint8_t> bytes);
  // Stops pending delayed replies (the link went away).
  void Cancel();

  std::uint64_t BadFrames() const { return parser_.BadFrames(); }
  std::size_t Buffered() const { return parser_.Buffered(); }

 private:
  void Send(const SimReply& r);

  asio::io_context& io_;
  SimInstrument& instrument_;
  Sender send_;
  ActionHook onAction_;
  SimFrameParser parser_;
  std::uint64_t rng_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hylo::sim
