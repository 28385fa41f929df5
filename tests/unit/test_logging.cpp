#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "files/HyloFiles.h"
#include "files/HyloIni.h"
#include "files/HyloLogging.h"
#include "shell/ScriptedOperator.h"
#include "support/TempDir.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream s(line);
  for (std::string part; std::getline(s, part, '\t');) parts.push_back(part);
  return parts;
}

struct Logging : ::testing::Test {
  test::TempDir dir;
  HyloIni ini;
  ScriptedOperator op;
  WavSettings wavSettings{dir.Path()};
  LoggingSettings settings{dir.Path()};
  HyloWav wav{ini, op, wavSettings};
  HyloLogging log{ini, op, settings, wav};
  int stops = 0;
  void SetUp() override {
    settings.path = (dir.Path() / "fft").string();
    settings.logfileEnabled = true;
    settings.comment = "dock test";
    HyloLogging::Context c;
    c.headerInfo = [] {
      LogHeaderInfo info;
      info.identity.modelCode = 5;
      info.identity.unitNumber = 77;
      info.identity.firmwareText = "v2.1.0";
      info.temperatureTenths = 215;
      info.humidityTenths = 453;
      return info;
    };
    c.stopDataCollection = [this] { ++stops; };
    log.SetContext(c);
  }
  static SpectrumRecord Record(std::uint64_t n, std::uint32_t rate = 64000, std::uint16_t type = 0) {
    SpectrumRecord r{};
    for (int i = 0; i < 512; ++i) r.bins[i] = static_cast<std::uint8_t>((i + n) % 256);
    r.sampleRate = rate;
    r.fftLength = 1024;
    r.fftStep = 512;
    r.accumulation = 16;
    r.fftType = type;
    r.weight = 3;
    r.firstSample = 8192 * n;
    r.timeStamp = 1614834367 + static_cast<std::uint32_t>(n);
    return r;
  }
};

}  // namespace

TEST_F(Logging, FftLogHeaderLinesAndRolloverAtMaxRecords) {
  settings.maxRecords = 1000;
  for (std::uint64_t n = 0; n < 1001; ++n) log.LogFftRecord(Record(n));
  log.CloseLog(0);
  const auto first = Lines(dir.Path() / "fft" / "Hylo_00001.txt");
  const auto second = Lines(dir.Path() / "fft" / "Hylo_00002.txt");
  EXPECT_EQ(settings.nextIndex, 3);
  const auto dataAt = std::find(first.begin(), first.end(), "Data:\r") - first.begin();
  ASSERT_LT(dataAt, static_cast<long>(first.size()));
  EXPECT_EQ(first.size() - static_cast<std::size_t>(dataAt) - 2, 1000U) << "1000 lines, then a new file";
  EXPECT_EQ(second.size() - static_cast<std::size_t>(dataAt) - 2, 1U);
  EXPECT_EQ(first[0], "File Details:\r");
  EXPECT_EQ(first[3], "Start Date\t2021-03-04\r");
  EXPECT_EQ(first[4], "Start Time\t05:06:07\r");
  EXPECT_NE(std::find(first.begin(), first.end(), "Power Calculation\tMean\r"), first.end());
  EXPECT_NE(std::find(first.begin(), first.end(), "Overlap [%]\t50.000000\r"), first.end());
  EXPECT_EQ(std::find(first.begin(), first.end(), "Client\t\r"), first.end()) << "empty job fields are left out";
  const auto columns = Split(first[static_cast<std::size_t>(dataAt) + 1]);
  ASSERT_EQ(columns.size(), 6U + 410U);
  EXPECT_EQ(columns[6], "0.0");
  EXPECT_EQ(columns[7], "62.5");
  const auto line = Split(first[static_cast<std::size_t>(dataAt) + 2]);
  ASSERT_EQ(line.size(), 6U + 410U + 1U) << "every line ends with a tab before CR LF";
  EXPECT_EQ(line[0], "05:06:07");
  EXPECT_EQ(line[1], "dock test");
  EXPECT_EQ(line[2], "21.5");
  EXPECT_EQ(line[3], "45.300000");
  EXPECT_EQ(line[4], "0");
  EXPECT_EQ(line[5], "410");
  EXPECT_EQ(line[6 + 409], "153");  // bin 409 of record 0 holds 409 mod 256
}

TEST_F(Logging, HeaderVariantsByRateAndPowerCalculation) {
  const std::string moving = FftLogHeader(Record(0, 128000, 3), {}, settings, 0);
  EXPECT_NE(moving.find("Power Calculation\tMoving Average\r\n"), std::string::npos);
  EXPECT_NE(moving.find("Data Weighting\t3\r\n"), std::string::npos);
  EXPECT_NE(moving.find("\t125\t250\t"), std::string::npos) << "no decimals above 64 kS/s";
  const std::string peak = FftLogHeader(Record(0, 32000, 2), {}, settings, 2);
  EXPECT_EQ(peak.find("Data Weighting"), std::string::npos);
  EXPECT_NE(peak.find("File Type\tCalibration\r\n"), std::string::npos);
  EXPECT_NE(peak.find("\t31.25\t"), std::string::npos);
}

TEST_F(Logging, ExistingLogsAreNeverWrittenOver) {
  fs::create_directories(dir.Path() / "fft");
  std::ofstream(dir.Path() / "fft" / "Hylo_00001.txt") << "earlier survey";
  log.LogFftRecord(Record(0));
  log.CloseLog(0);
  EXPECT_EQ(Lines(dir.Path() / "fft" / "Hylo_00001.txt"), std::vector<std::string>{"earlier survey"});
  EXPECT_TRUE(fs::exists(dir.Path() / "fft" / "Hylo_00002.txt"));
  EXPECT_EQ(LogFileName("Impulse", 0, 99999, 0, "txt"), "Impulse_99999.txt");
  EXPECT_EQ(LogFileName("Impulse", 0, 100000, 0, "txt"), "Impulse_100000.txt");
  EXPECT_EQ(LogFileName("Hylo", 1, 5, 1614834367, "txt"), "Hylo_20210304_050607.txt");
}

TEST_F(Logging, OpenFailureStopsCollectionWithTheMessage) {
  std::ofstream(dir.Path() / "blocker") << "x";
  settings.path = (dir.Path() / "blocker" / "fft").string();
  log.LogFftRecord(Record(0));
  EXPECT_EQ(stops, 1);
  ASSERT_EQ(op.Notices().size(), 1U);
  EXPECT_EQ(op.Notices()[0], "ERROR: Could not open Log File.\nPlease verify logging paths and try again.");
}

TEST_F(Logging, EpochLogsOpenOnTheirFirstTextAndCloseWhenTurnedOff) {
  const fs::path folder = dir.Path() / "epochs";
  log.LogEpochText(1, "ignored while off\r\n");
  EXPECT_FALSE(fs::exists(folder));
  log.SetEpochLog(true, 1, folder.string());
  log.LogEpochText(1, "2024-01-01 00:00:00,U Hylo,Epoch 1\r\n");
  log.LogEpochText(1, "second\r\n");
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1U);
  EXPECT_EQ(files[0].filename().string().rfind("Hylo_Epoch_", 0), 0U);
  EXPECT_EQ(Lines(files[0]).size(), 2U);
  log.SetEpochLog(false, 1, folder.string());
  log.LogEpochText(1, "dropped\r\n");
  EXPECT_EQ(Lines(files[0]).size(), 2U);
  log.SetEpochLog(true, 1, folder.string());
  log.LogEpochText(1, "again\r\n");
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++count;
  EXPECT_EQ(count, 2U) << "a new time-stamped file, even within the same second";
}

TEST_F(Logging, WaveBlocksReachTheWavLogOnlyWhileActive) {
  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
  wavSettings.path = (dir.Path() / "wav").string();
  auto block = [&] {
    MessageNode* n = nodes.AllocNode(MSG_WAVEFORM, 1);
    auto& r = n->As<WaveformRecord>();
    r = WaveformRecord{};
    r.sampleBuffer = nodes.AcquireSampleBuffer();
    r.sampleFormat = 3;
    r.sampleRate = 1000;
    r.sampleCount = 1000;
    r.timeStamp = 1614834367;
    std::memset(r.sampleBuffer->data, 0x22, 3000);
    return n;
  };
  MessageNode* off = block();
  EXPECT_FALSE(log.Handle(*off));
  nodes.ReleaseNode(off);  // what the worker loop does with every node
  EXPECT_FALSE(fs::exists(dir.Path() / "wav"));
  log.StartWavLogging();
  EXPECT_TRUE(wavSettings.captureEnabled) << "capture is enabled before the thread writes";
  MessageNode* on = block();
  log.Handle(*on);
  nodes.ReleaseNode(on);
  wav.WavLogClose();
  EXPECT_EQ(fs::file_size(dir.Path() / "wav" / "Data_00001.wav"), kWavHeaderBytes + 3000);
  EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount);
}
