#include "files/TriggerFile.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/Folders.h"

namespace hylo {
namespace {

constexpr std::size_t kMaxLine = 1000;
constexpr std::size_t kKeys = 10;
constexpr std::array<std::string_view, kKeys> kKeyNames = {"TYPE",     "ACTIVE",   "DUR",       "EXTEND", "MIN_FREQ",
                                                           "MAX_FREQ", "REF_TYPE", "THRESHOLD", "EFFECT", "PRE_TRIG"};
constexpr std::size_t kThresholdKey = 7;

std::array<long, kKeys> Fields(const EpochTrigger& t) {
  return {t.type,    t.active,    t.dur,    t.extend, static_cast<long>(t.minFreq), static_cast<long>(t.maxFreq),
          t.refType, t.threshold, t.effect, t.preTrig};
}

// The range each key's field can hold; a value outside it makes the key unusable.
bool FitsField(std::size_t key, long v) {
  switch (key) {
    case 1:
      return v >= 0 && v <= 255;
    case 4:
    case 5:
      return v >= 0 && v <= static_cast<long>(std::numeric_limits<std::uint32_t>::max());
    case kThresholdKey:
      return v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max();
    default:
      return v >= 0 && v <= 65535;
  }
}

struct KeyLine {
  unsigned trigger = 0;
  std::size_t key = 0;
  long value = 0;
};

// "$T<n>_<KEY>=<value>"; THRESHHOLD is the older spelling of THRESHOLD.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  if (!line.starts_with("$T")) return std::nullopt;
  line.remove_prefix(2);
  KeyLine k;
  auto [p, ec] = std::from_chars(line.data(), line.data() + line.size(), k.trigger);
  if (ec != std::errc() || p == line.data() || *p != '_') return std::nullopt;
  line.remove_prefix(static_cast<std::size_t>(p - line.data()) + 1);
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(0, eq);
  std::size_t key = kKeys;
  for (std::size_t i = 0; i < kKeys; ++i)
    if (name == kKeyNames[i]) key = i;
  if (name == "THRESHHOLD") key = kThresholdKey;
  if (key == kKeys) return std::nullopt;
  std::string_view value = line.substr(eq + 1);
  if (value.starts_with('+')) value.remove_prefix(1);
  auto [q, ec2] = std::from_chars(value.data(), value.data() + value.size(), k.value);
  if (ec2 != std::errc() || q == value.data()) return std::nullopt;
  k.key = key;
  return k;
}

EpochTrigger FromFields(const std::array<long, kKeys>& f, unsigned slotNumber) {
  EpochTrigger t;
  t.type = static_cast<std::uint16_t>(f[0]);
  t.active = static_cast<std::uint8_t>(f[1]);
  t.dur = static_cast<std::uint16_t>(f[2]);
  t.extend = static_cast<std::uint16_t>(f[3]);
  t.minFreq = static_cast<std::uint32_t>(f[4]);
  t.maxFreq = static_cast<std::uint32_t>(f[5]);
  t.refType = static_cast<std::uint16_t>(f[6]);
  t.threshold = static_cast<std::int16_t>(f[7]);
  t.effect = static_cast<std::uint16_t>(f[8]);
  t.preTrig = static_cast<std::uint16_t>(f[9]);
  t.slot = static_cast<std::uint8_t>(slotNumber - 1);
  return t;
}

std::filesystem::path TemporaryPath(const std::string& path) {
  std::filesystem::path cut = path.substr(0, path.find(".cfg") + 4);
  return cut.replace_extension(".tmp");
}

}  // namespace

std::mutex& TriggerFileLock() {
  static std::mutex lock;
  return lock;
}

TriggerFileStatus WriteTriggerFile(const TriggerList& list, const std::filesystem::path& path) {
  const std::string text = path.string();
  if (text.find(".cfg") == std::string::npos) return TriggerFileStatus::kNotTriggerFile;
  const auto temporary = TemporaryPath(text);
  std::error_code error;
  if (path.has_parent_path()) platform::CreateFolderPath(path.parent_path(), error);

  std::lock_guard guard(TriggerFileLock());
  std::ostringstream out;
  if (std::ifstream old(path); old) {
    std::string line;
    while (std::getline(old, line) && line.starts_with('#') && line.size() <= kMaxLine) out << line << '\n';
  }
  for (std::size_t s = 0; s < list.size(); ++s) {
    if (!IsBandType(list[s].Type())) continue;
    const auto fields = Fields(list[s].Epoch());
    out << "\n#Trigger " << s + 1 << " settings:\n";
    for (std::size_t k = 0; k < kKeys; ++k) out << "$T" << s + 1 << '_' << kKeyNames[k] << '=' << fields[k] << '\n';
  }
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return TriggerFileStatus::kCannotOpen;
    file << out.str();
    file.flush();
    if (!file) {
      file.close();
      std::filesystem::remove(temporary, error);
      return TriggerFileStatus::kWriteFailed;
    }
  }
  // Renaming over the old file replaces it in one step: a crash leaves the old or the new.
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return TriggerFileStatus::kWriteFailed;
  }
  return TriggerFileStatus::kOk;
}

TriggerFileStatus ReadTriggerFile(TriggerList& list, const std::filesystem::path& path) {
  std::lock_guard guard(TriggerFileLock());
  std::ifstream file(path, std::ios::binary);
  if (!file) return TriggerFileStatus::kCannotOpen;

  struct Seen {
    std::array<long, kKeys> value{};
    std::array<int, kKeys> count{};
  };
  std::array<Seen, kTriggerSlots> seen{};
  bool anyKey = false;
  std::string line;
  while (std::getline(file, line)) {
    if (line.size() > kMaxLine) continue;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    const auto k = ParseKeyLine(line);
    if (!k) continue;
    anyKey = true;
    if (k->trigger < 1 || k->trigger > kTriggerSlots) continue;
    auto& s = seen[k->trigger - 1];
    // A value the field cannot hold counts as a second occurrence: the trigger is left out.
    if (s.count[k->key]++ == 0 && FitsField(k->key, k->value))
      s.value[k->key] = k->value;
    else
      s.count[k->key] = 2;
  }
  if (file.bad()) return TriggerFileStatus::kCannotOpen;
  if (!anyKey) return TriggerFileStatus::kNoTriggerLines;

  for (auto& slot : list) {
    slot.valid = false;
    if (IsBandType(slot.Type())) slot.record[3] = 0;
  }
  for (std::size_t n = 0; n < kTriggerSlots; ++n) {
    const auto& s = seen[n];
    bool complete = true;
    for (int c : s.count) complete = complete && c == 1;
    if (!complete || !IsBandType(static_cast<std::uint16_t>(s.value[0]))) continue;
    const EpochTrigger t = FromFields(s.value, static_cast<unsigned>(n + 1));
    list[n].Set(t);
    list[n].valid = t.active == 1;
  }
  return TriggerFileStatus::kOk;
}

std::string DescribeTriggerFileStatus(TriggerFileStatus status, const std::filesystem::path& path) {
  switch (status) {
    case TriggerFileStatus::kOk:
      return {};
    case TriggerFileStatus::kNotTriggerFile:
      return "Trigger files end in \".cfg\": " + path.string();
    case TriggerFileStatus::kCannotOpen:
      return "Cannot open the trigger file " + path.string();
    case TriggerFileStatus::kWriteFailed:
      return "Could not write the trigger file " + path.string();
    case TriggerFileStatus::kNoTriggerLines:
      return std::string(kInvalidTriggerFileText);
  }
  return {};
}

}  // namespace hylo
