// Scanning against hylo-sim: start, pause, resume and stop over UDP, TCP and the command link.
#include <gtest/gtest.h>

#include <mutex>

#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;

namespace {

// What reached WaveThread: record count, samples, and breaks in the running index.
class WaveIntake {
 public:
  struct Counts {
    std::uint64_t records = 0, samples = 0, gaps = 0, missed = 0;
  };
  void Take(const WaveformRecord& r) {
    std::lock_guard guard(lock_);
    if (counts_.records > 0 && r.firstSample != next_) ++counts_.gaps;
    if (counts_.records > 0) counts_.missed += r.missedSamples;
    next_ = r.firstSample + r.sampleCount;
    counts_.samples += r.sampleCount;
    ++counts_.records;
  }
  Counts Get() const {
    std::lock_guard guard(lock_);
    return counts_;
  }
  std::uint64_t Records() const { return Get().records; }

 private:
  mutable std::mutex lock_;
  Counts counts_;
  std::uint64_t next_ = 0;
};

// A connected context whose waveform records are counted on their way to WaveThread.
struct Session : SimSession {
  WaveIntake intake;
  explicit Session(const char* model, const char* firmware = "v2.1.0", std::uint16_t fixedPort = 0)
      : SimSession({"--model", model, "--firmware", firmware, "--rate", "64000"}, 90, fixedPort) {}
  bool Connect() {
    if (!sim.Ready() || hylo.Start() != 0) return false;  // the tap goes on a started context
    hylo.Data().SetWaveTap([this](const WaveformRecord& r) { intake.Take(r); });
    tapped = true;
    return HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok();
  }
  ~Session() {
    if (tapped) hylo.Data().SetWaveTap({});
  }
  bool tapped = false;
};

void ExpectScanningLines(Session& s) {
  for (const char* line : {"Scanning Started", "Scanning Paused", "Scanning Resumed", "Scanning Stopped"})
    EXPECT_TRUE(s.Logged(line)) << line;
}

// Starts scanning with the stream `codes` and waits for the data channels.
void Start(Session& s, StreamCodes codes) {
  s.hylo.JobSetup().SetStreamTransports(codes);
  s.hylo.Scan().StartScanningCallback();
  s.hylo.Scan().WaitForChannels();
}

// Start, pause (channels open, reads dropped), resume (same channels), stop (closed).
void PauseResumeStop(Session& s, int stream) {
  StreamChannels& channels = s.hylo.Data().Channels();
  const int handle = channels.Handle(stream);
  ASSERT_NE(handle, 0);
  s.hylo.Scan().PauseCallback();
  EXPECT_TRUE(s.hylo.Scan().Paused());
  EXPECT_TRUE(s.hylo.Threads().ScanPaused());
  EXPECT_FALSE(s.hylo.Scan().KeepingAwake());
  const auto discarded = channels.DiscardedReads();
  EXPECT_TRUE(WaitFor([&] { return channels.DiscardedReads() > discarded + 5; }, 3000))
      << "the paused channel is still read, and its data dropped";
  EXPECT_EQ(channels.Handle(stream), handle);

  s.hylo.Scan().PauseCallback();
  EXPECT_FALSE(s.hylo.Scan().Paused());
  EXPECT_TRUE(s.hylo.Scan().Active());
  EXPECT_EQ(channels.Handle(stream), handle) << "a resume does not reconnect";
  const auto before = s.intake.Records();
  EXPECT_TRUE(WaitFor([&] { return s.intake.Records() > before + 10; }, 5000)) << "data flows again after a resume";

  // Watch the letters the stop sends on the real link.
  HyloScan::Link link = s.hylo.Link().ScanLink();
  std::vector<std::pair<std::uint8_t, int>> sent;
  link.sendCommand = [&sent, send = link.sendCommand](std::uint8_t letter) {
    const int result = send(letter);
    sent.emplace_back(letter, result);
    return result;
  };
  s.hylo.Scan().SetLink(link);
  s.hylo.Scan().StopCallback();
  EXPECT_EQ(sent, (std::vector<std::pair<std::uint8_t, int>>{{'Q', 0}}))
      << "the stop asks the unit to stop its streams";
  EXPECT_FALSE(channels.Open(stream));
  EXPECT_FALSE(s.hylo.Scan().Active());
  EXPECT_TRUE(s.hylo.Threads().ScanStopped());
  ExpectScanningLines(s);
}

}  // namespace

TEST(SimScan, UdpRecordsReachWaveThreadContiguousFor30Seconds) {
  Session s("hf");
  ASSERT_TRUE(s.Connect()) << s.sim.Line();
  Start(s, {TRANSPORT_UDP, TRANSPORT_OFF});
  ASSERT_TRUE(s.hylo.Data().Channels().Open(STREAM_WAVE));
  EXPECT_TRUE(s.hylo.Scan().KeepingAwake());
  const std::uint64_t thirtySeconds = 30ULL * 64000;
  ASSERT_TRUE(WaitFor([&] { return s.intake.Get().samples >= thirtySeconds; }, 45000)) << s.intake.Get().samples;
  EXPECT_EQ(s.intake.Get().gaps, 0U) << "every record follows the one before";
  EXPECT_EQ(s.intake.Get().missed, 0U);
  PauseResumeStop(s, STREAM_WAVE);
}

TEST(SimScan, TcpStartPauseResumeStop) {
  Session s("af");
  ASSERT_TRUE(s.Connect()) << s.sim.Line();
  Start(s, {TRANSPORT_TCP, TRANSPORT_TCP});
  ASSERT_TRUE(s.hylo.Data().Channels().Open(STREAM_WAVE));
  EXPECT_TRUE(s.hylo.Data().Channels().Open(STREAM_FFT));
  ASSERT_TRUE(WaitFor([&] { return s.intake.Get().samples >= 64000; }, 10000));
  EXPECT_EQ(s.intake.Get().gaps, 0U);
  PauseResumeStop(s, STREAM_WAVE);
}

TEST(SimScan, CommandLinkCarriesTheWaveformInStatusReplies) {
  Session s("lf");
  ASSERT_TRUE(s.Connect()) << s.sim.Line();
  s.hylo.JobSetup().SetStreamTransports({TRANSPORT_LINK, TRANSPORT_OFF});
  s.hylo.Scan().StartScanningCallback();
  EXPECT_TRUE(s.hylo.Scan().LastPlan().periodicEnquiry);
  EXPECT_FALSE(s.hylo.Scan().LastPlan().streamCapable);
  ASSERT_TRUE(WaitFor([&] { return s.intake.Records() >= 20; }, 10000)) << "records from the periodic \"C\" replies";
  EXPECT_EQ(s.intake.Get().gaps, 0U) << "consecutive replies carry consecutive blocks";
  EXPECT_FALSE(s.hylo.Data().Channels().Open(STREAM_WAVE)) << "an LF unit has no data sockets";

  s.hylo.Scan().PauseCallback();
  EXPECT_TRUE(s.hylo.Scan().Paused());
  s.hylo.Scan().PauseCallback();
  const auto before = s.intake.Records();
  EXPECT_TRUE(WaitFor([&] { return s.intake.Records() > before + 5; }, 5000)) << "the enquiry runs again";
  s.hylo.Scan().StopCallback();
  ExpectScanningLines(s);
}

TEST(SimScan, StatusChannelOpensFromFirmware210) {
  for (const auto& [firmware, opens] : {std::pair{"v2.0.9", false}, std::pair{"v2.1.0", true}}) {
    Session s("hf", firmware);
    ASSERT_TRUE(s.Connect()) << s.sim.Line();
    Start(s, {TRANSPORT_OFF, TRANSPORT_OFF});
    EXPECT_EQ(s.hylo.Data().Channels().Open(STREAM_STATUS), opens) << firmware;
    if (opens) {
      // Only status records carry the orientation (the identify reply does not).
      EXPECT_TRUE(WaitFor([&] { return s.hylo.Data().Status().Copy().orientation[2] == 1000; }, 5000))
          << "status records arrive on the status channel";
    }
    s.hylo.Scan().StopCallback();
    EXPECT_FALSE(s.hylo.Data().Channels().Open(STREAM_STATUS));
  }
}

TEST(SimScan, CommandPort50010StreamsFromWaveformPort51686) {
  Session s("hf", "v2.1.0", 50010);
  if (!s.sim.Ready()) GTEST_SKIP() << "port 50010 or its stream ports are taken: " << s.sim.Line();
  EXPECT_NE(s.sim.Line().find("wave-udp 51686"), std::string::npos) << s.sim.Line();
  ASSERT_TRUE(s.Connect());
  EXPECT_EQ(s.hylo.Connection().PortBase(), 10);
  Start(s, {TRANSPORT_UDP, TRANSPORT_OFF});
  EXPECT_TRUE(WaitFor([&] { return s.intake.Records() >= 10; }, 5000)) << "the start request reached port 51686";
  s.hylo.Scan().StopCallback();
  EXPECT_FALSE(s.hylo.Data().Channels().Open(STREAM_WAVE));
}
