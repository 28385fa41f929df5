#include "platform/Folders.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace hylo::platform {
namespace {

std::filesystem::path Home() {
  const char* home = std::getenv("HOME");
  return home && *home ? std::filesystem::path(home) : std::filesystem::temp_directory_path();
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs, with $HOME expanded.
std::filesystem::path XdgDocuments(const std::filesystem::path& config) {
  std::ifstream in(config / "user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) return Home() / std::filesystem::path(value.substr(5)).relative_path();
    if (!value.empty() && value.front() == '/') return value;
  }
  return {};
}

}  // namespace

std::filesystem::path UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  return Home() / ".config";
}

std::filesystem::path DocumentsFolder() {
  auto documents = XdgDocuments(UserConfigFolder());
  if (!documents.empty()) return documents;
  return Home() / "Documents";
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path(error) : exe.parent_path();
}

bool CreateFolderPath(const std::filesystem::path& folder, std::error_code& error) {
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder);
}

}  // namespace hylo::platform
