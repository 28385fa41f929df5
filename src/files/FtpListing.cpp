#include "files/FtpListing.h"

#include <array>
#include <charconv>
#include <limits>

namespace hylo::files {
namespace {

constexpr bool Space(char c) { return c == ' ' || c == '\t'; }

std::optional<std::uint64_t> Number(std::string_view field) {
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
  return v;
}

}  // namespace

bool PlainRemoteName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0\r\n", 5)) == std::string_view::npos;
}

std::optional<FtpListEntry> ParseListLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  FtpListEntry e;
  if (line.size() > kMaxListLine) {
    e.refusal = "Error: the instrument listed a line too long to use.";
    return e;
  }
  // Eight fields, then the name: the rest of the line after the blanks that follow them.
  std::array<std::string_view, 8> fields;
  std::size_t at = 0;
  for (auto& f : fields) {
    while (at < line.size() && Space(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !Space(line[at])) ++at;
    if (start == at) return std::nullopt;
    f = line.substr(start, at - start);
  }
  while (at < line.size() && Space(line[at])) ++at;
  e.name = std::string(line.substr(at));
  if (e.name.empty()) return std::nullopt;
  e.folder = fields[0].front() == 'd';
  e.size = Number(fields[4]);
  if (!PlainRemoteName(e.name)) e.refusal = "Error: the instrument listed a name that names no place.";
  return e;
}

std::vector<FtpListEntry> ParseListing(std::string_view reply) {
  std::vector<FtpListEntry> out;
  while (!reply.empty() && out.size() < kMaxListEntries) {
    const auto end = reply.find('\n');
    const std::string_view line = reply.substr(0, end);
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
    auto e = ParseListLine(line);
    if (!e || e->name == "." || e->name == "..") continue;
    out.push_back(std::move(*e));
  }
  return out;
}

std::optional<std::uint64_t> ListedSize(std::string_view reply) {
  while (!reply.empty()) {
    const auto end = reply.find('\n');
    const auto e = ParseListLine(reply.substr(0, end));
    if (e) return e->size;
    if (end == std::string_view::npos) break;
    reply = reply.substr(end + 1);
  }
  return std::nullopt;
}

}  // namespace hylo::files
