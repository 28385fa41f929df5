#include "RecordCommand.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "config/SetupFile.h"
#include "link/DeviceIdentity.h"
#include "platform/TerminationSignal.h"
#include "stream/StreamChannels.h"

namespace hylo::cli {
namespace fs = std::filesystem;

namespace {

const std::map<std::string, int> kTransports = {
    {"off", TRANSPORT_OFF}, {"udp", TRANSPORT_UDP}, {"tcp", TRANSPORT_TCP}, {"link", TRANSPORT_LINK}};

// What reached WaveThread and FftThread, counted on their threads.
class Tally {
 public:
  void Wave(const WaveformRecord& r) {
    std::lock_guard guard(lock_);
    if (waveRecords_ == 0)
      firstSample_ = r.firstSample;
    else
      missedSamples_ += r.missedSamples;
    nextSample_ = r.firstSample + r.sampleCount;
    sampleRate_ = r.sampleRate;
    ++waveRecords_;
  }
  void Spectrum(const SpectrumRecord& r) {
    std::lock_guard guard(lock_);
    if (spectrumRecords_ > 0) missedRecords_ += r.missedRecords;
    ++spectrumRecords_;
  }
  nlohmann::json Json() const {
    std::lock_guard guard(lock_);
    return {{"waveformRecords", waveRecords_}, {"spectrumRecords", spectrumRecords_}, {"missedSamples", missedSamples_},
            {"missedRecords", missedRecords_}, {"firstSample", firstSample_},         {"nextSample", nextSample_},
            {"sampleRate", sampleRate_}};
  }
  std::string Progress(double elapsed) const {
    std::lock_guard guard(lock_);
    char line[160];
    std::snprintf(line, sizeof line, "\r%7.1f s  waveform %llu  spectra %llu  missed %llu samples, %llu records ",
                  elapsed, static_cast<unsigned long long>(waveRecords_),
                  static_cast<unsigned long long>(spectrumRecords_), static_cast<unsigned long long>(missedSamples_),
                  static_cast<unsigned long long>(missedRecords_));
    return line;
  }
  bool AnyData() const {
    std::lock_guard guard(lock_);
    return waveRecords_ + spectrumRecords_ > 0;
  }

 private:
  mutable std::mutex lock_;
  std::uint64_t waveRecords_ = 0, spectrumRecords_ = 0, missedSamples_ = 0, missedRecords_ = 0;
  std::uint64_t firstSample_ = 0, nextSample_ = 0;
  std::uint32_t sampleRate_ = 0;
};

// Calls from worker threads that the desktop would run on its UI thread wait here for the
// main loop.
class MainQueue {
 public:
  void Post(std::function<void()> f) {
    std::lock_guard guard(lock_);
    pending_.push_back(std::move(f));
  }
  void RunPending() {
    std::deque<std::function<void()>> run;
    {
      std::lock_guard guard(lock_);
      run.swap(pending_);
    }
    for (auto& f : run) f();
  }

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> pending_;
};

using Snapshot = std::map<fs::path, fs::file_time_type>;

Snapshot Files(const std::string& dir) {
  Snapshot s;
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return s;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file(ec)) s[e.path()] = e.last_write_time(ec);
  }
  return s;
}

// Files that are new or changed since `before`, in name order.
std::vector<std::string> Written(const std::vector<std::string>& dirs, const std::vector<Snapshot>& before) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    for (const auto& [path, time] : Files(dirs[i])) {
      const auto it = before[i].find(path);
      if (it == before[i].end() || it->second != time) out.push_back(path.string());
    }
  }
  return out;
}

bool Fail(const char* text) {
  std::cerr << "hylo-cli: " << text << "\n";
  return false;
}

class RecordRun {
 public:
  explicit RecordRun(const RecordOptions& o) : o_(o) {}
  ~RecordRun() { Shutdown(); }

  int Run() {
    if (o_.yes) op_.SetDefaultButton(0);
    hylo_ = MakeContext(op_, o_.link);
    hylo_->SetUiDispatch([this](std::function<void()> f) { queue_.Post(std::move(f)); });
    if (!ConnectUnit(*hylo_, o_.link)) return 1;
    if (!ReadSetup() || !ApplySetupFile() || !SetUpLogging()) return 1;
    SetTransports();
    const std::vector<std::string> dirs{o_.wavDir, o_.fftDir, o_.impulseDir};
    std::vector<Snapshot> before;
    for (const auto& d : dirs) before.push_back(Files(d));

    hylo_->Data().SetWaveTap([this](const WaveformRecord& r) { tally_.Wave(r); });
    hylo_->Data().SetSpectrumTap([this](const SpectrumRecord& r) { tally_.Spectrum(r); });
    hylo_->Scan().StartScanningCallback();
    hylo_->Scan().WaitForChannels();
    bool clean = hylo_->Scan().Active() || Fail("scanning did not start");
    bool interrupted = false;
    if (clean) {
      const bool progress = platform::StderrIsTerminal();
      const auto start = std::chrono::steady_clock::now();
      for (;;) {
        queue_.RunPending();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= o_.seconds) break;
        if (platform::TerminationRequested()) {
          interrupted = true;
          break;
        }
        // A log that could not be opened, or the unit ending its streams, stops the scan.
        if (!hylo_->Scan().Active()) {
          clean = Fail("scanning stopped before the end of the run");
          break;
        }
        if (progress) std::cerr << tally_.Progress(elapsed) << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (progress) std::cerr << "\n";
      hylo_->Scan().StopCallback();
      queue_.RunPending();
    }
    // The shutdown drains the queues and finalises the files before they are listed.
    Shutdown();
    queue_.RunPending();
    if (clean && !tally_.AnyData() && (o_.wave != "off" || o_.fft != "off")) clean = Fail("no data arrived");

    nlohmann::json out = tally_.Json();
    out["files"] = Written(dirs, before);
    out["seconds"] = o_.seconds;
    out["interrupted"] = interrupted;
    out["clean"] = clean;
    std::cout << out.dump() << std::endl;
    return clean ? 0 : 1;
  }

 private:
  setup::SetupContext Context() { return hylo_->JobSetup().Context(); }

  // Taps and dispatch off before the shutdown, so nothing calls into this object after it;
  // a second call does nothing.
  void Shutdown() {
    if (!hylo_) return;
    hylo_->Data().SetWaveTap({});
    hylo_->Data().SetSpectrumTap({});
    hylo_->SetUiDispatch({});
    hylo_->MainExit();
  }

  bool ReadSetup() {
    const setup::SetupContext ctx = Context();
    if (!ctx.IsLf() && !ctx.IsHfFamily()) return true;  // a link device has no job setup
    return hylo_->JobSetup().ReadJobSetup() == 0 || Fail("could not read the job setup");
  }

  bool ApplySetupFile() {
    if (o_.setupFile.empty()) return true;
    std::error_code ec;
    if (!fs::is_regular_file(o_.setupFile, ec)) return Fail("the setup file cannot be read");
    const setup::SetupContext ctx = Context();
    if (!ctx.IsHfFamily()) return Fail("setup files hold Aurisond HF and AF setups; this unit is not one");
    setup::Notices notices;
    hylo_->JobSetup().EditSetup([&](setup::JobSetup& s) {
      setup::ReadSetupFile(o_.setupFile, s, ctx, notices, static_cast<std::uint32_t>(std::time(nullptr)));
    });
    for (const auto& n : notices) op_.ShowNotice(n);
    hylo_->JobSetup().MarkChanged(setup::UnitTab::kHf);
    return hylo_->JobSetup().ApplyUnitSetup() == 0 || Fail("the setup was not applied");
  }

  // The transports are host-side fields of the job setup: they decide the enquiry interval.
  void SetTransports() {
    auto& groups = hylo_->Groups();
    StreamCodes codes = hylo_->JobSetup().StreamTransports();
    if (!o_.wave.empty()) codes.wave = kTransports.at(o_.wave);
    if (!o_.fft.empty()) codes.fft = kTransports.at(o_.fft);
    // The edit lets the panel rules derive the enquiry interval from the new codes.
    hylo_->JobSetup().EditSetup([&](setup::JobSetup& s) {
      s.waveStreamCode = codes.wave;
      s.fftStreamCode = codes.fft;
    });
    const Control interval = hylo_->UnitSetupPanel().Get(setup::unitpanel::kScanInterval);
    if (const auto* seconds = std::get_if<double>(&interval.value)) groups.display.scanPeriod = *seconds;
  }

  bool SetUpLogging() {
    auto& groups = hylo_->Groups();
    HyloLogging& logging = hylo_->Data().Logging();
    FftLogPanelValues fft = logging.ShowFftLogSettings();
    fft.enabled = !o_.fftDir.empty();
    if (fft.enabled) fft.folder = o_.fftDir;
    logging.ApplyFftLogSettings(fft);
    ImpulseLogPanelValues impulse = logging.ShowImpulseLogSettings();
    impulse.enabled = !o_.impulseDir.empty();
    if (impulse.enabled) impulse.folder = o_.impulseDir;
    logging.ApplyImpulseLogSettings(impulse);
    if (o_.wavDir.empty()) {
      groups.wav.captureEnabled = false;
      logging.SetWavLogActive(false);
    } else {
      groups.wav.path = o_.wavDir;
      logging.StartWavLogging();
    }
    return true;
  }

  const RecordOptions& o_;
  ScriptedOperator op_;
  std::unique_ptr<Hylo> hylo_;
  MainQueue queue_;
  Tally tally_;
};

}  // namespace

void AddRecordOptions(CLI::App& command, RecordOptions& o) {
  AddLinkOptions(command, o.link);
  command.add_option("--seconds", o.seconds, "how long to scan")->required()->check(CLI::PositiveNumber);
  command.add_option("--setup", o.setupFile, "a setup file (.cfg) to apply before scanning");
  command.add_option("--wav-dir", o.wavDir, "log WAV files into this folder");
  command.add_option("--fft-dir", o.fftDir, "log FFT text files into this folder");
  command.add_option("--impulse-dir", o.impulseDir, "log impulse text files into this folder");
  command.add_option("--wave", o.wave, "waveform stream transport (default: the stored choice)")
      ->check(CLI::IsMember({"off", "udp", "tcp", "link"}));
  command.add_option("--fft", o.fft, "FFT stream transport (default: the stored choice)")
      ->check(CLI::IsMember({"off", "udp", "tcp", "link"}));
  command.add_flag("--yes", o.yes, "answer Yes to questions (default: the safe answer, No or Cancel)");
}

int Record(const RecordOptions& o) { return RecordRun(o).Run(); }

}  // namespace hylo::cli
