#include "encoders.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ecusim {
namespace {

// Degrees Celsius for bytes 32 to 223. Below 32 every byte reads 125 (the
// hottest the sensor tells); from 224 on every byte reads -55, although 223
// itself reads -57.
constexpr std::int8_t kTemperatureMiddle[] = {
    125, 122, 119, 116, 113, 111, 108, 105, 102, 99,  96,  93,  90,  87,  84,  82,   // 32
    79,  77,  76,  75,  74,  73,  71,  70,  69,  68,  66,  65,  64,  63,  62,  60,   // 48
    59,  58,  58,  57,  56,  56,  55,  54,  53,  53,  52,  51,  50,  50,  49,  48,   // 64
    48,  47,  46,  46,  45,  45,  44,  43,  43,  42,  42,  41,  40,  40,  39,  39,   // 80
    38,  37,  37,  36,  36,  35,  35,  34,  34,  33,  33,  32,  32,  31,  31,  30,   // 96
    30,  29,  29,  28,  28,  27,  27,  26,  26,  25,  25,  24,  24,  23,  23,  22,   // 112
    22,  22,  21,  21,  20,  20,  19,  19,  18,  18,  17,  17,  16,  16,  15,  15,   // 128
    14,  14,  13,  13,  12,  12,  11,  11,  10,  10,  9,   9,   8,   8,   7,   7,    // 144
    6,   6,   5,   5,   4,   4,   3,   3,   2,   2,   1,   1,   0,   0,   -1,  -1,   // 160
    -2,  -2,  -3,  -4,  -4,  -5,  -6,  -6,  -7,  -7,  -8,  -9,  -9,  -10, -11, -11,  // 176
    -12, -13, -14, -15, -16, -17, -18, -19, -20, -21, -22, -23, -24, -26, -27, -28,  // 192
    -29, -34, -35, -37, -39, -40, -42, -43, -45, -47, -48, -50, -52, -53, -55, -57,  // 208
};
constexpr int kTemperatureMiddleFrom = 32;
static_assert(kTemperatureMiddleFrom + sizeof kTemperatureMiddle == 224);

// The raw value in [lo, hi] nearest to `target`, looked for around `guess`
// (the formula solved for the raw value): the 32-bit roundings can only move
// the answer by a step, so a few neighbours settle it. Lowest on a tie.
template <typename Raw, typename Of>
Raw NearestAround(Of of, double guess, std::int32_t lo, std::int32_t hi, double target) {
    if (!std::isfinite(guess)) guess = lo;
    const auto centre = static_cast<std::int32_t>(std::clamp(std::floor(guess), double(lo), double(hi)));
    std::int32_t best = lo;
    double best_error = std::numeric_limits<double>::infinity();
    for (std::int32_t raw = std::max(lo, centre - 2); raw <= std::min(hi, centre + 3); ++raw) {
        const double error = std::fabs(static_cast<double>(of(static_cast<Raw>(raw))) - target);
        if (error < best_error) {
            best = raw;
            best_error = error;
        }
    }
    return static_cast<Raw>(best);
}

}  // namespace

float RevsOf(std::uint16_t period) {
    // Timer ticks per revolution; no ticks at all is the engine standing.
    if (period == 0) return 0.0f;
    return 30000000.0f / static_cast<float>(period);
}

float InjectorsOf(std::uint16_t count) {
    return static_cast<float>(static_cast<double>(std::int32_t{count} * 4) / 1000.0);
}

float AdvanceOf(std::uint8_t raw) { return static_cast<float>(raw / 4.0); }

float ManifoldOf(std::uint8_t raw) { return static_cast<float>(60.84 + 8.5548 * raw); }

float TemperatureOf(std::uint8_t raw) {
    if (raw < kTemperatureMiddleFrom) return 125.0f;
    if (raw >= kTemperatureMiddleFrom + sizeof kTemperatureMiddle) return -55.0f;
    return kTemperatureMiddle[raw - kTemperatureMiddleFrom];
}

float ThrottleOf(std::uint8_t raw) {
    // Two slopes: the sensor reads steeper in its upper part.
    if (raw <= 170) return static_cast<float>(0.1848 * raw - 1.41);
    return static_cast<float>(0.7058 * raw - 90.0);
}

float BatteryOf(std::uint8_t raw) { return static_cast<float>(0.0628 * raw); }

float InjectionAngleOf(std::uint8_t raw) {
    // The ECU counts in quarters of 90 degrees back from 720, and rounds
    // twice: the product, then the difference.
    const float back = static_cast<float>(raw * 90.0 / 4.0);
    return 720.0f - back;
}

float VaeOf(std::uint16_t raw) {
    const float scaled = static_cast<float>(raw * 0.009782);
    return scaled - 16.0f;
}

float LambdaIntegratorOf(std::uint16_t raw) { return static_cast<float>(raw * 125.0 / 1000000.0); }

std::uint16_t RevsPeriodFor(double rpm) {
    if (!(rpm > 0)) return 0;
    const std::uint16_t period = NearestAround<std::uint16_t>(RevsOf, 30000000.0 / rpm, 1, 65535, rpm);
    // Standing lies far from the slowest real period (about 458 rpm).
    return rpm <= std::fabs(RevsOf(period) - rpm) ? 0 : period;
}

std::uint16_t InjectorCountFor(double milliseconds) {
    return NearestAround<std::uint16_t>(InjectorsOf, milliseconds * 250.0, 0, 65535, milliseconds);
}

std::uint8_t AdvanceRawFor(double degrees) {
    return NearestAround<std::uint8_t>(AdvanceOf, degrees * 4.0, 0, 255, degrees);
}

std::uint8_t ManifoldRawFor(double millibar) {
    return NearestAround<std::uint8_t>(ManifoldOf, (millibar - 60.84) / 8.5548, 0, 255, millibar);
}

std::uint8_t TemperatureRawFor(double celsius) {
    // Not monotonic at the cold end: every byte is looked at.
    int best = 0;
    double best_error = std::numeric_limits<double>::infinity();
    for (int raw = 0; raw < 256; ++raw) {
        const double error = std::fabs(TemperatureOf(static_cast<std::uint8_t>(raw)) - celsius);
        if (error < best_error) {
            best = raw;
            best_error = error;
        }
        if (error == 0) break;  // a recorded temperature is one of the table's
    }
    return static_cast<std::uint8_t>(best);
}

std::uint8_t ThrottleRawFor(double degrees) {
    const double guess = degrees <= ThrottleOf(170) ? (degrees + 1.41) / 0.1848 : (degrees + 90.0) / 0.7058;
    return NearestAround<std::uint8_t>(ThrottleOf, guess, 0, 255, degrees);
}

std::uint8_t BatteryRawFor(double volts) {
    return NearestAround<std::uint8_t>(BatteryOf, volts / 0.0628, 0, 255, volts);
}

std::uint8_t InjectionAngleRawFor(double degrees) {
    return NearestAround<std::uint8_t>(InjectionAngleOf, (720.0 - degrees) * 4.0 / 90.0, 0, 255, degrees);
}

std::uint16_t VaeRawFor(double percent) {
    return NearestAround<std::uint16_t>(VaeOf, (percent + 16.0) / 0.009782, 0, 65535, percent);
}

std::uint16_t LambdaIntegratorRawFor(double percent) {
    return NearestAround<std::uint16_t>(LambdaIntegratorOf, percent * 8000.0, 0, 65535, percent);
}

}  // namespace ecusim
