#pragma once
// Readers that take a path: the fuzz input is written to one file in memory-backed storage
// (/dev/shm where there is one), reused across runs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

inline const std::filesystem::path& FuzzFile(const char* name) {
  static const std::filesystem::path path = [name] {
    const std::filesystem::path shm = "/dev/shm";
    const auto dir = (std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) /
                     ("hylo-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir / name;
  }();
  return path;
}

inline const std::filesystem::path& WriteFuzzFile(const char* name, const std::uint8_t* data, std::size_t size) {
  const auto& path = FuzzFile(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  return path;
}
