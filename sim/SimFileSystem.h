#pragma once
// The instrument's storage behind the file protocol: volume folders "1" and "2" on disk under
// the --storage folder, requests accepted with their transaction number, listed once as
// pending, and their results fetched with "C" 0x40 0x00. Written from the wire format alone.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "SimFrameParser.h"
#include "SimOptions.h"

namespace hylo::sim {

class SimFileSystem {
 public:
  explicit SimFileSystem(const SimOptions& options);

  // True when the frame belongs to the file protocol; its reply (if any) is in `reply`.
  bool Handles(const SimFrame& frame) const;
  std::optional<std::vector<std::uint8_t>> Handle(const SimFrame& frame);

 private:
  struct Result {
    std::uint16_t number = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
  };
  Result Execute(char letter, const std::vector<std::uint8_t>& body);
  std::optional<std::filesystem::path> Folder(const std::vector<std::uint8_t>& body, std::uint8_t& status) const;
  std::vector<std::uint8_t> List(const std::filesystem::path& folder) const;

  const SimOptions& o_;
  std::filesystem::path root_;
  std::optional<Result> result_;
  std::optional<std::uint16_t> pending_;  // listed by the next "P" once
  int busyLeft_;
};

}  // namespace hylo::sim
