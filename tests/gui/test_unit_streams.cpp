// Every unit's data on screen over a serial link, where the status replies deliver it. The codes
// come from the settings file as a user's would, never set by the test on the context. (An HF
// unit on Ethernet streaming by UDP fills the displays in the scanning test.)
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <fstream>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/ScanUntil.h"
#include "support/SimProcess.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

struct Seen {
  bool waveform = false;
  bool spectrogram = false;
};

// Presses Start on the main window and waits for the time series and the spectrogram.
Seen StartAndWatch(test::GuiContext& gui) {
  Hylo& hylo = *gui.hylo;
  hylo.Groups().display.refreshRate = 0.1;
  hylo.Groups().display.topDisplay = app::kDisplaySpectrogram;
  hylo.Groups().display.bottomDisplay = app::kDisplayTimeSeries;
  app::MainWindow window(hylo);
  window.show();
  Seen seen;
  test::ScanUntil(gui, window, [&] {
    seen.waveform = seen.waveform || !window.TimeSeries()->Latest().volts.empty();
    const auto* view = window.Spectrogram()->View();
    seen.spectrogram = seen.spectrogram || (view && view->columnsAdded > 2);
    return seen.waveform && seen.spectrogram;
  });
  return seen;
}

void WriteSettings(const test::GuiContext& gui, int wave, int fft) {
  const fs::path folder = gui.dir.Path() / "settings";
  fs::create_directories(folder);
  std::ofstream(folder / "Hylo.ini") << "[Settings]\r\nCollect Wave Mode = " << wave << "\r\nCollect FFT Mode = " << fft
                                     << "\r\n";
}

void ConnectSerial(Hylo& hylo, const test::SimProcess& sim) {
  ASSERT_TRUE(HyloSession(hylo).Connect(SerialTarget{sim.PtyPath(), 256000}).Ok());
}

}  // namespace

// A unit on a pty streams nothing by socket: with the settings' TCP codes the status enquiry
// still carries waveform and spectrum to the time series and spectrogram.
TEST(UnitStreamsGui, LfAndHfUnitsOnASerialLinkShowTheirDataFromTheStatusEnquiry) {
  for (const char* model : {"lf", "hf"}) {
    SCOPED_TRACE(model);
    std::vector<std::string> args{"--pty", "--baud", "256000", "--model", model, "--tone", "250:-6", "--seconds", "60"};
    // Replies at the default scan interval carry 4000 samples a second: an HF unit on a serial
    // link is set to that rate, as its user would, so its waveform arrives whole.
    if (std::string_view(model) == "hf") args.insert(args.end(), {"--rate", "4000"});
    test::SimProcess sim(HYLO_SIM_BIN, args);
    ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
    test::GuiContext gui;
    WriteSettings(gui, TRANSPORT_TCP, TRANSPORT_TCP);
    Hylo& hylo = gui.Started();
    ASSERT_NO_FATAL_FAILURE(ConnectSerial(hylo, sim));
    ASSERT_EQ(hylo.Connection().ConnectionType(), LINK_SERIAL);
    const Seen seen = StartAndWatch(gui);
    EXPECT_TRUE(seen.waveform) << "waveform on the time series";
    EXPECT_TRUE(seen.spectrogram) << "spectra on the spectrogram";
    EXPECT_TRUE(hylo.Scan().LastPlan().periodicEnquiry);
    EXPECT_EQ(hylo.JobSetup().StreamTransports(), (StreamCodes{TRANSPORT_LINK, TRANSPORT_LINK}));
  }
}
