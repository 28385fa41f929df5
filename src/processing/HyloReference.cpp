#include "processing/HyloReference.h"

#include <cmath>
#include <cstdlib>

#include "core/Post.h"
#include "settings/SettingsGroups.h"

namespace hylo {

std::string_view AxisLabel(int unit) {
  switch (unit) {
    case UNIT_DBV:
      return "Signal Power\n(dBV)";
    case UNIT_UPA_DENSITY:
      return "Spectral Density\n(dB re µPa^2/Hz)";
    case UNIT_DBV_DENSITY:
      return "Spectral Density\n(dBV^2/Hz)";
    default:
      return "Signal Power\n(dB re 1µPa)";
  }
}

bool AcousticUnit(int unit) { return unit == UNIT_UPA || unit == UNIT_AMBIENT || unit == UNIT_UPA_DENSITY; }

namespace {
constexpr int kUnitList[] = {UNIT_UPA, UNIT_DBV, UNIT_UPA_DENSITY, UNIT_DBV_DENSITY, UNIT_AMBIENT};
bool Density(int unit) { return unit == UNIT_UPA_DENSITY || unit == UNIT_DBV_DENSITY; }
bool Acoustic(int unit) { return unit == UNIT_UPA || unit == UNIT_UPA_DENSITY; }
}  // namespace

int UnitFromListIndex(int index) { return index >= 0 && index < 5 ? kUnitList[index] : UNIT_UPA; }

int ListIndexFromUnit(int unit) {
  for (int i = 0; i < 5; ++i) {
    if (kUnitList[i] == unit) return i;
  }
  return 0;
}

int StepReference(int o, int n) {
  const int d = std::abs(o - n);
  if (d == 0 || n % d == 0) return n;
  const int r = std::abs(o % d);
  if (n > o) return o > 0 ? o + (d - r) : o + r;
  return o >= 1 ? o - r : o - (d - r);
}

void HyloReference::InitReferences() {
  std::lock_guard guard(lock_);
  int unit = settings_.referenceType;
  int reference = settings_.dbReference;
  switch (unit) {
    case 0:
      unit = UNIT_DBV;
      reference -= 180;
      break;
    case 1:
      unit = UNIT_DBV;
      reference -= 120;
      break;
    case 2:
      unit = UNIT_DBV;
      reference -= 60;
      break;
    case 4:
      unit = UNIT_UPA;
      reference += 60;
      break;
    case 5:
      unit = UNIT_UPA;
      reference += 120;
      break;
    case UNIT_UPA:
    case UNIT_AMBIENT:
    case UNIT_DBV:
    case UNIT_UPA_DENSITY:
    case UNIT_DBV_DENSITY:
      break;
    default:
      unit = UNIT_UPA;
      break;
  }
  unit_ = unit;
  displayReference_ = reference;
  settings_.referenceType = unit;
  settings_.dbReference = reference;
  savedAbsoluteReference_ = reference;
}

void HyloReference::SetSensitivity(int db) {
  PanelInputs inputs;
  {
    std::lock_guard guard(lock_);
    if (db == sensitivity_) return;
    sensitivity_ = db;
    inputs = {displayReference_, ambientOn_, unit_};
  }
  if (resetCharts_) resetCharts_();
  PublishReferences(inputs);
}

int HyloReference::GetSensitivity() const {
  std::lock_guard guard(lock_);
  return sensitivity_;
}

int HyloReference::GetDensityCorrection() const {
  std::lock_guard guard(lock_);
  return densityCorrection_;
}

void HyloReference::SetDensityCorrection(double sampleRate, double fftLength) {
  if (!(sampleRate > 0) || !(fftLength > 0)) return;  // a bin width needs both
  PanelInputs inputs;
  {
    std::lock_guard guard(lock_);
    const int correction = static_cast<int>(std::trunc(10 * std::log10(sampleRate / fftLength) + 0.5));
    if (correction == densityCorrection_) return;
    densityCorrection_ = correction;
    inputs = {displayReference_, ambientOn_, unit_};
  }
  PublishReferences(inputs);
}

std::array<std::uint8_t, 512> HyloReference::AmbientBins() const {
  std::lock_guard guard(lock_);
  return ambientBins_;
}

void HyloReference::SetAmbientReference(const std::array<std::uint8_t, 512>& bins, bool switchOn) {
  PanelInputs inputs;
  {
    std::lock_guard guard(lock_);
    ambientBins_ = bins;
    if (!switchOn) return;
    if (!ambientOn_) savedAbsoluteReference_ = displayReference_;
    ambientOn_ = true;
    displayReference_ = 0;
    unit_ = UNIT_AMBIENT;
    inputs = {0, true, UNIT_AMBIENT};
  }
  PublishReferences(inputs);
}

int HyloReference::PublishReferences(PanelInputs in) {
  ReferenceTable table{};
  {
    std::lock_guard guard(lock_);
    int reference = in.referenceLevel;
    if (in.ambient != ambientOn_) {
      // The ambient view and the absolute view keep their own reference levels.
      if (in.ambient) {
        savedAbsoluteReference_ = reference;
        reference = savedAmbientReference_;
      } else {
        savedAmbientReference_ = reference;
        reference = savedAbsoluteReference_;
      }
    }
    ambientOn_ = in.ambient;
    if (!in.ambient) {
      const int from = unit_ == UNIT_AMBIENT ? UNIT_UPA : unit_;
      const int to = in.unit == UNIT_AMBIENT ? UNIT_UPA : in.unit;
      if (from != to) {
        if (Acoustic(to) && !Acoustic(from)) reference -= sensitivity_;
        if (!Acoustic(to) && Acoustic(from)) reference += sensitivity_;
        if (!Density(to) && Density(from)) reference += densityCorrection_;
        if (Density(to) && !Density(from)) reference -= densityCorrection_;
      }
      unit_ = to;
      settings_.referenceType = to;
      settings_.dbReference = reference;
    } else {
      unit_ = UNIT_AMBIENT;
    }
    displayReference_ = reference;
    if (unit_ == UNIT_AMBIENT) {
      for (std::size_t i = 0; i < 512; ++i) offsets_[i] = static_cast<std::int16_t>(-ambientBins_[i] - reference);
    } else {
      int base = Acoustic(unit_) ? -180 - sensitivity_ : -180;
      if (Density(unit_)) base -= densityCorrection_;
      base -= reference;
      offsets_.fill(static_cast<std::int16_t>(base));
    }
    std::copy(offsets_.begin(), offsets_.end(), table.offsets);
    table.displayReference = reference;
    table.unit = static_cast<std::uint8_t>(unit_);
    table.densityCorrection = static_cast<std::int16_t>(densityCorrection_);
    table.acoustic = AcousticUnit(unit_) ? 1 : 0;
  }
  bool made = false;
  PostTo(nodes_, publish_, MSG_REFERENCE, [&](MessageNode& node) {
    made = true;
    node.As<ReferenceTable>() = table;
  });
  return made ? table.displayReference : -1;
}

int HyloReference::DisplayReference() const {
  std::lock_guard guard(lock_);
  return displayReference_;
}

int HyloReference::Unit() const {
  std::lock_guard guard(lock_);
  return unit_;
}

std::array<std::int16_t, 512> HyloReference::Offsets() const {
  std::lock_guard guard(lock_);
  return offsets_;
}

}  // namespace hylo
