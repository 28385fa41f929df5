#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "processing/HyloTrigger.h"

using namespace hylo;

namespace {

struct Forwarding : ::testing::Test {
  HyloNodes nodes;
  std::unique_ptr<HyloTrigger> trigger;
  struct Block {
    std::uint64_t firstSample;
    std::uint32_t timeStamp;
    int restart;
    std::vector<std::int32_t> samples;
  };
  std::vector<Block> shown;
  std::vector<std::vector<std::uint8_t>> logged;
  std::vector<SpectrumRecord> spectra;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
    Wire();
  }
  // A fresh TriggerThread state posting into the lists below.
  void Wire() {
    trigger = std::make_unique<HyloTrigger>(nodes);
    HyloTrigger::Context c;
    c.postDisplay = [this](MessageNode* n) {
      if (n->type == MSG_SPECTRUM) {
        spectra.push_back(n->As<SpectrumRecord>());
      } else {
        const auto& r = n->As<WaveformRecord>();
        const auto* s = reinterpret_cast<const std::int32_t*>(r.sampleBuffer->data);
        shown.push_back({r.firstSample, r.timeStamp, r.restart, {s, s + r.sampleCount}});
      }
      nodes.ReleaseNode(n);
      return 1;
    };
    c.postLog = [this](MessageNode* n) {
      const auto& r = n->As<WaveformRecord>();
      const auto* b = reinterpret_cast<const std::uint8_t*>(r.sampleBuffer->data);
      logged.emplace_back(b, b + r.sampleCount * (r.sampleFormat & 0x7F));
      nodes.ReleaseNode(n);
      return 1;
    };
    trigger->SetContext(c);
  }
  void TearDown() override {
    EXPECT_EQ(nodes.FreeCount(), kNodeCount);
    EXPECT_EQ(nodes.FreeSampleBuffers(), kSampleBufferCount);
  }
  // The sample every fed record carries at `index`: its own running index, so order and gaps show.
  static std::int32_t At(std::uint64_t index) { return static_cast<std::int32_t>(index % 8000000) - 4000000; }
  // True when `block` holds the samples of its second unchanged.
  static bool Intact(const Block& block) {
    for (std::size_t i = 0; i < block.samples.size(); ++i)
      if (block.samples[i] != At(block.firstSample + i)) return false;
    return true;
  }
  // The log copy as 3-byte little-endian samples.
  static std::vector<std::int32_t> Decode24(const std::vector<std::uint8_t>& b) {
    std::vector<std::int32_t> v;
    for (std::size_t i = 0; i + 2 < b.size(); i += 3)
      v.push_back(static_cast<std::int32_t>(std::uint32_t{b[i]} << 8 | std::uint32_t{b[i + 1]} << 16 |
                                            std::uint32_t{b[i + 2]} << 24) >>
                  8);
    return v;
  }
  static WaveformRecord Wave(std::uint64_t first, std::uint32_t rate, std::uint32_t count = 1000) {
    WaveformRecord r{};
    r.sampleFormat = 3;
    r.sampleRate = rate;
    r.firstSample = first;
    r.timeStamp = static_cast<std::uint32_t>(1700000000 + first / rate);
    r.sampleCount = count;
    for (std::uint32_t i = 0; i < count; ++i) r.samples[i] = At(first + i);
    return r;
  }
};

}  // namespace

TEST_F(Forwarding, SpectraWaitForASecondStartAndCarryWhatWasDropped) {
  auto rec = [](std::uint64_t index, bool starts) {
    SpectrumRecord r{};
    r.sampleRate = 4096;
    r.fftLength = 1024;
    r.fftStep = 1024;
    r.accumulation = 1;
    r.recordIndex = index;
    r.firstSample = index * 1024;
    r.timeStamp = static_cast<std::uint32_t>(1000 + index / 4);
    r.startsSecond = starts ? 1 : 0;
    return r;
  };
  auto first = rec(1, false);
  first.restart = 1;
  trigger->ForwardSpectrum(first);  // dropped: not at a second
  trigger->ForwardSpectrum(rec(2, false));
  EXPECT_TRUE(spectra.empty());
  for (std::uint64_t i = 4; i < 12; ++i) trigger->ForwardSpectrum(rec(i, i % 4 == 0));
  ASSERT_FALSE(spectra.empty());
  EXPECT_EQ(spectra[0].recordIndex, 4U);
  EXPECT_EQ(spectra[0].restart, 1) << "the restart travels with the first forwarded record";
  EXPECT_EQ(spectra[0].missedRecords, 2U) << "the two dropped while waiting";
  for (std::size_t i = 1; i < spectra.size(); ++i) {
    EXPECT_EQ(spectra[i].recordIndex, spectra[i - 1].recordIndex + 1);
    EXPECT_EQ(spectra[i].restart, 0);
  }
}

namespace {

// One stretch of samples fed without a break, from the record that started it.
struct Segment {
  std::uint64_t begin;  // first index fed
  std::uint64_t end;    // one past the last
};

// The whole seconds a segment must yield: from the first boundary at or after its start to
// the last second it completes.
std::vector<std::uint64_t> SecondsOf(const std::vector<Segment>& segments, std::uint32_t rate) {
  std::vector<std::uint64_t> seconds;
  for (const auto& s : segments) {
    for (std::uint64_t second = (s.begin + rate - 1) / rate; (second + 1) * rate <= s.end; ++second) {
      seconds.push_back(second);
    }
  }
  return seconds;
}

}  // namespace

TEST_F(Forwarding, RingWrapsGapsAndRestartsNeitherLoseNorRepeatSamples) {
  // 512000 fills the 3 s ring in whole seconds; 441000 makes blocks straddle the wrap.
  for (const std::uint32_t rate : {512000U, 441000U}) {
    shown.clear();
    logged.clear();
    Wire();
    const std::uint32_t chunk = 997;  // boundaries fall inside records
    std::vector<Segment> segments;
    std::uint64_t at = rate / 3;
    auto feed = [&](std::uint64_t until, std::uint64_t missed, int restart) {
      bool first = true;
      while (at < until) {
        auto r = Wave(at, rate, chunk);
        if (first) {
          r.missedSamples = missed;
          r.restart = restart;
          first = false;
        }
        trigger->ForwardWaveform(r);
        at += chunk;
      }
    };
    segments.push_back({at, 0});
    feed(5ULL * rate + 5000, 0, 1);
    segments.back().end = at;
    at += 300007;  // samples lost upstream
    segments.push_back({at, 0});
    feed(11ULL * rate + 77, 300007, 0);
    segments.back().end = at;
    segments.push_back({at, 0});                // a new format, no gap: the rest of this second is dropped
    feed(15ULL * rate + rate / 4 + 123, 0, 1);  // the last second waits for a quarter past it
    segments.back().end = at;

    const auto expected = SecondsOf(segments, rate);
    ASSERT_EQ(shown.size(), expected.size()) << "rate " << rate;
    for (std::size_t b = 0; b < shown.size(); ++b) {
      const auto& block = shown[b];
      ASSERT_EQ(block.firstSample, expected[b] * rate) << "rate " << rate << " block " << b;
      ASSERT_EQ(block.samples.size(), rate);
      EXPECT_EQ(block.timeStamp, 1700000000 + expected[b]);
      EXPECT_TRUE(Intact(block)) << "rate " << rate << " block " << b;
    }
    // Each segment's first block carries the restart, the others do not.
    for (std::size_t b = 0; b < shown.size(); ++b) {
      bool first = false;
      for (const auto& s : segments) first = first || shown[b].firstSample == (s.begin + rate - 1) / rate * rate;
      EXPECT_EQ(shown[b].restart, first ? 1 : 0) << "rate " << rate << " block " << b;
    }
    ASSERT_EQ(logged.size(), shown.size());
    EXPECT_EQ(Decode24(logged.back()), shown.back().samples) << "the log copy holds the same samples";
  }
}

TEST_F(Forwarding, AStalledConsumerCostsWholeSecondsAndTheRestStaysIntact) {
  const std::uint32_t rate = 512000;
  std::uint64_t at = 0;
  auto feed = [&](std::uint64_t until) {
    for (; at < until; at += 1000) trigger->ForwardWaveform(Wave(at, rate));
  };
  feed(2ULL * rate + 2000);
  ASSERT_EQ(shown.size(), 2U);
  // The displays and the log hold every buffer: twice what the ring holds piles up.
  std::vector<SampleBuffer*> held;
  for (int i = 0; i < kSampleBufferCount; ++i) held.push_back(nodes.AcquireSampleBuffer());
  feed(8ULL * rate + 2000);
  EXPECT_EQ(shown.size(), 2U);
  for (auto* buffer : held) nodes.ReleaseSampleBuffer(buffer);
  feed(10ULL * rate + 500);

  ASSERT_FALSE(shown.empty());
  std::uint64_t lostSeconds = 0;
  for (std::size_t b = 0; b < shown.size(); ++b) {
    ASSERT_EQ(shown[b].firstSample % rate, 0U);
    ASSERT_EQ(shown[b].samples.size(), rate);
    if (b > 0) {
      ASSERT_GT(shown[b].firstSample, shown[b - 1].firstSample) << "no second twice";
      lostSeconds += (shown[b].firstSample - shown[b - 1].firstSample) / rate - 1;
    }
    EXPECT_TRUE(Intact(shown[b])) << "block " << b << ": a ring slot was overwritten before it was sent";
  }
  EXPECT_EQ(shown.front().firstSample, 0U);
  EXPECT_EQ(shown.back().firstSample, 9ULL * rate) << "the last complete second goes out";
  EXPECT_GE(lostSeconds, 3U) << "more than the ring holds was fed while stalled";
  EXPECT_EQ(trigger->SamplesDiscarded(), lostSeconds * rate) << "every lost sample is counted";
}

TEST_F(Forwarding, ShortLossesAreLoggedAsSilenceAtTheirTimesLongOnesResync) {
  const std::uint32_t rate = 64000;
  // Records of 480 samples (a datagram's worth); three are lost, one across a second boundary.
  const std::vector<std::uint64_t> lost{20 * 480, 133 * 480, 200 * 480};
  std::uint64_t at = 0;
  std::uint64_t missed = 0;
  while (at < 4ULL * rate + rate / 4 + 100) {
    auto r = Wave(at, rate, 480);
    const bool gone = std::find(lost.begin(), lost.end(), at) != lost.end();
    at += 480;
    if (gone) {
      missed += 480;
      continue;
    }
    r.missedSamples = missed;
    missed = 0;
    trigger->ForwardWaveform(r);
  }
  ASSERT_EQ(shown.size(), 4U);
  EXPECT_EQ(trigger->SamplesFilled(), 3U * 480);
  EXPECT_EQ(trigger->SamplesDiscarded(), 0U);
  for (std::size_t b = 0; b < shown.size(); ++b) {
    ASSERT_EQ(shown[b].firstSample, b * rate) << "the sample clock keeps going";
    EXPECT_EQ(shown[b].restart, b == 0 ? 1 : 0) << "a filled loss is no new format";
    for (std::size_t i = 0; i < rate; ++i) {
      const std::uint64_t index = shown[b].firstSample + i;
      const bool inLoss = std::any_of(lost.begin(), lost.end(), [&](auto s) { return index >= s && index < s + 480; });
      ASSERT_EQ(shown[b].samples[i], inLoss ? 0 : At(index)) << "block " << b << " sample " << i;
    }
  }

  // More than a quarter second lost: the ring starts again at the next whole second.
  shown.clear();
  auto late = Wave(at + rate / 4 + 1, rate, 480);
  late.missedSamples = rate / 4 + 1;
  trigger->ForwardWaveform(late);
  EXPECT_EQ(trigger->SamplesFilled(), 3U * 480);
  EXPECT_GT(trigger->SamplesDiscarded(), 0U);
}

TEST_F(Forwarding, TheTailAtStopCarriesThePartialSecondOnce) {
  const std::uint32_t rate = 8000;
  for (std::uint64_t first = 0; first < 2 * rate + 2500; first += 500) trigger->ForwardWaveform(Wave(first, rate, 500));
  ASSERT_EQ(logged.size(), 2U);
  MessageNode* tail = nodes.AllocNode(MSG_WAVE_TAIL, 1);
  ASSERT_NE(tail, nullptr);
  trigger->TakeWaveTail(*tail);
  const auto& r = tail->As<WaveformRecord>();
  ASSERT_NE(r.sampleBuffer, nullptr);
  EXPECT_EQ(r.sampleCount, 2500U);
  EXPECT_EQ(r.firstSample, 2U * rate) << "the tail follows the last whole second";
  EXPECT_EQ(r.timeStamp, 1700000002U);
  const auto* b = reinterpret_cast<const std::uint8_t*>(r.sampleBuffer->data);
  std::int32_t last = b[3 * 2499] | (b[3 * 2499 + 1] << 8) | (b[3 * 2499 + 2] << 16);
  if (last & 0x800000) last -= 0x1000000;
  EXPECT_EQ(last, static_cast<std::int32_t>(2 * rate + 2499) - 4000000);
  nodes.ReleaseNode(tail);

  MessageNode* again = nodes.AllocNode(MSG_WAVE_TAIL, 1);
  trigger->TakeWaveTail(*again);
  EXPECT_EQ(again->As<WaveformRecord>().sampleBuffer, nullptr) << "a second stop has nothing left";
  nodes.ReleaseNode(again);
}

TEST_F(Forwarding, AReorderedDatagramTakesItsPlaceAndARepeatIsDropped) {
  const std::uint32_t rate = 8000;
  std::vector<WaveformRecord> order;
  for (std::uint64_t first = 0; first < 3 * rate; first += 500) order.push_back(Wave(first, rate, 500));
  // Swap pairs, one of them across a second boundary, and repeat one record.
  std::swap(order[3], order[4]);
  std::swap(order[15], order[16]);
  order.insert(order.begin() + 8, order[7]);
  std::uint64_t expected = 0;
  for (auto r : order) {
    if (r.firstSample + r.sampleCount <= expected) {
      // What WaveThread marks: a fill of a counted gap, or samples already had.
      r.late = r.firstSample == 1500 || r.firstSample == 7500 ? 1 : 2;
    } else {
      r.missedSamples = r.firstSample - expected;
      expected = r.firstSample + r.sampleCount;
    }
    trigger->ForwardWaveform(r);
  }
  ASSERT_EQ(shown.size(), 2U) << "the last second waits for a quarter second past it";
  for (const auto& b : shown) EXPECT_TRUE(Intact(b)) << "second at " << b.firstSample;
  EXPECT_EQ(trigger->SamplesFilled(), 0U) << "both gaps were filled by the late records";
}
