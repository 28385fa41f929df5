#pragma once
// The instrument's file protocol on the command link: request bodies (big-endian, 8.3 names,
// five 12-byte folder components), the replies of its exchanges, block plans and progress.
// Pure functions over bytes, so every reader of the instrument's replies can be fuzzed.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hylo::files {

inline constexpr std::size_t kReadBlock = 4096;
inline constexpr std::size_t kWriteBlock = 938;
inline constexpr std::size_t kFolderLevels = 5;
inline constexpr std::size_t kComponentBytes = 12;
inline constexpr std::size_t kListBody = 63;
inline constexpr std::size_t kNameBody = 74;
inline constexpr std::size_t kBlockBody = 80;
inline constexpr std::uint8_t kExchange = 0x40;

namespace letter {
inline constexpr std::uint8_t kList = 'K';
inline constexpr std::uint8_t kOpen = 'L';
inline constexpr std::uint8_t kRead = 'H';
inline constexpr std::uint8_t kWrite = 'I';
inline constexpr std::uint8_t kDeleteFile = 'J';
inline constexpr std::uint8_t kDeleteFolder = 'O';
inline constexpr std::uint8_t kCopy = 'N';
inline constexpr std::uint8_t kRename = 'M';
inline constexpr std::uint8_t kStatus = 'C';
inline constexpr std::uint8_t kPending = 'P';
}  // namespace letter

// A place on the instrument: a volume (1 or 2), its folders outermost first, and a file name
// ("NAME.EXT"), empty for the folder itself.
struct RemotePath {
  int volume = 1;
  std::vector<std::string> folders;
  std::string name;

  bool IsFolder() const { return name.empty(); }
  // "/1/DATA/F0001.WAV"; a folder without a trailing slash ("/1/DATA", "/1").
  std::string Text() const;
  RemotePath Child(std::string_view entry) const;  // a listed entry of this folder
  // The folder's own name (its last component), empty for a volume root.
  std::string FolderName() const { return folders.empty() ? std::string() : folders.back(); }
};

// "/1/DATA/F.WAV", "1/DATA" or "/2": an entry with a "." is a file. Empty with `error` set
// when the text names no place (no volume, a bad component).
std::optional<RemotePath> ParseRemotePath(std::string_view text, std::string& error);

// An 8.3 name the instrument can hold: 1–8 characters, optionally "." and 1–3 more, from
// letters, digits and _ - $ ~ ! # % & ' ( ) { } ^ @. No path separators, no "." or "..".
bool ValidEntryName(std::string_view name);
// Items deeper than the five folder components cannot be named on the wire.
bool AddressableDepth(const RemotePath& path);

// A name split for the wire: before the first "." (at most 8) and after the last "." (at most
// 3), upper-cased, each NUL-padded.
struct ShortName {
  std::array<std::uint8_t, 8> base{};
  std::array<std::uint8_t, 3> ext{};
  std::string Text() const;  // "BASE.EXT" (or "BASE")
};
ShortName SplitShortName(std::string_view name);

// Bodies; the transaction number (bytes 0, 1) is set at submission by SetTransaction.
std::vector<std::uint8_t> ListBody(const RemotePath& folder);
std::vector<std::uint8_t> NameBody(const RemotePath& file);
std::vector<std::uint8_t> BlockBody(const RemotePath& file, std::uint32_t offset, std::uint16_t length,
                                    std::span<const std::uint8_t> data = {});
void SetTransaction(std::span<std::uint8_t> body, std::uint16_t number);
// The target name blocks of "N" (71 bytes) and "M" (11 bytes).
std::vector<std::uint8_t> SecondName(const ShortName& name, std::size_t size);

// Reply payloads (without the frame head).
bool Accepted(std::span<const std::uint8_t> payload);
bool StillBusy(std::span<const std::uint8_t> payload);
// The transaction numbers the instrument still works on; empty when the reply is too short.
std::optional<std::vector<std::uint16_t>> ParsePending(std::span<const std::uint8_t> payload);
struct FetchedResult {
  std::uint8_t status = 0;
  std::vector<std::uint8_t> data;
};
// The result of transaction `number`; empty when the payload is not one.
std::optional<FetchedResult> ParseFetch(std::span<const std::uint8_t> payload, std::uint16_t number);

struct Listing {
  std::vector<std::string> names;    // usable entries, in order, the hidden boot file left out
  std::vector<std::string> refused;  // entries that name no place (shown escaped)
  bool ok = false;                   // false when the length claims more than the reply holds
};
Listing ParseListing(std::span<const std::uint8_t> data);
std::optional<std::uint32_t> ParseOpenSize(std::span<const std::uint8_t> data);
// A block's bytes: only when n equals the length asked for and fits inside the reply.
std::optional<std::span<const std::uint8_t>> ParseBlock(std::span<const std::uint8_t> data, std::uint16_t requested);

struct Block {
  std::uint32_t offset = 0;
  std::uint16_t length = 0;
  bool operator==(const Block&) const = default;
};
std::vector<Block> ReadBlocks(std::uint32_t size);
std::vector<Block> WriteBlocks(std::uint32_t size);  // an empty file is one empty block

int ProgressPercent(std::uint64_t done, std::uint64_t size);
std::string ProgressText(std::uint64_t done, std::uint64_t size);  // "%d / %d KB", decimal
// The operator's text for a failing status; empty for those without one of their own.
std::string_view StatusText(std::uint8_t status);

inline constexpr std::string_view kHiddenBootFile = "BOOT5505.BIN";

}  // namespace hylo::files
