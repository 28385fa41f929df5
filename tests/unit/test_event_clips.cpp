// Event clips cut on the logging side from whole-second blocks, written as real files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "files/EventClips.h"
#include "support/SoundFile.h"
#include "support/TempDir.h"

namespace hylo {
namespace {

constexpr std::uint32_t kRate = 1000;
constexpr std::uint32_t kStart = 1765000000;

// Second `s` of a 16-bit ramp: sample i holds i mod 30000.
void Feed(EventClips& clips, SampleBuffer& buffer, std::uint32_t s) {
  WaveformRecord r{};
  r.sampleBuffer = &buffer;
  r.sampleFormat = 2;
  r.sampleRate = kRate;
  r.sampleCount = kRate;
  r.firstSample = std::uint64_t{s} * kRate;
  r.timeStamp = kStart + s;
  for (std::uint32_t i = 0; i < kRate; ++i) {
    const auto v = static_cast<std::int16_t>((r.firstSample + i) % 30000);
    std::memcpy(buffer.data + 2 * i, &v, 2);
  }
  clips.AddBlock(r);
}

// The clip's 16-bit samples as libsndfile reads them.
std::vector<int> Samples(const std::filesystem::path& path) {
  const auto sound = test::ReadSound(path);
  EXPECT_TRUE(sound && sound->subtype == SF_FORMAT_PCM_16 && sound->rate == int{kRate}) << path;
  std::vector<int> out;
  if (sound)
    for (const int v : sound->samples) out.push_back(v >> 16);
  return out;
}

TEST(EventClips, ClipHoldsTheLeadAndTailAroundTheFiringRecord) {
  test::TempDir dir;
  auto buffer = std::make_unique<SampleBuffer>();
  EventClips clips;
  clips.Configure({true, dir.Path(), 2, 1}, {});
  Feed(clips, *buffer, 0);
  clips.AddEvent({2500, kStart + 2, 0});  // the event arrives before its samples
  for (std::uint32_t s = 1; s < 4; ++s) Feed(clips, *buffer, s);
  ASSERT_EQ(clips.ClipsWritten(), 1u);
  const auto samples = Samples(dir.Path() / ClipFileName(kStart + 2, 0));
  ASSERT_EQ(samples.size(), 3u * kRate);
  EXPECT_EQ(samples.front(), 500);
  EXPECT_EQ(samples.back(), 3499);
}

TEST(EventClips, AtStopAWaitingClipKeepsWhatArrivedAndNoClipIsReplaced) {
  test::TempDir dir;
  auto buffer = std::make_unique<SampleBuffer>();
  EventClips clips;
  clips.Configure({true, dir.Path(), 1, 30}, {});
  Feed(clips, *buffer, 0);
  Feed(clips, *buffer, 1);
  clips.AddEvent({1200, kStart + 1, 2});
  clips.AddEvent({1300, kStart + 1, 2});  // same trigger, same second
  Feed(clips, *buffer, 2);
  clips.Finish();
  ASSERT_EQ(clips.ClipsWritten(), 2u);
  const std::string name = ClipFileName(kStart + 1, 2);
  EXPECT_EQ(Samples(dir.Path() / name).size(), 3000u - 200u);
  EXPECT_EQ(Samples(dir.Path() / (name.substr(0, name.size() - 4) + "_1.wav")).front(), 300);
}

}  // namespace
}  // namespace hylo
