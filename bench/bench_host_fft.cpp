// Host FFT spectra per second in WaveThread (frames of 1024, mean removed, Hann, power
// accumulated over ceil(rate / 4096) frames, byte scale), against numpy computing the same
// spectra from the same kind of samples. numpy's figure is taken in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "processing/HyloProcWave.h"
#include "support/RunTool.h"

using namespace hylo;

namespace {

std::map<std::uint32_t, double> ourSpectraPerSecond;

void BM_HostFft(benchmark::State& state) {
  const auto rate = static_cast<std::uint32_t>(state.range(0));
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0, 1e6);
  std::vector<std::int32_t> signal(1 << 20);
  for (auto& v : signal) v = static_cast<std::int32_t>(std::lround(noise(random)));

  HyloNodes nodes;
  nodes.CreateNodePool();
  HyloProcWave wave(nodes);
  std::uint64_t spectra = 0;
  HyloProcWave::Context c;
  c.fftTransport = [] { return 0; };
  c.postFft = [&](MessageNode* n) {
    ++spectra;
    nodes.FreeNode(n);
    return 1;
  };
  wave.SetContext(c);
  MessageNode* node = nodes.AllocNode(MSG_WAVEFORM, 1);
  auto& r = node->As<WaveformRecord>();
  r = WaveformRecord{};
  r.sampleFormat = 3;
  r.sampleRate = rate;
  r.rangeVolts = 5.0;
  r.sampleCount = kWaveformRecordSamples;
  std::uint64_t first = 0;
  for (auto _ : state) {
    // Records until one more spectrum is out: the unit of work is one spectrum.
    for (const std::uint64_t target = spectra + 1; spectra < target;) {
      r.firstSample = first;
      r.blockOffset = static_cast<std::uint32_t>(first % rate);
      r.timeStamp = static_cast<std::uint32_t>(first / rate);
      const std::size_t at = first % (signal.size() - kWaveformRecordSamples);
      std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(at), kWaveformRecordSamples, r.samples);
      wave.ProcessWaveform(r);
      first += kWaveformRecordSamples;
    }
  }
  nodes.FreeNode(node);
  state.counters["spectra/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frames"] = static_cast<double>((rate + 4095) / 4096);
}
BENCHMARK(BM_HostFft)->Arg(64000)->Arg(512000)->UseRealTime()->MinTime(2.0);

// Captures our spectra/s per rate from the run's reports.
class Reporter final : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const auto it = run.counters.find("spectra/s");
      const auto slash = run.benchmark_name().find('/');
      if (it != run.counters.end() && slash != std::string::npos) {
        const auto rate = std::strtoul(run.benchmark_name().c_str() + slash + 1, nullptr, 10);
        ourSpectraPerSecond[static_cast<std::uint32_t>(rate)] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// numpy's spectra per second for the same frames per spectrum, best of five timeit repeats.
// With `keepHeap` glibc keeps freed temporaries instead of handing each 1 MB array back to
// the system and faulting it in again, which dominates numpy's time at 125 frames.
double NumpySpectraPerSecond(std::uint32_t rate, bool keepHeap) {
  const std::string script =
      "import numpy as np, timeit, sys\n"
      "from scipy.signal import get_window\n"
      "rate = int(sys.argv[1]); frames = (rate + 4095) // 4096\n"
      "x = np.rint(np.random.default_rng(3).standard_normal(frames * 1024) * 1e6).astype(np.int32)\n"
      "w = get_window('hann', 1024)\n"
      "ref = 4.259 + 3.0103 + (-60.206 - 20*np.log10(2**24/(5.0*1e9)))\n"
      "def spectrum():\n"
      "    f = x.astype(np.float64).reshape(frames, 1024)\n"
      "    f = (f - f.mean(axis=1, keepdims=True)) * w\n"
      "    p = (np.abs(np.fft.rfft(f, axis=1)[:, :512])**2).mean(axis=0)\n"
      "    L = np.where(p != 0, ref + 10*np.log10(np.where(p != 0, p, 1)), 0)\n"
      "    return np.where(L < 0, 0, np.where(L >= 254.5, 255, np.floor(L + 0.5))).astype(np.uint8)\n"
      "t = timeit.Timer(spectrum)\n"
      "n, _ = t.autorange()\n"
      "print(n / min(t.repeat(5, n)))\n";
  std::string quoted;
  for (char ch : script) {
    if (ch == '\'') {
      quoted += "'\\''";
    } else {
      quoted += ch;
    }
  }
  const std::string env = keepHeap ? "MALLOC_TRIM_THRESHOLD_=268435456 MALLOC_MMAP_THRESHOLD_=268435456 " : "";
  const auto result = test::RunTool(env + HYLO_PYTHON + " -c '" + quoted + "' " + std::to_string(rate));
  return result.status == 0 ? std::strtod(result.output.c_str(), nullptr) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const auto& [rate, ours] : ourSpectraPerSecond) {
    const double numpy = NumpySpectraPerSecond(rate, false);
    const double numpyKept = NumpySpectraPerSecond(rate, true);
    if (numpy > 0 && numpyKept > 0) {
      std::printf(
          "host FFT at %u S/s (%u frames per spectrum): %.0f spectra/s; numpy %.0f spectra/s (ratio %.2f), "
          "numpy with its heap kept %.0f spectra/s (ratio %.2f)\n",
          rate, (rate + 4095) / 4096, ours, numpy, ours / numpy, numpyKept, ours / numpyKept);
    } else {
      std::printf("host FFT at %u S/s: %.0f spectra/s; numpy figure unavailable (%s)\n", rate, ours, HYLO_PYTHON);
    }
  }
  return 0;
}
