#pragma once
// The settings document: every persistent setting in one in-memory INI document, written
// to "Hylo.ini" at exit and around session saves and loads.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hylo {

class HyloIni {
 public:
  enum LoadResult : int { kLoaded = 0, kMissing = -1, kUnreadable = -2 };

  // Remembers the settings folder and creates it with every missing level.
  void SettingsInit(const std::filesystem::path& settingsFolder);
  std::filesystem::path SettingsPath() const;
  const std::filesystem::path& SettingsFolder() const { return folder_; }

  // Replaces the document with the file's contents: kLoaded, kMissing or kUnreadable.
  // On kUnreadable the document is left empty.
  int SettingsLoad(const std::filesystem::path& path);
  // True when text reads as a settings document (used to vet a session before loading it).
  static bool Parses(std::string_view text);
  // 0, or −1 when the file could not be written; written whole or not at all.
  int SettingsWrite();
  int SettingsWriteTo(const std::filesystem::path& path);
  void SettingsShutdown();

  // Every access holds this; group loads and saves take it around their keys.
  std::recursive_mutex& SettingsLock() const { return lock_; }

  void SetText(std::string_view section, std::string_view key, std::string_view value);
  void SetBool(std::string_view section, std::string_view key, bool value);
  void SetInt(std::string_view section, std::string_view key, std::int64_t value);
  void SetDouble(std::string_view section, std::string_view key, double value);

  // Each leaves `out` unchanged when the key is missing or holds another kind of value.
  // Text longer than capacity − 1 characters is cut, as into a fixed buffer.
  bool GetText(std::string_view section, std::string_view key, std::string& out, std::size_t capacity) const;
  bool GetBool(std::string_view section, std::string_view key, bool& out) const;
  bool GetInt(std::string_view section, std::string_view key, std::int64_t& out) const;
  bool GetInt(std::string_view section, std::string_view key, int& out) const;
  bool GetUInt(std::string_view section, std::string_view key, std::uint32_t& out) const;
  bool GetDouble(std::string_view section, std::string_view key, double& out) const;
  bool Has(std::string_view section, std::string_view key) const;

  std::string Text() const;
  std::vector<std::string> Sections() const;

 private:
  struct Entry {
    std::string key;
    std::string raw;  // the value as written in the file
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  static std::optional<std::vector<Section>> Parse(std::string_view text);
  const std::string* Raw(std::string_view section, std::string_view key) const;
  void SetRaw(std::string_view section, std::string_view key, std::string raw);
  int WriteFile(const std::filesystem::path& path) const;

  mutable std::recursive_mutex lock_;
  std::filesystem::path folder_;
  std::vector<Section> sections_;
};

}  // namespace hylo
