#include "settings/HyloIni.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/Folders.h"

namespace hylo {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '\r') continue;
    out += c;
  }
  out += '"';
  return out;
}

std::optional<std::string> Unquote(std::string_view raw) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\' && i + 2 < raw.size()) {
      c = raw[++i];
      if (c == 'n') c = '\n';
    }
    out += c;
  }
  return out;
}

// A quoted value is whole only when its closing quote is not escaped.
bool WellFormedValue(std::string_view raw) {
  if (raw.empty() || raw.front() != '"') return true;
  if (raw.size() < 2 || raw.back() != '"') return false;
  std::size_t backslashes = 0;
  for (std::size_t i = raw.size() - 1; i > 1 && raw[i - 1] == '\\'; --i) ++backslashes;
  return backslashes % 2 == 0;
}

}  // namespace

void HyloIni::SettingsInit(const std::filesystem::path& settingsFolder) {
  std::lock_guard guard(lock_);
  folder_ = settingsFolder;
  std::error_code error;
  platform::CreateFolderPath(folder_, error);
}

std::filesystem::path HyloIni::SettingsPath() const { return folder_ / "Hylo.ini"; }

bool HyloIni::Parses(std::string_view text) { return Parse(text).has_value(); }

std::optional<std::vector<HyloIni::Section>> HyloIni::Parse(std::string_view text) {
  std::vector<Section> sections;
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  Section* current = nullptr;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return std::nullopt;
      sections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
      current = &sections.back();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !current) return std::nullopt;
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view raw = Trim(line.substr(eq + 1));
    if (key.empty() || !WellFormedValue(raw)) return std::nullopt;
    current->entries.push_back({std::string(key), std::string(raw)});
  }
  return sections;
}

int HyloIni::SettingsLoad(const std::filesystem::path& path) {
  std::lock_guard guard(lock_);
  sections_.clear();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return kMissing;
  std::ifstream in(path, std::ios::binary);
  if (!in) return kUnreadable;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return kUnreadable;
  auto parsed = Parse(text.str());
  if (!parsed) return kUnreadable;
  sections_ = std::move(*parsed);
  return kLoaded;
}

std::string HyloIni::Text() const {
  std::lock_guard guard(lock_);
  std::string out;
  for (const auto& section : sections_) {
    out += "[" + section.name + "]\r\n";
    for (const auto& entry : section.entries) out += entry.key + " = " + entry.raw + "\r\n";
    out += "\r\n";
  }
  return out;
}

int HyloIni::WriteFile(const std::filesystem::path& path) const {
  // Write beside the target and rename over it, so a failed write never leaves half a file.
  const std::string text = Text();
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return -1;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      return -1;
    }
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);
  if (error) {
    std::filesystem::remove(temp, error);
    return -1;
  }
  return 0;
}

int HyloIni::SettingsWrite() {
  std::lock_guard guard(lock_);
  return WriteFile(SettingsPath());
}

int HyloIni::SettingsWriteTo(const std::filesystem::path& path) {
  std::lock_guard guard(lock_);
  return WriteFile(path);
}

void HyloIni::SettingsShutdown() {
  std::lock_guard guard(lock_);
  SettingsWrite();
  sections_.clear();
}

const std::string* HyloIni::Raw(std::string_view section, std::string_view key) const {
  for (const auto& s : sections_) {
    if (s.name != section) continue;
    for (const auto& e : s.entries) {
      if (e.key == key) return &e.raw;
    }
  }
  return nullptr;
}

void HyloIni::SetRaw(std::string_view section, std::string_view key, std::string raw) {
  std::lock_guard guard(lock_);
  Section* target = nullptr;
  for (auto& s : sections_) {
    if (s.name == section) target = &s;
  }
  if (!target) {
    sections_.push_back({std::string(section), {}});
    target = &sections_.back();
  }
  for (auto& e : target->entries) {
    if (e.key == key) {
      e.raw = std::move(raw);
      return;
    }
  }
  target->entries.push_back({std::string(key), std::move(raw)});
}

void HyloIni::SetText(std::string_view section, std::string_view key, std::string_view value) {
  SetRaw(section, key, Quote(value));
}
void HyloIni::SetBool(std::string_view section, std::string_view key, bool value) {
  SetRaw(section, key, value ? "True" : "False");
}
void HyloIni::SetInt(std::string_view section, std::string_view key, std::int64_t value) {
  SetRaw(section, key, std::to_string(value));
}
void HyloIni::SetDouble(std::string_view section, std::string_view key, double value) {
  // to_chars/from_chars ignore the process locale, so a point is always the separator.
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, std::isfinite(value) ? value : 0.0, std::chars_format::general, 16);
  std::string raw(text, written.ptr);
  // Keep a double recognisable as one even when it is whole.
  if (raw.find_first_of(".eE") == std::string::npos) raw += ".0";
  SetRaw(section, key, raw);
}

bool HyloIni::Has(std::string_view section, std::string_view key) const {
  std::lock_guard guard(lock_);
  return Raw(section, key) != nullptr;
}

bool HyloIni::GetText(std::string_view section, std::string_view key, std::string& out, std::size_t capacity) const {
  std::lock_guard guard(lock_);
  const std::string* raw = Raw(section, key);
  if (!raw) return false;
  auto text = Unquote(*raw);
  if (!text) return false;
  if (capacity > 0 && text->size() > capacity - 1) text->resize(capacity - 1);
  out = std::move(*text);
  return true;
}

bool HyloIni::GetBool(std::string_view section, std::string_view key, bool& out) const {
  std::lock_guard guard(lock_);
  const std::string* raw = Raw(section, key);
  if (!raw) return false;
  if (*raw == "True" || *raw == "TRUE" || *raw == "true" || *raw == "1") {
    out = true;
  } else if (*raw == "False" || *raw == "FALSE" || *raw == "false" || *raw == "0") {
    out = false;
  } else {
    return false;
  }
  return true;
}

bool HyloIni::GetInt(std::string_view section, std::string_view key, std::int64_t& out) const {
  std::lock_guard guard(lock_);
  const std::string* raw = Raw(section, key);
  if (!raw) return false;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(raw->data(), raw->data() + raw->size(), value);
  if (error != std::errc() || end != raw->data() + raw->size()) return false;
  out = value;
  return true;
}

bool HyloIni::GetInt(std::string_view section, std::string_view key, int& out) const {
  std::int64_t value = 0;
  if (!GetInt(section, key, value) || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

bool HyloIni::GetUInt(std::string_view section, std::string_view key, std::uint32_t& out) const {
  std::int64_t value = 0;
  if (!GetInt(section, key, value) || value < 0 || value > UINT32_MAX) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

bool HyloIni::GetDouble(std::string_view section, std::string_view key, double& out) const {
  std::lock_guard guard(lock_);
  const std::string* raw = Raw(section, key);
  if (!raw || raw->empty()) return false;
  double value = 0;
  const auto [end, error] = std::from_chars(raw->data(), raw->data() + raw->size(), value);
  if (error != std::errc() || end != raw->data() + raw->size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

std::vector<std::string> HyloIni::Sections() const {
  std::lock_guard guard(lock_);
  std::vector<std::string> names;
  for (const auto& s : sections_) names.push_back(s.name);
  return names;
}

}  // namespace hylo
