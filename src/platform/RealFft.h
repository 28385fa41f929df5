#pragma once
// A real-input FFT of one fixed size, planned once and reused (FFTW underneath).
#include <complex>
#include <cstddef>
#include <span>

namespace hylo::platform {

class RealFft {
 public:
  explicit RealFft(std::size_t size);
  ~RealFft();
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  std::size_t Size() const { return size_; }
  // Fills the input, then Execute; the output holds size / 2 + 1 bins.
  std::span<double> Input();
  void Execute();
  std::span<const std::complex<double>> Output() const;

 private:
  std::size_t size_;
  double* in_;
  void* out_;
  void* plan_;
};

}  // namespace hylo::platform
