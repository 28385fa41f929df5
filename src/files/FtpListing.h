#pragma once
// The instrument's answer to "LIST": Unix-style lines (permissions, links, owner, group, size,
// month, day, time or year, name). Bytes from outside: every line is bounded, every number
// checked, and a name that could name another place is kept only as a refusal.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hylo::files {

struct FtpListEntry {
  std::string name;
  std::optional<std::uint64_t> size;  // empty when the field is not a number below 2^63
  bool folder = false;                // permissions begin with "d"
  std::string refusal;                // why the name cannot be used; empty when it can
};

inline constexpr std::size_t kMaxListLine = 4096;
inline constexpr std::size_t kMaxListEntries = 100000;

// A name usable as one path component, remote and local: not empty, ".", "..", and without
// "/", "\", NUL, CR or LF.
bool PlainRemoteName(std::string_view name);

// One line (without its line end); empty for lines that list nothing ("total 12", blanks).
std::optional<FtpListEntry> ParseListLine(std::string_view line);
// Every entry of a reply; "." and ".." are left out, entries past kMaxListEntries dropped.
std::vector<FtpListEntry> ParseListing(std::string_view reply);
// The size field of the reply's first entry ("LIST file"); empty when there is none.
std::optional<std::uint64_t> ListedSize(std::string_view reply);

}  // namespace hylo::files
