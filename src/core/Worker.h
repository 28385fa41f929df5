#pragma once
// The shape every long-lived worker shares: the loop in HyloThreadControl receives nodes
// and hands them here. Module classes implement the parts they need.
#include "core/HyloNodes.h"

namespace hylo {

class Worker {
 public:
  virtual ~Worker() = default;
  // Receive wait for the next pass, in ms; −1 waits without limit.
  virtual int ReceiveTimeoutMs() { return -1; }
  // Acts on one node (never type 7). Returns true when the node was posted on and is no
  // longer this worker's; false lets the loop free it.
  virtual bool Handle(MessageNode& node) {
    (void)node;
    return false;
  }
  // The workers are about to start (on the starting thread, before any loop runs).
  virtual void OnStart() {}
  // No node within the receive wait.
  virtual void OnTimeout() {}
  // A type 7 node arrived; the loop ends after this.
  virtual void OnQuit() {}
};

}  // namespace hylo
