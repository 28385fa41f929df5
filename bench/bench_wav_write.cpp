// WAV writing throughput: 60 s of 512000 samples/s, 24-bit, written as one-second blocks
// through HyloWav, against sox writing the same samples from a raw file into a WAV file.
// Both write to the same folder in the same run; the figure is seconds of audio per second.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/HyloWav.h"
#include "settings/HyloIni.h"
#include "shell/ScriptedOperator.h"

namespace fs = std::filesystem;
using namespace hylo;

namespace {

constexpr int kRate = 512000;
constexpr int kSeconds = 60;
constexpr int kWidth = 3;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("hylo-bench-wav-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // One second of a 24-bit ramp, little-endian, reused for every block.
  std::vector<std::uint8_t> second(static_cast<std::size_t>(kRate) * kWidth);
  for (int i = 0; i < kRate; ++i) {
    const auto v = static_cast<std::uint32_t>((i * 37) % 8000000 - 4000000);
    for (int b = 0; b < kWidth; ++b)
      second[static_cast<std::size_t>(i) * kWidth + b] = static_cast<std::uint8_t>(v >> (8 * b));
  }

  HyloIni ini;
  ScriptedOperator op;
  WavSettings settings{dir};
  settings.path = (dir / "ours").string();
  settings.captureEnabled = true;
  settings.minutesPerFile = 2;  // one file for the whole run
  HyloWav wav(ini, op, settings);
  WavBlock block;
  block.sampleWidth = kWidth;
  block.sampleRate = kRate;
  block.sampleCount = kRate;
  block.fullScaleRange = 5.0;
  block.samples = second;
  const auto ours = std::chrono::steady_clock::now();
  for (int s = 0; s < kSeconds; ++s) {
    block.blockTime = 1700000000U + static_cast<std::uint32_t>(s);
    if (wav.WavLogWrite(block) != 0) {
      std::fprintf(stderr, "bench_wav_write: write failed\n");
      return 1;
    }
  }
  wav.WavLogClose();
  const double ourSeconds = Seconds(ours);
  const auto written =
      fs::file_size(wav.State().filePath.empty() ? dir / "ours" / "Data_00001.wav" : wav.State().filePath);
  if (written != kWavHeaderBytes + static_cast<std::uintmax_t>(kSeconds) * second.size()) {
    std::fprintf(stderr, "bench_wav_write: the file holds %ju bytes\n", static_cast<std::uintmax_t>(written));
    return 1;
  }

  const fs::path raw = dir / "samples.raw";
  {
    std::ofstream out(raw, std::ios::binary);
    for (int s = 0; s < kSeconds; ++s)
      out.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size()));
  }
  const std::string command = "sox -t raw -r " + std::to_string(kRate) + " -e signed-integer -b 24 -c 1 -L '" +
                              raw.string() + "' '" + (dir / "sox.wav").string() + "'";
  const auto theirs = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  const double soxSeconds = Seconds(theirs);
  fs::remove_all(dir);
  if (rc != 0) {
    std::fprintf(stderr, "bench_wav_write: sox failed\n");
    return 1;
  }
  std::printf("WAV writing, %d s of %d S/s 24-bit in one-second blocks:\n", kSeconds, kRate);
  std::printf("  HyloWav  %.3f s  (%.0f x real time, %.0f MB/s)\n", ourSeconds, kSeconds / ourSeconds,
              kSeconds * second.size() / ourSeconds / 1e6);
  std::printf("  sox      %.3f s  (%.0f x real time; reads the raw file too)\n", soxSeconds, kSeconds / soxSeconds);
  std::printf("  ratio    %.2f (sox time / HyloWav time)\n", soxSeconds / ourSeconds);
  return 0;
}
