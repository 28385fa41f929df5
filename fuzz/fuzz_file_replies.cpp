// Arbitrary bytes as the instrument's file-protocol replies: each parser alone, then a whole
// listing run by HyloFileSystem against a link that answers from the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "files/FileProtocol.h"
#include "files/HyloFileSystem.h"

namespace {

using namespace hylo;

// Each reply is the next (length byte, payload) piece of the input; the input's end is silence.
class InputLink final : public CommandLink {
 public:
  explicit InputLink(std::span<const std::uint8_t> in) : in_(in) {}
  bool OpenTcp(const std::string&, int, int) override { return true; }
  bool OpenSerial(int, int, int) override { return true; }
  void Close() override {}
  int ConnectionType() const override { return LINK_ETHERNET; }
  std::optional<std::vector<std::uint8_t>> Transact(std::uint8_t letter, std::span<const std::uint8_t>, int, bool,
                                                    const std::atomic<bool>&) override {
    if (in_.empty()) return std::nullopt;
    const std::size_t n = std::min<std::size_t>(in_[0] * 16u, in_.size() - 1);
    std::vector<std::uint8_t> out{'*', letter, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
    out.insert(out.end(), in_.begin() + 1, in_.begin() + 1 + static_cast<std::ptrdiff_t>(n));
    in_ = in_.subspan(1 + n);
    return out;
  }
  int Send(std::uint8_t, std::span<const std::uint8_t>, bool) override { return 0; }
  void CancelCommands() override {}

 private:
  std::span<const std::uint8_t> in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in(data, size);
  (void)files::ParseListing(in);
  (void)files::ParseOpenSize(in);
  (void)files::ParsePending(in);
  if (size >= 2) {
    (void)files::ParseBlock(in.subspan(2), static_cast<std::uint16_t>(data[0] << 8 | data[1]));
    (void)files::ParseFetch(in.subspan(2), static_cast<std::uint16_t>(data[0] | data[1] << 8));
  }
  InputLink link(in);
  files::HyloFileSystem fs(link, {0, std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
  std::vector<files::RemoteEntry> entries;
  (void)fs.List("/1/DATA", true, entries);
  return 0;
}
