#include "SimPty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "wire/LineRate.h"

namespace hylo::sim {

SimPty::SimPty(asio::io_context& io, SimInstrument& instrument)
    : io_(io), instrument_(instrument), baud_(instrument.Baud()), unplugTimer_(io), rebootTimer_(io) {}

SimPty::~SimPty() { Stop(); }

void SimPty::Start() {
  int master = -1, slave = -1;
  char name[256] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
    throw std::system_error(errno, std::generic_category(), "openpty");
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  slaveFd_ = slave;
  path_ = name;
  master_.emplace(io_, master);
  core_ = std::make_unique<SimLinkCore>(
      io_, instrument_, [this](std::vector<std::uint8_t> f) { Write(std::move(f)); },
      [this](const SimAction& a) {
        if (a.baud && !instrument_.Options().ignoreBaud) SetBaud(*a.baud);
        if (a.reboot) Reboot();
      });
  SetBaud(baud_);
  Read();
}

void SimPty::SetBaud(std::uint32_t baud) {
  baud_ = baud;
  if (slaveFd_ >= 0) platform::SetLineRate(slaveFd_, baud);
}

// A host whose port runs at another rate than the unit's is heard as noise: nothing it sends
// reaches the unit.
bool SimPty::LineMatches() const {
  if (slaveFd_ < 0) return true;
  const auto rate = platform::LineRate(slaveFd_);
  return !rate || *rate == baud_;
}

void SimPty::Read() {
  if (!master_) return;
  master_->async_read_some(asio::buffer(in_), [this](const asio::error_code& ec, std::size_t n) {
    if (ec == asio::error::operation_aborted || !master_) return;
    if (!ec && !rebooting_ && LineMatches()) {
      ArmUnplug();
      core_->OnBytes(std::span<const std::uint8_t>(in_.data(), n));
      if (!master_) return;
    }
    // EIO between host sessions is normal on a pty; keep listening, slowly.
    if (ec) {
      auto t = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(50));
      t->async_wait([this, t](const asio::error_code& e) {
        if (!e) Read();
      });
      return;
    }
    Read();
  });
}

void SimPty::Write(std::vector<std::uint8_t> frame) {
  if (!master_ || rebooting_ || out_.size() > 1000) return;
  out_.push_back(std::move(frame));
  Flush();
}

void SimPty::Flush() {
  if (writing_ || out_.empty() || !master_) return;
  writing_ = true;
  if (instrument_.Options().paceLine && baud_ > 0) {
    // A UART needs ten bit times a byte: the frame is whole at the host only after that.
    const auto bits = static_cast<double>(out_.front().size()) * 10.0;
    auto t = std::make_shared<asio::steady_timer>(io_, std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(bits / baud_)));
    t->async_wait([this, t](const asio::error_code& e) {
      if (e || !master_) {
        writing_ = false;
        return;
      }
      WriteFront();
    });
    return;
  }
  WriteFront();
}

void SimPty::WriteFront() {
  asio::async_write(*master_, asio::buffer(out_.front()), [this](const asio::error_code& ec, std::size_t) {
    writing_ = false;
    if (ec) {
      out_.clear();
      return;
    }
    out_.pop_front();
    Flush();
  });
}

// The time runs from the host's first bytes, the pty's counterpart of an accepted connection.
void SimPty::ArmUnplug() {
  const double after = instrument_.Options().closeLinkAfter;
  if (unplugArmed_ || after <= 0) return;
  unplugArmed_ = true;
  unplugTimer_.expires_after(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(after)));
  unplugTimer_.async_wait([this](const asio::error_code& ec) {
    if (!ec) Unplug();
  });
}

// The serial line stays, but the unit is away for the reboot delay: what the host sends then is
// lost, and replies still pending are dropped.
void SimPty::Reboot() {
  if (!master_) return;
  core_->Cancel();
  // A frame being written stays until its write ends; the rest are dropped.
  out_.erase(writing_ && !out_.empty() ? out_.begin() + 1 : out_.begin(), out_.end());
  rebooting_ = true;
  rebootTimer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(instrument_.Options().rebootDelay)));
  rebootTimer_.async_wait([this](const asio::error_code& ec) {
    if (!ec) rebooting_ = false;
  });
}

void SimPty::Unplug() {
  Stop();
  std::fprintf(stderr, "hylo-sim: pty %s unplugged\n", path_.c_str());
}

void SimPty::Stop() {
  unplugTimer_.cancel();
  rebootTimer_.cancel();
  if (core_) core_->Cancel();
  if (master_) {
    asio::error_code ec;
    master_->close(ec);
    master_.reset();
  }
  if (slaveFd_ >= 0) {
    ::close(slaveFd_);
    slaveFd_ = -1;
  }
}

}  // namespace hylo::sim
