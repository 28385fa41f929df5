// Arbitrary bytes as data-stream traffic, with every record the decoders release driven on
// through WaveThread (missed samples, block statistics, levels, the host FFT framing and the
// scan-interval choice from the record's rate) and FftThread (parameter changes, missed
// records, the averaging pyramid and its divisors), as the live data path chains them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzNodes.h"
#include "core/MessageTypes.h"
#include "processing/HyloProcFft.h"
#include "processing/HyloProcWave.h"
#include "stream/HyloProcStream.h"
#include "stream/ParseStreams.h"

namespace {
using hylo::fuzz::Nodes;

// The threads' workers, built once (the host FFT's plan is costly) and reset before each
// input as a new scan resets them.
struct Chain {
  explicit Chain(hylo::HyloNodes& n) : nodes(n) {
    hylo::HyloProcFft::Context f;
    f.fftTransport = [this] { return fftTransport; };
    f.scanInterval = [this] { return interval; };
    f.setScanInterval = [this](double t) { interval = t; };
    f.densityCorrection = [](double rate, double length) {
      if (!(rate >= 0) || !(length >= 0)) __builtin_trap();
    };
    f.postLog = [this](hylo::MessageNode* m) { return Drop(m); };
    f.postTrigger = [this](hylo::MessageNode* m) { return Drop(m); };
    f.postDisplay = [this](hylo::MessageNode* m) { return Drop(m); };
    fft.SetContext(f);
    hylo::HyloProcWave::Context w;
    w.waveTransport = [this] { return waveTransport; };
    w.fftTransport = [this] { return fftTransport; };
    w.scanInterval = [this] { return interval; };
    w.setScanInterval = [this](double t) { interval = t; };
    w.postTrigger = [this](hylo::MessageNode* m) { return Drop(m); };
    w.postFft = [this](hylo::MessageNode* m) {
      if (!fft.Handle(*m)) nodes.ReleaseNode(m);
      return 1;
    };
    wave.SetContext(w);
  }
  void Begin(int wave, int spectra) {
    waveTransport = wave;
    fftTransport = spectra;
    interval = 0.0625;
    this->wave.Reset();
    fft.Reset();
  }
  int Drop(hylo::MessageNode* m) {
    nodes.ReleaseNode(m);
    return 1;
  }
  int Take(hylo::MessageNode* m) {
    if (!wave.Handle(*m)) nodes.ReleaseNode(m);
    // The scan interval is only ever set to a usable period.
    if (!(interval > 0 && interval <= 3600)) __builtin_trap();
    return 1;
  }

  hylo::HyloNodes& nodes;
  int waveTransport = 0, fftTransport = 0;
  double interval = 0.0625;
  hylo::HyloProcWave wave{nodes};
  hylo::HyloProcFft fft{nodes};
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  hylo::HyloNodes& nodes = Nodes();
  // The first byte picks the stream and the transports the threads believe in.
  const int stream = data[0] % 4;
  static Chain chain(nodes);
  chain.Begin((data[0] >> 2) % 4, (data[0] >> 4) % 4);
  {
    hylo::ParseStreams streams;
    hylo::HyloProcStream messages(nodes, [](hylo::MessageNode* n) { return chain.Take(n); });
    messages.Attach(streams);
    messages.SetFirmwareVersion(data[1] % 2 ? 0x20201 : 0x20100);
    const std::span<const std::uint8_t> bytes(data, size);
    std::size_t at = 2;
    while (at < size) {
      const std::size_t n = std::min<std::size_t>(size - at, 1 + (data[at] % 97) * 15);
      streams.ReassembleStream(stream, bytes.subspan(at, n));
      at += n;
    }
  }
  // Every node came back: a leak along the chain is a fault too.
  if (nodes.FreeCount() != hylo::kNodeCount) __builtin_trap();
  return 0;
}
