#include "platform/RealFft.h"

#include <fftw3.h>

#include <mutex>

namespace hylo::platform {
namespace {
// FFTW's planner is not thread-safe; plans are made rarely, so one lock is enough.
std::mutex& PlannerLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

RealFft::RealFft(std::size_t size) : size_(size) {
  std::lock_guard guard(PlannerLock());
  in_ = fftw_alloc_real(size);
  auto* out = fftw_alloc_complex(size / 2 + 1);
  out_ = out;
  plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(size), in_, out, FFTW_ESTIMATE);
}

RealFft::~RealFft() {
  std::lock_guard guard(PlannerLock());
  fftw_destroy_plan(static_cast<fftw_plan>(plan_));
  fftw_free(out_);
  fftw_free(in_);
}

std::span<double> RealFft::Input() { return {in_, size_}; }

void RealFft::Execute() { fftw_execute(static_cast<fftw_plan>(plan_)); }

std::span<const std::complex<double>> RealFft::Output() const {
  // fftw_complex is layout-compatible with std::complex<double>.
  return {reinterpret_cast<const std::complex<double>*>(out_), size_ / 2 + 1};
}

}  // namespace hylo::platform
