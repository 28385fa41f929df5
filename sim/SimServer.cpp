#include "SimServer.h"

#include <csignal>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace hylo::sim {

SimServer::SimServer(SimOptions options) : options_(std::move(options)), instrument_(options_), limit_(io_) {}

SimServer::~SimServer() {
  if (ftp_) ftp_->Stop();
  if (streams_) streams_->Stop();
  if (link_) link_->Stop();
  if (pty_) pty_->Stop();
  if (discovery_) discovery_->Stop();
}

void SimServer::OnAction(const SimAction& a) {
  if (!streams_) return;
  if (a.reboot) {
    streams_->EndConnections(kConnectionStopped);
  } else if (a.stopStreams) {
    streams_->StopAll();
  }
  if (a.setupChanged) streams_->SetupChanged();  // a refused setup changes nothing
}

std::string SimServer::Start() {
  const auto address = asio::ip::make_address(options_.host);
  std::ostringstream line;
  line << "listening";
  if (options_.pty) {
    pty_ = std::make_unique<SimPty>(io_, instrument_);
    pty_->Start();
    line << " pty " << pty_->Path();
  } else {
    link_ = std::make_unique<SimCommandLink>(io_, instrument_, asio::ip::tcp::endpoint(address, options_.port),
                                             [this](const SimAction& a) { OnAction(a); });
    link_->Start();
    line << " command " << options_.host << ":" << link_->Port();
  }
  // The stream-capable models have data channels; an LF unit on the network has only the epoch
  // message channel. A unit on a serial line has neither.
  const bool dataChannels = options_.model == 5 || options_.model == 7;
  if ((dataChannels || options_.model == 2) && !options_.pty) {
    if (options_.port + 1681 > 65535) throw std::runtime_error("command port too high for the data channel ports");
    const auto ports = SimStreamPorts::FromPortBase(options_.PortBase());
    streams_ = std::make_unique<SimStreams>(io_, instrument_, address, ports, dataChannels);
    streams_->SetRebootHook([this] {
      streams_->EndConnections(kConnectionStopped);
      if (link_) link_->Reboot();
    });
    streams_->Start();
    if (dataChannels)
      line << " wave-udp " << ports.waveUdp << " fft-udp " << ports.fftUdp << " wave-tcp " << ports.waveTcp
           << " fft-tcp " << ports.fftTcp;
    line << " epoch " << ports.epochTcp;
    if (dataChannels) line << " status " << ports.statusTcp;
  }
  if (options_.discovery) {
    discovery_ = std::make_unique<SimDiscovery>(io_, options_);
    discovery_->SetOnChange([](const SimNetSettings& s) {
      std::printf("network %s\n", DescribeNet(s).c_str());
      std::fflush(stdout);
    });
    discovery_->Start();
    line << " discovery " << discovery_->Port();
  }
  if (options_.ServesFtp()) {
    ftp_ = std::make_unique<SimFtpServer>(options_);
    ftp_->Start();
    line << " ftp " << ftp_->Port();
  }
  line << " model " << options_.model << " unit " << options_.unit << " firmware " << options_.firmware;
  return line.str();
}

void SimServer::Run(bool handleSignals) {
  if (handleSignals) {
    signals_.emplace(io_, SIGINT, SIGTERM);
    signals_->async_wait([this](const asio::error_code& ec, int) {
      if (!ec) Shutdown();
    });
  }
  if (options_.seconds > 0) {
    limit_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options_.seconds)));
    limit_.async_wait([this](const asio::error_code& ec) {
      if (!ec) Shutdown();
    });
  }
  io_.run();
}

void SimServer::Shutdown() {
  asio::post(io_, [this] {
    limit_.cancel();
    if (signals_) signals_->cancel();
    if (streams_) streams_->Stop();
    if (link_) link_->Stop();
    if (pty_) pty_->Stop();
    if (discovery_) discovery_->Stop();
    // Let queued "stream stopped" messages go out, then end.
    auto t = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(50));
    t->async_wait([this, t](const asio::error_code&) { io_.stop(); });
  });
}

}  // namespace hylo::sim
