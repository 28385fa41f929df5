#pragma once
// The front ends' way to drive a unit without the panels: connect over TCP or serial, see
// the identified unit, read and apply the job setup, start, pause and stop scanning. Plain
// values in, plain values out; the work runs on the caller's thread as the panels' would.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>

#include "link/DeviceIdentity.h"
#include "link/HyloComms.h"

namespace hylo {

class Hylo;

struct TcpTarget {
  std::string host;
  int port = 50000;
  int timeoutMs = 1000;
};

struct SerialTarget {
  std::string device;
  int baud = 256000;
  int timeoutMs = 0;  // at least the baud rate's own command time-out
};

// Success, or why not in words for the operator.
struct SessionResult {
  std::string error;
  bool Ok() const { return error.empty(); }
  explicit operator bool() const { return Ok(); }
  static SessionResult Fail(std::string why) { return {why.empty() ? std::string("failed") : std::move(why)}; }
};

class HyloSession {
 public:
  explicit HyloSession(Hylo& hylo) : hylo_(hylo) {}

  // Each opens the link, identifies the unit and waits for its identity to arrive.
  SessionResult Connect(const TcpTarget& target);
  SessionResult Connect(const SerialTarget& target);
  void Disconnect();

  // The connected unit; modelCode 0 when none has identified itself.
  DeviceIdentity Unit() const;
  // LINK_ETHERNET, LINK_SERIAL or LINK_NONE.
  int LinkType() const;

  // A link device (no job setup of its own) reads as success.
  SessionResult ReadJobSetup();
  // Reads a setup file into the job setup (its notices go to the operator) and applies it.
  SessionResult ApplySetupFile(const std::filesystem::path& file);
  SessionResult ApplyJobSetup();

  // Starts scanning and waits until the data channels are connected.
  SessionResult Start();
  void Pause();
  void Stop();
  bool Scanning() const;

  CommandReply SendCommand(std::uint8_t letter, std::span<const std::uint8_t> payload = {}, int expectedReplies = 1);

 private:
  SessionResult AwaitIdentity(const std::string& where);

  Hylo& hylo_;
};

}  // namespace hylo
