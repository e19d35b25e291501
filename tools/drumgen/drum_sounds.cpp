#include "drum_sounds.hpp"

#include <algorithm>
#include <cmath>

#include "dsp.hpp"

namespace drumgen {
namespace {

constexpr double kDt = 1.0 / kSampleRate;

// Bass drum: a sine whose pitch falls exponentially from `startHz` to `endHz`, driven into a
// soft saturator for punch, with a short filtered-noise click on the attack.
struct KickParams {
    double startHz, endHz, sweepSeconds, decaySeconds, drive, clickLevel, clickHz;
    std::uint32_t seed;
};

std::vector<double> kick(std::size_t length, const KickParams& p) {
    std::vector<double> out(length);
    Noise noise(p.seed);
    Biquad clickFilter = Biquad::lowPass(kSampleRate, p.clickHz, 0.7);
    double phase = 0.0;
    const double norm = detTanh(p.drive);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) * kDt;
        const double freq = p.endHz + (p.startHz - p.endHz) * detExp(-t / p.sweepSeconds);
        const double body = detSin(2.0 * kPi * phase) * detExp(-t / p.decaySeconds);
        phase += freq * kDt;
        phase -= std::floor(phase);
        const double click = clickFilter.process(noise.next()) * p.clickLevel * detExp(-t / 0.0012);
        out[i] = detTanh(p.drive * body) / norm + click;
    }
    return out;
}

std::vector<double> snare(std::size_t length) {
    std::vector<double> out(length);
    Noise noise(0x5A4E3131u);
    Biquad rattleLow = Biquad::highPass(kSampleRate, 900.0, 0.7);
    Biquad rattleHigh = Biquad::lowPass(kSampleRate, 9000.0, 0.7);
    Biquad snap = Biquad::bandPass(kSampleRate, 4200.0, 1.2);
    double phase1 = 0.0;
    double phase2 = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) * kDt;
        // The drum head: two modes that drop slightly in pitch as the hit settles.
        const double f1 = 178.0 + 22.0 * detExp(-t / 0.012);
        const double f2 = 322.0 + 40.0 * detExp(-t / 0.012);
        const double head =
            (0.55 * detSin(2.0 * kPi * phase1) + 0.30 * detSin(2.0 * kPi * phase2)) *
            detExp(-t / 0.028);
        phase1 += f1 * kDt;
        phase1 -= std::floor(phase1);
        phase2 += f2 * kDt;
        phase2 -= std::floor(phase2);
        // The wires: broadband noise with a brighter snap at the start.
        const double n = noise.next();
        const double wires = rattleHigh.process(rattleLow.process(n)) * detExp(-t / 0.050);
        const double crack = snap.process(n) * detExp(-t / 0.010);
        out[i] = head + 0.75 * wires + 0.9 * crack;
    }
    return out;
}

// Metallic source: several detuned square oscillators at inharmonic ratios, mixed with noise
// and high-passed so that only the bright clang remains.
struct MetalParams {
    double baseHz;
    std::array<double, 8> ratios;
    int oscillators;
    double highPassHz;
    double noiseMix;
    double attackSeconds;
    double decaySeconds;
    double burstLevel;   // extra noise burst at the hit (0 for none)
    double burstSeconds; // its decay
    std::uint32_t seed;
};

std::vector<double> metal(std::size_t length, const MetalParams& p) {
    std::vector<double> out(length);
    Noise noise(p.seed);
    std::array<double, 8> phase{};
    // Start the oscillators at scattered phases so the first edges do not all line up.
    for (int k = 0; k < p.oscillators; ++k)
        phase[k] = (noise.next() + 1.0) / 2.0;
    Biquad hp1 = Biquad::highPass(kSampleRate, p.highPassHz, 0.75);
    Biquad hp2 = Biquad::highPass(kSampleRate, p.highPassHz, 0.75);
    Biquad noiseHp = Biquad::highPass(kSampleRate, p.highPassHz * 0.8, 0.7);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) * kDt;
        double squares = 0.0;
        for (int k = 0; k < p.oscillators; ++k) {
            squares += phase[k] < 0.5 ? 1.0 : -1.0;
            phase[k] += p.baseHz * p.ratios[k] * kDt;
            phase[k] -= std::floor(phase[k]);
        }
        squares /= p.oscillators;
        const double clang = hp2.process(hp1.process(squares));
        const double hiss = noiseHp.process(noise.next());
        const double attack = std::min(1.0, t / p.attackSeconds);
        const double env = attack * detExp(-t / p.decaySeconds);
        const double burst = p.burstLevel > 0.0 ? p.burstLevel * detExp(-t / p.burstSeconds) : 0.0;
        out[i] = ((1.0 - p.noiseMix) * clang + p.noiseMix * hiss) * env + hiss * burst * attack;
    }
    return out;
}

constexpr std::array<double, 8> kHatRatios{1.0, 1.4172, 1.6933, 1.9245, 2.5081, 2.7313, 0, 0};
constexpr std::array<double, 8> kCymbalRatios{1.0,    1.1853, 1.5281, 1.7719,
                                              2.1147, 2.4682, 2.9073, 3.3351};

} // namespace

std::vector<double> synthesizeDrum(std::string_view name, std::size_t length) {
    if (name == "BASS1") {
        // Deep, round kick with a long tail.
        return kick(length, {150.0, 45.0, 0.024, 0.045, 1.6, 0.30, 2500.0, 0xBA551111u});
    }
    if (name == "BASS2") {
        // Tighter, harder kick: higher start, quicker sweep, more drive and click.
        return kick(length, {190.0, 54.0, 0.013, 0.034, 2.6, 0.45, 4000.0, 0xBA552222u});
    }
    if (name == "SNARE1") return snare(length);
    if (name == "HAT1") {
        // Open hi-hat: rings out over most of its length.
        return metal(length,
                     {395.0, kHatRatios, 6, 7000.0, 0.45, 0.0008, 0.150, 0.0, 1.0, 0x4A741111u});
    }
    if (name == "HAT2") {
        // Closed hi-hat: the same metal, choked almost at once.
        return metal(length,
                     {395.0, kHatRatios, 6, 7500.0, 0.40, 0.0004, 0.0065, 0.0, 1.0, 0x4A742222u});
    }
    if (name == "SYMBAL1") {
        // Crash: more oscillators lower down, a loud wash at the hit and a long ring.
        return metal(length, {287.0, kCymbalRatios, 8, 3800.0, 0.55, 0.0015, 0.380, 0.9, 0.045,
                              0x5C1B1111u});
    }
    return {};
}

std::vector<std::uint8_t> finishDrum(std::vector<double> signal, std::size_t fadeIn,
                                     std::size_t fadeOut, double peak) {
    const std::size_t n = signal.size();
    if (n == 0) return {};
    fadeIn = std::min(fadeIn, n);
    fadeOut = std::min(fadeOut, n);
    for (std::size_t i = 0; i < fadeIn; ++i)
        signal[i] *= static_cast<double>(i) / static_cast<double>(fadeIn);
    // Raised-cosine fade that reaches exactly zero on the last sample: no click at the end.
    for (std::size_t k = 0; k < fadeOut; ++k) {
        const double x =
            static_cast<double>(k) / static_cast<double>(fadeOut > 1 ? fadeOut - 1 : 1);
        signal[n - fadeOut + k] *= 0.5 + 0.5 * detCos(kPi * x);
    }
    // Remove DC with a sine-shaped correction that is zero at both ends, so the fades survive.
    if (n > 2) {
        double sum = 0.0;
        double weight = 0.0;
        std::vector<double> window(n);
        for (std::size_t i = 0; i < n; ++i) {
            window[i] = detSin(kPi * static_cast<double>(i) / static_cast<double>(n - 1));
            sum += signal[i];
            weight += window[i];
        }
        const double offset = sum / weight;
        for (std::size_t i = 0; i < n; ++i)
            signal[i] -= offset * window[i];
    }
    double maxAbs = 0.0;
    for (double v : signal)
        maxAbs = std::max(maxAbs, std::fabs(v));
    const double gain = maxAbs > 0.0 ? peak / maxAbs : 0.0;
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::floor(128.0 + 127.0 * gain * signal[i] + 0.5);
        out[i] = static_cast<std::uint8_t>(std::clamp(v, 1.0, 255.0));
    }
    return out;
}

std::vector<std::uint8_t> renderDrum(const DrumSound& sound) {
    const std::string_view name = sound.name;
    std::vector<double> raw = synthesizeDrum(name, sound.length);
    // Fade-out lengths: long enough to be inaudible as a cut, short enough to keep the body.
    std::size_t fadeOut = 330;
    if (name == "HAT2") fadeOut = 90;
    if (name == "SNARE1") fadeOut = 400;
    if (name == "HAT1") fadeOut = 1100;
    if (name == "SYMBAL1") fadeOut = 1800;
    return finishDrum(std::move(raw), 2, fadeOut, 0.93);
}

} // namespace drumgen
