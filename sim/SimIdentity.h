#pragma once
// The payload of the identify ("E") reply, laid out by model and detail level.
#include <cstdint>
#include <string_view>
#include <vector>

#include "SimOptions.h"

namespace hylo::sim {

class SimIdentity {
 public:
  explicit SimIdentity(const SimOptions& options) : o_(options) {}

  std::vector<std::uint8_t> Reply() const;

  // Byte counts of the reply, so tests and callers agree on the layout.
  static std::size_t ReplyLength(int model, int detail);

  static std::string_view ProductText(int model);

 private:
  const SimOptions& o_;
};

}  // namespace hylo::sim
