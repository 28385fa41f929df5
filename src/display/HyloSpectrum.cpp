#include "display/HyloSpectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace hylo {

std::string_view SpectrumUnitText(int unit) {
  switch (unit) {
    case UNIT_AMBIENT:
      return "dB re Ambient";
    case UNIT_DBV:
      return "dBV";
    case UNIT_UPA_DENSITY:
      return "dB re µPa^2/Hz";
    case UNIT_DBV_DENSITY:
      return "dBV^2/Hz";
    default:
      return "dB re 1 µPa";
  }
}

void LineFilter(std::uint8_t* bins, std::uint32_t binCount, std::uint32_t sampleRate) {
  if (binCount == 0) return;
  const double w = sampleRate / (2.0 * binCount);
  std::vector<bool> clear(binCount, false);
  for (std::uint32_t i = 0; i < binCount; ++i) {
    const auto f = static_cast<long>(i * w);
    if (f < 10) clear[i] = true;
    if (i == 0) continue;
    const auto previous = static_cast<long>((i - 1) * w);
    if (f % 60 < previous % 60) {
      clear[i] = true;
      if (i > 4) {
        for (std::uint32_t k = i - 4; k < i; ++k) clear[k] = true;
      }
      if (i + 4 < binCount) {
        for (std::uint32_t k = i + 1; k <= i + 4; ++k) clear[k] = true;
      }
    }
  }
  for (std::uint32_t i = 0; i < binCount; ++i) {
    if (clear[i]) bins[i] = 0;
  }
}

int ClampColourMap(int span) { return std::clamp(span, 15, 200); }

double BandLevel(const std::uint8_t* bins, std::uint32_t binCount) {
  const long last = 4L * binCount / 5 - 2;
  if (last < 0) return 0;
  double power = 0;
  for (long i = 0; i <= last && i < kSpectrumBins; ++i) power += std::pow(10.0, bins[i] / 10.0);
  return 10 * std::log10(power);
}

double ZoomSpan(int level, double columnSeconds) { return std::pow(4.0, level) * kSpectrogramColumns * columnSeconds; }

HyloSpectrum::HyloSpectrum() : image_(512 * kSpectrogramColumns, 0), imageLevels_(kSpectrogramColumns) {
  for (auto& level : levels_) {
    for (auto& v : level.columns) v.assign(512 * kSpectrogramColumns, 0);
    level.levels.assign(kSpectrogramColumns, {});
  }
}

void HyloSpectrum::Reset() {
  std::lock_guard guard(lock_);
  for (auto& level : levels_) {
    for (auto& v : level.columns) std::fill(v.begin(), v.end(), 0);
    std::fill(level.levels.begin(), level.levels.end(), ColumnLevels{});
    level.write = 0;
  }
  std::fill(image_.begin(), image_.end(), 0);
  std::fill(imageLevels_.begin(), imageLevels_.end(), ColumnLevels{});
  traces_.clear();
}

void HyloSpectrum::StoreColumn(int level, const std::uint8_t* maxBins, const std::uint8_t* meanBins,
                               const ColumnLevels& levels) {
  LevelStore& store = levels_[static_cast<std::size_t>(level)];
  const std::size_t at = static_cast<std::size_t>(store.write) * 512;
  std::memcpy(&store.columns[0][at], maxBins, 512);
  std::memcpy(&store.columns[1][at], meanBins, 512);
  store.levels[static_cast<std::size_t>(store.write)] = levels;
  store.write = (store.write + 1) % kSpectrogramColumns;
}

void HyloSpectrum::ScrollIn(const std::uint8_t* bins, const ColumnLevels& levels) {
  std::memmove(image_.data(), image_.data() + 512, image_.size() - 512);
  std::uint8_t* column = image_.data() + image_.size() - 512;
  for (int i = 0; i < 512; ++i) column[i] = static_cast<std::uint8_t>(std::clamp(bins[i] + offsets_[i], 0, 255));
  std::move(imageLevels_.begin() + 1, imageLevels_.end(), imageLevels_.begin());
  imageLevels_.back() = levels;
  ++columnsAdded_;
}

void HyloSpectrum::Blank(int level, std::uint64_t n) {
  static const std::array<std::uint8_t, 512> zeros{};
  LevelStore& store = levels_[static_cast<std::size_t>(level)];
  // Blank columns repeat the last levels, so the level traces do not drop to zero; they hold
  // no click, though: a repeated score would draw one click as lasting through the gap.
  ColumnLevels last =
      store.levels[static_cast<std::size_t>((store.write + kSpectrogramColumns - 1) % kSpectrogramColumns)];
  last.clickMax = last.clickMean = 0;
  if (n >= kSpectrogramColumns) {
    for (auto& v : store.columns) std::fill(v.begin(), v.end(), 0);
    std::fill(store.levels.begin(), store.levels.end(), last);
  } else {
    for (std::uint64_t i = 0; i < n; ++i) StoreColumn(level, zeros.data(), zeros.data(), last);
  }
  if (level == zoom_) {
    const std::uint64_t shift = std::min<std::uint64_t>(n, kSpectrogramColumns);
    const std::size_t bytes = static_cast<std::size_t>(shift) * 512;
    std::memmove(image_.data(), image_.data() + bytes, image_.size() - bytes);
    std::fill(image_.end() - static_cast<std::ptrdiff_t>(bytes), image_.end(), 0);
    const auto kept = static_cast<std::ptrdiff_t>(shift);
    ColumnLevels shown = imageLevels_.back();
    shown.clickMax = shown.clickMean = 0;
    std::move(imageLevels_.begin() + kept, imageLevels_.end(), imageLevels_.begin());
    std::fill(imageLevels_.end() - kept, imageLevels_.end(), shown);
    columnsAdded_ += shift;
  }
}

void HyloSpectrum::AddSpectrum(const SpectrumRecord& in) {
  std::lock_guard guard(lock_);
  SpectrumRecord r = in;
  const std::uint32_t binCount = std::min<std::uint32_t>(r.binCount, 512);
  if (lineFilter_) LineFilter(r.bins, binCount, r.sampleRate);
  if (r.restart) {
    traces_.clear();
    if (binCount) bandCorrection_ = static_cast<int>(std::trunc(10 * std::log10(0.8 * binCount) + densityCorrection_));
  }
  if (r.recordSeconds > 0) columnSeconds_ = r.recordSeconds;
  if (r.missedRecords) Blank(0, r.missedRecords);
  ColumnLevels levels = r.levelsValid ? ColumnLevels{r.rmsLevel, r.peakToPeakLevel, r.zeroToPeakLevel} : ColumnLevels{};
  if (r.clickScoreValid) levels.clickMax = levels.clickMean = r.clickScore;
  StoreColumn(0, r.bins, r.bins, levels);
  if (zoom_ == 0) {
    ScrollIn(r.bins, levels);
    const bool density = unit_ == UNIT_UPA_DENSITY || unit_ == UNIT_DBV_DENSITY;
    bandLevel_ = BandLevel(r.bins, binCount) - (density ? bandCorrection_ : 0);
  }

  SpectrumTrace trace;
  const int shown = toNyquist_ ? 512 : 410;
  trace.binWidthHz = binCount ? r.sampleRate / (2.0 * binCount) : 0;
  trace.levels.resize(static_cast<std::size_t>(shown));
  for (int i = 0; i < shown; ++i) trace.levels[static_cast<std::size_t>(i)] = r.bins[i] + offsets_[i];
  traces_.push_back(std::move(trace));
  while (traces_.size() > kSpectrumTraces) traces_.pop_front();
}

void HyloSpectrum::AddPyramidColumn(const PyramidOutput& out) {
  std::lock_guard guard(lock_);
  if (out.level < 1 || out.level >= kZoomLevels) return;
  if (out.missedGroups) Blank(out.level, out.missedGroups);
  const ColumnLevels levels{out.rmsLevel, out.peakToPeakLevel, out.zeroToPeakLevel, out.maxScore, out.meanScore};
  StoreColumn(out.level, out.maxBins, out.meanBins, levels);
  if (zoom_ == out.level) ScrollIn(variant_ == 0 ? out.maxBins : out.meanBins, levels);
}

void HyloSpectrum::Rebuild() {
  const LevelStore& store = levels_[static_cast<std::size_t>(zoom_)];
  const auto& columns = store.columns[static_cast<std::size_t>(zoom_ == 0 ? 0 : variant_)];
  for (int c = 0; c < kSpectrogramColumns; ++c) {
    const std::size_t from = static_cast<std::size_t>((store.write + c) % kSpectrogramColumns) * 512;
    std::uint8_t* to = image_.data() + static_cast<std::size_t>(c) * 512;
    for (int i = 0; i < 512; ++i)
      to[i] = static_cast<std::uint8_t>(std::clamp(columns[from + i] + offsets_[i], 0, 255));
    imageLevels_[static_cast<std::size_t>(c)] = store.levels[from / 512];
  }
}

void HyloSpectrum::SetReferenceTable(const ReferenceTable& table) {
  std::lock_guard guard(lock_);
  std::copy(table.offsets, table.offsets + 512, offsets_.begin());
  unit_ = table.unit;
  displayReference_ = table.displayReference;
  densityCorrection_ = table.densityCorrection;
  Rebuild();
}

void HyloSpectrum::SelectZoom(double span) {
  std::lock_guard guard(lock_);
  const double c = std::trunc(kSpectrogramColumns * columnSeconds_);
  int level = 0;
  while (level < 6 && span > c * std::pow(4.0, level)) ++level;
  if (level != zoom_) {
    zoom_ = level;
    Rebuild();
  }
}

void HyloSpectrum::SelectVariant(int variant) {
  std::lock_guard guard(lock_);
  variant_ = variant == 0 ? 0 : 1;
  if (zoom_ > 0) Rebuild();
}

void HyloSpectrum::SetColourMap(int span) {
  std::lock_guard guard(lock_);
  colourMap_ = ClampColourMap(span);
}

void HyloSpectrum::SetLineFilter(bool on) {
  std::lock_guard guard(lock_);
  lineFilter_ = on;
}

void HyloSpectrum::SetDisplayToNyquist(bool on) {
  std::lock_guard guard(lock_);
  toNyquist_ = on;
}

bool HyloSpectrum::LoadNoiseCompare(const std::filesystem::path& file) {
  std::array<std::int16_t, 512> curve{};
  bool ok = false;
  if (std::FILE* f = std::fopen(file.c_str(), "r")) {
    std::size_t n = 0;
    float value = 0;
    while (n < curve.size() && std::fscanf(f, "%f", &value) == 1) {
      // Out-of-range or non-finite entries would not fit a 16-bit value: they are held at its bounds.
      const double v = std::isnan(value) ? 0.0 : std::clamp(std::trunc(static_cast<double>(value)), -32768.0, 32767.0);
      curve[n++] = static_cast<std::int16_t>(v);
    }
    std::fclose(f);
    ok = n == curve.size();
  }
  std::lock_guard guard(lock_);
  noiseLoaded_ = ok;
  if (ok) noise_ = curve;
  return ok;
}

int HyloSpectrum::ZoomLevel() const {
  std::lock_guard guard(lock_);
  return zoom_;
}

double HyloSpectrum::SetHorizAxis() const {
  std::lock_guard guard(lock_);
  return ZoomSpan(zoom_, columnSeconds_);
}

std::uint8_t HyloSpectrum::StoredBin(int level, int variant, int back, int bin) const {
  std::lock_guard guard(lock_);
  const LevelStore& store = levels_.at(static_cast<std::size_t>(level));
  const int column = ((store.write - 1 - back) % kSpectrogramColumns + kSpectrogramColumns) % kSpectrogramColumns;
  return store.columns.at(
      static_cast<std::size_t>(variant))[static_cast<std::size_t>(column) * 512 + static_cast<std::size_t>(bin)];
}

SpectrogramView HyloSpectrum::View() const {
  std::lock_guard guard(lock_);
  SpectrogramView view;
  view.image = image_;
  view.levels = imageLevels_;
  view.columnSeconds = columnSeconds_;
  view.toNyquist = toNyquist_;
  view.columnsAdded = columnsAdded_;
  view.bandLevel = bandLevel_;
  view.traces.assign(traces_.begin(), traces_.end());
  view.unitText = std::string(SpectrumUnitText(unit_));
  view.zoomLevel = zoom_;
  view.variant = variant_;
  view.colourMapSpan = colourMap_;
  view.displayReference = displayReference_;
  view.plotOffset = (unit_ == UNIT_DBV || unit_ == UNIT_DBV_DENSITY) ? -120 : 0;
  if (noiseLoaded_) {
    view.noiseCompare.resize(toNyquist_ ? 512 : 410);
    for (std::size_t i = 0; i < view.noiseCompare.size(); ++i) view.noiseCompare[i] = noise_[i] + view.plotOffset;
  }
  return view;
}

}  // namespace hylo
