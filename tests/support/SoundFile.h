#pragma once
// A WAV file as libsndfile reads it: an outside reader for what our writers produce.
#include <sndfile.h>

#include <filesystem>
#include <optional>
#include <vector>

namespace hylo::test {

struct SoundFile {
  int rate = 0;
  int channels = 0;
  int subtype = 0;           // SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, ...
  std::vector<int> samples;  // scaled to 32 bits, as libsndfile hands out ints
};

// The whole file, or nullopt when libsndfile refuses it.
inline std::optional<SoundFile> ReadSound(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return std::nullopt;
  SoundFile s{info.samplerate, info.channels, info.format & SF_FORMAT_SUBMASK,
              std::vector<int>(static_cast<std::size_t>(info.frames * info.channels))};
  s.samples.resize(
      static_cast<std::size_t>(sf_read_int(file, s.samples.data(), static_cast<sf_count_t>(s.samples.size()))));
  sf_close(file);
  return s;
}

}  // namespace hylo::test
