// The plots read back what they show: the pointer over a tone's line in the spectrogram reads
// the tone's frequency, and the axes carry their units.
#include <gtest/gtest.h>

#include <QMouseEvent>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

namespace {

// The row of the plot whose newest columns are brightest: where the tone's line is drawn.
int BrightestRow(const QImage& shot, const QRect& plot) {
  int best = -1;
  double bestSum = -1;
  for (int y = plot.top(); y <= plot.bottom(); ++y) {
    double sum = 0;
    for (int x = plot.right() - plot.width() / 20; x <= plot.right(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      sum += c.red() + c.green() + c.blue();
    }
    if (sum > bestSum) {
      bestSum = sum;
      best = y;
    }
  }
  return best;
}

// The frequency at the front of a readout ("1000.0 Hz   ..." or "12.50 kHz   ..."), in Hz.
double ReadoutHz(const QString& readout) {
  const QStringList parts = readout.split(' ', Qt::SkipEmptyParts);
  if (parts.size() < 2) return -1;
  return parts[0].toDouble() * (parts[1] == "kHz" ? 1000 : 1);
}

}  // namespace

TEST(PlotReadoutGui, PointerOnTheToneReadsItsFrequency) {
  auto sim = test::StartSimOnFreePorts({"--model", "hf", "--rate", "8000", "--tone", "1000:-6"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  hylo.JobSetup().SetStreamTransports({TRANSPORT_UDP, TRANSPORT_OFF});
  hylo.Groups().display.refreshRate = 0.1;
  hylo.Groups().display.topDisplay = app::kDisplaySpectrogram;
  hylo.Groups().display.bottomDisplay = app::kDisplaySpectrum;
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", sim.port}).Ok());
  app::MainWindow window(hylo);
  // Tall enough that the spectrogram has a pixel row for every bin: the readout can then
  // name the tone's own bin.
  window.resize(1200, 1900);
  window.TopDisplay()->setMinimumHeight(1100);
  window.show();
  hylo.RecordUiThread();
  window.StartButton()->click();
  app::SpectrogramWidget* gram = window.Spectrogram();
  ASSERT_TRUE(test::PumpUntil([&] { return gram->View() && gram->View()->columnsAdded > 40; }, 20000));
  test::PumpUntil([] { return false; }, 300);  // one more refresh draws the newest columns

  const QRect plot = gram->PlotRect();
  ASSERT_GE(plot.height(), 512);
  const int row = BrightestRow(gram->grab().toImage(), plot);
  const QPoint at(plot.right() - 3, row);
  QMouseEvent move(QEvent::MouseMove, QPointF(at), gram->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(gram, &move);
  const QString readout = gram->Readout();
  const double binHz = gram->View()->traces.back().binWidthHz;
  EXPECT_NEAR(binHz, 8000.0 / 1024, 0.01);
  EXPECT_NEAR(ReadoutHz(readout), 1000.0, binHz + 0.01) << readout.toStdString();
  EXPECT_TRUE(readout.contains(" s   ")) << "the time before now: " << readout.toStdString();
  EXPECT_TRUE(readout.endsWith(QString::fromStdString(gram->View()->unitText))) << readout.toStdString();
  EXPECT_TRUE(gram->ReadoutAt({0, 0}).isEmpty()) << "nothing outside the plot";

  window.StopButton()->click();
  hylo.MainExit();
}
