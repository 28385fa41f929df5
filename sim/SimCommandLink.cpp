#include "SimCommandLink.h"

#include <chrono>

namespace hylo::sim {
namespace {
std::chrono::steady_clock::duration Seconds(double s) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}
}  // namespace

SimCommandLink::SimCommandLink(asio::io_context& io, SimInstrument& instrument, asio::ip::tcp::endpoint endpoint,
                               ActionHook onAction)
    : io_(io),
      instrument_(instrument),
      endpoint_(endpoint),
      onAction_(std::move(onAction)),
      closeTimer_(io),
      rebootTimer_(io) {}

SimCommandLink::~SimCommandLink() { Stop(); }

void SimCommandLink::Start() {
  Listen();
  Accept();
}

void SimCommandLink::Listen() {
  acceptor_.emplace(io_);
  acceptor_->open(endpoint_.protocol());
  acceptor_->set_option(asio::socket_base::reuse_address(true));
  acceptor_->bind(endpoint_);
  acceptor_->listen();
  port_ = acceptor_->local_endpoint().port();
  endpoint_.port(port_);  // a reboot comes back on the same port
}

void SimCommandLink::Accept() {
  if (!acceptor_) return;
  acceptor_->async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket s) {
    if (ec || stopped_) return;
    Close();  // one host at a time: the newest wins
    socket_.emplace(std::move(s));
    socket_->set_option(asio::ip::tcp::no_delay(true));
    ++generation_;
    core_ = std::make_unique<SimLinkCore>(
        io_, instrument_, [this](std::vector<std::uint8_t> f) { Write(std::move(f)); },
        [this](const SimAction& a) {
          if (onAction_) onAction_(a);
          if (a.reboot) Reboot();
        });
    const double after = instrument_.Options().closeLinkAfter;
    if (after > 0) {
      closeTimer_.expires_after(Seconds(after));
      closeTimer_.async_wait([this, gen = generation_](const asio::error_code& e) {
        if (!e && gen == generation_) Close();
      });
    }
    Read();
    Accept();
  });
}

void SimCommandLink::Read() {
  if (!socket_) return;
  socket_->async_read_some(asio::buffer(in_), [this, gen = generation_](const asio::error_code& ec, std::size_t n) {
    if (gen != generation_) return;
    if (ec) {
      Close();
      return;
    }
    core_->OnBytes(std::span<const std::uint8_t>(in_.data(), n));
    if (gen == generation_) Read();
  });
}

void SimCommandLink::Write(std::vector<std::uint8_t> frame) {
  if (!socket_) return;
  if (out_.size() > 1000) return;  // a host that stops reading loses replies, not memory
  out_.push_back(std::move(frame));
  Flush();
}

void SimCommandLink::Flush() {
  if (writing_ || out_.empty() || !socket_) return;
  writing_ = true;
  asio::async_write(*socket_, asio::buffer(out_.front()),
                    [this, gen = generation_](const asio::error_code& ec, std::size_t) {
                      if (gen != generation_) return;
                      writing_ = false;
                      if (ec) {
                        Close();
                        return;
                      }
                      out_.pop_front();
                      Flush();
                    });
}

void SimCommandLink::Close() {
  ++generation_;
  closeTimer_.cancel();
  if (core_) core_->Cancel();
  if (socket_) {
    asio::error_code ec;
    socket_->shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_->close(ec);
    socket_.reset();
  }
  out_.clear();
  writing_ = false;
}

void SimCommandLink::Reboot() {
  // Leave the handler that asked first; the link goes down right after it.
  asio::post(io_, [this] {
    Close();
    if (acceptor_) {
      asio::error_code ec;
      acceptor_->close(ec);
      acceptor_.reset();
    }
    rebootTimer_.expires_after(Seconds(instrument_.Options().rebootDelay));
    rebootTimer_.async_wait([this](const asio::error_code& ec) {
      if (ec || stopped_) return;
      try {
        Listen();
        Accept();
      } catch (const std::exception&) {
        // The port was taken meanwhile; the instrument stays away.
      }
    });
  });
}

void SimCommandLink::Stop() {
  stopped_ = true;
  rebootTimer_.cancel();
  Close();
  if (acceptor_) {
    asio::error_code ec;
    acceptor_->close(ec);
    acceptor_.reset();
  }
}

}  // namespace hylo::sim
