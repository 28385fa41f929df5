#include "SimFileSystem.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>

namespace hylo::sim {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kOk = 0, kFailed = 1, kMissing = 2, kNoDrive = 12;

std::uint32_t BigU32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}
void PutBig(std::vector<std::uint8_t>& b, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Text of a NUL-padded field; empty when it holds anything but an 8.3 character.
std::string Field(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t size, bool& bad) {
  std::string out;
  for (std::size_t i = at; i < at + size && i < b.size() && b[i] != 0; ++i) {
    const char c = static_cast<char>(std::toupper(b[i]));
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::string_view("_-$~!#%&'(){}^@").find(c) == std::string_view::npos)
      bad = true;
    out += c;
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The entry of `dir` whose name matches `name` without regard to case, or dir/name.
fs::path Resolve(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (Upper(e.path().filename().string()) == name) return e.path();
  return dir / name;
}

std::string NameOf(const std::vector<std::uint8_t>& b, std::size_t at, bool& bad) {
  const std::string base = Field(b, at, 8, bad), ext = Field(b, at + 8, 3, bad);
  if (base.empty()) bad = true;
  return ext.empty() ? base : base + "." + ext;
}

void Seed(const fs::path& file, std::size_t size) {
  if (fs::exists(file)) return;
  std::ofstream out(file, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 7 + 3) & 0xFF));
}

}  // namespace

SimFileSystem::SimFileSystem(const SimOptions& options)
    : o_(options), root_(options.storage), busyLeft_(options.fsBusy) {
  fs::create_directories(root_ / "1" / "AURISOND");
  Seed(root_ / "1" / "BOOT5505.BIN", 2048);
  Seed(root_ / "1" / "AURISOND" / "UNIT.CFG", 64);
}

bool SimFileSystem::Handles(const SimFrame& f) const {
  if (std::string_view("KLHIJONM").find(f.letter) != std::string_view::npos) return true;
  if (f.letter == 'P') return true;
  return f.letter == 'C' && !f.payload.empty() && f.payload[0] == 0x40 &&
         (f.payload.size() == 1 || (f.payload.size() == 2 && f.payload[1] == 0));
}

std::optional<std::vector<std::uint8_t>> SimFileSystem::Handle(const SimFrame& f) {
  const auto& p = f.payload;
  if (f.letter == 'P') {
    std::vector<std::uint8_t> r{static_cast<std::uint8_t>(pending_ ? 1 : 0)};
    if (pending_)
      r.insert(r.end(), {static_cast<std::uint8_t>(*pending_ & 0xFF), static_cast<std::uint8_t>(*pending_ >> 8)});
    pending_.reset();
    return r;
  }
  if (f.letter == 'C') {
    if (p.size() == 1) return std::vector<std::uint8_t>{0x00};  // not busy
    if (!result_) return std::vector<std::uint8_t>{0x00};
    std::vector<std::uint8_t> r{0x40, static_cast<std::uint8_t>(result_->number & 0xFF),
                                static_cast<std::uint8_t>(result_->number >> 8), result_->status, 0};
    r.insert(r.end(), result_->data.begin(), result_->data.end());
    return r;
  }
  if (p.size() < 63) return std::nullopt;  // not a request: no answer
  const std::uint16_t number = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  if (busyLeft_ > 0) {
    --busyLeft_;
    return std::vector<std::uint8_t>{p[0], p[1], 0};
  }
  result_ = Execute(f.letter, p);
  result_->number = number;
  pending_ = number;
  return std::vector<std::uint8_t>{p[0], p[1], 1};
}

std::optional<fs::path> SimFileSystem::Folder(const std::vector<std::uint8_t>& b, std::uint8_t& status) const {
  if (b[2] != 1 && b[2] != 2) {
    status = kFailed;
    return std::nullopt;
  }
  fs::path dir = root_ / std::to_string(b[2]);
  if (!fs::is_directory(dir)) {
    status = kNoDrive;
    return std::nullopt;
  }
  for (std::size_t c = 0; c < 5; ++c) {
    bool bad = false;
    const std::string name = Field(b, 3 + 12 * c, 12, bad);
    if (name.empty()) break;
    if (bad || name.size() > 8) {
      status = kFailed;
      return std::nullopt;
    }
    dir = Resolve(dir, name);
  }
  return dir;
}

std::vector<std::uint8_t> SimFileSystem::List(const fs::path& folder) const {
  std::vector<std::string> folders, files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = Upper(e.path().filename().string());
    if (name.size() > 12) continue;
    (e.is_directory() ? folders : files).push_back(name);
  }
  std::sort(folders.begin(), folders.end());
  std::sort(files.begin(), files.end());
  folders.insert(folders.end(), files.begin(), files.end());
  std::vector<std::vector<std::uint8_t>> entries;
  for (const auto& n : folders) {
    std::vector<std::uint8_t> e(n.begin(), n.end());
    e.resize(12, 0);
    entries.push_back(e);
  }
  if (o_.fsHostileListing) {
    const std::vector<std::string> hostile = {std::string(),
                                              ".",
                                              "..",
                                              "../ESCAPE.TXT",
                                              "A/B.TXT",
                                              "..\\EVIL.TXT",
                                              std::string("NUL\0X.TXT", 9),
                                              "TOOLONGNAME.TXT",
                                              "WAYTOOLONG12"};
    for (const auto& h : hostile) {
      std::vector<std::uint8_t> e(h.begin(), h.end());
      e.resize(12, 0);
      entries.push_back(e);
    }
  }
  const std::size_t most = (7994 - 7) / 12;
  if (entries.size() > most) entries.resize(most);
  std::vector<std::uint8_t> r;
  PutBig(r, entries.size() * 12, 2);
  for (const auto& e : entries) r.insert(r.end(), e.begin(), e.end());
  return r;
}

SimFileSystem::Result SimFileSystem::Execute(char letter, const std::vector<std::uint8_t>& b) {
  Result r;
  const auto dir = Folder(b, r.status);
  if (!dir) return r;
  std::error_code ec;
  if (letter == 'K') {
    if (!fs::is_directory(*dir)) {
      r.status = kMissing;
      return r;
    }
    r.data = List(*dir);
    return r;
  }
  if (letter == 'O') {
    if (*dir == root_ / std::to_string(b[2]) || !fs::is_directory(*dir)) {
      r.status = kMissing;
    } else {
      fs::remove_all(*dir, ec);
      r.status = ec ? kFailed : kOk;
    }
    return r;
  }
  bool bad = false;
  if (b.size() < 74) {
    r.status = kFailed;
    return r;
  }
  const std::string name = NameOf(b, 63, bad);
  if (bad || !fs::is_directory(*dir)) {
    r.status = kFailed;
    return r;
  }
  const fs::path file = Resolve(*dir, name);
  switch (letter) {
    case 'L':
      if (fs::is_regular_file(file)) {
        PutBig(r.data, fs::file_size(file), 4);
      } else {
        r.status = kFailed;
        PutBig(r.data, 0xFFFFFFFFu, 4);
      }
      break;
    case 'H': {
      if (b.size() < 80 || !fs::is_regular_file(file)) {
        r.status = kFailed;
        break;
      }
      const std::uint32_t offset = BigU32(b, 74);
      const std::size_t length = std::min<std::size_t>((b[78] << 8) | b[79], 4096);
      std::ifstream in(file, std::ios::binary);
      in.seekg(offset);
      std::vector<std::uint8_t> block(length);
      in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(length));
      block.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
      if (o_.fsCorruptReadback && name == "UPDATE.BIN" && offset == 0 && !block.empty()) block[0] ^= 0xFF;
      PutBig(r.data, block.size(), 2);
      if (o_.fsShortBlocks && !block.empty()) block.pop_back();
      r.data.insert(r.data.end(), block.begin(), block.end());
      break;
    }
    case 'I': {
      if (b.size() < 80) {
        r.status = kFailed;
        break;
      }
      const std::uint32_t offset = BigU32(b, 74);
      const std::size_t length = (b[78] << 8) | b[79];
      if (length > 938 || b.size() < 80 + length) {
        r.status = kFailed;
        break;
      }
      std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out |
                                 (offset == 0 ? std::ios::trunc : std::ios::openmode{}));
      if (!out) out.open(file, std::ios::binary | std::ios::out | std::ios::trunc);
      out.seekp(offset);
      out.write(reinterpret_cast<const char*>(b.data() + 80), static_cast<std::streamsize>(length));
      r.status = out ? kOk : kFailed;
      break;
    }
    case 'J':
      r.status = fs::remove(file, ec) ? kOk : kMissing;
      break;
    case 'N':
    case 'M': {
      if (b.size() < 74 + 11) {
        r.status = kFailed;
        break;
      }
      const std::string target = NameOf(b, 74, bad);
      if (bad || !fs::is_regular_file(file)) {
        r.status = kFailed;
        break;
      }
      const fs::path to = Resolve(*dir, target);
      if (letter == 'N')
        fs::copy_file(file, to, fs::copy_options::overwrite_existing, ec);
      else
        fs::rename(file, to, ec);
      r.status = ec ? kFailed : kOk;
      break;
    }
    default:
      r.status = kFailed;
  }
  return r;
}

}  // namespace hylo::sim
