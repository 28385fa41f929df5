// Arbitrary bytes as a calibration file and as a noise-compare curve.
#include "FileFuzz.h"
#include "display/HyloSpectrum.h"
#include "files/HyloCalibrationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = WriteFuzzFile("HF_CAL.txt", data, size);
  (void)hylo::ReloadCalibration(path);
  static hylo::HyloSpectrum spectrum;
  (void)spectrum.LoadNoiseCompare(path);
  return 0;
}
