#include "ReplayCommand.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <thread>

#include "CliContext.h"
#include "CliTally.h"
#include "context/Hylo.h"
#include "files/TriggerFile.h"
#include "files/WavAudioOut.h"
#include "platform/ChildProcess.h"
#include "platform/TerminationSignal.h"

namespace hylo::cli {

namespace {

bool ReplayableName(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".wav" || ext == ".txt" || ext == ".fft";
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

nlohmann::json Refusal(const std::string& file, const std::string& reason) {
  return {{"file", file}, {"reason", reason}};
}

// One process replays the inputs in order, consecutive files continuing their stream.
class ReplayRun {
 public:
  ReplayRun(const ReplayOptions& o, bool progress) : o_(o), progress_(progress) {}

  nlohmann::json Run(const std::vector<std::string>& inputs) {
    const auto start = std::chrono::steady_clock::now();
    ScriptedOperator op;
    LinkOptions link;
    link.settingsDir = o_.settingsDir;
    auto hylo = MakeContext(op, link);
    DataPath& data = hylo->Data();
    const std::vector<std::string> dirs{o_.fftDir, o_.impulseDir, o_.eventsDir};
    const std::vector<Snapshot> before{Files(o_.fftDir), Files(o_.impulseDir), Files(o_.eventsDir)};
    SetUpLogging(*hylo);
    if (!o_.triggersFile.empty()) hylo->HostTriggerList().Load(o_.triggersFile);
    data.SetEpochTextTap([this](int side, std::string_view text) { events_.Text(side, text); });
    if (o_.listen) {
      // The card sets the pace: WaveThread waits for a free buffer rather than drop a second.
      data.Audio().SetLossless(true);
      data.ToggleAudioActive(true);
    }
    std::shared_ptr<WavAudioLog> audio;
    if (!o_.audioOut.empty()) {
      // The speaker's path with a file for a card; a file takes every second, none dropped.
      audio = std::make_shared<WavAudioLog>();
      data.Audio().SetDeviceFactory(
          [path = fs::path(o_.audioOut), audio] { return std::make_unique<WavAudioOut>(path, audio); });
      data.Audio().SetLossless(true);
      data.ToggleAudioActive(true);
    }

    data.SetWaveTap([this](const WaveformRecord& r) { tally_.Wave(r); });
    data.SetSpectrumTap([this](const SpectrumRecord& r) { tally_.Spectrum(r); });
    DataPath::ReplayEvents events;
    events.fileStarted = [this](const std::string& path) {
      std::lock_guard guard(lock_);
      replayed_.push_back(path);
    };
    events.fileRefused = [this](const std::string& path, const std::string& reason) {
      std::lock_guard guard(lock_);
      refused_.push_back(Refusal(path, reason));
    };
    events.finished = [this] {
      std::lock_guard guard(lock_);
      finished_ = true;
      done_.notify_all();
    };
    data.SetReplayEvents(events);
    ReplayThread& replay = data.Replay();
    replay.SetPace(o_.realtime ? ReplayPace::kRealtime : ReplayPace::kFast);

    bool interrupted = false;
    if (replay.StartReplay(inputs)) {
      std::unique_lock guard(lock_);
      while (!finished_) {
        done_.wait_for(guard, std::chrono::milliseconds(100));
        if (platform::TerminationRequested()) {
          interrupted = true;
          replay.StopReplay();
          done_.wait_for(guard, std::chrono::seconds(5), [this] { return finished_; });
          break;
        }
        if (progress_) {
          const ReplayProgress p = replay.Progress();
          std::cerr << "\r" << p.fileIndex << "/" << p.fileCount << " " << p.currentName << "  "
                    << static_cast<long long>(p.totalSeconds) << " s of signal   " << std::flush;
        }
      }
    } else {
      std::lock_guard guard(lock_);
      for (const auto& in : inputs) refused_.push_back(Refusal(in, "the replay could not be started"));
    }
    if (progress_) std::cerr << "\n";
    const double dataSeconds = replay.Progress().totalSeconds;
    // Everything replayed passes the chain and reaches the logs before they close.
    data.DrainPipeline(std::chrono::seconds(30));
    if (audio || o_.listen) data.Audio().Flush(30000);
    hylo->Threads().Barrier(LOG_THREAD, std::chrono::seconds(30));
    data.SetWaveTap({});
    data.SetSpectrumTap({});
    data.SetReplayEvents({});
    data.SetEpochTextTap({});
    hylo->MainExit();
    for (const std::string& notice : op.Notices())
      if (notice.starts_with("Audio output")) std::cerr << "hylo-cli: " << notice << "\n";

    nlohmann::json out = tally_.Json();
    for (const char* key : {"firstSample", "nextSample", "sampleRate", "firstTime"}) out.erase(key);
    std::lock_guard guard(lock_);
    out["inputs"] = replayed_;
    out["refused"] = refused_;
    out["events"] = events_.Json()["host"];  // a replay has no instrument to report its own
    out["impulses"] = data.Impulse().Measured();
    out["files"] = Written(dirs, before);
    out["dataSeconds"] = dataSeconds;
    out["seconds"] = Seconds(start);
    out["interrupted"] = interrupted;
    if (audio) {
      std::lock_guard audioGuard(audio->lock);
      out["audioFiles"] = nlohmann::json::array();
      for (const auto& f : audio->files) out["audioFiles"].push_back(f.string());
      out["audioSamples"] = audio->samples;
      if (!audio->error.empty())
        refused_.push_back(Refusal(o_.audioOut, audio->error));
      else if (audio->files.empty())
        refused_.push_back(Refusal(o_.audioOut, "no audio was written: the inputs hold no second of waveform"));
      out["refused"] = refused_;
    }
    return out;
  }

 private:
  void SetUpLogging(Hylo& hylo) {
    HyloLogging& logging = hylo.Data().Logging();
    FftLogPanelValues fft = logging.ShowFftLogSettings();
    fft.enabled = !o_.fftDir.empty();
    if (fft.enabled) fft.folder = o_.fftDir;
    logging.ApplyFftLogSettings(fft);
    ImpulseLogPanelValues impulse = logging.ShowImpulseLogSettings();
    impulse.enabled = !o_.impulseDir.empty();
    if (impulse.enabled) impulse.folder = o_.impulseDir;
    logging.ApplyImpulseLogSettings(impulse);
    hylo.Groups().impulse.enabled = impulse.enabled;
    hylo.Data().ApplyImpulseSettings();
    hylo.Groups().wav.captureEnabled = false;
    logging.SetWavLogActive(false);
    hylo.Data().SetLogReplaySpectra(fft.enabled);
    if (!o_.eventsDir.empty()) PostEpochLogSetting(hylo.Threads(), logging, true, 1, o_.eventsDir);
  }

  const ReplayOptions& o_;
  bool progress_;
  Tally tally_;
  EventTally events_;
  std::mutex lock_;
  std::condition_variable done_;
  bool finished_ = false;
  std::vector<std::string> replayed_;
  nlohmann::json refused_ = nlohmann::json::array();
};

// Independent inputs in job processes, each input a stream of its own; the summaries merged
// in input order.
nlohmann::json RunJobs(const ReplayOptions& o, const std::vector<std::string>& inputs, int jobs) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::vector<std::string>> commands;
  for (const auto& in : inputs) {
    std::vector<std::string> c{o.self, "replay", "--jobs", "1", "--no-progress"};
    if (!o.fftDir.empty()) c.insert(c.end(), {"--fft-dir", o.fftDir});
    if (!o.impulseDir.empty()) c.insert(c.end(), {"--impulse-dir", o.impulseDir});
    if (!o.settingsDir.empty()) c.insert(c.end(), {"--settings-dir", o.settingsDir});
    if (!o.triggersFile.empty()) c.insert(c.end(), {"--triggers", o.triggersFile});
    if (!o.eventsDir.empty()) c.insert(c.end(), {"--events-dir", o.eventsDir});
    if (o.realtime) c.push_back("--realtime");
    c.push_back(in);
    commands.push_back(std::move(c));
  }
  const auto results = platform::RunChildren(commands, jobs);
  nlohmann::json out = {
      {"inputs", nlohmann::json::array()}, {"refused", nlohmann::json::array()}, {"files", nlohmann::json::array()}};
  for (const char* key : {"waveformRecords", "spectrumRecords", "missedSamples", "missedRecords", "events", "impulses"})
    out[key] = 0;
  double dataSeconds = 0;
  bool interrupted = false;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const auto part = nlohmann::json::parse(results[i].output, nullptr, false);
    if (part.is_discarded() || !part.is_object()) {
      out["refused"].push_back(Refusal(inputs[i], "the replay job ended without a summary"));
      continue;
    }
    for (const char* key : {"inputs", "refused", "files"})
      for (const auto& item : part.value(key, nlohmann::json::array())) out[key].push_back(item);
    for (const char* key :
         {"waveformRecords", "spectrumRecords", "missedSamples", "missedRecords", "events", "impulses"})
      out[key] = out[key].get<std::uint64_t>() + part.value(key, std::uint64_t{0});
    dataSeconds += part.value("dataSeconds", 0.0);
    interrupted = interrupted || part.value("interrupted", false);
  }
  out["dataSeconds"] = dataSeconds;
  out["seconds"] = Seconds(start);
  out["interrupted"] = interrupted;
  return out;
}

}  // namespace

std::vector<std::string> ReplayInputs(const std::vector<std::string>& paths, std::vector<std::string>& missing) {
  std::vector<std::string> out;
  for (const auto& p : paths) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(p, ec))
        if (e.is_regular_file(ec) && ReplayableName(e.path())) names.push_back(e.path().string());
      std::sort(names.begin(), names.end());
      out.insert(out.end(), names.begin(), names.end());
    } else if (fs::exists(p, ec)) {
      out.push_back(p);
    } else {
      missing.push_back(p);
    }
  }
  return out;
}

void AddReplayOptions(CLI::App& command, ReplayOptions& o) {
  command.add_option("--fft-dir", o.fftDir, "log the spectra of the replay into this folder, one log per stream");
  command.add_option("--impulse-dir", o.impulseDir, "detect impulses in the replay and log them into this folder");
  command.add_option("--settings-dir", o.settingsDir, "folder for Hylo.ini and the job files");
  command.add_option("--triggers", o.triggersFile, "host triggers from this trigger file (.cfg)")
      ->check(CLI::ExistingFile);
  command.add_option("--events-dir", o.eventsDir, "log the host's event and count lines into this folder");
  command.add_option("--audio-out", o.audioOut,
                     "write what the speaker would play (filtered, 16-bit mono, at most 64000 S/s) to this WAV file");
  command.add_flag("--listen", o.listen, "play the waveform through the default sound output")->excludes("--audio-out");
  command.add_flag("--realtime", o.realtime, "replay at the recorded speed (default: as fast as possible)");
  command.add_option("--jobs", o.jobs, "replay independent inputs in N processes (default: the number of cores)")
      ->check(CLI::PositiveNumber);
  command.add_flag("--no-progress", o.noProgress, "no progress lines on stderr")->group("");
  command
      .add_option("PATH", o.paths, "files or folders (a folder replays its .wav, .txt and .fft files in name order)")
      ->required();
}

int Replay(const ReplayOptions& o) {
  if (!o.triggersFile.empty()) {
    // A trigger file that cannot be used is a bad option: nothing replays without its triggers.
    TriggerList probe{};
    const TriggerFileStatus status = ReadTriggerFile(probe, o.triggersFile);
    if (status != TriggerFileStatus::kOk) {
      std::cerr << "hylo-cli: " << DescribeTriggerFileStatus(status, o.triggersFile) << "\n";
      return 2;
    }
  }
  std::vector<std::string> missing;
  const std::vector<std::string> inputs = ReplayInputs(o.paths, missing);
  int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  jobs = std::min<int>(jobs, static_cast<int>(std::max<std::size_t>(inputs.size(), 1)));
  nlohmann::json out;
  if (!o.audioOut.empty() || o.listen) jobs = 1;  // one stream, one audio file
  if (jobs > 1 && !o.self.empty()) {
    out = RunJobs(o, inputs, jobs);
  } else {
    out = ReplayRun(o, platform::StderrIsTerminal() && !o.noProgress).Run(inputs);
  }
  for (const auto& m : missing) out["refused"].push_back(Refusal(m, "no such file or folder"));
  std::cout << out.dump() << std::endl;
  return out["refused"].empty() ? 0 : 1;
}

}  // namespace hylo::cli
