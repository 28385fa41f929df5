#include "files/HyloCalibrationFile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "processing/HyloCal.h"

namespace hylo {
namespace {

constexpr int kMaxLines = 799;
constexpr std::size_t kMaxLineChars = 4000;

bool ReadLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (line.size() > kMaxLineChars) line.resize(kMaxLineChars);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Past `count` tab-separated fields of `text` from `at`; npos when the line ends first.
std::size_t SkipFields(const std::string& text, std::size_t at, int count) {
  for (int i = 0; i < count; ++i) {
    at = text.find('\t', at);
    if (at == std::string::npos) return at;
    ++at;
  }
  return at;
}

bool StartsWithTime(const std::string& line, bool withChar) {
  int h = 0, m = 0, s = 0;
  char c = 0;
  if (withChar) return std::sscanf(line.c_str(), "%d:%d:%d %c", &h, &m, &s, &c) == 4;
  return std::sscanf(line.c_str(), "%d:%d:%d", &h, &m, &s) == 3;
}

// Where the values of a data line begin; npos when the line is not a data line.
std::size_t ValuesStart(const std::string& line, CalLayout layout) {
  switch (layout) {
    case CalLayout::kCurrent:
      return StartsWithTime(line, false) ? SkipFields(line, 0, 6) : std::string::npos;
    case CalLayout::kMiddle:
      return StartsWithTime(line, false) ? SkipFields(line, 0, 7) : std::string::npos;
    case CalLayout::kOldest: {
      if (!StartsWithTime(line, true)) return std::string::npos;
      const std::size_t open = line.find('"');
      const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
      if (close == std::string::npos) return close;
      std::size_t at = close + 1;
      if (at < line.size() && line[at] == '\t') ++at;
      return SkipFields(line, at, 3);
    }
    case CalLayout::kNone:
      break;
  }
  return std::string::npos;
}

}  // namespace

std::string_view CalibrationFileName(int modelCode) {
  if (modelCode == 2) return "LF_CAL.txt";
  if (modelCode == 5 || modelCode == 7) return "HF_CAL.txt";
  return {};
}

CalLayout ClassifyCalibrationLine(std::string_view line) {
  if (line.find("File Details:") != std::string_view::npos) return CalLayout::kCurrent;
  if (line.find("AurisondHF") != std::string_view::npos) return CalLayout::kMiddle;
  if (line.find("Hylo") == std::string_view::npos) return CalLayout::kNone;
  const std::size_t v = line.find('V');
  int major = 0, minor = 0, patch = 0;
  if (v == std::string_view::npos ||
      std::sscanf(std::string(line.substr(v + 1, 32)).c_str(), "%5d.%5d.%5d", &major, &minor, &patch) != 3)
    return CalLayout::kNone;
  // Widths keep the numbers small; the sum is taken wide so no version text can overflow it.
  const long long version = major * 65536LL + minor * 256LL + patch;
  return version < 0x20400 ? CalLayout::kOldest : CalLayout::kMiddle;
}

std::optional<CalibrationSpectrum> ReloadCalibration(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  if (!ReadLine(in, line)) return std::nullopt;
  const CalLayout layout = ClassifyCalibrationLine(line);
  if (layout == CalLayout::kNone) return std::nullopt;
  if (layout == CalLayout::kCurrent) {
    bool found = false;
    while (!found && ReadLine(in, line)) found = line.find("Data:") != std::string::npos;
    if (!found || !ReadLine(in, line)) return std::nullopt;  // the column header
  } else {
    for (int i = 0; i < (layout == CalLayout::kOldest ? 7 : 8); ++i)
      if (!ReadLine(in, line)) return std::nullopt;
  }
  // Sums per bin instead of the table of every line: the mean is all that is kept.
  std::vector<std::uint32_t> sums(kCalibrationBins, 0);
  int lines = 0;
  while (lines < kMaxLines && ReadLine(in, line)) {
    std::size_t at = ValuesStart(line, layout);
    if (at == std::string::npos) break;
    const char* p = line.c_str() + at;
    for (int bin = 0; bin < kCalibrationBins; ++bin) {
      char* end = nullptr;
      const long value = std::strtol(p, &end, 10);
      if (end == p) break;
      sums[static_cast<std::size_t>(bin)] += static_cast<std::uint32_t>(value) & 0xFFU;
      p = end;
      if (*p != '\t') break;
      ++p;
    }
    ++lines;
  }
  if (lines < 5) return std::nullopt;
  CalibrationSpectrum mean{};
  for (int bin = 0; bin < kCalibrationBins; ++bin)
    mean[static_cast<std::size_t>(bin)] = CalibrationMean(sums[static_cast<std::size_t>(bin)], lines);
  return mean;
}

bool CalibrationReloader::OnIdentity(int modelCode) {
  if (lastModel_ == modelCode) return false;
  lastModel_ = modelCode;
  const std::string_view name = CalibrationFileName(modelCode);
  if (name.empty()) return false;
  const auto mean = ReloadCalibration(folder_ / name);
  if (!mean) return false;
  if (apply_) apply_(*mean);
  return true;
}

}  // namespace hylo
