// Impulse measurement on ImpulseThread (15 Hz high-pass, bands from a 16384-point FFT, the
// 90 % energy part and its levels) in impulses per second, and the candidate stage on
// TriggerThread as a multiple of real time, at 64000 and 512000 samples/s. The same
// measurement in numpy/scipy (tests/tools/impulse_reference.py's steps) is timed in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "processing/ImpulseDsp.h"
#include "support/RunTool.h"

using namespace hylo;

namespace {

std::vector<double> Burst(int rate, std::size_t count) {
  std::vector<double> x(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double w =
        0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count - 1));
    x[i] = 0.3 * w * std::sin(2 * std::numbers::pi * 2000 * static_cast<double>(i) / rate);
  }
  return x;
}

void BM_Measure(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const auto count = static_cast<std::size_t>(state.range(1));
  const std::vector<double> x = Burst(rate, count);
  ImpulseMeasurement measure;
  auto record = std::make_unique<ImpulseRecord>();
  for (auto _ : state) {
    record->sampleRate = rate;
    record->sampleCount = static_cast<std::uint32_t>(count);
    std::copy(x.begin(), x.end(), record->samples);
    benchmark::DoNotOptimize(measure.Measure(*record, -171));
  }
  state.counters["impulses/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Measure)->Args({64000, 12000})->Args({64000, 25000})->Args({512000, 25000})->UseRealTime()->MinTime(1.0);

void BM_Candidates(benchmark::State& state) {
  const auto rate = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::int32_t> block(rate);
  std::uint32_t seed = 1;
  for (auto& v : block) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<std::int32_t>(seed >> 24) - 128;
  }
  for (int k = 0; k < 3; ++k) {
    const std::size_t at = rate / 4 * (k + 1);
    for (std::size_t i = 0; i < rate / 50; ++i)
      block[at + i] +=
          static_cast<std::int32_t>(1e6 * std::sin(std::numbers::pi * static_cast<double>(i) / (rate / 50.0)) *
                                    std::cos(0.5 * static_cast<double>(i)));
  }
  WaveBlockInfo info;
  info.sampleRate = rate;
  info.voltsPerCount = 3e-7;
  ImpulseCandidates stage;
  std::size_t found = 0;
  for (auto _ : state) found = stage.Find(info, block, {}).size();
  state.counters["x realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_Candidates)->Arg(64000)->Arg(512000)->UseRealTime()->MinTime(1.0);

// numpy/scipy's impulses per second for the same 25000-sample impulse at 64000 samples/s.
double NumpyImpulsesPerSecond() {
  const std::string script =
      "import numpy as np, timeit\n"
      "from scipy import signal\n"
      "rate = 64000; n = 25000\n"
      "i = np.arange(n); x = 0.3 * np.hanning(n) * np.sin(2 * np.pi * 2000 * i / rate)\n"
      "b, a = signal.butter(1, 15, btype='highpass', fs=rate)\n"
      "w = np.array([1, 2, 3, 3, 4, 5, 6, 8, 10, 12, 15, 19, 24, 30, 38, 48, 60, 75, 95, 119, 150, 189, 238, 300, "
      "378, 476, 599, 755, 951, 1197]); edges = 4 + np.concatenate([[0], np.cumsum(w)])\n"
      "def measure():\n"
      "    y = signal.lfilter(b, a, x)\n"
      "    m = min(n, 16384); s = np.abs(np.fft.fft(y[:m] * np.hanning(m), 16384))\n"
      "    bands = np.add.reduceat(s[:edges[-1]], edges[:-1])\n"
      "    e = y * y / rate; c = np.cumsum(e); t = e.sum()\n"
      "    k = int(np.argmax(c >= 0.05 * t)); d = np.cumsum(e[k + 1:]); j = int(np.argmax(d >= 0.9 * t))\n"
      "    return bands, d[j], np.max(y[k + 1:k + 2 + j] ** 2)\n"
      "tm = timeit.Timer(measure); k, _ = tm.autorange(); print(k / min(tm.repeat(5, k)))\n";
  std::string quoted;
  for (char ch : script) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  const auto result = test::RunTool(std::string(HYLO_PYTHON) + " -c '" + quoted + "'");
  return result.status == 0 ? std::strtod(result.output.c_str(), nullptr) : 0;
}

class Reporter final : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      for (const char* key : {"impulses/s", "x realtime"})
        if (const auto it = run.counters.find(key); it != run.counters.end())
          rates[run.benchmark_name().substr(0, run.benchmark_name().find("/min_time"))] = it->second.value;
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double numpy = NumpyImpulsesPerSecond();
  for (const auto& [name, rate] : reporter.rates) {
    if (name.starts_with("BM_Measure")) {
      std::printf("impulse measurement %s: %.0f impulses/s", name.c_str() + 11, rate);
      if (name.find("64000/25000") != std::string::npos && numpy > 0)
        std::printf("; numpy/scipy %.0f impulses/s (ratio %.2f)", numpy, rate / numpy);
      std::printf("\n");
    } else {
      std::printf("impulse candidate stage %s: %.0f x real time\n", name.c_str() + 14, rate);
    }
  }
  return 0;
}
