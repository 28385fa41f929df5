#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "files/HyloWav.h"
#include "settings/HyloIni.h"
#include "shell/ScriptedOperator.h"
#include "support/DialogOperator.h"
#include "support/FileSizeLimit.h"
#include "support/RunTool.h"
#include "support/SoundFile.h"
#include "support/TempDir.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kTime = 1614834367;  // 2021-03-04 05:06:07 UTC

// 24-bit little-endian samples of a ramp that starts at `first`.
std::vector<std::uint8_t> Ramp24(int count, int first) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    const int v = (first + i) * 997 % 8000000 - 4000000;
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    bytes.push_back(static_cast<std::uint8_t>(v >> 16));
  }
  return bytes;
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::vector<std::uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Wav : ::testing::Test {
  test::TempDir dir;
  HyloIni ini;
  ScriptedOperator op;
  WavSettings settings{dir.Path()};
  HyloWav wav{ini, op, settings};
  int stops = 0;
  void SetUp() override {
    settings.path = (dir.Path() / "wav").string();
    settings.captureEnabled = true;
    wav.SetStopDataCollection([this] { ++stops; });
    wav.SetHeaderSource([] {
      WavHeaderInfo info;
      info.identity.modelCode = 5;
      info.identity.unitNumber = 1234;
      info.identity.interfaceCode = 3;
      info.identity.hardwareRevision = 2;
      info.sensitivityDb = -170;
      info.humidityTenths = 450;
      info.temperatureTenths = 125;
      return info;
    });
  }
  WavBlock Block(const std::vector<std::uint8_t>& samples, int rate, std::uint32_t time = kTime) {
    WavBlock b;
    b.sampleWidth = 3;
    b.blockTime = time;
    b.sampleRate = rate;
    b.sampleCount = static_cast<int>(samples.size() / 3);
    b.fullScaleRange = 3.0;
    b.samples = samples;
    return b;
  }
};

}  // namespace

TEST_F(Wav, HeaderCarriesTheInstrumentAndCalibrationComment) {
  const auto samples = Ramp24(1000, 0);
  ASSERT_EQ(wav.WavLogWrite(Block(samples, 1000)), 0);
  const fs::path path = wav.FilePath();
  EXPECT_EQ(path.filename(), "Data_00001.wav");
  wav.WavLogClose();
  const auto bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), kWavHeaderBytes + 3000);
  // The other info texts are checked through exiftool below.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[200])),
            "1.500000 V pk, -170 dBV re 1uPa, 45.0 % RH, 12.5 deg C, 8388608 = Max Count");
  EXPECT_EQ(U32(bytes, 16), 292U);
  EXPECT_EQ(U32(bytes, 328), 3000U);
  EXPECT_EQ(settings.nextIndex, 2);
}

TEST_F(Wav, RealReadersAgreeOnFormatSamplesAndInfo) {
  if (!test::HaveTool("soxi") || !test::HaveTool("exiftool")) GTEST_SKIP() << "sox or exiftool missing";
  const int rate = 8000;
  for (int block = 0; block < 10; ++block)  // 10 s of a 1-minute file
    ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(rate, block * rate), rate, kTime + block)), 0);
  const fs::path path = wav.FilePath();
  wav.WavLogClose();
  const auto soxi = test::RunTool("soxi " + test::Quoted(path));
  EXPECT_NE(soxi.output.find("Sample Rate    : 8000"), std::string::npos) << soxi.output;
  EXPECT_NE(soxi.output.find("Precision      : 24-bit"), std::string::npos) << soxi.output;
  EXPECT_NE(soxi.output.find("00:00:10.00 = 80000 samples"), std::string::npos) << soxi.output;
  const auto exif =
      test::RunTool("exiftool -s -Artist -Product -Software -Comment -DateCreated -Title " + test::Quoted(path));
  // exiftool shows dates in its own colon form.
  for (const char* field : {"Aurisond HF #1234", "Hylo V4.4.0", "8388608 = Max Count", "Wn2-ETH R2",
                            "2021:03:04T05:06:07+00", "Data_00001.wav"})
    EXPECT_NE(exif.output.find(field), std::string::npos) << field << "\n" << exif.output;
  if (test::HaveTool("sndfile-info")) {  // the shortened file's sizes as libsndfile checks them
    const auto info = test::RunTool("sndfile-info " + test::Quoted(path));
    EXPECT_EQ(info.output.find("Should be"), std::string::npos) << "no size libsndfile disagrees with\n" << info.output;
  }
  // libsndfile reads back the very samples.
  const auto sound = test::ReadSound(path);
  ASSERT_TRUE(sound && sound->rate == rate && sound->subtype == SF_FORMAT_PCM_24);
  ASSERT_EQ(sound->samples.size(), 80000U);
  for (int k = 0; k < 80000; ++k)
    if ((sound->samples[static_cast<std::size_t>(k)] >> 8) != k * 997 % 8000000 - 4000000) {
      ADD_FAILURE() << "sample " << k;
      break;
    }
}

TEST_F(Wav, EarlierRecordingsSurviveAResetIndex) {
  fs::create_directories(dir.Path() / "wav");
  for (int i = 1; i <= 10; ++i) {
    std::ofstream(dir.Path() / "wav" / WavFileName("Data", 0, i, 0)) << "recording " << i;
  }
  settings.nextIndex = 1;  // as after an unreadable settings file
  ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(100, 0), 100)), 0);
  EXPECT_EQ(wav.FilePath().filename(), "Data_00011.wav");
  wav.WavLogClose();
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(test::ReadFile(dir.Path() / "wav" / WavFileName("Data", 0, i, 0)), "recording " + std::to_string(i));
}

TEST_F(Wav, TimeStampedNamesLeaveTheIndexAndNeverCollide) {
  settings.nameFormat = 1;
  settings.nextIndex = 7;
  const auto samples = Ramp24(100, 0);
  auto block = Block(samples, 100);
  ASSERT_EQ(wav.WavLogWrite(block), 0);
  EXPECT_EQ(wav.FilePath().filename(), "Data_20210304_050607.wav");
  block.newFile = 1;  // a second file in the same second
  ASSERT_EQ(wav.WavLogWrite(block), 0);
  EXPECT_EQ(wav.FilePath().filename(), "Data_20210304_050607_1.wav");
  wav.WavLogClose();
  EXPECT_EQ(settings.nextIndex, 7);
  EXPECT_EQ(ReadFile(dir.Path() / "wav" / "Data_20210304_050607.wav").size(), kWavHeaderBytes + 300);
}

TEST_F(Wav, SixteenBitFormatFields) {
  std::vector<std::uint8_t> samples(200, 0x11);
  WavBlock block = Block(samples, 48000);
  block.sampleWidth = 2 | 0x80;  // the high bit is not part of the width
  block.sampleCount = 100;
  const WavHeader h = BuildWavHeader({}, block, "x.wav", 200);
  const std::vector<std::uint8_t> b(h.begin(), h.end());
  EXPECT_EQ(b[334] | (b[335] << 8), 16);
  EXPECT_EQ(b[332] | (b[333] << 8), 2);
  EXPECT_EQ(U32(b, 328), 96000U);
  EXPECT_NE(std::string(reinterpret_cast<const char*>(&b[200])).find("  32768 = Max Count"), std::string::npos);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32])), "Unknown #0");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[64])), "Unknown-Unknown");
}

TEST_F(Wav, DisabledLoggingWritesAndCountsNothing) {
  settings.captureEnabled = false;
  EXPECT_EQ(wav.WavLogWrite(Block(Ramp24(100, 0), 100)), 0);
  EXPECT_FALSE(wav.FileOpen());
  EXPECT_FALSE(fs::exists(dir.Path() / "wav"));
  EXPECT_EQ(settings.nextIndex, 1);
}

TEST_F(Wav, HostileBlocksAreRefusedAndHugePlansFitTheHeader) {
  auto samples = Ramp24(10, 0);
  WavBlock lying = Block(samples, 100);
  lying.sampleCount = 1000;  // more than the block carries
  EXPECT_EQ(wav.WavLogWrite(lying), -1);
  WavBlock noRate = Block(samples, 0);
  EXPECT_EQ(wav.WavLogWrite(noRate), -1);
  EXPECT_FALSE(wav.FileOpen());

  settings.minutesPerFile = 60;  // 512 kS/s × 4 bytes × 60 min ≈ 7.4 GB planned
  std::vector<std::uint8_t> wide(4 * 512, 0);
  WavBlock big = Block(wide, 512000);
  big.sampleWidth = 4;
  big.sampleCount = 512;
  ASSERT_EQ(wav.WavLogWrite(big), 0);
  EXPECT_LE(wav.BytesPerFile() + 336, 0x7FFFFFFFULL) << "RIFF sizes stay below 2 GiB for readers that sign them";
  EXPECT_EQ(wav.BytesPerFile() % 4, 0U);
  wav.WavLogClose();
}

TEST_F(Wav, TheHeaderFollowsEveryBlock) {
  const int rate = 100;
  for (int block = 1; block <= 3; ++block) {
    ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(rate, block), rate)), 0);
    const auto bytes = ReadFile(wav.FilePath());
    ASSERT_EQ(bytes.size(), kWavHeaderBytes + 300U * block);
    EXPECT_EQ(U32(bytes, 340), 300U * block) << "a reader of the open file sees every block";
    EXPECT_EQ(U32(bytes, 4), 300U * block + 336);
  }
  wav.WavLogClose();
  EXPECT_EQ(U32(ReadFile(dir.Path() / "wav" / "Data_00001.wav"), 340), 900U);
}

TEST_F(Wav, AFullDiskEndsTheFileAtItsLastWholeSampleOnce) {
  std::vector<std::string> lines;
  wav.SetStatusLine([&](std::string_view line) { lines.emplace_back(line); });
  // Room for the header, one block of 100 samples and 100 more bytes: 33 samples and a third.
  const int result = test::RunWithFileSizeLimit(kWavHeaderBytes + 300 + 100, [&] {
    int failures = 0;
    for (int block = 0; block < 4; ++block) failures += wav.WavLogWrite(Block(Ramp24(100, block * 100), 100)) != 0;
    const bool told = op.Notices().size() == 1 && op.Notices()[0].find("ERROR: Could not write Log File") == 0 &&
                      op.Notices()[0].find("File too large") != std::string::npos && lines.size() == 1;
    return (failures == 1 ? 0 : 1) | (told ? 0 : 2) | (wav.WriteFailures() == 1 ? 0 : 4) | (wav.FileOpen() ? 8 : 0);
  });
  EXPECT_EQ(result, 0) << "1 write failed, 2 told once, 4 counted, 8 left open";
  const auto bytes = ReadFile(dir.Path() / "wav" / "Data_00001.wav");
  ASSERT_EQ(bytes.size(), kWavHeaderBytes + 300 + 99) << "whole samples only";
  EXPECT_EQ(U32(bytes, 340), 399U);
  EXPECT_EQ(U32(bytes, 4), 399U + 336);
  EXPECT_FALSE(fs::exists(dir.Path() / "wav" / "Data_00002.wav")) << "no further file after the failure";
}

TEST_F(Wav, AfterStopNoBlockOpensAFileUntilTheNextStart) {
  ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(100, 0), 100)), 0);
  wav.WavLogStop();
  EXPECT_EQ(wav.WavLogWrite(Block(Ramp24(100, 100), 100)), 0) << "a block taken after the stop is not an error";
  EXPECT_FALSE(wav.FileOpen());
  EXPECT_FALSE(fs::exists(dir.Path() / "wav" / "Data_00002.wav"));
  wav.WavLogBegin();
  ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(100, 200), 100)), 0);
  EXPECT_EQ(wav.FilePath().filename(), "Data_00002.wav");
  wav.WavLogClose();
}

TEST_F(Wav, PanelSettingsBrowseAndTheThreadStateOrder) {
  std::vector<std::string> order;
  wav.SetLogThreadWavState(
      [&](bool on) { order.push_back(std::string(on ? "on" : "off") + (wav.WavLogIsEnabled() ? "+enabled" : "")); });
  WavPanelValues v = wav.WavLogShowSettings();
  EXPECT_EQ(v.prefix, "Data");
  v.folder = (dir.Path() / "chosen").string();
  v.prefix = "SurveyPrefixTooLong";
  v.minutesPerFile = 0;
  v.nameFormat = 1;
  wav.WavLogApplySettings(v, true);
  wav.WavLogApplySettings(v, false);
  EXPECT_EQ(order, (std::vector<std::string>{"on+enabled", "off+enabled"}))
      << "capture is on before the thread writes, and the thread stops before capture goes off";
  EXPECT_EQ(settings.prefix, "SurveyPrefi") << "cut to the 12-byte field";
  EXPECT_EQ(settings.minutesPerFile, 1);
  std::string stored;
  EXPECT_TRUE(ini.GetText("Wav", "Wavfile Path", stored, 260));
  EXPECT_EQ(stored, v.folder);

  test::DialogOperator titled;
  HyloWav other(ini, titled, settings);
  EXPECT_FALSE(other.FileSelectWavFolder("/data/old").has_value());
  titled.answers.push_back(dir.Path() / "picked");
  EXPECT_EQ(other.FileSelectWavFolder("/data/old"), (dir.Path() / "picked").string());
  ASSERT_EQ(titled.dialogs.size(), 2U);
  EXPECT_EQ(titled.dialogs[0], std::make_pair(std::string("Select Log File Folder"), fs::path("/data/old")));
}
