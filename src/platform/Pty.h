#pragma once
// A pseudo-terminal pair for tests: the slave path is opened as a serial port, the test
// plays the instrument on the master side.
#include <cstdint>
#include <span>
#include <string>

namespace hylo {

class Pty {
 public:
  Pty();  // Ok() is false when no pair could be made
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  bool Ok() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }
  // Bytes read within timeoutMs (0 none), negative on error.
  int Read(std::span<std::uint8_t> out, int timeoutMs);
  int Write(std::span<const std::uint8_t> bytes);
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;  // held open so the pair lives while the port is reopened
  std::string slavePath_;
};

}  // namespace hylo
