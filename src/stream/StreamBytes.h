#pragma once
// The payload of a stream-bytes node (types 4, 5, 6): the socket reads of one wake-up, in
// order, each with its length, so a burst of datagrams travels in one node.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/Post.h"
#include "stream/ParseStreams.h"

namespace hylo {

struct StreamBytes {
  static constexpr std::size_t kMaxReads = 64;
  std::uint32_t reads;
  std::uint8_t datagram;  // 1: every read is one whole UDP datagram, which starts a message
  std::uint32_t counts[kMaxReads];
  std::uint8_t bytes[kMaxReads][kStreamReadBytes];

  std::size_t Reads() const { return std::min<std::size_t>(reads, kMaxReads); }
  // Empty when the count is out of range (a node that was never filled properly).
  std::span<const std::uint8_t> View(std::size_t read) const {
    if (read >= Reads() || counts[read] > kStreamReadBytes) return {};
    return std::span<const std::uint8_t>(bytes[read], counts[read]);
  }
};
static_assert(sizeof(StreamBytes) <= kNodePayloadBytes);

// Queues reads (each at most kStreamReadBytes; longer or empty ones are skipped) to
// MsgProcThread, as few nodes as they fit in; returns how many reads were not taken.
inline std::size_t PostStreamBytes(HyloThreadControl& threads, std::int32_t type,
                                   std::span<const std::span<const std::uint8_t>> reads, bool datagram = false) {
  std::size_t lost = 0;
  std::size_t next = 0;
  while (next < reads.size()) {
    std::size_t taken = 0;
    const std::size_t first = next;
    const bool queued = Post(threads, MSG_PROC_THREAD, type, [&](MessageNode& node) {
      auto& out = node.As<StreamBytes>();
      std::uint32_t n = 0;
      for (; next < reads.size() && n < StreamBytes::kMaxReads; ++next) {
        const auto read = reads[next];
        if (read.empty() || read.size() > kStreamReadBytes) continue;
        std::copy(read.begin(), read.end(), out.bytes[n]);
        out.counts[n++] = static_cast<std::uint32_t>(read.size());
      }
      out.reads = n;
      out.datagram = datagram ? 1 : 0;
      taken = n;
      return n > 0;
    });
    if (!queued) lost += taken;
    if (next == first) break;  // nothing could be made: no node
  }
  return lost + (reads.size() - next);
}

}  // namespace hylo
