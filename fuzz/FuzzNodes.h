#pragma once
// One node pool per fuzz process, made on first use and kept for every input.
#include "core/HyloNodes.h"

namespace hylo::fuzz {

inline HyloNodes& Nodes() {
  static HyloNodes nodes;
  static const bool made = nodes.CreateNodePool() == 0;
  (void)made;
  return nodes;
}

}  // namespace hylo::fuzz
