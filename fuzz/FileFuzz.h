#pragma once
// Readers that take a path: the fuzz input is written to one file in memory-backed storage
// (/dev/shm where there is one), reused across runs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

inline std::filesystem::path FuzzFile(const char* name) {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path shm = "/dev/shm";
    const auto d = (std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) /
                   ("hylo-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir / name;
}

inline std::filesystem::path WriteFuzzFile(const char* name, const std::uint8_t* data, std::size_t size) {
  const auto path = FuzzFile(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}
