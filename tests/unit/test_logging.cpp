#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "files/HyloFiles.h"
#include "files/HyloImpulseLog.h"
#include "files/HyloLogging.h"
#include "platform/HostNames.h"
#include "settings/HyloIni.h"
#include "shell/ScriptedOperator.h"
#include "support/FileSizeLimit.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream s(line);
  for (std::string part; std::getline(s, part, '\t');) parts.push_back(part);
  return parts;
}

// The index of the "Data:" line; the column header follows it, then the records.
std::size_t DataAt(const std::vector<std::string>& lines) {
  return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), "Data:\r") - lines.begin());
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

TEST_F(Logging, FftLogLinesReadByNumpyAndRolloverAtMaxRecords) {
  settings.maxRecords = 1000;
  for (std::uint64_t n = 0; n < 1001; ++n) log.LogFftRecord(Record(n));
  log.CloseLog(0);
  const auto first = test::ReadLines(dir.Path() / "fft" / "Hylo_00001.txt");
  const auto second = test::ReadLines(dir.Path() / "fft" / "Hylo_00002.txt");
  EXPECT_EQ(settings.nextIndex, 3);
  const auto dataAt = DataAt(first);
  ASSERT_LT(dataAt, first.size());
  EXPECT_EQ(first.size() - dataAt - 2, 1000U) << "1000 lines, then a new file";
  EXPECT_EQ(second.size() - dataAt - 2, 1U);
  EXPECT_EQ(std::find(first.begin(), first.end(), "Client\t\r"), first.end()) << "empty job fields are left out";
  const auto columns = Split(first[dataAt + 1]);
  ASSERT_EQ(columns.size(), 6U + 410U);
  EXPECT_EQ(columns[6], "0.0");
  EXPECT_EQ(columns[7], "62.5");
  const auto line = Split(first[dataAt + 2]);
  EXPECT_EQ((std::vector<std::string>(line.begin(), line.begin() + 6)),
            (std::vector<std::string>{"05:06:07", "dock test", "21.5", "45.300000", "0", "410"}));
  // numpy reads the file as a table: every line's 410 bins, and the closing tab as a last column.
  const fs::path py = dir.Path() / "check.py";
  std::ofstream(py) << "import numpy, sys\n"
                       "t = numpy.genfromtxt(sys.argv[1], delimiter='\\t', skip_header=int(sys.argv[2]))\n"
                       "v = t[:, 6:416].astype(int)\n"
                       "ok = all((v[n] == (numpy.arange(410) + n) % 256).all() for n in range(len(v)))\n"
                       "print('rows', t.shape[0], 'cols', t.shape[1], 'bins', int(ok), 'seq', int(t[19, 4]))\n";
  const auto out =
      test::RunTool(std::string(HYLO_PYTHON) + " " + test::Quoted(py) + " " +
                    test::Quoted(dir.Path() / "fft" / "Hylo_00001.txt") + " " + std::to_string(dataAt + 2));
  EXPECT_NE(out.output.find("rows 1000 cols 417 bins 1 seq " + std::to_string(8192 * 19)), std::string::npos)
      << out.output;
}

// The header block item by item, for the three files that carry it.
TEST_F(Logging, HeaderBlocksMatchTheirLayoutLineByLine) {
  settings.jobClient = "Harbour Board";
  settings.jobId = "J-7";
  const std::string computer = platform::ComputerName().substr(0, 15);
  const std::string user = platform::UserName().substr(0, 49);
  // Lines without their CR LF or LF.
  auto split = [](const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
      out.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    return out;
  };
  auto expected = [&](const std::string& type, const std::string& start, const std::string& setup) {
    return split("File Details:\nFile Type\t" + type +
                 "\nFile Version\t5\nStart Date\t2021-03-04\nStart Time\t05:06:07\nTime Zone\tUTC\n"
                 "Author\tQuendal' Hylo V4.4.0\nComputer\t" +
                 computer + "\nUser\t" + user + "\nClient\tHarbour Board\nJob\tJ-7\nStarting Sample\t" + start +
                 "\n\nDevice Details:\nDevice\tAurisond HF\nS/N\t77\nFirmware\tv2.1.0\n\n"
                 "Setup:\ndB Ref re 1V\t-180\ndB Ref re 1uPa\t-9\nSample Rate [S/s]\t64000\n" +
                 setup + "\n\nData:");
  };
  LogHeaderInfo info;
  info.identity.modelCode = 5;
  info.identity.unitNumber = 77;
  info.identity.firmwareText = "v2.1.0";

  log.LogFftRecord(Record(0));  // the FFT log as a recording writes it
  log.CloseLog(0);
  auto impulse = std::make_unique<ImpulseRecord>();
  impulse->timeStamp = 1614834367;
  impulse->sampleRate = 64000;
  impulse->fftLength = 2048;
  impulse->runningIndex = 123456789012ULL;
  impulse->bandCount = 3;

  const struct {
    const char* file;
    std::vector<std::string> actual;
    std::vector<std::string> expected;
  } cases[] = {
      {"FFT log", split(test::ReadFile(dir.Path() / "fft" / "Hylo_00001.txt")),
       expected("Spectrum", "0",
                "FFT Size\t1024\nBin Width [Hz]\t62.500000\nWindow Function\tHann\nOverlap [%]\t50.000000\n"
                "Power Calculation\tMean\nAccumulations\t16")},
      {"calibration file", split(FftLogHeader(Record(0, 64000, 6), info, settings, 2)),
       expected("Calibration", "0",
                "FFT Size\t1024\nBin Width [Hz]\t62.500000\nWindow Function\tHann\nOverlap [%]\t50.000000\n"
                "Power Calculation\tMoving Average\nAccumulations\t16\nData Weighting\t3")},
      {"impulse log", split(ImpulseLogHeader(*impulse, info, settings)),
       expected("SEL-Third Octave", "123456789012",
                "FFT Size\t2048\nBin Width [Hz]\t31.250000\nWindow Function\tHann\nOverlap [%]\t0.000000\n"
                "Power Calculation\tOne Third Octave\nAccumulations\t1")},
  };
  for (const auto& c : cases) {
    ASSERT_GT(c.actual.size(), c.expected.size()) << c.file;
    for (std::size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(c.actual[i], c.expected[i]) << c.file << ", item line " << i + 1;
    EXPECT_EQ(c.actual[c.expected.size()].rfind("Time\tComment\t", 0), 0U) << c.file << ": the column header follows";
  }
}

TEST_F(Logging, BinColumnsHaveDecimalsOnlyUpTo64kSamplesPerSecond) {
  EXPECT_NE(FftLogHeader(Record(0, 128000, 3), {}, settings, 0).find("\t125\t250\t"), std::string::npos);
  EXPECT_NE(FftLogHeader(Record(0, 32000, 2), {}, settings, 2).find("\t31.25\t"), std::string::npos);
}

TEST_F(Logging, ExistingLogsAreNeverWrittenOver) {
  fs::create_directories(dir.Path() / "fft");
  std::ofstream(dir.Path() / "fft" / "Hylo_00001.txt") << "earlier survey";
  log.LogFftRecord(Record(0));
  log.CloseLog(0);
  EXPECT_EQ(test::ReadLines(dir.Path() / "fft" / "Hylo_00001.txt"), std::vector<std::string>{"earlier survey"});
  EXPECT_TRUE(fs::exists(dir.Path() / "fft" / "Hylo_00002.txt"));
  EXPECT_EQ(LogFileName("Impulse", 0, 99999, 0, "txt"), "Impulse_99999.txt");
  EXPECT_EQ(LogFileName("Impulse", 0, 100000, 0, "txt"), "Impulse_100000.txt");
}

TEST_F(Logging, EpochLogsOpenOnTheirFirstTextAndCloseWhenTurnedOff) {
  const fs::path folder = dir.Path() / "epochs";
  log.LogEpochText(1, "ignored while off\r\n");
  EXPECT_FALSE(fs::exists(folder));
  log.SetEpochLog(true, 1, folder.string());
  log.LogEpochText(1, "2024-01-01 00:00:00,U Hylo,Epoch 1\r\n");
  log.LogEpochText(1, "second\r\n");
  ASSERT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
  const fs::path file = fs::directory_iterator(folder)->path();
  EXPECT_EQ(file.filename().string().rfind("Hylo_Epoch_", 0), 0U);
  EXPECT_EQ(test::ReadLines(file).size(), 2U);
  log.SetEpochLog(false, 1, folder.string());
  log.LogEpochText(1, "dropped\r\n");
  EXPECT_EQ(test::ReadLines(file).size(), 2U);
  log.SetEpochLog(true, 1, folder.string());
  log.LogEpochText(1, "again\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2)
      << "a new time-stamped file, even within the same second";
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
  for (const bool active : {false, true}) {
    if (active) log.StartWavLogging();
    MessageNode* n = block();
    EXPECT_FALSE(log.Handle(*n));
    nodes.ReleaseNode(n);  // what the worker loop does with every node
    EXPECT_EQ(fs::exists(dir.Path() / "wav"), active);
  }
  wav.WavLogClose();
  EXPECT_EQ(fs::file_size(dir.Path() / "wav" / "Data_00001.wav"), kWavHeaderBytes + 3000);
  EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount);
}

namespace {
ImpulseRecord Impulse(int n) {
  ImpulseRecord r;
  r.timeStamp = 1614834367 + static_cast<std::uint32_t>(n);
  r.sampleRate = 64000;
  r.fftLength = 16384;
  r.bandCount = 30;
  r.sel = 120.04;
  r.cumulativeSel = 123.01;
  r.spl = 131.26;
  r.pk = 140.5;
  r.durationSamples = 640;
  r.eventNumber = n + 1;
  r.runningIndex = 64000ULL * 1000 + static_cast<std::uint64_t>(n);
  for (int b = 0; b < 30; ++b) r.bandLevels[b] = 80.0 + b * 0.25;
  return r;
}
}  // namespace

TEST_F(Logging, ImpulseLogHeaderLinesAndItsOwnCounter) {
  settings.impulseLoggingEnabled = true;
  settings.impulsePath = settings.path;  // the same folder as the FFT log
  settings.impulsePrefix = "Hylo";       // and the same prefix
  settings.maxImpulseRecords = 2;
  auto node = std::make_unique<MessageNode>();
  node->type = MSG_IMPULSE;
  for (int n = 0; n < 3; ++n) {
    node->As<ImpulseRecord>() = Impulse(n);
    log.Handle(*node);
  }
  log.LogFftRecord(Record(0));
  log.CloseLog(3);
  log.CloseLog(0);
  EXPECT_EQ(settings.nextImpulseIndex, 3);
  EXPECT_EQ(settings.nextIndex, 4) << "the FFT log moves past the impulse logs' names";
  const auto first = test::ReadLines(dir.Path() / "fft" / "Hylo_00001.txt");
  const auto dataAt = DataAt(first);
  ASSERT_EQ(first.size(), dataAt + 4) << "two impulses, then a new file";
  const auto columns = Split(first[dataAt + 1]);
  ASSERT_EQ(columns.size(), 9U + 30U + 1U);
  EXPECT_EQ(columns[6], "Duration (samples)");
  EXPECT_EQ(columns[9], "25 Hz");
  EXPECT_EQ(columns[38], "20k");
  const auto line = Split(first[dataAt + 2]);
  EXPECT_EQ(
      (std::vector<std::string>(line.begin(), line.begin() + 9)),
      (std::vector<std::string>{"05:06:07", "dock test", "120.0", "123.0", "131.3", "140.5", "640", "1", "64000000"}));
  EXPECT_EQ(line[9], "80.0");
  EXPECT_EQ(line[38], "87.2");
  EXPECT_EQ(line.size(), 40U) << "the line ends with a tab";
  EXPECT_EQ(test::ReadLines(dir.Path() / "fft" / "Hylo_00002.txt").size(), dataAt + 3);
  EXPECT_EQ(test::ReadLines(dir.Path() / "fft" / "Hylo_00003.txt")[1], "File Type\tSpectrum\r");
}

TEST_F(Logging, OpenFailureStopsCollectionWithTheMessage) {
  std::ofstream(dir.Path() / "blocker") << "x";
  settings.path = settings.impulsePath = (dir.Path() / "blocker" / "log").string();
  settings.impulseLoggingEnabled = true;
  log.LogFftRecord(Record(0));
  log.LogImpulseRecord(Impulse(0));
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(op.Notices(), (std::vector<std::string>{
                              "ERROR: Could not open Log File.\nPlease verify logging paths and try again.",
                              "ERROR: Could not open Impulse Log File.\nPlease verify logging paths and try again."}));
}

TEST_F(Logging, TimeStampedFftNamesLeaveTheIndex) {
  settings.nameFormat = 1;
  settings.nextIndex = 12;
  log.LogFftRecord(Record(0));
  log.CloseLog(0);
  EXPECT_TRUE(fs::exists(dir.Path() / "fft" / "Hylo_20210304_050607.txt"));
  std::int64_t stored = 0;
  EXPECT_TRUE(ini.GetInt("Logging", "Logfile Next Index", stored) && stored == 12 && settings.nextIndex == 12);
}

TEST_F(Logging, CalibrationCaptureWritesHeaderThenLinesForItsUnitType) {
  ini.SettingsInit(dir.Path() / "settings");
  bool calibrating = false;
  log.SetCalibrationSource([&] { return calibrating; });
  settings.logfileEnabled = false;
  auto node = std::make_unique<MessageNode>();
  node->type = MSG_SPECTRUM;
  node->As<SpectrumRecord>() = Record(0);
  log.RequestCalCapture(true);
  log.Handle(*node);  // not calibrating: the request waits
  EXPECT_TRUE(log.CalCaptureRequested());
  EXPECT_FALSE(fs::exists(dir.Path() / "settings" / "HF_CAL.txt"));
  calibrating = true;
  for (std::uint64_t n = 0; n < 3; ++n) {
    node->As<SpectrumRecord>() = Record(n);
    log.Handle(*node);
  }
  EXPECT_FALSE(log.CalCaptureRequested());
  const auto lines = test::ReadLines(dir.Path() / "settings" / "HF_CAL.txt");
  EXPECT_EQ(lines[1], "File Type\tCalibration\r");
  const auto dataAt = DataAt(lines);
  ASSERT_EQ(lines.size(), dataAt + 2 + 3);
  EXPECT_EQ(Split(lines[dataAt + 2])[1], "Calibration");
  log.RequestCalCapture(true);
  log.Handle(*node);
  EXPECT_EQ(test::ReadLines(dir.Path() / "settings" / "HF_CAL.txt").size(), dataAt + 3)
      << "a new capture starts the file anew";

  log.SetContext({});  // device type 0: no calibration file
  EXPECT_EQ(log.WriteCalibrationHeader(Record(0)), kCalibrationNoFile);
  EXPECT_EQ(log.WriteCalibrationLine(Record(0)), kCalibrationNoFile);
}

TEST(LoggingLabel, NamesEveryLogKind) {
  EXPECT_EQ(LoggingLabel(true, true, true), "Logging\nFFT & WAV\n& Epoch");
  EXPECT_EQ(LoggingLabel(true, true, false), "Logging\nFFT & WAV");
  EXPECT_EQ(LoggingLabel(true, false, true), "Logging\nFFT & Epoch");
  EXPECT_EQ(LoggingLabel(true, false, false), "Logging\nFFT");
  EXPECT_EQ(LoggingLabel(false, true, true), "Logging\nWAV & Epoch");
  EXPECT_EQ(LoggingLabel(false, true, false), "Logging\nWAV");
  EXPECT_EQ(LoggingLabel(false, false, true), "Logging\nEpoch");
}

// Scanning stops on the UI thread close logs while the logging thread writes: every record
// still lands whole, in a file that starts with its one header.
TEST_F(Logging, ClosingFromAnotherThreadWhileRecordsArriveLosesAndMixesNothing) {
  settings.maxRecords = 100000;
  constexpr std::uint64_t kRecords = 400;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (std::uint64_t n = 0; n < kRecords; ++n) {
      log.LogFftRecord(Record(n));
      std::this_thread::sleep_for(std::chrono::microseconds(100));  // room for closes between
    }
    done = true;
  });
  for (int i = 0; i < 2000 && !done; ++i) {
    log.CloseLog(0);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  writer.join();
  log.CloseLog(0);
  std::size_t records = 0;
  std::size_t columns = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path() / "fft")) {
    const auto lines = test::ReadLines(entry.path());
    ASSERT_FALSE(lines.empty()) << entry.path();
    EXPECT_EQ(lines[0], "File Details:\r") << entry.path();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "File Details:\r"), 1) << entry.path();
    const auto dataAt = DataAt(lines);
    ASSERT_LT(dataAt + 1, lines.size()) << entry.path();
    for (std::size_t i = dataAt + 2; i < lines.size(); ++i) {
      const auto parts = Split(lines[i]).size();
      if (columns == 0) columns = parts;
      EXPECT_EQ(parts, columns) << entry.path() << " line " << i;
      ++records;
    }
  }
  EXPECT_EQ(records, kRecords);
}

TEST_F(Logging, AFullDiskLeavesWholeLinesAndIsToldOnce) {
  std::vector<std::string> lines;
  HyloLogging::Context c;
  c.statusLine = [&](std::string_view line) { lines.emplace_back(line); };
  log.SetContext(c);
  const int result = test::RunWithFileSizeLimit(64 * 1024, [&] {
    for (std::uint64_t n = 0; n < 100; ++n) log.LogFftRecord(Record(n));
    const bool told =
        op.Notices().size() == 1 && op.Notices()[0].find("ERROR: Could not write Log File") == 0 && lines.size() == 1;
    return (told ? 0 : 1) | (log.WriteFailures() == 1 ? 0 : 2);
  });
  EXPECT_EQ(result, 0) << "1 told once, 2 counted once";
  const fs::path path = dir.Path() / "fft" / "Hylo_00001.txt";
  const std::string text = test::ReadFile(path);
  ASSERT_GT(text.size(), 2U);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "the file ends with a whole line";
  const auto all = test::ReadLines(path);
  const auto dataAt = DataAt(all);
  for (std::size_t i = dataAt + 2; i < all.size(); ++i) EXPECT_EQ(Split(all[i]).size(), 417U);
  EXPECT_FALSE(fs::exists(dir.Path() / "fft" / "Hylo_00002.txt")) << "the stopped log opens no new file";
}

TEST_F(Logging, RecordsTakenAfterStopOpenNoLog) {
  log.LogFftRecord(Record(0));
  log.StopLogging();
  log.LogFftRecord(Record(1));
  EXPECT_FALSE(fs::exists(dir.Path() / "fft" / "Hylo_00002.txt"));
  EXPECT_EQ(test::ReadLines(dir.Path() / "fft" / "Hylo_00001.txt").back().substr(0, 8), "05:06:07");
  log.BeginLogging();
  log.LogFftRecord(Record(2));
  log.CloseLog(0);
  EXPECT_TRUE(fs::exists(dir.Path() / "fft" / "Hylo_00002.txt"));
}
