#include "RecordCommand.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "CliTally.h"
#include "context/HyloSession.h"
#include "link/DeviceIdentity.h"
#include "platform/TerminationSignal.h"
#include "stream/StreamChannels.h"

namespace hylo::cli {
namespace fs = std::filesystem;

namespace {

const std::map<std::string, int> kTransports = {
    {"off", TRANSPORT_OFF}, {"udp", TRANSPORT_UDP}, {"tcp", TRANSPORT_TCP}, {"link", TRANSPORT_LINK}};

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

bool Fail(std::string_view text) {
  std::cerr << "hylo-cli: " << text << "\n";
  return false;
}

bool Check(const SessionResult& result) { return result.Ok() || Fail(result.error); }

class RecordRun {
 public:
  explicit RecordRun(const RecordOptions& o) : o_(o) {}
  ~RecordRun() { Shutdown(); }

  int Run() {
    if (o_.yes) op_.SetDefaultButton(0);
    hylo_ = MakeContext(op_, o_.link);
    hylo_->SetUiDispatch([this](std::function<void()> f) { queue_.Post(std::move(f)); });
    if (!ConnectUnit(*hylo_, o_.link)) return 1;
    if (!ReadSetup() || !ApplySetupFile() || !SetUpLogging() || !LoadTriggers()) return 1;
    SetTransports();
    const std::vector<std::string> dirs{o_.wavDir, o_.fftDir, o_.impulseDir, o_.eventsDir, o_.clipsDir};
    std::vector<Snapshot> before;
    for (const auto& d : dirs) before.push_back(Files(d));

    hylo_->Data().SetWaveTap([this](const WaveformRecord& r) { tally_.Wave(r); });
    hylo_->Data().SetSpectrumTap([this](const SpectrumRecord& r) { tally_.Spectrum(r); });
    hylo_->Data().SetEpochTextTap([this](int side, std::string_view text) { events_.Text(side, text); });
    bool clean = Check(Session().Start());
    bool interrupted = false;
    if (clean) {
      const bool progress = platform::StderrIsTerminal();
      const auto start = std::chrono::steady_clock::now();
      double statusAt = 0;
      for (;;) {
        queue_.RunPending();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= o_.seconds) break;
        if (platform::TerminationRequested()) {
          interrupted = true;
          break;
        }
        // A log the disk refused ends the run: what was written is kept, and the run is not clean.
        if (hylo_->Data().Logging().WriteFailures() > 0) {
          clean = Fail("a log could not be written; recording stopped");
          break;
        }
        // A log that could not be opened, or the unit ending its streams, stops the scan.
        if (!Session().Scanning()) {
          clean = Fail("scanning stopped before the end of the run");
          break;
        }
        if (progress) std::cerr << tally_.Progress(elapsed) << std::flush;
        if (!o_.statusFile.empty() && elapsed >= statusAt) {
          WriteStatus(elapsed);
          statusAt = elapsed + 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (progress) std::cerr << "\n";
      Session().Stop();
      queue_.RunPending();
    }
    // The shutdown drains the queues and finalises the files before they are listed.
    Shutdown();
    queue_.RunPending();
    // A write refused while the files were finished counts too.
    const std::uint64_t writeFailures = hylo_->Data().Logging().WriteFailures();
    if (clean && writeFailures > 0) clean = Fail("a log could not be written");
    if (clean && !tally_.AnyData() && (o_.wave != "off" || o_.fft != "off")) clean = Fail("no data arrived");

    nlohmann::json out = tally_.Json();
    out["files"] = Written(dirs, before);
    out["events"] = events_.Json();
    out["events"]["clips"] = hylo_->Data().Logging().Clips().ClipsWritten();
    out["impulses"] = hylo_->Data().Impulse().Measured();
    out["seconds"] = o_.seconds;
    out["interrupted"] = interrupted;
    out["writeFailures"] = writeFailures;
    out["unqueued"] = Unqueued();
    out["clean"] = clean;
    std::cout << out.dump() << std::endl;
    return clean ? 0 : 1;
  }

 private:
  HyloSession Session() { return HyloSession(*hylo_); }

  // Taps and dispatch off before the shutdown, so nothing calls into this object after it;
  // a second call does nothing.
  void Shutdown() {
    if (!hylo_) return;
    hylo_->Data().SetWaveTap({});
    hylo_->Data().SetSpectrumTap({});
    hylo_->Data().SetEpochTextTap({});
    hylo_->SetUiDispatch({});
    hylo_->MainExit();
  }

  // Written beside the target and renamed over it, so a reader never sees half a file.
  // Socket reads and decoded records dropped inside the program because no node was free or a
  // queue was full: non-zero names the host, not the network, as the cause of a loss.
  std::uint64_t Unqueued() {
    return hylo_->Data().Channels().LostReads() + hylo_->Data().StreamMessages().Unqueued();
  }

  void WriteStatus(double elapsed) {
    nlohmann::json status = tally_.Json();
    status["elapsed"] = elapsed;
    status["writeFailures"] = hylo_->Data().Logging().WriteFailures();
    status["unqueued"] = Unqueued();
    const std::string temp = o_.statusFile + ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << status.dump() << "\n";
      if (!out) return;
    }
    std::error_code ec;
    fs::rename(temp, o_.statusFile, ec);
  }

  bool ReadSetup() { return Check(Session().ReadJobSetup()); }

  bool ApplySetupFile() { return o_.setupFile.empty() || Check(Session().ApplySetupFile(o_.setupFile)); }

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

  // The host triggers of this run, as the program settings panel's Load would set them.
  bool LoadTriggers() {
    if (o_.triggersFile.empty()) return true;
    const TriggerFileStatus status = hylo_->HostTriggerList().Load(o_.triggersFile);
    return status == TriggerFileStatus::kOk || Fail(DescribeTriggerFileStatus(status, o_.triggersFile));
  }

  bool SetUpLogging() {
    auto& groups = hylo_->Groups();
    HyloLogging& logging = hylo_->Data().Logging();
    FftLogPanelValues fft = logging.ShowFftLogSettings();
    fft.enabled = !o_.fftDir.empty();
    if (fft.enabled) fft.folder = o_.fftDir;
    logging.ApplyFftLogSettings(fft);
    if (!o_.clipsDir.empty()) {
      unsigned pre = 0, post = 0;
      char end = 0;
      if (std::sscanf(o_.clipSeconds.c_str(), "%u:%u%c", &pre, &post, &end) != 2 || pre > kMaxClipSeconds ||
          post > kMaxClipSeconds)
        return Fail("--clip-seconds takes PRE:POST, whole seconds from 0 to 30 each");
      groups.trigger.clipsEnabled = true;
      groups.trigger.clipFolder = o_.clipsDir;
      groups.trigger.clipSecondsBefore = pre;
      groups.trigger.clipSecondsAfter = post;
      hylo_->Data().ApplyClipSettings();
    }
    if (!o_.eventsDir.empty()) {
      for (int side : {0, 1}) PostEpochLogSetting(hylo_->Threads(), logging, true, side, o_.eventsDir);
    }
    ImpulseLogPanelValues impulse = logging.ShowImpulseLogSettings();
    impulse.enabled = !o_.impulseDir.empty();
    if (impulse.enabled) impulse.folder = o_.impulseDir;
    logging.ApplyImpulseLogSettings(impulse);
    if (impulse.enabled) {
      // An impulse log asks for impulses: detection is on for the run.
      groups.impulse.enabled = true;
      hylo_->Data().ApplyImpulseSettings();
    }
    if (o_.wavDir.empty()) {
      groups.wav.captureEnabled = false;
      logging.SetWavLogActive(false);
    } else {
      groups.wav.path = o_.wavDir;
      hylo_->Wav().SetSecondsPerFile(o_.fileSeconds);
      hylo_->Wav().SetSyncSeconds(o_.syncSeconds);
      logging.StartWavLogging();
    }
    return true;
  }

  const RecordOptions& o_;
  ScriptedOperator op_;
  std::unique_ptr<Hylo> hylo_;
  MainQueue queue_;
  Tally tally_;
  EventTally events_;
};

}  // namespace

void AddRecordOptions(CLI::App& command, RecordOptions& o) {
  AddLinkOptions(command, o.link);
  command.add_option("--seconds", o.seconds, "how long to scan")->required()->check(CLI::PositiveNumber);
  command.add_option("--setup", o.setupFile, "a setup file (.cfg) to apply before scanning");
  command.add_option("--wav-dir", o.wavDir, "log WAV files into this folder");
  command.add_option("--fft-dir", o.fftDir, "log FFT text files into this folder");
  command.add_option("--impulse-dir", o.impulseDir, "detect impulses and log them into this folder");
  command.add_option("--triggers", o.triggersFile, "host triggers from this trigger file (.cfg)")
      ->check(CLI::ExistingFile);
  command.add_option("--events-dir", o.eventsDir, "log the instrument's and the host's event texts into this folder");
  command.add_option("--clips", o.clipsDir, "keep a WAV clip of each host event in this folder");
  command.add_option("--clip-seconds", o.clipSeconds,
                     "seconds kept before and after each event, PRE:POST (default 5:5)");
  command.add_option("--wave", o.wave, "waveform stream transport (default: the stored choice)")
      ->check(CLI::IsMember({"off", "udp", "tcp", "link"}));
  command.add_option("--fft", o.fft, "FFT stream transport (default: the stored choice)")
      ->check(CLI::IsMember({"off", "udp", "tcp", "link"}));
  command.add_option("--file-seconds", o.fileSeconds, "seconds per WAV file (default: the stored minutes per file)")
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--sync-seconds", o.syncSeconds,
                  "how often WAV data is synced to the disk with its header (default 1; 0: only at rollover and "
                  "close)")
      ->check(CLI::NonNegativeNumber);
  command.add_option("--status-file", o.statusFile,
                     "rewrite this file once a second with the counts so far (JSON, replaced atomically)");
  command.add_flag("--yes", o.yes, "answer Yes to questions (default: the safe answer, No or Cancel)");
}

int Record(const RecordOptions& o) { return RecordRun(o).Run(); }

}  // namespace hylo::cli
