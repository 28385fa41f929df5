// UI-thread time per display refresh at 512000 samples/s with both display areas shown:
// the prepared arrays copied from the stores, handed to the widgets, and both areas painted
// into an offscreen image. The data side (spectra and blocks arriving) runs untimed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "DisplayArea.h"
#include "core/HyloNodes.h"
#include "display/HyloSpectrum.h"
#include "display/HyloTimeSeries.h"

namespace {

constexpr std::uint32_t kRate = 512000;

struct Stores {
  hylo::HyloSpectrum spectrum;
  hylo::HyloTimeSeries series;
  hylo::HyloNodes nodes;
  hylo::SampleBuffer* buffer = nullptr;
  std::mt19937 random{7};
  std::uint64_t block = 0;

  Stores() {
    nodes.CreateNodePool();
    nodes.CreateSampleBufferPool();
    buffer = nodes.AcquireSampleBuffer();
    for (int i = 0; i < hylo::kSpectrogramColumns; ++i) AddSpectrum();
  }
  ~Stores() { nodes.ReleaseSampleBuffer(buffer); }

  void AddSpectrum() {
    hylo::SpectrumRecord r{};
    r.binCount = 512;
    r.sampleRate = kRate;
    r.recordSeconds = 0.25;
    r.levelsValid = 1;
    r.rmsLevel = 100 + random() % 10;
    r.peakToPeakLevel = r.rmsLevel + 9;
    r.zeroToPeakLevel = r.rmsLevel + 3;
    for (int b = 0; b < 512; ++b) r.bins[b] = static_cast<std::uint8_t>(90 + random() % 40 + (b == 100 ? 80 : 0));
    spectrum.AddSpectrum(r);
  }

  // One refresh period's block at 512 kS/s (0.5 s, the default refresh).
  void AddBlock() {
    hylo::WaveformRecord r{};
    r.sampleBuffer = buffer;
    r.sampleCount = kRate / 2;
    r.sampleRate = kRate;
    r.voltsPerCount = 1e-7;
    auto* s = reinterpret_cast<std::int32_t*>(buffer->data);
    for (std::uint32_t i = 0; i < r.sampleCount; ++i)
      s[i] = static_cast<std::int32_t>(
          1e6 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(block * r.sampleCount + i) / kRate));
    ++block;
    series.AddTrace(r);
  }
};

void UiRefresh(benchmark::State& state, int top, int bottom) {
  Stores stores;
  hylo::app::DisplayArea upper("Top Display", "topDisplay", false);
  hylo::app::DisplayArea lower("Bottom Display", "bottomDisplay", true);
  upper.SetType(top);
  lower.SetType(bottom);
  QImage canvas(1180, 380, QImage::Format_RGB32);
  for (auto* area : {&upper, &lower}) {
    area->resize(canvas.size());
    area->show();
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 4; ++i) stores.AddSpectrum();  // what UiUpdateThread stored since the last tick
    stores.AddBlock();
    state.ResumeTiming();
    const auto view = std::make_shared<const hylo::SpectrogramView>(stores.spectrum.View());
    const hylo::TraceView trace = stores.series.DrawTrace();
    for (auto* area : {&upper, &lower}) {
      area->ShowSpectra(view);
      area->ShowTrace(trace);
      area->render(&canvas);
    }
    benchmark::DoNotOptimize(canvas.constBits());
  }
  state.SetLabel("per refresh, 512 kS/s, 800-column spectrogram, 10 traces");
}

void BM_UiRefresh_SpectrogramAndTimeSeries(benchmark::State& state) {
  UiRefresh(state, hylo::app::kDisplaySpectrogram, hylo::app::kDisplayTimeSeries);
}
void BM_UiRefresh_SpectrogramAndSpectrum(benchmark::State& state) {
  UiRefresh(state, hylo::app::kDisplaySpectrogram, hylo::app::kDisplaySpectrum);
}
BENCHMARK(BM_UiRefresh_SpectrogramAndTimeSeries)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UiRefresh_SpectrogramAndSpectrum)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The offscreen platform warns about every top-level window; the figures are what matter.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtWarningMsg && type != QtDebugMsg && type != QtInfoMsg) fprintf(stderr, "%s\n", qPrintable(text));
  });
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
