#pragma once
// The trigger file: the band triggers of a list as "$T<n>_<KEY>=<value>" lines, shared by the
// instrument's list, the host's list and the program's own trigger file. One program-wide
// lock covers every read and write.
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "link/EpochTrigger.h"

namespace hylo {

enum class TriggerFileStatus {
  kOk,
  kNotTriggerFile,  // the path has no ".cfg"
  kCannotOpen,
  kWriteFailed,     // the disk refused the file; the old file is untouched
  kNoTriggerLines,  // not one line of the file is a trigger key
};

inline constexpr std::string_view kInvalidTriggerFileText = "Error: Invalid file selected";

std::mutex& TriggerFileLock();

// `WriteTriggerFile`: the band triggers (types 5 and 6) of `list` in slot order, after the old
// file's leading "#" comment lines. Written beside the path and renamed over it.
TriggerFileStatus WriteTriggerFile(const TriggerList& list, const std::filesystem::path& path);

// `ReadTriggerFile`: every trigger whose ten keys each occur exactly once and whose TYPE is
// 5 or 6 goes into its slot (valid = ACTIVE 1). Other slots keep their records with valid and
// enabled cleared. Unless the status is kOk, `list` is left exactly as it was.
TriggerFileStatus ReadTriggerFile(TriggerList& list, const std::filesystem::path& path);

// What the operator is told for a status (empty for kOk).
std::string DescribeTriggerFileStatus(TriggerFileStatus status, const std::filesystem::path& path);

}  // namespace hylo
