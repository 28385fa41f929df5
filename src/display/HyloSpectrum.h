#pragma once
// The data behind the spectrum graph and the spectrogram: level-0 columns from live
// spectra, higher zoom levels from the pyramid, and a 512 × 800 display image on the
// reference scale. Written on UiUpdateThread; the GUI copies what it draws.
#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "processing/HyloReference.h"
#include "stream/Records.h"

namespace hylo {

inline constexpr int kSpectrogramColumns = 800;
inline constexpr int kZoomLevels = 8;
inline constexpr int kSpectrumTraces = 10;

// One spectrum graph trace in displayed units.
struct SpectrumTrace {
  std::vector<double> levels;  // 410 bins, or 512 up to Nyquist
  double binWidthHz = 0;
};

// The signal levels of one column, in dB (0 where none was stored), and its click-template
// correlation: the column's largest and its mean (the same at level 0; 0 where none was valid).
struct ColumnLevels {
  double rms = 0;
  double peakToPeak = 0;
  double zeroToPeak = 0;
  double clickMax = 0;
  double clickMean = 0;
};

struct SpectrogramView {
  std::vector<std::uint8_t> image;    // 512 rows × 800 columns, column-major: column c at c × 512
  std::vector<ColumnLevels> levels;   // per displayed column, 799 the newest
  std::vector<SpectrumTrace> traces;  // newest last
  std::string unitText;
  int zoomLevel = 0;
  int variant = 1;
  int colourMapSpan = 100;
  int displayReference = 0;
  double plotOffset = 0;
  double columnSeconds = 0.25;
  bool toNyquist = false;
  std::uint64_t columnsAdded = 0;  // every column scrolled in since start-up
  double bandLevel = 0;            // of the newest live spectrum, dB
  // The loaded noise comparison curve in the display unit (empty when none is loaded).
  std::vector<double> noiseCompare;
};

// The time shown across the spectrogram at zoom level k: 4^k × 800 × columnSeconds.
double ZoomSpan(int level, double columnSeconds);

std::string_view SpectrumUnitText(int unit);
// Zeroes the bins below 10 Hz and around every multiple of 60 Hz.
void LineFilter(std::uint8_t* bins, std::uint32_t binCount, std::uint32_t sampleRate);
int ClampColourMap(int span);
// 10·log10 of the summed power of bins 0 .. 4 × binCount / 5 − 2 (the acoustic band); 0 with no bins.
double BandLevel(const std::uint8_t* bins, std::uint32_t binCount);

class HyloSpectrum {
 public:
  HyloSpectrum();
  void AddSpectrum(const SpectrumRecord& record);
  void AddPyramidColumn(const PyramidOutput& output);
  void SetReferenceTable(const ReferenceTable& table);
  void SelectZoom(double spanSeconds);
  void SelectVariant(int variant);
  void SetColourMap(int span);
  void SetLineFilter(bool on);
  void SetDisplayToNyquist(bool on);
  // Reads 512 numbers ("%f", white space between them), each cut to a signed 16-bit value.
  // False when the file cannot be read or holds fewer: the curve is then not loaded.
  bool LoadNoiseCompare(const std::filesystem::path& file);
  void Reset();

  SpectrogramView View() const;
  int ZoomLevel() const;
  // The span of the level in view, in seconds.
  double SetHorizAxis() const;
  std::uint8_t StoredBin(int level, int variant, int columnsBack, int bin) const;

 private:
  struct LevelStore {
    std::array<std::vector<std::uint8_t>, 2> columns;  // per variant: 800 × 512
    std::vector<ColumnLevels> levels;                  // 800
    int write = 0;
  };
  void StoreColumn(int level, const std::uint8_t* maxBins, const std::uint8_t* meanBins, const ColumnLevels& levels);
  void Blank(int level, std::uint64_t n);
  void ScrollIn(const std::uint8_t* bins, const ColumnLevels& levels);
  void Rebuild();

  mutable std::mutex lock_;
  std::array<LevelStore, kZoomLevels> levels_;
  std::vector<std::uint8_t> image_;
  std::vector<ColumnLevels> imageLevels_;
  std::uint64_t columnsAdded_ = 0;
  std::array<std::int16_t, 512> offsets_{};
  int unit_ = UNIT_UPA;
  int displayReference_ = 0;
  int densityCorrection_ = 0;
  int zoom_ = 0;
  int variant_ = 1;
  int colourMap_ = 100;
  bool lineFilter_ = false;
  bool toNyquist_ = false;
  double columnSeconds_ = 0.25;
  std::deque<SpectrumTrace> traces_;
  std::array<std::int16_t, 512> noise_{};
  bool noiseLoaded_ = false;
  int bandCorrection_ = 0;
  double bandLevel_ = 0;
};

}  // namespace hylo
