#pragma once
// Typed posting: the one place that takes a node from the pool, fills it, hands it on and,
// when it cannot be queued, gives it back with any sample buffer it carries. Every sender
// goes through here, so no path can leak a node or free one the receiver already owns.
#include <concepts>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/HyloNodes.h"
#include "core/HyloThreadControl.h"

namespace hylo {

// A fill step receives the fresh node; returning false abandons the message.
template <typename Fill>
concept NodeFill = std::invocable<Fill&, MessageNode&>;

// A sink takes the filled node and answers 1 when it is queued (the receiver then owns it).
template <typename Sink>
concept NodeSink = std::is_invocable_r_v<int, Sink&, MessageNode*>;

namespace post_detail {
template <typename Fill>
bool RunFill(Fill& fill, MessageNode& node) {
  if constexpr (std::is_same_v<std::invoke_result_t<Fill&, MessageNode&>, bool>) {
    return fill(node);
  } else {
    fill(node);
    return true;
  }
}
}  // namespace post_detail

// Allocates (keeping the live-traffic reserve), fills and hands the node to `sink`; true
// when it was queued. An empty std::function sink counts as a refusal.
template <NodeSink Sink, NodeFill Fill>
bool PostTo(HyloNodes& nodes, Sink&& sink, std::int32_t type, Fill&& fill) {
  MessageNode* node = nodes.AllocNode(type, 1);
  if (!node) return false;
  bool queued = false;
  if (post_detail::RunFill(fill, *node)) {
    if constexpr (std::is_constructible_v<bool, Sink&>) {
      queued = static_cast<bool>(sink) && sink(node) == 1;
    } else {
      queued = sink(node) == 1;
    }
  }
  if (!queued) nodes.ReleaseNode(node);
  return queued;
}

// The same, telling apart why a message was not queued: 0 when queued, −1 without a free
// node, −43 when the sink refused it (the decoders count the two apart).
template <NodeSink Sink, NodeFill Fill>
int PostToResult(HyloNodes& nodes, Sink&& sink, std::int32_t type, Fill&& fill) {
  bool made = false;
  const bool queued = PostTo(nodes, std::forward<Sink>(sink), type, [&](MessageNode& node) {
    made = true;
    return post_detail::RunFill(fill, node);
  });
  return queued ? 0 : made ? -43 : -1;
}

// The same, queued to a worker slot.
template <NodeFill Fill>
bool Post(HyloThreadControl& threads, int slot, std::int32_t type, Fill&& fill) {
  return PostTo(
      threads.Nodes(), [&threads, slot](MessageNode* node) { return threads.PostNode(slot, node); }, type,
      std::forward<Fill>(fill));
}

// A message whose payload is one value.
template <typename T>
requires(!NodeFill<T> && std::is_trivially_copyable_v<T>) bool Post(HyloThreadControl& threads, int slot,
                                                                    std::int32_t type, const T& value) {
  return Post(threads, slot, type, [&value](MessageNode& node) { node.As<T>() = value; });
}

// A message that is only its type (resets, refresh ticks, quit).
inline bool Post(HyloThreadControl& threads, int slot, std::int32_t type) {
  return Post(threads, slot, type, [](MessageNode&) {});
}

}  // namespace hylo
