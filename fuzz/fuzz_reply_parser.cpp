// ParseReplyBytes on arbitrary bytes, split into arbitrary reads; every good frame must come
// out with a payload no longer than 7994 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/HyloThreadControl.h"
#include "link/HyloParser.h"
#include "link/LinkRecords.h"

namespace {

class CheckingWorker final : public hylo::Worker {
 public:
  bool Handle(hylo::MessageNode& node) override {
    const auto& reply = node.As<hylo::ReplyFrame>();
    if (reply.length < 0 || reply.length > static_cast<std::int32_t>(hylo::cmd::kMaxReplyPayload) ||
        !hylo::cmd::IsCommandLetter(reply.letter))
      std::abort();
    return false;
  }
};

struct Rig {
  hylo::HyloNodes nodes;
  hylo::HyloThreadControl threads{nodes};
  CheckingWorker comms;
  hylo::HyloParser parser{threads};
  Rig() {
    if (nodes.CreateNodePool() != 0 || nodes.CreateSampleBufferPool() != 0) std::abort();
    threads.SetWorker(hylo::COMMS_THREAD, &comms);
    threads.StartWorkerThreads();
    parser.InitReplyParser();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig rig;  // lives for the whole run
  const std::span<const std::uint8_t> bytes(data, size);
  // The first byte picks the read size, so frames split across reads are covered too.
  const std::size_t step = size ? 1 + data[0] % 64 : 1;
  for (std::size_t at = 0; at < bytes.size(); at += step)
    rig.parser.ParseReplyBytes(bytes.subspan(at, std::min(step, bytes.size() - at)));
  rig.parser.ResetReplyParser();
  return 0;
}
