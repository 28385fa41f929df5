#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "MainWindow.h"
#include "QtOperator.h"
#include "context/Hylo.h"
#include "display/HyloUIUpdate.h"
#include "stream/StreamBytes.h"
#include "support/GuiContext.h"
#include "support/StreamWriter.h"

using namespace hylo;

TEST(LiveDisplaysGui, StreamDataReachesTheGraphsAndStatusReachesTheLabels) {
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  app::QtOperator& notices = gui.notices;
  ASSERT_EQ(hylo.Start(), 0);
  hylo.JobSetup().SetStreamTransports({TRANSPORT_TCP, TRANSPORT_OFF});
  hylo.Groups().display.refreshRate = 0.1;
  app::MainWindow window(hylo);
  window.show();

  // A 250 Hz tone at 8 kS/s, fed as the waveform socket reader would.
  const std::uint32_t rate = 8000;
  std::vector<std::uint8_t> stream = test::WaveDescription(rate, 8388607, -8388608);
  for (std::uint64_t first = 0; first < 3 * rate; first += 400) {
    test::Writer w = test::DataHead(static_cast<std::uint32_t>(first % rate), 1, 3, 400, first - first % rate);
    for (int i = 0; i < 400; ++i) {
      const auto v = static_cast<std::uint32_t>(std::lround(4e6 * std::sin(2 * M_PI * 250.0 * (first + i) / rate)));
      w.U8(static_cast<int>((v >> 16) & 0xFF)).U8(static_cast<int>((v >> 8) & 0xFF)).U8(static_cast<int>(v & 0xFF));
    }
    const auto bytes = w.Done();
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  for (std::size_t at = 0; at < stream.size(); at += kStreamReadBytes) {
    const auto read = std::span(stream).subspan(at, std::min(kStreamReadBytes, stream.size() - at));
    ASSERT_TRUE(PostStreamBytes(hylo.Threads(), MSG_WAVE_STREAM_BYTES, read));
  }

  hylo.SetEndEventLoop([] { QCoreApplication::quit(); });
  QTimer::singleShot(1500, [&] {
    const QImage shot = window.grab().toImage();
    if (const char* out = std::getenv("HYLO_SCREENSHOT")) shot.save(out);
    hylo.MainExit();
  });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
  hylo.RecordUiThread();
  notices.Open();
  EXPECT_EQ(QApplication::exec(), 0);
  notices.Close();

  const TraceView& trace = window.TimeSeries()->Latest();
  EXPECT_EQ(trace.sampleRate, rate);
  EXPECT_FALSE(trace.volts.empty());
  EXPECT_LT(trace.smoothedRms, 0.85) << "a tone of 1.19 V peak, 0.84 V RMS";
  EXPECT_GT(trace.smoothedRms, 0.1);
  // The stream description carries 21.5 °C and 45.3 % RH.
  EXPECT_EQ(window.StatusLabel(statuspanel::kEnvironment)->text(), "21.5'C 45.3% RH");
  // The host FFT made spectra: the newest trace peaks at 250 Hz.
  const auto& traces = window.Spectrum()->View().traces;
  ASSERT_FALSE(traces.empty());
  const auto& levels = traces.back().levels;
  const auto peak = std::max_element(levels.begin(), levels.end()) - levels.begin();
  EXPECT_NEAR(peak * traces.back().binWidthHz, 250.0, 8.0);
}
