// The main window's display controls offscreen: display-type choices that persist in the
// settings file, the colour-map span clamped and shown back, the horizontal span reaching
// the spectrogram store, the message line, and the status and orientation panels.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstring>
#include <thread>

#include "DisplayTypes.h"
#include "MainWindow.h"
#include "context/Hylo.h"
#include "core/Post.h"
#include "display/HyloUIUpdate.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "stream/HyloProcMsg.h"
#include "support/GuiContext.h"

using namespace hylo;

namespace {

void Choose(QComboBox* choice, int type) {
  const int index = choice->findData(type);
  ASSERT_GE(index, 0) << type;
  choice->setCurrentIndex(index);
  emit choice->activated(index);
}

}  // namespace

TEST(DisplayControlsGui, DisplayChoicesPersistAndAnUnknownStoredTypeFallsBack) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  hylo.Groups().display.topDisplay = 42;  // from a newer version, say
  {
    app::MainWindow window(hylo);
    EXPECT_EQ(window.TopDisplay()->Type(), app::kDisplaySpectrogram);
    EXPECT_EQ(window.BottomDisplay()->Type(), app::kDisplayTimeSeries);
    EXPECT_EQ(window.TopDisplay()->Choice()->findData(app::kDisplayBands), -1) << "bands are for the bottom only";
    EXPECT_GE(window.BottomDisplay()->Choice()->findData(app::kDisplayBands), 0);
    Choose(window.TopDisplay()->Choice(), app::kDisplayLevels);
    Choose(window.BottomDisplay()->Choice(), app::kDisplaySpectrum);
    EXPECT_EQ(window.TopDisplay()->Type(), app::kDisplayLevels);
    EXPECT_EQ(window.BottomDisplay()->Type(), app::kDisplaySpectrum);
    EXPECT_EQ(window.Spectrum(), window.BottomDisplay()->Spectrum());
  }
  hylo.MainExit();
  HyloIni saved;
  ASSERT_EQ(saved.SettingsLoad(hylo.Settings().SettingsPath()), HyloIni::kLoaded);
  std::int64_t top = -1, bottom = -1;
  EXPECT_TRUE(saved.GetInt("Settings", "Top Display", top) && saved.GetInt("Settings", "Bottom Display", bottom));
  EXPECT_EQ(top, app::kDisplayLevels);
  EXPECT_EQ(bottom, app::kDisplaySpectrum);
}

TEST(DisplayControlsGui, ColourMapSpanHorizontalSpanAndMessageLine) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  HyloSpectrum& spectrum = hylo.Data().Displays().Spectrum();

  window.ColourMap()->setValue(5);
  EXPECT_EQ(window.ColourMap()->value(), 15) << "raised and shown back";
  EXPECT_EQ(spectrum.View().colourMapSpan, 15);
  window.ColourMap()->setValue(250);
  EXPECT_EQ(window.ColourMap()->value(), 200);
  EXPECT_EQ(hylo.Groups().spectrum.colourMapPeak, 200U) << "held for the settings";

  // The span control's entries are the spans of the levels; choosing one zooms the store.
  EXPECT_EQ(window.HorizontalSpan()->itemText(0), "200 s");
  EXPECT_EQ(window.HorizontalSpan()->itemText(1), "13.3 min");
  window.SetHorizAxis(2);
  EXPECT_TRUE(test::PumpUntil([&] { return spectrum.ZoomLevel() == 2; }));
  EXPECT_DOUBLE_EQ(spectrum.SetHorizAxis(), 3200);
  window.RefreshTicker();
  EXPECT_EQ(window.HorizontalSpan()->currentIndex(), 2) << "the control follows the level in view";
  EXPECT_EQ(window.Spectrogram()->View()->zoomLevel, 2);

  // A reference level typed in reaches the spectrogram's table.
  window.ReferenceLevel()->setValue(63);
  EXPECT_TRUE(test::PumpUntil([&] { return spectrum.View().displayReference == 63; }));
  window.ReferenceUnit()->setCurrentIndex(1);  // dBV
  emit window.ReferenceUnit()->activated(1);
  EXPECT_EQ(window.ReferenceLevel()->value(), 63 - 171) << "the same physical level in the new unit";
  EXPECT_TRUE(test::PumpUntil([&] { return spectrum.View().unitText == "dBV"; }));

  hylo.MainPanel().SetValue(mainpanel::kMessageLine, std::string("12:00:00 - HF time synced"));
  EXPECT_TRUE(test::PumpUntil([&] { return window.MessageLine()->text() == "12:00:00 - HF time synced"; }));
  hylo.MainExit();
}

TEST(DisplayControlsGui, StatusAndOrientationPanelsShowTheRefreshedStatus) {
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  app::MainWindow window(hylo);
  app::StatusPanel* status = window.OpenStatusPanel();
  app::OrientationPanel* orientation = window.OpenTiltMagPanel();
  EXPECT_EQ(orientation->windowTitle(), "Accelerometer/Magnetometer");

  hylo.Data().Status().SetTemperature(215);
  hylo.Data().Status().SetOrientation({0, 0, 1000, 3, 0, 4});
  window.RefreshTicker();  // the refresh runs on UiUpdateThread
  EXPECT_TRUE(test::PumpUntil([&] { return status->Field(statuspanel::kAccel[2])->text() == "1.000"; }));
  EXPECT_TRUE(test::PumpUntil([&] { return orientation->Magnitude(true)->text() == "|Mag| 500"; }));
  EXPECT_EQ(orientation->Magnitude(false)->text(), "|Accel| 1.000 g");
  EXPECT_NE(status->Field(statuspanel::kEnvironment)->text().indexOf("21.5'C"), -1);
  window.RefreshTicker();
  ASSERT_EQ(orientation->Chart(2)->Values().size(), 1U);
  EXPECT_DOUBLE_EQ(orientation->Chart(2)->Values()[0], 1.0);
  EXPECT_DOUBLE_EQ(orientation->Chart(5)->Values()[0], 400.0);
  // Indicator codes for the host row, and the battery gauge from the refresh.
  ASSERT_TRUE(Post(hylo.Threads(), UI_UPDATE_THREAD, MSG_STATUS_LEDS, [](MessageNode& leds) {
    const std::uint8_t codes[6] = {2, 1, 7, 3, 2, 0};
    std::memcpy(leds.payload, codes, 6);
    const std::uint32_t host = 1;
    std::memcpy(leds.payload + 8, &host, 4);
  }));
  EXPECT_TRUE(test::PumpUntil([&] { return window.IndicatorColour("Host", 0) == QColor(0x00, 0xFF, 0x00); }));
  EXPECT_EQ(window.IndicatorColour("Host", 1), QColor(0x32, 0x64, 0xFF));
  EXPECT_EQ(window.IndicatorColour("Host", 2), QColor(Qt::white)) << "an unknown code is white";
  EXPECT_EQ(window.IndicatorColour("Host", 3), QColor(0xFF, 0xFF, 0x00));
  hylo.Data().Status().SetBattery(80, 1);
  window.RefreshTicker();
  EXPECT_TRUE(test::PumpUntil([&] { return window.BatteryGauge()->value() == 8; }));
  EXPECT_TRUE(test::PumpUntil([&] { return window.StatusLabel(statuspanel::kBattery)->text() == "80%, Charging"; }));

  auto* sync = window.findChild<QLabel*>("syncIndicator");
  ASSERT_NE(sync, nullptr);
  EXPECT_TRUE(test::PumpUntil([&] { return sync->isHidden(); })) << "no unit, no sync indicator";
  hylo.MainExit();
}
