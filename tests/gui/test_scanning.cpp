// The main window's scanning controls against hylo-sim: Start brings the waveform onto the
// time series, Stop ends it, and the controls follow the scanning state.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <algorithm>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

namespace {

// hylo-sim as an HF unit at 8 kS/s with a 250 Hz tone, and a context connected to it.
struct ConnectedSim {
  int port = test::FreeLoopbackPort();
  test::SimProcess sim{
      HYLO_SIM_BIN,
      {"--model", "hf", "--port", std::to_string(port), "--rate", "8000", "--seconds", "60", "--tone", "250:-6"}};
  test::GuiContext gui;

  // Starts the context and connects; the waveform by UDP, spectra from the host FFT.
  void Connect() {
    ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
    Hylo& hylo = gui.Started();
    hylo.JobSetup().SetStreamTransports({TRANSPORT_UDP, TRANSPORT_OFF});
    hylo.Groups().display.refreshRate = 0.1;
    HyloSession session(hylo);
    ASSERT_TRUE(session.Connect(TcpTarget{"127.0.0.1", port}).Ok());
    ASSERT_EQ(session.Unit().modelCode, kModelHf);
  }
};

}  // namespace

// Three seconds of scanning fill every live display: the spectrogram image, the spectrum graph
// (its newest trace peaks at the tone) and the time series, each drawn from the prepared data.
// The controls follow the scanning state, and Stop ends it.
TEST(ScanningGui, StartFillsEveryLiveDisplayAndStopEndsScanning) {
  ConnectedSim connected;
  ASSERT_NO_FATAL_FAILURE(connected.Connect());
  test::GuiContext& gui = connected.gui;
  Hylo& hylo = *gui.hylo;
  hylo.Groups().display.topDisplay = app::kDisplaySpectrogram;
  hylo.Groups().display.bottomDisplay = app::kDisplaySpectrum;
  app::MainWindow window(hylo);
  window.resize(1200, 900);
  window.show();
  ASSERT_EQ(window.TopDisplay()->Type(), app::kDisplaySpectrogram);
  ASSERT_EQ(window.BottomDisplay()->Type(), app::kDisplaySpectrum);
  EXPECT_TRUE(window.StartButton()->isEnabled());
  EXPECT_FALSE(window.PauseButton()->isEnabled());
  EXPECT_FALSE(window.StopButton()->isEnabled());

  QImage gram, graph, series;
  std::uint64_t columns = 0;
  bool controlsWhileScanning = false, controlsAfterStop = false;
  hylo.SetEndEventLoop([] { QCoreApplication::quit(); });
  QTimer::singleShot(0, [&] { window.StartButton()->click(); });
  QTimer::singleShot(3000, [&] {
    controlsWhileScanning =
        !window.StartButton()->isEnabled() && window.PauseButton()->isEnabled() && window.StopButton()->isEnabled();
    columns = window.Spectrogram()->View() ? window.Spectrogram()->View()->columnsAdded : 0;
    gram = window.Spectrogram()->grab().toImage();
    graph = window.Spectrum()->grab().toImage();
    // The bottom display switched to the time series draws the traces it was given.
    window.BottomDisplay()->SetType(app::kDisplayTimeSeries);
    series = window.TimeSeries()->grab().toImage();
    window.StopButton()->click();
    // The model's changes reach the buttons through the event loop.
    QTimer::singleShot(200, [&] {
      controlsAfterStop = window.StartButton()->isEnabled() && !window.StopButton()->isEnabled();
      hylo.MainExit();
    });
  });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
  hylo.RecordUiThread();
  gui.notices.Open();
  EXPECT_EQ(QApplication::exec(), 0);
  gui.notices.Close();

  EXPECT_TRUE(controlsWhileScanning);
  EXPECT_TRUE(controlsAfterStop);
  EXPECT_FALSE(hylo.Scan().Active());
  EXPECT_FALSE(hylo.Data().Channels().Open(STREAM_WAVE));
  EXPECT_GT(columns, 4U) << "spectra scrolled into the spectrogram";
  const QImage& image = window.Spectrogram()->Image();
  int lit = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 700; x < image.width(); ++x) lit += image.pixel(x, y) != qRgb(0, 0, 0);
  }
  EXPECT_GT(lit, 20) << "the newest columns of the spectrogram image are drawn";
  const auto& traces = window.Spectrum()->View().traces;
  ASSERT_FALSE(traces.empty());
  const auto& levels = traces.back().levels;
  const auto peak = std::max_element(levels.begin(), levels.end()) - levels.begin();
  EXPECT_NEAR(static_cast<double>(peak) * traces.back().binWidthHz, 250.0, 8.0);
  const TraceView& trace = window.TimeSeries()->Latest();
  EXPECT_EQ(trace.sampleRate, 8000U);
  EXPECT_FALSE(trace.volts.empty());
  EXPECT_GT(trace.smoothedRms, 0.0);
  // Each widget put something other than its black background on screen.
  for (const QImage* shot : {&gram, &graph, &series}) {
    ASSERT_FALSE(shot->isNull());
    int coloured = 0;
    for (int y = 20; y < shot->height(); y += 2) {
      for (int x = 45; x < shot->width() - 60; x += 2) {
        const QRgb c = shot->pixel(x, y);
        coloured += c != qRgb(0, 0, 0) && c != qRgb(60, 60, 60) && c != qRgb(255, 255, 255);
      }
    }
    EXPECT_GT(coloured, 20);
  }
}
