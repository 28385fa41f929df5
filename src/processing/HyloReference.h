#pragma once
// The quantities that turn spectrum bytes (b − 180 dBV) into the levels shown: sensitivity,
// density correction, the display reference and unit, and the ambient spectrum.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "core/HyloNodes.h"

namespace hylo {

struct ReferenceSettings;
class HyloIni;

enum ReferenceUnit : int {
  UNIT_UPA = 3,          // signal power, dB re 1 µPa
  UNIT_AMBIENT = 6,      // relative to the ambient spectrum
  UNIT_DBV = 7,          // signal power, dBV
  UNIT_UPA_DENSITY = 8,  // dB re 1 µPa²/Hz
  UNIT_DBV_DENSITY = 9,  // dBV²/Hz
};

// Payload of a type 2 node: a displayed level is byte + offset.
struct ReferenceTable {
  std::int16_t offsets[512];
  std::int32_t displayReference;
  std::uint8_t unit;
  std::int16_t densityCorrection;
  std::uint8_t acoustic;
};

std::string_view AxisLabel(int unit);
bool AcousticUnit(int unit);
// Unit list of the panel, in its order, and back.
int UnitFromListIndex(int index);
int ListIndexFromUnit(int unit);
// Arrow and key steps land on the next multiple of the step in their direction.
int StepReference(int oldValue, int newValue);

class HyloReference {
 public:
  // `publish` takes a filled type 2 node (to UiUpdateThread), 1 when taken; `resetCharts`
  // asks for a chart reset after a sensitivity change.
  HyloReference(HyloNodes& nodes, ReferenceSettings& settings) : nodes_(nodes), settings_(settings) {}
  void SetPublisher(std::function<int(MessageNode*)> publish) { publish_ = std::move(publish); }
  void SetChartReset(std::function<void()> reset) { resetCharts_ = std::move(reset); }

  // Start-up: settings in force, legacy unit codes converted once.
  void InitReferences();

  void SetSensitivity(int db);
  int GetSensitivity() const;
  int GetDensityCorrection() const;
  void SetDensityCorrection(double sampleRate, double fftLength);
  void SetAmbientReference(const std::array<std::uint8_t, 512>& bins, bool switchOn);

  // The panel's inputs: reference level, ambient switch, unit (list index order is the panel's).
  struct PanelInputs {
    int referenceLevel = 50;
    bool ambient = false;
    int unit = UNIT_UPA;
  };
  // Builds and posts the table; returns the reference level to show, or −1 with no node.
  int PublishReferences(PanelInputs inputs);
  int DisplayReference() const;
  int Unit() const;
  std::array<std::int16_t, 512> Offsets() const;
  std::array<std::uint8_t, 512> AmbientBins() const;

 private:
  HyloNodes& nodes_;
  ReferenceSettings& settings_;
  std::function<int(MessageNode*)> publish_;
  std::function<void()> resetCharts_;
  mutable std::mutex lock_;
  int sensitivity_ = -171;
  int densityCorrection_ = 0;
  int displayReference_ = 50;
  int unit_ = UNIT_UPA;
  bool ambientOn_ = false;
  std::array<std::uint8_t, 512> ambientBins_{};
  std::array<std::int16_t, 512> offsets_{};
  int savedAbsoluteReference_ = 50;
  int savedAmbientReference_ = 0;
};

}  // namespace hylo
