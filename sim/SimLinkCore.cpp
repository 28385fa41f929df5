#include "SimLinkCore.h"

#include <algorithm>
#include <chrono>

namespace hylo::sim {

SimLinkCore::SimLinkCore(asio::io_context& io, SimInstrument& instrument, Sender send, ActionHook onAction)
    : io_(io),
      instrument_(instrument),
      send_(std::move(send)),
      onAction_(std::move(onAction)),
      rng_(instrument.Options().seed ^ 0xC0FFEEull) {}

void SimLinkCore::Cancel() {
  *alive_ = false;
  alive_ = std::make_shared<bool>(true);
}

void SimLinkCore::Send(const SimReply& r) {
  auto frame = BuildSimFrame(r.letter, r.payload);
  const double share = instrument_.Options().corruptFraction;
  if (share > 0) {
    rng_ = rng_ * 6364136223846793005ull + 1442695040888963407ull;
    const double u = static_cast<double>(rng_ >> 11) / 9007199254740992.0;
    if (u < share) frame[(rng_ >> 3) % frame.size()] ^= 0x5A;
  }
  send_(std::move(frame));
}

void SimLinkCore::OnBytes(std::span<const std::uint8_t> bytes) {
  const auto& o = instrument_.Options();
  for (const auto& frame : parser_.Feed(bytes)) {
    const SimAction action = instrument_.Handle(frame);
    const bool withheld =
        std::find(o.withholdLetters.begin(), o.withholdLetters.end(), frame.letter) != o.withholdLetters.end();
    const auto delay = o.delayLetters.find(frame.letter);
    if (!withheld) {
      if (delay != o.delayLetters.end() && delay->second > 0) {
        auto timer = std::make_shared<asio::steady_timer>(io_);
        timer->expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(delay->second)));
        timer->async_wait([this, timer, replies = action.replies, alive = alive_](const asio::error_code& ec) {
          if (ec || !*alive) return;
          for (const auto& r : replies) Send(r);
        });
      } else {
        for (const auto& r : action.replies) Send(r);
      }
    }
    if (onAction_) onAction_(action);
    if (action.reboot) break;  // a rebooting unit does not act on what followed "Y"
  }
}

}  // namespace hylo::sim
