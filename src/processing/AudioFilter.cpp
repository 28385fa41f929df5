#include "processing/AudioFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hylo {
namespace {

using Complex = std::complex<double>;

struct Zpk {
  std::vector<Complex> zeros, poles;
  double gain = 1;
};

Zpk ButterworthPrototype(int n) {
  Zpk p;
  for (int k = 0; k < n; ++k) {
    const double theta = std::numbers::pi * (2.0 * k + n + 1) / (2.0 * n);
    p.poles.push_back(std::polar(1.0, theta));
  }
  return p;
}

Zpk ChebyshevPrototype(int n, double rippleDb) {
  Zpk p;
  const double eps = std::sqrt(std::pow(10.0, 0.1 * rippleDb) - 1);
  const double mu = std::asinh(1 / eps) / n;
  Complex product = 1;
  for (int k = 0; k < n; ++k) {
    const double theta = std::numbers::pi * (2.0 * k + 1) / (2.0 * n);
    const Complex pole(-std::sinh(mu) * std::sin(theta), std::cosh(mu) * std::cos(theta));
    p.poles.push_back(pole);
    product *= -pole;
  }
  p.gain = product.real();
  if (n % 2 == 0) p.gain /= std::sqrt(1 + eps * eps);
  return p;
}

// Low-pass prototype (no finite zeros) to a high-pass at wo.
Zpk ToHighPass(const Zpk& lp, double wo) {
  Zpk hp;
  Complex product = 1;
  for (const Complex& p : lp.poles) {
    hp.poles.push_back(wo / p);
    product *= -p;
  }
  hp.zeros.assign(lp.poles.size(), Complex(0, 0));
  hp.gain = lp.gain / product.real();
  return hp;
}

// Low-pass prototype (no finite zeros) to a band-pass around wo with width bw.
Zpk ToBandPass(const Zpk& lp, double wo, double bw) {
  Zpk bp;
  for (const Complex& p : lp.poles) {
    const Complex half = p * bw / 2.0;
    const Complex root = std::sqrt(half * half - wo * wo);
    bp.poles.push_back(half + root);
    bp.poles.push_back(half - root);
  }
  bp.zeros.assign(lp.poles.size(), Complex(0, 0));
  bp.gain = lp.gain * std::pow(bw, static_cast<double>(lp.poles.size()));
  return bp;
}

Zpk Bilinear(const Zpk& a, double fs) {
  const double fs2 = 2 * fs;
  Zpk d;
  Complex num = 1, den = 1;
  for (const Complex& z : a.zeros) {
    d.zeros.push_back((fs2 + z) / (fs2 - z));
    num *= fs2 - z;
  }
  for (const Complex& p : a.poles) {
    d.poles.push_back((fs2 + p) / (fs2 - p));
    den *= fs2 - p;
  }
  // Zeros at infinity land on Nyquist.
  while (d.zeros.size() < d.poles.size()) d.zeros.emplace_back(-1, 0);
  d.gain = a.gain * (num / den).real();
  return d;
}

// Pairs conjugate poles (upper half-plane ones carry their partner) with two of the real zeros.
std::vector<Biquad> ToSections(const Zpk& d) {
  std::vector<Complex> upper;
  for (const Complex& p : d.poles)
    if (p.imag() > 0) upper.push_back(p);
  std::vector<double> zeros;
  for (const Complex& z : d.zeros) zeros.push_back(z.real());
  // Band-pass: one zero at +1 and one at −1 per section; high-pass: two at +1.
  std::sort(zeros.begin(), zeros.end());
  std::vector<Biquad> sections;
  const std::size_t n = upper.size();
  for (std::size_t i = 0; i < n; ++i) {
    Biquad s;
    const double za = zeros[i], zb = zeros[zeros.size() - 1 - i];
    s.b0 = 1;
    s.b1 = -(za + zb);
    s.b2 = za * zb;
    s.a1 = -2 * upper[i].real();
    s.a2 = std::norm(upper[i]);
    sections.push_back(s);
  }
  if (!sections.empty()) {
    sections.front().b0 *= d.gain;
    sections.front().b1 *= d.gain;
    sections.front().b2 *= d.gain;
  }
  return sections;
}

double Warp(double hz, double fs) { return 2 * fs * std::tan(std::numbers::pi * hz / fs); }

}  // namespace

void AudioFilter::Design(double fs, Choice choice) {
  rate_ = fs;
  sections_.clear();
  kind_ = Kind::kNone;
  // Nothing above 150 Hz fits below this rate's Nyquist frequency with room to spare.
  if (!(fs > 4 * kLowEdgeHz) || choice == Choice::kOff) return;
  const bool bandPass = choice == Choice::kAuto ? fs >= 64000 : choice == Choice::kBandPass && fs > 2 * kHighEdgeHz;
  if (!bandPass) {
    kind_ = Kind::kButterworthHighPass;
    sections_ = ToSections(Bilinear(ToHighPass(ButterworthPrototype(kOrder), Warp(kLowEdgeHz, fs)), fs));
  } else {
    kind_ = Kind::kChebyshevBandPass;
    const double lo = Warp(kLowEdgeHz, fs), hi = Warp(kHighEdgeHz, fs);
    sections_ =
        ToSections(Bilinear(ToBandPass(ChebyshevPrototype(kOrder, kRippleDb), std::sqrt(lo * hi), hi - lo), fs));
  }
}

void AudioFilter::ClearState() {
  for (Biquad& s : sections_) s.s1 = s.s2 = 0;
}

void AudioFilter::Process(std::span<double> x) {
  for (Biquad& s : sections_) {
    for (double& v : x) {
      const double y = s.b0 * v + s.s1;
      s.s1 = s.b1 * v - s.a1 * y + s.s2;
      s.s2 = s.b2 * v - s.a2 * y;
      v = y;
    }
  }
}

double AudioFilter::Magnitude(double hz) const {
  if (rate_ <= 0) return 1;
  const Complex z1 = std::polar(1.0, -2 * std::numbers::pi * hz / rate_);  // z^-1
  Complex h = 1;
  for (const Biquad& s : sections_) h *= (s.b0 + s.b1 * z1 + s.b2 * z1 * z1) / (1.0 + s.a1 * z1 + s.a2 * z1 * z1);
  return std::abs(h);
}

}  // namespace hylo
