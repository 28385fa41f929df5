// The main window's scanning controls against hylo-sim: Start brings the waveform onto the
// time series, Stop ends it, and the controls follow the scanning state.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <thread>

#include "MainWindow.h"
#include "core/Hylo.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(ScanningGui, StartShowsTheSimulatorsWaveformAndStopEndsScanning) {
  const int port = test::FreeLoopbackPort();
  test::SimProcess sim(HYLO_SIM_BIN, {"--model", "hf", "--port", std::to_string(port), "--rate", "8000", "--seconds",
                                      "60", "--tone", "250:-6"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  ASSERT_EQ(hylo.Start(), 0);
  hylo.Groups().display.collectWaveMode = TRANSPORT_UDP;
  hylo.Groups().display.collectFftMode = TRANSPORT_OFF;
  hylo.Groups().display.refreshRate = 0.1;
  ConnectRequest request;
  request.op = 1;
  std::strcpy(request.address, "127.0.0.1");
  request.port = static_cast<std::uint16_t>(port);
  request.timeoutMs = 1000;
  ASSERT_EQ(hylo.Connection().HandleConnectRequest(request), 0);
  for (int i = 0; i < 300 && hylo.Connection().Identity().modelCode == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(hylo.Connection().Identity().modelCode, kModelHf);

  app::MainWindow window(hylo);
  window.show();
  EXPECT_TRUE(window.StartButton()->isEnabled());
  EXPECT_FALSE(window.PauseButton()->isEnabled());
  EXPECT_FALSE(window.StopButton()->isEnabled());

  bool sawWaveform = false, controlsWhileScanning = false, controlsAfterStop = false;
  hylo.SetEndEventLoop([] { QCoreApplication::quit(); });
  QTimer::singleShot(0, [&] { window.StartButton()->click(); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const TraceView& trace = window.TimeSeries()->Latest();
    if (trace.volts.empty() || trace.sampleRate != 8000) return;
    poll.stop();
    sawWaveform = true;
    controlsWhileScanning =
        !window.StartButton()->isEnabled() && window.PauseButton()->isEnabled() && window.StopButton()->isEnabled();
    window.StopButton()->click();
    // The model's changes reach the buttons through the event loop.
    QTimer::singleShot(200, [&] {
      controlsAfterStop = window.StartButton()->isEnabled() && !window.StopButton()->isEnabled();
      hylo.MainExit();
    });
  });
  poll.start(50);
  QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
  hylo.RecordUiThread();
  gui.notices.Open();
  EXPECT_EQ(QApplication::exec(), 0);
  gui.notices.Close();

  EXPECT_TRUE(sawWaveform) << "the waveform reached the time series";
  EXPECT_TRUE(controlsWhileScanning);
  EXPECT_TRUE(controlsAfterStop);
  EXPECT_FALSE(hylo.Scan().Active());
  EXPECT_FALSE(hylo.Data().Channels().Open(STREAM_WAVE));
}
