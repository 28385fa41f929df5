#pragma once
// The command link over a pseudo-terminal: the simulator holds the master side, the host opens
// the printed slave path like a serial port. "B" changes the line speed the pty reports.
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

 private:
  void Read();
  void Write(std::vector<std::uint8_t> frame);
  void Flush();
  void SetBaud(std::uint32_t baud);

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
};

}  // namespace hylo::sim
