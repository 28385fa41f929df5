#pragma once
// `hylo-cli record`: the desktop's connect, setup, Start, logging and Stop, run unattended.
#include <CLI/CLI.hpp>
#include <string>

#include "CliContext.h"

namespace hylo::cli {

struct RecordOptions {
  LinkOptions link;
  double seconds = 0;
  std::string setupFile;
  std::string wavDir, fftDir, impulseDir;
  std::string triggersFile;         // host triggers (.cfg) for this run
  std::string eventsDir;            // the instrument's and the host's epoch logs
  std::string clipsDir;             // a WAV clip per host event
  std::string clipSeconds = "5:5";  // PRE:POST seconds around the event, 0..30 each
  std::string wave, fft;            // off|udp|tcp|link; empty keeps the stored choice
  bool yes = false;                 // answer "Yes" to the questions instead of the safe answer
  int fileSeconds = 0;              // seconds per WAV file; 0: the stored minutes per file
  double syncSeconds = 1;           // WAV header patch and disk sync period; 0: only at rollover and close
  std::string statusFile;           // rewritten once a second with the counts so far, for monitors
};

void AddRecordOptions(CLI::App& command, RecordOptions& o);

// 0 on a clean run; 1 when it could not connect, set up, scan, open or write a log; 2 on bad options.
int Record(const RecordOptions& o);

}  // namespace hylo::cli
