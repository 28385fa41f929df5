#pragma once
// Puts one simulated instrument together: the command link (TCP or pty), the data channels and
// the run-time limit, all on one io_context thread.
#include <asio.hpp>
#include <memory>
#include <string>

#include "SimCommandLink.h"
#include "SimDiscovery.h"
#include "SimFtpServer.h"
#include "SimInstrument.h"
#include "SimOptions.h"
#include "SimPty.h"
#include "SimStreams.h"

namespace hylo::sim {

class SimServer {
 public:
  explicit SimServer(SimOptions options);
  ~SimServer();

  // Binds every channel; throws on failure. Returns the "listening" line.
  std::string Start();
  // Runs until Shutdown, a signal (when handleSignals) or the run-time limit.
  void Run(bool handleSignals);
  void Shutdown();  // thread-safe

  SimInstrument& Instrument() { return instrument_; }

 private:
  void OnAction(const SimAction& a);

  SimOptions options_;
  asio::io_context io_;
  SimInstrument instrument_;
  std::unique_ptr<SimCommandLink> link_;
  std::unique_ptr<SimPty> pty_;
  std::unique_ptr<SimStreams> streams_;
  std::unique_ptr<SimDiscovery> discovery_;
  std::unique_ptr<SimFtpServer> ftp_;
  asio::steady_timer limit_;
  std::optional<asio::signal_set> signals_;
};

}  // namespace hylo::sim
