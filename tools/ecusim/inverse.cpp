#include "inverse.h"

#include <array>
#include <cmath>
#include <limits>

#include "decode/conversions.h"

namespace ecusim {
namespace {

using Convert8 = Reading (*)(std::uint8_t);
using Convert16 = Reading (*)(std::uint16_t);

// The 256 values of an 8-bit conversion, computed once: the search then
// costs no formatting.
struct Table8 {
    std::array<float, 256> value{};
    explicit Table8(Convert8 convert) {
        for (int raw = 0; raw < 256; ++raw) value[raw] = convert(static_cast<std::uint8_t>(raw)).value;
    }
};

// Lowest raw value among the nearest ones; tables need not be monotonic
// (the temperature table is not, at its cold end).
std::uint8_t Nearest(const Table8& table, double target) {
    int best = 0;
    double best_error = std::numeric_limits<double>::infinity();
    for (int raw = 0; raw < 256; ++raw) {
        double error = std::fabs(static_cast<double>(table.value[raw]) - target);
        if (error < best_error) {
            best = raw;
            best_error = error;
        }
    }
    return static_cast<std::uint8_t>(best);
}

double ValueOf(Convert16 convert, std::uint32_t raw) {
    return static_cast<double>(convert(static_cast<std::uint16_t>(raw)).value);
}

// 16-bit conversions are monotonic over [lo, hi]: bisect for the first raw
// value at or past the target, then take the nearer of it and its
// predecessor.
std::uint16_t NearestMonotonic(Convert16 convert, std::uint32_t lo, std::uint32_t hi, double target) {
    const bool rising = ValueOf(convert, hi) >= ValueOf(convert, lo);
    auto past = [&](std::uint32_t raw) {
        double v = ValueOf(convert, raw);
        return rising ? v >= target : v <= target;
    };
    std::uint32_t a = lo, b = hi;
    while (a < b) {
        std::uint32_t mid = a + (b - a) / 2;
        if (past(mid))
            b = mid;
        else
            a = mid + 1;
    }
    std::uint32_t best = a;
    if (a > lo && std::fabs(ValueOf(convert, a - 1) - target) <= std::fabs(ValueOf(convert, a) - target))
        best = a - 1;
    return static_cast<std::uint16_t>(best);
}

}  // namespace

std::uint16_t RevsPeriodFor(double rpm) {
    if (rpm <= 0) return 0;
    // Period 0 (0 rpm) lies outside the monotonic range 1..65535 and can be
    // nearer than the slowest real period (about 458 rpm).
    std::uint16_t period = NearestMonotonic(ConvertRevs, 1, 65535, rpm);
    if (std::fabs(rpm) < std::fabs(ValueOf(ConvertRevs, period) - rpm)) return 0;
    return period;
}

std::uint16_t InjectorCountFor(double milliseconds) {
    return NearestMonotonic(ConvertInjectors, 0, 65535, milliseconds);
}

std::uint8_t AdvanceRawFor(double degrees) {
    static const Table8 table(ConvertAdvance);
    return Nearest(table, degrees);
}

std::uint8_t ManifoldRawFor(double millibar) {
    static const Table8 table(ConvertManifoldPressure);
    return Nearest(table, millibar);
}

std::uint8_t TemperatureRawFor(double celsius) {
    static const Table8 table(ConvertWaterTemperature);
    return Nearest(table, celsius);
}

std::uint8_t ThrottleRawFor(double degrees) {
    static const Table8 table(ConvertThrottle);
    return Nearest(table, degrees);
}

std::uint8_t BatteryRawFor(double volts) {
    static const Table8 table(ConvertBattery);
    return Nearest(table, volts);
}

std::uint8_t InjectionAngleRawFor(double degrees) {
    static const Table8 table(ConvertInjectionAngle);
    return Nearest(table, degrees);
}

std::uint16_t VaeRawFor(double percent) { return NearestMonotonic(ConvertVae, 0, 65535, percent); }

std::uint16_t LambdaIntegratorRawFor(double percent) {
    return NearestMonotonic(ConvertLambdaIntegrator, 0, 65535, percent);
}

}  // namespace ecusim
