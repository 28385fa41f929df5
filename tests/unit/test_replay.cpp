#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "context/Hylo.h"
#include "core/Post.h"
#include "files/HyloLogging.h"
#include "files/HyloReplay.h"
#include "files/HyloWav.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"
#include "wire/Bytes.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string Le16(std::uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  return "fmt " + Le32(16) + Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * channels * bits / 8) +
         Le16(static_cast<std::uint16_t>(channels * bits / 8)) + Le16(bits);
}

// A plain RIFF file around the chunks given.
std::string Riff(const std::string& chunks) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string Data(std::uint32_t announced, std::size_t bytes) {
  return "data" + Le32(announced) + std::string(bytes, '\x01');
}

// A file as our recorder writes it: header, then 24-bit samples 0, 1, 2, ...
std::string OurWav(std::uint32_t rate, int samples, std::uint32_t blockTime, double fullScale) {
  WavHeaderInfo info;
  info.sensitivityDb = -170;
  info.humidityTenths = 450;
  info.temperatureTenths = 125;
  WavBlock block;
  block.sampleWidth = 3;
  block.blockTime = blockTime;
  block.sampleRate = static_cast<std::int32_t>(rate);
  block.fullScaleRange = fullScale;
  const WavHeader h = BuildWavHeader(info, block, "Data_00001.wav", static_cast<std::uint32_t>(samples * 3));
  std::string out(h.begin(), h.end());
  for (int i = 0; i < samples; ++i)
    out += std::string{static_cast<char>(i & 0xFF), static_cast<char>((i >> 8) & 0xFF), 0};
  return out;
}

struct Opened {
  std::unique_ptr<ReplayReader> reader;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, std::fclose};
  std::string error;
};

Opened Open(const TempDir& dir, const std::string& name, const std::string& bytes) {
  const fs::path path = dir.Path() / name;
  WriteFile(path, bytes);
  Opened o;
  o.reader = MakeReplayReader(ReplayKindOfName(name));
  o.file.reset(std::fopen(path.c_str(), "rb"));
  o.error = o.reader->Open(o.file.get(), bytes.size());
  return o;
}

// A binary FFT file: "FFT_", header length, a setup chunk (T = 0), then records.
std::string FftFile(std::uint32_t rate, std::uint16_t type, std::uint16_t p10, std::uint16_t values, std::uint16_t bits,
                    const std::string& records) {
  std::string setup = Le32(rate) + std::string(1, '\x05') + std::string(1, '\0') + Le16(type) + Le16(16) + Le16(p10) +
                      Le16(static_cast<std::uint16_t>(-171)) + Le16(values) + Le16(bits) + Le16(1);
  const std::string header = Le32(0) + Le32(20) + setup + Le32(1) + Le32(4) + Le16(125) + Le16(450);
  return "FFT_" + Le32(static_cast<std::uint32_t>(header.size())) + header + records;
}

}  // namespace

TEST(ReplayReaders, OurTwentyFourBitWavReadsWidthVoltsCommentAndStartTime) {
  TempDir dir;
  const std::uint32_t t = static_cast<std::uint32_t>(UtcSeconds(2021, 3, 4, 5, 6, 7));
  Opened o = Open(dir, "Data_00001.wav", OurWav(64000, 1500, t, 3.0));
  ASSERT_EQ(o.error, "");
  const ReplayStream& s = o.reader->Stream();
  EXPECT_EQ(s.bytesPerSample, 3);
  EXPECT_EQ(s.maxCount, 8388608);
  EXPECT_DOUBLE_EQ(s.voltsPerCount, 1.5 / 8388609);
  EXPECT_EQ(s.startTime, t);
  EXPECT_EQ(s.sensitivity, -170);
  EXPECT_EQ(s.temperatureTenths, 125);
  EXPECT_EQ(s.humidityTenths, 450);
  EXPECT_EQ(s.gainSteps, 6);  // 1.5 V doubles once to reach 2.5 V
  WaveformRecord r{};
  ASSERT_EQ(o.reader->ReadWave(r), ReplayReader::Result::kRecord);
  EXPECT_EQ(r.sampleCount, 1000u);
  EXPECT_EQ(r.samples[999], 999);
  EXPECT_EQ(r.sampleFormat, 0x83);
  ASSERT_EQ(o.reader->ReadWave(r), ReplayReader::Result::kRecord);
  EXPECT_EQ(r.sampleCount, 500u);
  EXPECT_EQ(o.reader->ReadWave(r), ReplayReader::Result::kEnd);
}

TEST(ReplayReaders, OtherProgramsWavsWithDefaultsOddChunksAndATruncatedEnd) {
  TempDir dir;
  // No LIST, an odd-sized unknown chunk (padded) before the format, data announced but cut
  // mid-sample by a writer that died.
  const std::string odd = "junk" + Le32(3) + "abc" + std::string(1, '\0');
  Opened o = Open(dir, "a.wav", Riff(odd + Fmt(1, 1, 8000, 16) + Data(20000, 2001)));
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.reader->Stream().peakVolts, 3.0);
  EXPECT_EQ(o.reader->Stream().sensitivity, -171);
  EXPECT_EQ(o.reader->Stream().maxCount, 32768);
  WaveformRecord r{};
  ASSERT_EQ(o.reader->ReadWave(r), ReplayReader::Result::kRecord);
  EXPECT_EQ(r.sampleCount, 1000u);
  EXPECT_EQ(r.samples[0], 0x0101);
  EXPECT_EQ(o.reader->ReadWave(r), ReplayReader::Result::kEnd) << "the odd last byte is no sample";

  // A comment with a peak voltage of 0 or below is the 3.0 V default, and the gain loop ends.
  const std::string text = " -1.000000 V pk, -160 dBV re 1uPa,  0.0 % RH,  0.0 deg C,   32768 = Max Count";
  const std::string icmt =
      "ICMT" + Le32(static_cast<std::uint32_t>(text.size())) + text + std::string(text.size() % 2, '\0');
  const std::string list = "LIST" + Le32(static_cast<std::uint32_t>(4 + icmt.size())) + "INFO" + icmt;
  Opened c = Open(dir, "c.wav", Riff(list + Fmt(1, 1, 8000, 16) + Data(2000, 2000)));
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.reader->Stream().peakVolts, 3.0);
  EXPECT_EQ(c.reader->Stream().sensitivity, -160) << "LIST before fmt is read";

  // WAVE_FORMAT_EXTENSIBLE with the PCM sub-format, as sox writes 24-bit files.
  std::string ext = "fmt " + Le32(40) + Le16(0xFFFE) + Le16(1) + Le32(48000) + Le32(144000) + Le16(3) + Le16(24) +
                    Le16(22) + Le16(24) + Le32(4) + Le16(1) +
                    std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  Opened e = Open(dir, "e.wav", Riff(ext + Data(3000, 3000)));
  ASSERT_EQ(e.error, "");
  EXPECT_EQ(e.reader->Stream().bytesPerSample, 3);
}

TEST(ReplayReaders, HostileWavHeadersAreRefusedWithAReason) {
  TempDir dir;
  const struct {
    std::string bytes;
    std::string reason;
  } cases[] = {
      {Riff(Fmt(1, 1, 0, 16) + Data(100, 100)), "sample rate 0"},
      {Riff(Fmt(1, 1, 8000, 0) + Data(100, 100)), "bits per sample 0"},
      {Riff(Fmt(1, 1, 8000, 40) + Data(100, 100)), "bits per sample 40"},
      {Riff(Fmt(1, 2, 8000, 16) + Data(100, 100)), "2 channels"},
      {Riff(Fmt(3, 1, 8000, 32) + Data(100, 100)), "not integer PCM"},
      {Riff("fmt " + Le32(12) + std::string(12, '\0') + Data(100, 100)), "too short"},
      {Riff(Fmt(1, 1, 8000, 16) + "LIST" + Le32(0xFFFFFFF0U) + "INFO" + Data(100, 100)), "runs past the end"},
      {Riff(Fmt(1, 1, 8000, 16) + "junk" + Le32(5000) + Data(100, 100)), "runs past the end"},
      {Riff(Data(100, 100)), "no fmt chunk"},
      {"RIFX" + std::string(40, '\0'), "not a RIFF/WAVE file"},
  };
  for (const auto& c : cases) {
    const Opened o = Open(dir, "h.wav", c.bytes);
    EXPECT_NE(o.error.find(c.reason), std::string::npos) << c.reason << " → " << o.error;
  }
}

TEST(ReplayReaders, OurTextLogReadsBackAndOtherFirstLinesAreRefused) {
  TempDir dir;
  SpectrumRecord r{};
  r.sampleRate = 64000;
  r.fftLength = 1024;
  r.fftStep = 1024;
  r.accumulation = 16;
  r.fftType = 0;
  r.timeStamp = static_cast<std::uint32_t>(UtcSeconds(2024, 5, 6, 23, 59, 59));
  r.firstSample = 777;
  for (int i = 0; i < kSpectrumBins; ++i) r.bins[i] = static_cast<std::uint8_t>(i % 200);
  LogHeaderInfo info;
  info.identity.modelCode = 5;
  info.sensitivityDb = -165;
  LoggingSettings settings(dir.Path());
  settings.jobClient = "Harbour Authority";
  settings.jobPersonnel = "J. Diver";
  std::string text = FftLogHeader(r, info, settings, 0) + FftLogLine(r, "c1", info);
  r.timeStamp += 2;  // past midnight: the next day
  text += FftLogLine(r, "", info);
  Opened o = Open(dir, "Hylo_00001.txt", text);
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.reader->Stream().sensitivity, -165);
  EXPECT_EQ(o.reader->Stream().deviceType, 5);
  EXPECT_DOUBLE_EQ(o.reader->Stream().recordSeconds, 16 * 1024 / 64000.0);
  SpectrumRecord back{};
  ASSERT_EQ(o.reader->ReadSpectrum(back), ReplayReader::Result::kRecord);
  EXPECT_EQ(o.reader->Comment(), "c1");
  EXPECT_EQ(back.firstSample, 777u);
  EXPECT_EQ(back.binCount, 410u);
  EXPECT_EQ(std::memcmp(back.bins, r.bins, 410), 0);
  EXPECT_EQ(back.timeStamp, r.timeStamp - 2);
  ASSERT_EQ(o.reader->ReadSpectrum(back), ReplayReader::Result::kRecord);
  EXPECT_EQ(back.timeStamp, r.timeStamp);
  EXPECT_EQ(o.reader->ReadSpectrum(back), ReplayReader::Result::kEnd);

  // The file-details panel's view of the same header, before any replay.
  const TextLogDetails d = ReadTextLogDetails(dir.Path() / "Hylo_00001.txt");
  EXPECT_EQ(d.error, "");
  EXPECT_EQ(d.name, "Hylo_00001.txt");
  EXPECT_EQ(d.client, "Harbour Authority");
  EXPECT_EQ(d.personnel, "J. Diver");
  EXPECT_NE(d.device.find("Aurisond HF"), std::string::npos) << d.device;
  EXPECT_FALSE(d.startDate.empty() || d.startTime.empty() || d.timeZone.empty() || d.computer.empty());
  EXPECT_EQ(ReadTextLogDetails(dir.Path() / "missing.txt").error, "Error: Cannot open file");

  EXPECT_EQ(Open(dir, "x.txt", "hello\r\n").error, "File is Invalid or Corrupt. Check the file and try again.");
  std::string series = text;
  series.replace(series.find("Spectrum"), 8, "Time_Series");
  EXPECT_EQ(Open(dir, "y.txt", series).error, "Error: Replay of selected log type is unsupported.");
}

TEST(ReplayReaders, BinaryFftFilesAndTheirHostileHeaders) {
  TempDir dir;
  std::string records(2 * 512, '\0');
  records[0] = static_cast<char>(200);  // (200 − 2 × 5 + 120) / 2 = 155
  Opened o = Open(dir, "a.fft", FftFile(64000, 0, 0, 512, 8, records));
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.reader->Stream().accumulation, 16);
  EXPECT_EQ(o.reader->Stream().sensitivity, -171);
  EXPECT_EQ(o.reader->Stream().temperatureTenths, 125);
  SpectrumRecord r{};
  ASSERT_EQ(o.reader->ReadSpectrum(r), ReplayReader::Result::kRecord);
  EXPECT_EQ(r.bins[0], 155);
  EXPECT_EQ(r.bins[1], 55);
  ASSERT_EQ(o.reader->ReadSpectrum(r), ReplayReader::Result::kRecord);
  EXPECT_EQ(o.reader->ReadSpectrum(r), ReplayReader::Result::kEnd);

  const struct {
    std::string bytes;
    std::string reason;
  } cases[] = {
      {FftFile(64000, 0, 0, 512, 0, records), "bits per value 0"},
      {FftFile(0, 0, 0, 512, 8, records), "sample rate 0"},
      {FftFile(64000, 0, 0, 600, 8, records), "values per record 600"},
      {FftFile(64000, 1, 0, 512, 8, records), "FFT parameter 0"},
      {FftFile(64000, 9, 0, 512, 8, records), "Error: Unknown FFT Processing Type"},
      {FftFile(64000, 0, 16, 512, 8, records), "FFT parameters out of range"},
      {"FFT_" + Le32(1000) + std::string(20, '\0'), "runs past the end"},
      {"FFT_" + Le32(8) + Le32(0) + Le32(900), "runs past the header"},
  };
  for (const auto& c : cases)
    EXPECT_NE(Open(dir, "h.fft", c.bytes).error.find(c.reason), std::string::npos) << c.reason;
}

// ReplayThread in a whole context: what reaches WaveThread and FftThread, and the events.
class ReplayChain : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(hylo.Start(), 0);
    hylo.Data().SetWaveTap([this](const WaveformRecord& r) {
      std::lock_guard guard(lock);
      firstSamples.push_back(r.firstSample);
    });
    hylo.Data().SetSpectrumTap([this](const SpectrumRecord&) {
      std::lock_guard guard(lock);
      ++spectra;
    });
    DataPath::ReplayEvents e;
    e.fileStarted = [this](const std::string& p) {
      std::lock_guard guard(lock);
      awakeWhileReplaying = awakeWhileReplaying && hylo.Data().ReplayKeepsAwake();
      started.push_back(fs::path(p).filename().string());
    };
    e.fileRefused = [this](const std::string& p, const std::string&) {
      std::lock_guard guard(lock);
      refused.push_back(fs::path(p).filename().string());
    };
    e.finished = [this] {
      std::lock_guard guard(lock);
      finished = true;
      done.notify_all();
    };
    hylo.Data().SetReplayEvents(e);
  }
  void TearDown() override {
    hylo.Data().SetWaveTap({});
    hylo.Data().SetSpectrumTap({});
    hylo.Data().SetReplayEvents({});
    hylo.MainExit();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteFile(dir.Path() / name, bytes);
    return (dir.Path() / name).string();
  }
  void WaitFinished() {
    std::unique_lock guard(lock);
    ASSERT_TRUE(done.wait_for(guard, 30s, [this] { return finished; }));
    guard.unlock();
    hylo.Data().DrainPipeline(10s);
  }

  TempDir dir;
  ScriptedOperator op;
  Hylo hylo{op, TestOptions(dir)};
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  bool awakeWhileReplaying = true;
  std::vector<std::uint64_t> firstSamples;
  int spectra = 0;
  std::vector<std::string> started, refused;
};

TEST_F(ReplayChain, ThreeFilesInOrderContinueTheStreamUntilARateChangeThenStop) {
  const std::string a = Write("1.wav", Riff(Fmt(1, 1, 8000, 16) + Data(4000, 4000)));
  const std::string b = Write("2.wav", Riff(Fmt(1, 1, 8000, 16) + Data(4000, 4000)));
  const std::string c = Write("3.wav", Riff(Fmt(1, 1, 16000, 16) + Data(2000, 2000)));
  hylo.Data().Replay().SetPace(ReplayPace::kFast);
  ASSERT_TRUE(hylo.Data().Replay().StartReplay({a, b, c}));
  WaitFinished();
  EXPECT_FALSE(hylo.Data().Replay().Replaying());
  std::lock_guard guard(lock);
  EXPECT_EQ(started, (std::vector<std::string>{"1.wav", "2.wav", "3.wav"}));
  EXPECT_EQ(firstSamples, (std::vector<std::uint64_t>{0, 1000, 2000, 3000, 0}));
  EXPECT_FALSE(hylo.Data().ReplayInProgress());
  EXPECT_TRUE(awakeWhileReplaying);
  EXPECT_FALSE(hylo.Data().ReplayKeepsAwake()) << "the computer may sleep again once the list ends";
}

TEST_F(ReplayChain, AClickTemplateIsASpectrumLogsFirstRecordAndABadFileClearsIt) {
  std::string text =
      "File Details:\r\nFile Type\tSpectrum\r\nSample Rate [S/s]\t64000\r\nFFT Size\t1024\r\n"
      "Accumulations\t16\r\nDevice\tAurisond HF # 3\r\nData:\r\nTime\tComment\r\n"
      "01:02:03\t\t1.0\t2.0\t0\t3\t10\t20\t30\t\r\n";
  DataPath& data = hylo.Data();
  auto loaded = [&] {
    return hylo.Threads().Barrier(WAVE_THREAD, 10s) && hylo.Threads().Barrier(FFT_THREAD, 10s) &&
           data.Fft().ClickTemplateLoaded();
  };
  ASSERT_TRUE(data.LoadClickTemplate(Write("click.txt", text)));
  EXPECT_TRUE(loaded());
  EXPECT_FALSE(data.LoadClickTemplate(Write("bad.txt", "not a log\r\n")));
  EXPECT_FALSE(loaded());
  EXPECT_EQ(op.Notices(), std::vector<std::string>{"Failed to Read File Header."});
}

TEST_F(ReplayChain, RateFiveReadsFiveRecordsPerTickAndAnUnknownTextIsRefusedWithoutStarting) {
  // One record per ~hour of signal: only the step below runs a tick.
  std::string text =
      "File Details:\r\nFile Type\tSpectrum\r\nSample Rate [S/s]\t1\r\nFFT Size\t4096\r\n"
      "Accumulations\t1000\r\nDevice\tAurisond HF # 3\r\nData:\r\nTime\tComment\r\n";
  for (int i = 0; i < 20; ++i) text += "01:02:03\t\t1.0\t2.0\t" + std::to_string(i) + "\t3\t10\t20\t30\t\r\n";
  const std::string log = Write("log.txt", text);
  const std::string bad = Write("bad.txt", "not a log\r\n");
  ReplayThread& replay = hylo.Data().Replay();
  replay.SetReplayRate(5);
  ASSERT_TRUE(replay.StartReplay({bad, log}));
  ASSERT_TRUE(hylo.Threads().Barrier(REPLAY_THREAD, 10s));
  ASSERT_TRUE(Post(hylo.Threads(), REPLAY_THREAD, MSG_REPLAY_STEP));
  ASSERT_TRUE(hylo.Threads().Barrier(REPLAY_THREAD, 10s));
  hylo.Data().DrainPipeline(10s);
  {
    std::lock_guard guard(lock);
    EXPECT_EQ(spectra, 5);
    EXPECT_EQ(refused, std::vector<std::string>{"bad.txt"});
    EXPECT_EQ(started, std::vector<std::string>{"log.txt"});
  }
  EXPECT_EQ(replay.Progress().currentName, "log.txt");
  replay.StopReplay();
  WaitFinished();

  {
    std::lock_guard guard(lock);
    finished = false;
    started.clear();
  }
  ASSERT_TRUE(replay.StartReplay({bad}));
  WaitFinished();
  std::lock_guard guard(lock);
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(spectra, 5);
}
