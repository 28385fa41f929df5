#pragma once
// The data channels: waveform and FFT over UDP or TCP, the status channel and the epoch message
// channel, all on ports derived from the command port. Samples are paced by the steady clock so
// the streams run in real time; every stream stops by itself at the stream time limit.
#include <array>
#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimInstrument.h"
#include "SimScene.h"
#include "SimSpectrum.h"
#include "SimStreamMessages.h"

namespace hylo::sim {

struct SimStreamPorts {
  std::uint16_t waveUdp, fftUdp, waveTcp, fftTcp, epochTcp, statusTcp;
  static SimStreamPorts FromPortBase(int portBase);
};

// Connection notices (stream message type "0") this instrument sends on its data channels.
enum SimNotice : std::uint32_t {
  kNoFreeConnections = 1,   // a connection beyond the free slots; it is closed after the notice
  kConnectionTimedOut = 2,  // no start request in time, or the stream time limit ran out
  kConnectionStopped = 3,   // the instrument ends the connection: reboot, power-down, --stop-streams-after
};

class SimStreams {
 public:
  // Without data channels (LF units) only the epoch message channel is served.
  SimStreams(asio::io_context& io, SimInstrument& instrument, asio::ip::address address, SimStreamPorts ports,
             bool dataChannels = true);
  ~SimStreams();

  void Start();                         // throws when a port cannot be bound
  void Stop();                          // power-down: every open connection is stopped (notice 3) and closed
  void StopAll();                       // "Q": "stream stopped" on each running stream, connections stay
  void EndConnections(SimNotice code);  // notice to every data connection and UDP peer, then close
  void SetupChanged();                  // a new job setup: new formats, new descriptions

  // Called when --reboot-after runs out: the owner takes the unit away as on "Y".
  void SetRebootHook(std::function<void()> hook) { rebootHook_ = std::move(hook); }

  std::uint64_t WaveSamplesSent() const { return wave_.sent; }
  std::uint64_t UdpDatagramsDropped() const { return udpDropped_; }

  static constexpr std::size_t kMaxClientsPerChannel = 4;

 private:
  struct Client;
  struct Generator {
    std::optional<SimScene> scene;
    std::optional<SimSpectrum> spectrum;
    std::uint32_t rate = 0;
    std::uint32_t t0 = 0;  // instrument time of sample 0
    std::uint64_t paced = 0;
    std::chrono::steady_clock::time_point paceStart{};
    bool running = false;
    std::uint64_t sent = 0;
    std::uint64_t messages = 0;
  };
  struct UdpChannel {
    std::optional<asio::ip::udp::socket> socket;
    std::optional<asio::ip::udp::endpoint> peer;
    std::chrono::steady_clock::time_point startedAt{};
    std::array<std::uint8_t, 1500> in{};
    asio::ip::udp::endpoint from;
    // A datagram held back by --reorder-udp, sent after the next one.
    std::optional<std::vector<std::uint8_t>> held;
    std::uint64_t heldFirst = 0;
    std::size_t heldCount = 0;
  };

  void ReceiveUdp(SimStreamKind kind);
  void OnRequest(SimStreamKind kind, std::span<const std::uint8_t> bytes, const std::shared_ptr<Client>& client,
                 const std::optional<asio::ip::udp::endpoint>& from);
  void Accept(SimStreamKind kind);
  void ReadClient(const std::shared_ptr<Client>& c);
  void SendClient(const std::shared_ptr<Client>& c, std::vector<std::uint8_t> bytes);
  void FlushClient(const std::shared_ptr<Client>& c);
  void DropClient(const std::shared_ptr<Client>& c);
  void CloseAfterFlush(const std::shared_ptr<Client>& c);
  void NoticeAndClose(const std::shared_ptr<Client>& c, SimNotice code);
  void NoticeUdp(UdpChannel& ch, SimNotice code);
  // Data messages (first sample or record index, count) meet the datagram and corruption
  // faults, each logged; everything else goes out as it is.
  void SendUdp(SimStreamKind kind, const std::vector<std::uint8_t>& m, std::uint64_t first, std::size_t count);
  void SendDatagram(UdpChannel& ch, const std::vector<std::uint8_t>& m);
  void FlushHeld(UdpChannel& ch);
  void Publish(SimStreamKind kind, const std::vector<std::uint8_t>& m);
  void PublishData(SimStreamKind kind, std::vector<std::uint8_t> m, std::uint64_t first, std::size_t count);
  bool Chance(double share);
  void Corrupt(SimStreamKind kind, std::vector<std::uint8_t>& m);
  void LogFault(SimStreamKind kind, const char* what, std::uint64_t first, std::size_t count);
  void ArmReboot();
  bool HasConsumers(SimStreamKind kind) const;
  std::vector<std::uint8_t> Description(SimStreamKind kind) const;
  SimWaveFormat WaveFormat() const;
  SimFftFormat FftFormat() const;
  void ResetGenerators();
  void Tick();
  void RunWave(std::chrono::steady_clock::time_point now);
  void RunFft(std::chrono::steady_clock::time_point now);
  void CheckEpochs(const SimSpectrumRecord& r);
  void SendEpochText(const std::string& text);
  void ScheduleTick();
  void ScheduleStatus();
  void ExpireStreams(std::chrono::steady_clock::time_point now);

  asio::io_context& io_;
  SimInstrument& instrument_;
  asio::ip::address address_;
  SimStreamPorts ports_;
  UdpChannel udpWave_, udpFft_;
  std::array<std::optional<asio::ip::tcp::acceptor>, 4> acceptors_;
  std::vector<std::shared_ptr<Client>> clients_;
  Generator wave_, fft_;
  asio::steady_timer tick_;
  asio::steady_timer statusTimer_;
  asio::steady_timer rebootTimer_;
  std::function<void()> rebootHook_;
  bool rebootArmed_ = false;
  std::uint64_t rng_;
  std::uint64_t udpDropped_ = 0;
  std::vector<std::uint8_t> scratch_;
  struct EpochState {
    double aboveSeconds = 0;
    double holdSeconds = 0;
    bool firing = false;
  };
  std::array<EpochState, SimInstrument::kMaxTriggers> epochs_{};
  std::uint64_t epochGeneration_ = 0;  // the trigger list the states belong to
  bool dataChannels_;
  bool stopped_ = false;
};

}  // namespace hylo::sim
