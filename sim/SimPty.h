#pragma once
// The command link over a pseudo-terminal: the simulator holds the master side, the host opens
// the printed slave path like a serial port. "B" changes the line speed the pty reports.
// --close-link-after unplugs the unit: the pty is closed, so the host's port hangs up (reads end,
// writes fail) and the device path goes away, as with a USB serial unit pulled out.
#include <asio.hpp>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "SimInstrument.h"
#include "SimLinkCore.h"

namespace hylo::sim {

class SimPty {
 public:
  SimPty(asio::io_context& io, SimInstrument& instrument);
  ~SimPty();
  SimPty(const SimPty&) = delete;
  SimPty& operator=(const SimPty&) = delete;

  void Start();  // throws std::system_error when no pty can be made
  void Stop();
  const std::string& Path() const { return path_; }
  std::uint32_t Baud() const { return baud_; }
  bool Open() const { return master_.has_value(); }

 private:
  void Read();
  void Write(std::vector<std::uint8_t> frame);
  void Flush();
  void WriteFront();
  void SetBaud(std::uint32_t baud);
  bool LineMatches() const;
  void ArmUnplug();
  void Unplug();
  void Reboot();

  asio::io_context& io_;
  SimInstrument& instrument_;
  std::optional<asio::posix::stream_descriptor> master_;
  int slaveFd_ = -1;  // held open so the master never sees a hang-up between host sessions
  std::string path_;
  std::unique_ptr<SimLinkCore> core_;
  std::deque<std::vector<std::uint8_t>> out_;
  bool writing_ = false;
  std::array<std::uint8_t, 4096> in_{};
  std::uint32_t baud_;
  asio::steady_timer unplugTimer_;
  bool unplugArmed_ = false;
  asio::steady_timer rebootTimer_;
  bool rebooting_ = false;  // a rebooting unit hears nothing and says nothing
};

}  // namespace hylo::sim
