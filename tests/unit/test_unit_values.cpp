// The stream transport codes held once (the job setup), the settings that load them, and
// status values a user sees, also while other threads write them.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "config/HyloSetup.h"
#include "context/Hylo.h"
#include "shell/ScriptedOperator.h"
#include "stream/StatusStore.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;

namespace {

void WriteSettings(const TempDir& dir, const std::string& lines) {
  fs::create_directories(dir.Path() / "settings");
  std::ofstream(dir.Path() / "settings" / "Hylo.ini") << "[Settings]\r\n" << lines;
}

}  // namespace

TEST(StreamCodes, TheSettingsKeysLoadAndSaveTheJobSetupsCodesAndEveryReaderSeesThem) {
  TempDir dir;
  WriteSettings(dir, "Collect Wave Mode = 1\r\nCollect FFT Mode = 7\r\n");
  ScriptedOperator op;
  {
    Hylo hylo(op, TestOptions(dir));
    ASSERT_EQ(hylo.Start(), 0);
    EXPECT_EQ(hylo.JobSetup().StreamTransports(), (StreamCodes{TRANSPORT_UDP, TRANSPORT_TCP}))
        << "an unknown code is taken as the default";
    EXPECT_EQ(hylo.Data().Transports(), hylo.JobSetup().StreamTransports());
    hylo.JobSetup().SetStreamTransports({TRANSPORT_LINK, TRANSPORT_OFF});
    EXPECT_EQ(hylo.Data().Transports(), (StreamCodes{TRANSPORT_LINK, TRANSPORT_OFF}));
    EXPECT_EQ(hylo.MainWork().StreamMask(), 0x2028) << "the enquiry asks for the waveform block only";
    hylo.MainExit();
  }
  HyloIni saved;
  ASSERT_EQ(saved.SettingsLoad(dir.Path() / "settings" / "Hylo.ini"), HyloIni::kLoaded);
  int wave = -1, fft = -1;
  EXPECT_TRUE(saved.GetInt("Settings", "Collect Wave Mode", wave) && saved.GetInt("Settings", "Collect FFT Mode", fft));
  EXPECT_EQ((StreamCodes{wave, fft}), (StreamCodes{TRANSPORT_LINK, TRANSPORT_OFF}));
}

TEST(StreamCodes, FittedToTheUnitAndLinkBeforeAStart) {
  using setup::SetupContext;
  const struct {
    const char* unit;
    std::uint8_t model;
    bool serial;
    StreamCodes before, after;
  } cases[] = {
      {"LF on Ethernet", kModelLf, false, {TRANSPORT_TCP, TRANSPORT_UDP}, {TRANSPORT_LINK, TRANSPORT_LINK}},
      {"HF on a serial link", kModelHf, true, {TRANSPORT_TCP, TRANSPORT_OFF}, {TRANSPORT_LINK, TRANSPORT_OFF}},
      {"AF on a serial link", kModelAf, true, {TRANSPORT_LINK, TRANSPORT_UDP}, {TRANSPORT_LINK, TRANSPORT_LINK}},
      {"HF on Ethernet", kModelHf, false, {TRANSPORT_UDP, TRANSPORT_LINK}, {TRANSPORT_UDP, TRANSPORT_LINK}},
      {"LF, streams off", kModelLf, true, {TRANSPORT_OFF, TRANSPORT_OFF}, {TRANSPORT_OFF, TRANSPORT_OFF}},
  };
  for (const auto& c : cases) {
    setup::JobSetup s;
    s.waveStreamCode = c.before.wave;
    s.fftStreamCode = c.before.fft;
    SetupContext ctx;
    ctx.model = c.model;
    ctx.serialLink = c.serial;
    setup::FitStreamCodes(s, ctx);
    EXPECT_EQ((StreamCodes{s.waveStreamCode, s.fftStreamCode}), c.after) << c.unit;
  }
}

TEST(StreamCodes, BuildingTheSetupKeepsAUdpChoiceOnEthernet) {
  setup::SetupContext ctx;
  ctx.model = kModelHf;
  ctx.firmware = Firmware(2, 1, 0);
  setup::Notices notices;
  for (const auto& [before, serial, after] :
       {std::tuple{TRANSPORT_UDP, false, TRANSPORT_UDP}, std::tuple{TRANSPORT_TCP, false, TRANSPORT_TCP},
        std::tuple{TRANSPORT_LINK, false, TRANSPORT_TCP}, std::tuple{TRANSPORT_UDP, true, TRANSPORT_LINK}}) {
    setup::JobSetup s;
    s.waveStreamCode = s.fftStreamCode = before;
    ctx.serialLink = serial;
    setup::BuildWaveSetup(s, ctx, notices);
    setup::BuildFftSetup(s, ctx, notices);
    EXPECT_EQ(s.waveStreamCode, after) << before << (serial ? " serial" : " Ethernet");
    EXPECT_EQ(s.fftStreamCode, after) << before << (serial ? " serial" : " Ethernet");
  }
}

// A status reply that carries one of temperature and humidity leaves the other as it was;
// "Display In UTC" reaches the clock.
TEST(StatusValues, OneEnvironmentValueLeavesTheOtherAndDisplayInUtcIsApplied) {
  TempDir dir;
  WriteSettings(dir, "Display In UTC = 1\r\n");
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  EXPECT_TRUE(hylo.Data().Status().Copy().displayUtc);
  DeviceIdentity unit;
  unit.modelCode = kModelHf;
  hylo.Data().SetIdentity(unit);
  StatusReplyHandler& replies = hylo.Data().StatusReplies();
  // Flags 0x02 humidity, 0x04 temperature; values little-endian tenths, humidity first.
  ASSERT_EQ(replies.HandleStatusReply(std::vector<std::uint8_t>{0x06, 0xC2, 0x01, 0xD7, 0x00}), 0);
  ASSERT_EQ(replies.HandleStatusReply(std::vector<std::uint8_t>{0x04, 0xE1, 0x00}), 0);
  EXPECT_EQ(hylo.Data().Status().GetTemperature(), 225);
  EXPECT_EQ(hylo.Data().Status().GetHumidity(), 450) << "a temperature-only reply keeps the humidity";
  ASSERT_EQ(replies.HandleStatusReply(std::vector<std::uint8_t>{0x02, 0xF4, 0x01}), 0);
  EXPECT_EQ(hylo.Data().Status().GetHumidity(), 500);
  EXPECT_EQ(hylo.Data().Status().GetTemperature(), 225) << "a humidity-only reply keeps the temperature";
  hylo.MainExit();
}

TEST(StatusStore, OrientationIsTakenOnce) {
  StatusStore store;
  store.SetOrientation({1, 2, 3, 4, 5, 6});
  EXPECT_TRUE(store.Copy(true).orientationNew);
  EXPECT_FALSE(store.Copy(true).orientationNew);
  EXPECT_EQ(store.Copy().orientation[5], 6);
}

TEST(StatusStore, ConcurrentWritersAndTheCopyingReaderStayConsistent) {
  StatusStore store;
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) {
      store.SetTemperature(i % 500);
      store.SetHumidity(i % 700);
    }
  });
  for (int i = 0; i < 20000; ++i) {
    const StatusValues v = store.Copy();
    ASSERT_GE(v.temperature, 0);
    ASSERT_LT(v.temperature, 500);
  }
  writer.join();
  EXPECT_EQ(store.GetTemperature(), 19999 % 500);
  EXPECT_EQ(store.GetHumidity(), 19999 % 700);
}
