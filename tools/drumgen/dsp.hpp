// Small signal-processing kit for the drum generator. Everything here uses only +, -, *, / and
// exact scaling by powers of two, so the output is the same bytes with any C++ library.
#pragma once

#include <cmath>
#include <cstdint>

namespace drumgen {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

// e^x by range reduction to |r| <= ln2/2 and a Taylor series; exact ldexp for the power of two.
inline double detExp(double x) {
    if (x < -700.0) return 0.0;
    if (x > 700.0) x = 700.0;
    const double n = std::floor(x / kLn2 + 0.5);
    const double r = x - n * kLn2;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 14; ++k) {
        term = term * r / k;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(n));
}

// sin(x) by reduction to [-pi/2, pi/2] and a Taylor series good to about 1e-13.
inline double detSin(double x) {
    const double twoPi = 2.0 * kPi;
    double r = x - std::floor(x / twoPi + 0.5) * twoPi;
    if (r > kPi / 2) r = kPi - r;
    if (r < -kPi / 2) r = -kPi - r;
    const double r2 = r * r;
    double term = r;
    double sum = r;
    for (int k = 1; k <= 9; ++k) {
        term = -term * r2 / ((2.0 * k) * (2.0 * k + 1.0));
        sum += term;
    }
    return sum;
}

inline double detCos(double x) {
    return detSin(x + kPi / 2);
}

inline double detTanh(double x) {
    if (x > 20.0) return 1.0;
    if (x < -20.0) return -1.0;
    const double e = detExp(2.0 * x);
    return (e - 1.0) / (e + 1.0);
}

// xorshift32: tiny, fixed and portable, unlike the standard distributions.
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    // Uniform in [-1, 1).
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

  private:
    std::uint32_t state_;
};

// Second-order filter with the usual audio cookbook coefficients (direct form I).
class Biquad {
  public:
    static Biquad lowPass(double rate, double freq, double q) { return make(rate, freq, q, 0); }
    static Biquad highPass(double rate, double freq, double q) { return make(rate, freq, q, 1); }
    static Biquad bandPass(double rate, double freq, double q) { return make(rate, freq, q, 2); }

    double process(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

  private:
    static Biquad make(double rate, double freq, double q, int kind) {
        const double w0 = 2.0 * kPi * freq / rate;
        const double cw = detCos(w0);
        const double alpha = detSin(w0) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        Biquad f;
        if (kind == 0) {
            f.b0_ = (1.0 - cw) / 2.0;
            f.b1_ = 1.0 - cw;
            f.b2_ = (1.0 - cw) / 2.0;
        } else if (kind == 1) {
            f.b0_ = (1.0 + cw) / 2.0;
            f.b1_ = -(1.0 + cw);
            f.b2_ = (1.0 + cw) / 2.0;
        } else {
            f.b0_ = alpha;
            f.b1_ = 0.0;
            f.b2_ = -alpha;
        }
        f.a1_ = -2.0 * cw;
        f.a2_ = 1.0 - alpha;
        f.b0_ /= a0;
        f.b1_ /= a0;
        f.b2_ /= a0;
        f.a1_ /= a0;
        f.a2_ /= a0;
        return f;
    }

    double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

} // namespace drumgen
