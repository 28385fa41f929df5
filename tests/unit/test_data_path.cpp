#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "context/Hylo.h"
#include "core/Post.h"
#include "shell/ScriptedOperator.h"
#include "stream/StreamBytes.h"
#include "support/StreamWriter.h"
#include "support/TempDir.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;

namespace {

// Posts raw stream bytes to MsgProcThread the way a socket reader does: one socket read at a time.
void FeedStream(Hylo& hylo, int type, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kStreamReadBytes) {
    const auto read = std::span(bytes).subspan(at, std::min(kStreamReadBytes, bytes.size() - at));
    while (!PostStreamBytes(hylo.Threads(), type, read)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::int32_t SampleAt(std::uint64_t index) { return static_cast<std::int32_t>((index * 7919) % 16000000) - 8000000; }

}  // namespace

TEST(DataPathThreads, WaveStreamBytesBecomeAContiguousWavFileFromAWholeSecond) {
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  hylo.JobSetup().SetStreamTransports({TRANSPORT_TCP, TRANSPORT_OFF});  // no FFT stream: the host computes spectra
  hylo.Groups().wav.path = (dir.Path() / "wav").string();
  hylo.Data().Logging().StartWavLogging();

  const std::uint32_t rate = 8000;
  std::vector<std::uint8_t> stream = WaveDescription(rate, 8388607, -8388608);
  const std::uint64_t start = 2 * rate + 4321;  // mid-second: the log starts at the next second
  const int perMessage = 400;                   // 1200 bytes of samples, inside one read
  for (std::uint64_t first = start; first < start + 4 * rate; first += perMessage) {
    Writer w = DataHead(static_cast<std::uint32_t>(first % rate), 1, 3, perMessage, first - first % rate);
    // The time block's seconds follow the sample clock.
    const auto seconds = static_cast<std::uint32_t>(1700000000 + first / rate);
    w.b[8] = static_cast<std::uint8_t>(seconds >> 24);
    w.b[9] = static_cast<std::uint8_t>(seconds >> 16);
    w.b[10] = static_cast<std::uint8_t>(seconds >> 8);
    w.b[11] = static_cast<std::uint8_t>(seconds);
    for (int i = 0; i < perMessage; ++i) {
      const auto v = static_cast<std::uint32_t>(SampleAt(first + static_cast<unsigned>(i)));
      w.U8(static_cast<int>((v >> 16) & 0xFF)).U8(static_cast<int>((v >> 8) & 0xFF)).U8(static_cast<int>(v & 0xFF));
    }
    const auto bytes = w.Done();
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  FeedStream(hylo, MSG_WAVE_STREAM_BYTES, stream);
  // Let the queues run dry before the normal shutdown closes the file.
  for (int i = 0; i < 200 && (hylo.Threads().QueueSize(MSG_PROC_THREAD) || hylo.Threads().QueueSize(WAVE_THREAD) ||
                              hylo.Threads().QueueSize(TRIGGER_THREAD) || hylo.Threads().QueueSize(LOG_THREAD));
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(hylo.MainExit(), 0);

  const fs::path file = dir.Path() / "wav" / "Data_00001.wav";
  ASSERT_TRUE(fs::exists(file));
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(bytes.size(), kWavHeaderBytes);
  const std::size_t samples = (bytes.size() - kWavHeaderBytes) / 3;
  EXPECT_GE(samples, 2U * rate) << "whole seconds of the four fed";
  EXPECT_EQ(samples % rate, 0U) << "whole-second blocks only";
  const std::uint64_t firstIndex = 3 * rate;  // the first whole second after the start
  for (std::size_t i = 0; i < samples; ++i) {
    std::int32_t v = bytes[kWavHeaderBytes + 3 * i] | (bytes[kWavHeaderBytes + 3 * i + 1] << 8) |
                     (bytes[kWavHeaderBytes + 3 * i + 2] << 16);
    if (v & 0x800000) v -= 0x1000000;
    ASSERT_EQ(v, SampleAt(firstIndex + i)) << "sample " << i;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[96])), "2023-11-14T22:13:23+00");
}

// Waveform records at 512 kS/s through WaveThread, FftThread and TriggerThread to the
// displays and the WAV log, faster than real time: every sample buffer comes back.
TEST(DataPathThreads, EverySampleBufferIsBackAfterTheWorkersStop) {
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  hylo.JobSetup().SetStreamTransports({TRANSPORT_TCP, TRANSPORT_OFF});
  hylo.Groups().wav.path = (dir.Path() / "wav").string();
  hylo.Data().Logging().StartWavLogging();

  const std::uint32_t rate = 512000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (std::uint64_t first = 1234; first < 6ULL * rate; first += kWaveformRecordSamples) {
    auto fill = [&](MessageNode& node) {
      auto& r = node.As<WaveformRecord>();
      r = WaveformRecord{};
      r.sampleFormat = 3;
      r.sampleRate = rate;
      r.rangeVolts = 5.0;
      r.firstSample = first;
      r.blockOffset = static_cast<std::uint32_t>(first % rate);
      r.timeStamp = static_cast<std::uint32_t>(1700000000 + first / rate);
      r.sampleCount = kWaveformRecordSamples;
      for (int i = 0; i < kWaveformRecordSamples; ++i) r.samples[i] = SampleAt(first + static_cast<unsigned>(i)) / 2;
    };
    while (!Post(hylo.Threads(), WAVE_THREAD, MSG_WAVEFORM, fill)) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (int i = 0; i < 500 && (hylo.Threads().QueueSize(WAVE_THREAD) || hylo.Threads().QueueSize(FFT_THREAD) ||
                              hylo.Threads().QueueSize(TRIGGER_THREAD) || hylo.Threads().QueueSize(LOG_THREAD));
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Stop with blocks possibly still queued: the drain must return those buffers too.
  ASSERT_EQ(hylo.Threads().StopWorkerThreads(), 0);
  hylo.Threads().DrainQueues();
  EXPECT_EQ(hylo.Nodes().FreeSampleBuffers(), kSampleBufferCount);
  EXPECT_EQ(hylo.MainExit(), 0);

  const fs::path file = dir.Path() / "wav" / "Data_00001.wav";
  ASSERT_TRUE(fs::exists(file));
  const auto samples = (fs::file_size(file) - kWavHeaderBytes) / 3;
  EXPECT_GE(samples, static_cast<std::uintmax_t>(rate)) << "blocks did travel the whole path";
  EXPECT_EQ(samples % rate, 0U);
}

TEST(DataPathThreads, AChartResetPostedToTheImpulseSlotReachesTheDisplays) {
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  WaveformRecord r{};
  r.sampleFormat = 3;
  r.sampleRate = 64000;
  r.voltsPerCount = 1e-6;
  r.sampleCount = 1000;
  for (std::uint32_t i = 0; i < r.sampleCount; ++i) r.samples[i] = SampleAt(i);
  HyloTimeSeries& traces = hylo.Data().Displays().TimeSeries();
  traces.AddTrace(r);
  ASSERT_FALSE(traces.DrawTrace().volts.empty());
  hylo.ResetCharts();
  bool cleared = false;
  for (int i = 0; i < 200 && !cleared; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cleared = traces.DrawTrace().volts.empty();
  }
  EXPECT_TRUE(cleared) << "the reset went through the impulse slot to the display thread";
  EXPECT_EQ(hylo.MainExit(), 0);
}
