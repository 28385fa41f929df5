// Arbitrary bytes as the instrument's answer to "LIST": every entry the parser keeps has a
// bounded name, and a usable name never names another place.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "files/FtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  for (const auto& e : hylo::files::ParseListing(in)) {
    if (e.name.size() > hylo::files::kMaxListLine) std::abort();
    if (e.refusal.empty() && !hylo::files::PlainRemoteName(e.name)) std::abort();
    if (e.size && *e.size > static_cast<std::uint64_t>(INT64_MAX)) std::abort();
  }
  (void)hylo::files::ListedSize(in);
  return 0;
}
