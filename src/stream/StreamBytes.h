#pragma once
// The payload of a stream-bytes node (types 4, 5, 6): one socket read, then its length.
#include <algorithm>
#include <cstdint>
#include <span>

#include "core/Post.h"
#include "stream/ParseStreams.h"

namespace hylo {

struct StreamBytes {
  std::uint8_t bytes[kStreamReadBytes];
  std::uint32_t count;
  std::uint8_t datagram;  // 1: one whole UDP datagram, which starts a message

  // Empty when the count is out of range (a node that was never filled properly).
  std::span<const std::uint8_t> View() const {
    return count <= kStreamReadBytes ? std::span<const std::uint8_t>(bytes, count) : std::span<const std::uint8_t>{};
  }
};

// Queues one read (at most kStreamReadBytes) to MsgProcThread; false when it was not taken.
inline bool PostStreamBytes(HyloThreadControl& threads, std::int32_t type, std::span<const std::uint8_t> read,
                            bool datagram = false) {
  if (read.empty() || read.size() > kStreamReadBytes) return false;
  return Post(threads, MSG_PROC_THREAD, type, [read, datagram](MessageNode& node) {
    auto& out = node.As<StreamBytes>();
    std::copy(read.begin(), read.end(), out.bytes);
    out.count = static_cast<std::uint32_t>(read.size());
    out.datagram = datagram ? 1 : 0;
  });
}

}  // namespace hylo
