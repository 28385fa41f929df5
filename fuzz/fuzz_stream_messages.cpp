// Arbitrary bytes as data-stream traffic and as status replies: the reassembler, the
// description store, the data-message and status-record decoders, the "C" reply blocks.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzNodes.h"
#include "stream/HyloProcStream.h"
#include "stream/ParseStreams.h"
#include "stream/StatusReply.h"

namespace {
using hylo::fuzz::Nodes;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hylo::HyloNodes& nodes = Nodes();
  auto sink = [&nodes](hylo::MessageNode* n) {
    nodes.ReleaseNode(n);
    return 1;
  };
  hylo::ParseStreams streams;
  hylo::HyloProcStream messages(nodes, sink);
  messages.Attach(streams);
  messages.SetFirmwareVersion(size % 2 ? 0x20201 : 0x20100);
  const std::span<const std::uint8_t> bytes(data, size);
  // The first byte picks the stream; the rest arrives in reads of varying size.
  const int stream = size ? data[0] % 4 : 0;
  std::size_t at = size ? 1 : 0;
  while (at < size) {
    const std::size_t n = std::min<std::size_t>(size - at, 1 + (data[at] % 97) * 15);
    streams.ReassembleStream(stream, bytes.subspan(at, n));
    at += n;
  }
  hylo::StatusReplyHandler replies(nodes, sink);
  replies.SetModelCode(5);
  replies.HandleStatusReply(bytes);
  // Every record made was handed on and freed: a leak of nodes is a fault too.
  if (nodes.FreeCount() != hylo::kNodeCount) __builtin_trap();
  return 0;
}
