#pragma once
// `hylo-cli replay`: recorded files back through the whole chain without a window.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace hylo::cli {

struct ReplayOptions {
  std::string fftDir;
  std::string impulseDir;  // impulse detection on, with its log in this folder
  std::string settingsDir;
  std::string triggersFile;  // host triggers (.cfg) for the replay
  std::string eventsDir;     // the host epoch log of the replay's events
  std::string audioOut;      // what the speaker would play, as a WAV file
  bool listen = false;       // play through the default sound output
  bool realtime = false;
  bool noProgress = false;
  int jobs = 0;  // 0: the number of cores
  std::vector<std::string> paths;
  std::string self;  // this program, for the job processes
};

void AddReplayOptions(CLI::App& command, ReplayOptions& o);

// 0 when every input replayed; 1 when any was refused (the rest still replay).
int Replay(const ReplayOptions& o);

// The inputs of PATHs in order: a file as given, a folder's .wav, .txt and .fft files in
// name order. Paths that are neither go to `missing`.
std::vector<std::string> ReplayInputs(const std::vector<std::string>& paths, std::vector<std::string>& missing);

}  // namespace hylo::cli
