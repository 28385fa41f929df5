#pragma once
// Files of known bytes for the instrument-file tests: made, written, read back, listed.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace hylo::test {

inline std::vector<char> Bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<char> out(n);
  for (auto& c : out) c = static_cast<char>(rng());
  return out;
}
inline void Put(const std::filesystem::path& file, const std::vector<char>& data) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}
inline std::vector<char> Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
// Every regular file below dir, relative to it, sorted.
inline std::vector<std::string> FilesUnder(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace hylo::test
