#include "files/FileProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "wire/Bytes.h"

namespace hylo::files {
namespace {

constexpr std::string_view kNameSymbols = "_-$~!#%&'(){}^@";

bool NameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || kNameSymbols.find(c) != std::string_view::npos;
}

bool ValidPart(std::string_view part, std::size_t most) {
  return !part.empty() && part.size() <= most && std::all_of(part.begin(), part.end(), NameChar);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

void PutText(std::span<std::uint8_t> into, std::string_view text) {
  const std::size_t n = std::min(text.size(), into.size());
  for (std::size_t i = 0; i < n; ++i) into[i] = static_cast<std::uint8_t>(text[i]);
}

// Volume and folder components at bytes 2..62 of a body.
void PutPlace(std::vector<std::uint8_t>& body, const RemotePath& path) {
  body[2] = static_cast<std::uint8_t>(path.volume);
  const std::size_t levels = std::min(path.folders.size(), kFolderLevels);
  for (std::size_t i = 0; i < levels; ++i) {
    // A component keeps its terminating NUL inside its 12 bytes.
    const std::string_view c(path.folders[i]);
    PutText(std::span(body).subspan(3 + i * kComponentBytes, kComponentBytes - 1), Upper(c));
  }
}

void PutName(std::vector<std::uint8_t>& body, const ShortName& n) {
  std::copy(n.base.begin(), n.base.end(), body.begin() + 63);
  std::copy(n.ext.begin(), n.ext.end(), body.begin() + 71);
}

std::string Shown(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isprint(u) != 0) {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string RemotePath::Text() const {
  std::string out = "/" + std::to_string(volume);
  for (const auto& f : folders) out += "/" + f;
  if (!name.empty()) out += "/" + name;
  return out;
}

RemotePath RemotePath::Child(std::string_view entry) const {
  RemotePath child{volume, folders, {}};
  if (entry.find('.') != std::string_view::npos)
    child.name = std::string(entry);
  else
    child.folders.emplace_back(entry);
  return child;
}

std::optional<RemotePath> ParseRemotePath(std::string_view text, std::string& error) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('/', at), text.size());
    if (end > at) parts.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (parts.empty() || (parts[0] != "1" && parts[0] != "2")) {
    error = "a remote path begins with its volume, /1 or /2: \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  RemotePath path;
  path.volume = parts[0][0] - '0';
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (!ValidEntryName(parts[i]) || (i + 1 < parts.size() && parts[i].find('.') != std::string::npos)) {
      error = "not a name the instrument can hold: \"" + parts[i] + "\"";
      return std::nullopt;
    }
    path = path.Child(Upper(parts[i]));
  }
  return path;
}

bool ValidEntryName(std::string_view name) {
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return ValidPart(name, 8);
  return ValidPart(name.substr(0, dot), 8) && ValidPart(name.substr(dot + 1), 3);
}

bool AddressableDepth(const RemotePath& path) { return path.folders.size() <= kFolderLevels; }

std::string ShortName::Text() const {
  auto part = [](auto& a) {
    std::string s;
    for (auto b : a)
      if (b != 0) s += static_cast<char>(b);
    return s;
  };
  const std::string e = part(ext);
  return e.empty() ? part(base) : part(base) + "." + e;
}

ShortName SplitShortName(std::string_view name) {
  ShortName out;
  const auto first = name.find('.');
  const auto last = name.rfind('.');
  PutText(out.base, Upper(name.substr(0, first)));
  if (last != std::string_view::npos) PutText(out.ext, Upper(name.substr(last + 1)));
  return out;
}

std::vector<std::uint8_t> ListBody(const RemotePath& folder) {
  std::vector<std::uint8_t> body(kListBody, 0);
  PutPlace(body, folder);
  return body;
}

std::vector<std::uint8_t> NameBody(const RemotePath& file) {
  std::vector<std::uint8_t> body(kNameBody, 0);
  PutPlace(body, file);
  PutName(body, SplitShortName(file.name));
  return body;
}

std::vector<std::uint8_t> BlockBody(const RemotePath& file, std::uint32_t offset, std::uint16_t length,
                                    std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> body = NameBody(file);
  body.resize(kBlockBody, 0);
  bytes::PutU32BE(body, 74, offset);
  bytes::PutU16BE(body, 78, length);
  body.insert(body.end(), data.begin(), data.end());
  return body;
}

void SetTransaction(std::span<std::uint8_t> body, std::uint16_t number) {
  if (body.size() >= 2) bytes::PutU16BE(body, 0, number);
}

std::vector<std::uint8_t> SecondName(const ShortName& name, std::size_t size) {
  std::vector<std::uint8_t> out(std::max<std::size_t>(size, 11), 0);
  std::copy(name.base.begin(), name.base.end(), out.begin());
  std::copy(name.ext.begin(), name.ext.end(), out.begin() + 8);
  out.resize(size);
  return out;
}

bool Accepted(std::span<const std::uint8_t> payload) { return payload.size() >= 3 && payload[2] == 1; }

bool StillBusy(std::span<const std::uint8_t> payload) { return !payload.empty() && payload[0] == kExchange; }

std::optional<std::vector<std::uint16_t>> ParsePending(std::span<const std::uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  const std::size_t count = payload[0];
  if (1 + 2 * count > payload.size()) return std::nullopt;
  std::vector<std::uint16_t> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(bytes::GetU16LE(payload, 1 + 2 * i));
  return out;
}

std::optional<FetchedResult> ParseFetch(std::span<const std::uint8_t> payload, std::uint16_t number) {
  if (payload.size() < 5 || payload[0] != kExchange || bytes::GetU16LE(payload, 1) != number) return std::nullopt;
  return FetchedResult{payload[3], std::vector<std::uint8_t>(payload.begin() + 5, payload.end())};
}

Listing ParseListing(std::span<const std::uint8_t> data) {
  Listing out;
  if (data.size() < 2) return out;
  const std::size_t length = bytes::GetU16BE(data, 0);
  if (length > data.size() - 2) return out;
  out.ok = true;
  for (std::size_t at = 2; at + kComponentBytes <= 2 + length; at += kComponentBytes) {
    const auto entry = data.subspan(at, kComponentBytes);
    const auto nul = std::find(entry.begin(), entry.end(), std::uint8_t{0});
    const std::string name(entry.begin(), nul);
    const bool tail = std::any_of(nul, entry.end(), [](std::uint8_t b) { return b != 0; });
    if (name == kHiddenBootFile) continue;
    if (tail || !ValidEntryName(name))
      out.refused.push_back(Shown(std::string(entry.begin(), entry.end())));
    else
      out.names.push_back(Upper(name));
  }
  return out;
}

std::optional<std::uint32_t> ParseOpenSize(std::span<const std::uint8_t> data) {
  if (data.size() < 4) return std::nullopt;
  const std::uint32_t size = bytes::GetU32BE(data, 0);
  if (size == 0xFFFFFFFFu) return std::nullopt;
  return size;
}

std::optional<std::span<const std::uint8_t>> ParseBlock(std::span<const std::uint8_t> data, std::uint16_t requested) {
  if (data.size() < 2) return std::nullopt;
  const std::uint16_t n = bytes::GetU16BE(data, 0);
  if (n == 0 || n != requested || n > data.size() - 2) return std::nullopt;
  return data.subspan(2, n);
}

namespace {
std::vector<Block> Blocks(std::uint32_t size, std::uint32_t step) {
  std::vector<Block> out;
  for (std::uint64_t at = 0; at < size; at += step)
    out.push_back(
        {static_cast<std::uint32_t>(at), static_cast<std::uint16_t>(std::min<std::uint64_t>(step, size - at))});
  return out;
}
}  // namespace

std::vector<Block> ReadBlocks(std::uint32_t size) { return Blocks(size, kReadBlock); }

std::vector<Block> WriteBlocks(std::uint32_t size) {
  auto out = Blocks(size, kWriteBlock);
  if (out.empty()) out.push_back({0, 0});
  return out;
}

int ProgressPercent(std::uint64_t done, std::uint64_t size) {
  if (size == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(done * 100 / size, 100));
}

std::string ProgressText(std::uint64_t done, std::uint64_t size) {
  return std::to_string(done / 1000) + " / " + std::to_string(size / 1000) + " KB";
}

std::string_view StatusText(std::uint8_t status) {
  switch (status) {
    case 12:
      return "Drive not detected on device.";
    case 13:
      return "Drive is idle and cannot currently be accessed.";
    case 14:
      return "Drive is in use by USB, and cannot be accessed.";
    case 15:
      return "Drive is full, please delete data and try again.";
    default:
      return {};
  }
}

}  // namespace hylo::files
