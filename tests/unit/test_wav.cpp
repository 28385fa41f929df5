#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "files/HyloIni.h"
#include "files/HyloWav.h"
#include "shell/ScriptedOperator.h"
#include "support/RunTool.h"
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
  auto text = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(&bytes[at])); };
  EXPECT_EQ(text(32), "Aurisond HF #1234");
  EXPECT_EQ(text(64), "Wn2-ETH R2");
  EXPECT_EQ(text(96), "2021-03-04T05:06:07+00");
  EXPECT_EQ(text(128), "Hylo V4.4.0");
  EXPECT_EQ(text(160), "Data_00001.wav");
  EXPECT_EQ(text(200), "1.500000 V pk, -170 dBV re 1uPa, 45.0 % RH, 12.5 deg C, 8388608 = Max Count");
  EXPECT_EQ(U32(bytes, 16), 292U);
  EXPECT_EQ(U32(bytes, 324), 1000U);
  EXPECT_EQ(U32(bytes, 328), 3000U);
  EXPECT_EQ(U32(bytes, 340), 3000U) << "a short file's header is patched to what was written";
  EXPECT_EQ(U32(bytes, 4), 3000U + 336);
  EXPECT_EQ(settings.nextIndex, 2);
}

TEST_F(Wav, RealReadersAgreeOnFormatSamplesAndInfo) {
  if (!test::HaveTool("soxi") || !test::HaveTool("exiftool")) GTEST_SKIP() << "sox or exiftool missing";
  const int rate = 8000;
  std::vector<std::uint8_t> all;
  for (int block = 0; block < 10; ++block) {  // 10 s of a 1-minute file
    const auto samples = Ramp24(rate, block * rate);
    all.insert(all.end(), samples.begin(), samples.end());
    ASSERT_EQ(wav.WavLogWrite(Block(samples, rate, kTime + block)), 0);
  }
  const fs::path path = wav.FilePath();
  wav.WavLogClose();
  const auto soxi = test::RunTool("soxi " + test::Quoted(path));
  EXPECT_NE(soxi.output.find("Sample Rate    : 8000"), std::string::npos) << soxi.output;
  EXPECT_NE(soxi.output.find("Precision      : 24-bit"), std::string::npos) << soxi.output;
  EXPECT_NE(soxi.output.find("00:00:10.00 = 80000 samples"), std::string::npos) << soxi.output;
  const auto exif = test::RunTool("exiftool -s -Artist -Product -Software -Comment " + test::Quoted(path));
  EXPECT_NE(exif.output.find("Aurisond HF #1234"), std::string::npos) << exif.output;
  EXPECT_NE(exif.output.find("Hylo V4.4.0"), std::string::npos) << exif.output;
  EXPECT_NE(exif.output.find("8388608 = Max Count"), std::string::npos) << exif.output;
  // libsndfile (through python3-soundfile) reads back the very samples.
  const fs::path raw = dir.Path() / "expected.raw";
  std::ofstream(raw, std::ios::binary)
      .write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
  const std::string script =
      "import soundfile, numpy, sys\n"
      "d, r = soundfile.read(sys.argv[1], dtype='int32')\n"
      "b = numpy.fromfile(sys.argv[2], dtype=numpy.uint8).reshape(-1, 3).astype(numpy.int32)\n"
      "e = (b[:,0] | (b[:,1] << 8) | (b[:,2] << 16)); e = numpy.where(e >= 1 << 23, e - (1 << 24), e) << 8\n"
      "print('rate', r, 'match', int(numpy.array_equal(d, e)), 'n', len(d))\n";
  const fs::path py = dir.Path() / "check.py";
  std::ofstream(py) << script;
  const auto check = test::RunTool(std::string(HYLO_PYTHON) + " " + test::Quoted(py) + " " + test::Quoted(path) + " " +
                                   test::Quoted(raw));
  EXPECT_NE(check.output.find("rate 8000 match 1 n 80000"), std::string::npos) << check.output;
}

TEST_F(Wav, RollsOverAtThePlannedLengthAndKeepsAFullHeader) {
  const int rate = 100;  // 6000 samples a minute: 60 blocks of 100 per file
  for (int block = 0; block < 150; ++block) {
    ASSERT_EQ(wav.WavLogWrite(Block(Ramp24(rate, block * rate), rate, kTime + block)), 0);
    if (block == 59) {
      EXPECT_EQ(wav.FilePath().filename(), "Data_00001.wav");
    }
  }
  wav.WavLogClose();
  const auto first = ReadFile(dir.Path() / "wav" / "Data_00001.wav");
  const auto third = ReadFile(dir.Path() / "wav" / "Data_00003.wav");
  EXPECT_EQ(first.size(), kWavHeaderBytes + 18000);
  EXPECT_EQ(U32(first, 340), 18000U) << "a full file keeps its announced size";
  EXPECT_EQ(third.size(), kWavHeaderBytes + 9000);
  EXPECT_EQ(U32(third, 340), 9000U);
  EXPECT_EQ(settings.nextIndex, 4);
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
  for (int i = 1; i <= 10; ++i) {
    std::ifstream in(dir.Path() / "wav" / WavFileName("Data", 0, i, 0));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "recording " + std::to_string(i));
  }
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

TEST_F(Wav, UnopenableFolderStopsCollectionWithTheMessage) {
  std::ofstream(dir.Path() / "blocker") << "a file where the folder should be";
  settings.path = (dir.Path() / "blocker" / "wav").string();
  EXPECT_EQ(wav.WavLogWrite(Block(Ramp24(100, 0), 100)), -1);
  EXPECT_EQ(stops, 1);
  ASSERT_EQ(op.Notices().size(), 1U);
  EXPECT_EQ(op.Notices()[0], "ERROR: Could not open Log File.\nPlease verify wav logging path and try again.");
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
  EXPECT_LE(wav.BytesPerFile() + 336, 0xFFFFFFFFULL);
  EXPECT_EQ(wav.BytesPerFile() % 4, 0U);
  wav.WavLogClose();
}
