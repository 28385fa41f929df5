// Waveform records at 512000 samples/s, 24-bit, through WaveThread → FftThread → TriggerThread
// on their own threads, fed as the stream decoder posts them. No FFT stream, so WaveThread
// makes the spectra that FftThread and TriggerThread then handle. Reports records per second
// and the ratio to real time (512 records of 1000 samples per second).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "core/HyloThreadControl.h"
#include "processing/HyloProcFft.h"
#include "processing/HyloProcWave.h"
#include "processing/HyloTrigger.h"

using namespace hylo;

namespace {

constexpr std::uint32_t kRate = 512000;
constexpr double kRecordsPerSecond = static_cast<double>(kRate) / kWaveformRecordSamples;

// One second of a tone in noise, repeated: the signal content does not change the work.
std::vector<std::int32_t> Signal() {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 2e4);
  std::vector<std::int32_t> x(kRate);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<std::int32_t>(
        std::lround(3e6 * std::sin(2 * std::numbers::pi * 1000.0 * i / kRate) + noise(random)));
  }
  return x;
}

WaveformRecord& FillRecord(MessageNode& node, const std::vector<std::int32_t>& signal, std::uint64_t first) {
  auto& r = node.As<WaveformRecord>();
  r.sampleBuffer = nullptr;
  r.gain = 0;
  r.sampleFormat = 3;
  r.sampleRate = kRate;
  r.rangeVolts = 5.0;
  r.voltsPerCount = 5.0 / (1 << 24);
  r.firstSample = first;
  r.blockOffset = static_cast<std::uint32_t>(first % kRate);
  r.timeStamp = static_cast<std::uint32_t>(1700000000 + first / kRate);
  r.missedSamples = 0;
  r.restart = 0;
  r.sampleCount = kWaveformRecordSamples;
  std::memcpy(r.samples, signal.data() + first % kRate, sizeof r.samples);
  return r;
}

// TriggerThread as wired, counting the waveform records it has finished with.
struct CountingTrigger final : Worker {
  explicit CountingTrigger(HyloNodes& nodes) : trigger(nodes) {}
  bool Handle(MessageNode& node) override {
    const bool isWaveform = node.type == MSG_WAVEFORM;
    const bool passedOn = trigger.Handle(node);
    if (isWaveform) done.fetch_add(1, std::memory_order_release);
    return passedOn;
  }
  HyloTrigger trigger;
  std::atomic<std::uint64_t> done{0};
};

// The three stages on the real worker threads; displays and the log are slots without a
// worker, whose loop frees what arrives (sample buffers included).
struct Chain {
  HyloNodes nodes;
  HyloThreadControl threads{nodes};
  HyloProcWave wave{nodes};
  HyloProcFft fft{nodes};
  CountingTrigger trigger{nodes};
  std::atomic<std::uint64_t> spectra{0};

  Chain() {
    nodes.CreateNodePool();
    nodes.CreateSampleBufferPool();
    auto post = [this](int slot) { return [this, slot](MessageNode* n) { return threads.PostNode(slot, n); }; };
    HyloProcWave::Context w;
    w.fftTransport = [] { return 0; };
    w.waveTransport = [] { return 1; };
    w.postTrigger = post(TRIGGER_THREAD);
    w.postFft = post(FFT_THREAD);
    wave.SetContext(w);
    HyloProcFft::Context f;
    f.fftTransport = [] { return 0; };
    f.postTrigger = [this](MessageNode* n) {
      spectra.fetch_add(1, std::memory_order_relaxed);
      return threads.PostNode(TRIGGER_THREAD, n);
    };
    f.postDisplay = post(UI_UPDATE_THREAD);
    f.postLog = post(LOG_THREAD);
    fft.SetContext(f);
    HyloTrigger::Context t;
    t.postDisplay = post(UI_UPDATE_THREAD);
    t.postLog = post(LOG_THREAD);
    trigger.trigger.SetContext(t);
    threads.SetWorker(WAVE_THREAD, &wave);
    threads.SetWorker(FFT_THREAD, &fft);
    threads.SetWorker(TRIGGER_THREAD, &trigger);
    threads.StartWorkerThreads();
  }
  ~Chain() {
    threads.StopWorkerThreads();
    threads.DrainQueues();
    nodes.DestroySampleBufferPool();
    nodes.DestroyNodePool();
  }
};

void BM_Chain(benchmark::State& state) {
  const auto signal = Signal();
  Chain chain;
  std::uint64_t first = 0, posted = 0;
  for (auto _ : state) {
    // One second of stream per iteration, then wait until TriggerThread has all of it.
    for (int i = 0; i < static_cast<int>(kRecordsPerSecond); ++i) {
      MessageNode* node = nullptr;
      while (!(node = chain.nodes.AllocNode(MSG_WAVEFORM, 1))) std::this_thread::yield();
      FillRecord(*node, signal, first);
      if (chain.threads.PostNode(WAVE_THREAD, node) != 1) {
        chain.nodes.FreeNode(node);
        state.SkipWithError("WaveThread refused a record");
        return;
      }
      first += kWaveformRecordSamples;
      ++posted;
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (chain.trigger.done.load(std::memory_order_acquire) < posted) {
      if (std::chrono::steady_clock::now() > limit) {
        state.SkipWithError("the chain stopped moving");
        return;
      }
      std::this_thread::yield();
    }
  }
  const auto records = static_cast<double>(state.iterations()) * kRecordsPerSecond;
  state.counters["records/s"] = benchmark::Counter(records, benchmark::Counter::kIsRate);
  state.counters["x_realtime"] = benchmark::Counter(records / kRecordsPerSecond, benchmark::Counter::kIsRate);
  state.counters["spectra"] = static_cast<double>(chain.spectra.load());
  state.counters["blocks_lost_s"] = static_cast<double>(chain.trigger.trigger.SamplesDiscarded()) / kRate;
}
BENCHMARK(BM_Chain)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The stages alone, on one thread, for where the time goes.
void BM_WaveStage(benchmark::State& state) {
  const auto signal = Signal();
  HyloNodes nodes;
  nodes.CreateNodePool();
  HyloProcWave wave(nodes);
  HyloProcWave::Context w;
  w.fftTransport = [] { return 0; };
  w.postFft = [&nodes](MessageNode* n) {
    nodes.FreeNode(n);
    return 1;
  };
  wave.SetContext(w);
  MessageNode* node = nodes.AllocNode(MSG_WAVEFORM, 1);
  std::uint64_t first = 0;
  for (auto _ : state) {
    wave.ProcessWaveform(FillRecord(*node, signal, first));
    first += kWaveformRecordSamples;
  }
  nodes.FreeNode(node);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WaveStage);

void BM_TriggerWaveStage(benchmark::State& state) {
  const auto signal = Signal();
  HyloNodes nodes;
  nodes.CreateNodePool();
  nodes.CreateSampleBufferPool();
  HyloTrigger trigger(nodes);
  HyloTrigger::Context t;
  auto release = [&nodes](MessageNode* n) {
    nodes.ReleaseNode(n);
    return 1;
  };
  t.postDisplay = release;
  t.postLog = release;
  trigger.SetContext(t);
  MessageNode* node = nodes.AllocNode(MSG_WAVEFORM, 1);
  std::uint64_t first = 0;
  for (auto _ : state) {
    trigger.ForwardWaveform(FillRecord(*node, signal, first));
    first += kWaveformRecordSamples;
  }
  nodes.FreeNode(node);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TriggerWaveStage);

}  // namespace

BENCHMARK_MAIN();
