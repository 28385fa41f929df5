#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "context/Hylo.h"
#include "shell/ScriptedOperator.h"
#include "support/StreamWriter.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;

namespace {

// A waveform UDP port of an instrument on 127.0.0.1: answers a start request with a stream.
class UdpInstrument {
 public:
  explicit UdpInstrument(int port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~UdpInstrument() { close(fd_); }
  bool Bound() const { return bound_; }
  // Waits up to 5 s for one datagram; returns it and remembers who sent it.
  std::vector<std::uint8_t> Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return {};
    std::vector<std::uint8_t> buffer(2048);
    socklen_t length = sizeof peer_;
    const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&peer_), &length);
    buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buffer;
  }
  void SendBack(const std::vector<std::uint8_t>& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&peer_), sizeof peer_);
  }
  const sockaddr_in& Peer() const { return peer_; }

 private:
  int fd_ = -1;
  bool bound_ = false;
  sockaddr_in peer_{};
};

}  // namespace

// Another program on the same machine sends to the data port: nothing of it is recorded.
TEST(StreamChannels, DatagramsFromAnotherLocalPortAreNotRecorded) {
  const int portBase = 7010;
  UdpInstrument instrument(WaveUdpPort(portBase));
  if (!instrument.Bound()) GTEST_SKIP() << "port " << WaveUdpPort(portBase) << " is taken on 127.0.0.1";
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  hylo.JobSetup().SetStreamTransports({TRANSPORT_TCP, TRANSPORT_OFF});
  hylo.Groups().wav.path = (dir.Path() / "wav").string();
  hylo.Data().Logging().StartWavLogging();
  ASSERT_EQ(hylo.Data().Channels().ConnectWaveStream({"127.0.0.1", portBase, 100}, TRANSPORT_UDP), 0);
  ASSERT_FALSE(instrument.Receive().empty()) << "the start request";

  const int intruder = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in target = instrument.Peer();
  const std::uint32_t rate = 4000;
  auto stream = [&](const std::function<void(const std::vector<std::uint8_t>&)>& send, int value) {
    send(WaveDescription(rate, 32767, -32768));
    for (std::uint64_t first = 0; first < 3 * rate; first += 500) {  // bounded and paced
      Writer w = DataHead(static_cast<std::uint32_t>(first % rate), 1, 2, 500, first - first % rate);
      for (int i = 0; i < 500; ++i) w.U16(value < 0 ? value & 0xFFFF : static_cast<int>((first + i) % 30000));
      send(w.Done());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  stream(
      [&](const std::vector<std::uint8_t>& b) {
        sendto(intruder, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
      },
      -5);
  close(intruder);
  stream([&](const std::vector<std::uint8_t>& b) { instrument.SendBack(b); }, 0);
  const fs::path wav = dir.Path() / "wav" / "Data_00001.wav";
  for (int i = 0; i < 300 && !fs::exists(wav); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  hylo.Data().Channels().CloseStreams();
  EXPECT_EQ(hylo.MainExit(), 0);

  std::ifstream in(wav, std::ios::binary);
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GE(bytes.size(), kWavHeaderBytes + 2U * rate) << "the instrument's own stream is recorded";
  for (std::size_t i = 0; i < rate; ++i) {
    const int v = static_cast<std::int16_t>(bytes[kWavHeaderBytes + 2 * i] | (bytes[kWavHeaderBytes + 2 * i + 1] << 8));
    ASSERT_EQ(v, static_cast<int>(i % 30000)) << "sample " << i << ": only the instrument's samples";
  }
}
