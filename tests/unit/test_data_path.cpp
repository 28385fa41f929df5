#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "context/Hylo.h"
#include "core/Post.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;

namespace {

std::int32_t SampleAt(std::uint64_t index) { return static_cast<std::int32_t>((index * 7919) % 16000000) - 8000000; }

}  // namespace

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
