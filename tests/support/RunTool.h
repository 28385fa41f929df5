#pragma once
// Runs a real tool (sox, exiftool, python3 with numpy) and captures what it prints.
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace hylo::test {

struct ToolResult {
  int status = -1;
  std::string output;
};

inline ToolResult RunTool(const std::string& command) {
  ToolResult result;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  result.status = pclose(pipe);
  return result;
}

inline bool HaveTool(const std::string& name) { return RunTool("command -v " + name + " >/dev/null").status == 0; }

inline std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace hylo::test
