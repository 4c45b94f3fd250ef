// The arithmetic below is deliberately exact about where values are rounded
// to 32 bits and which constants are float or double: the tuner reads these
// numbers to the last digit, and the colour bands are decided on the 32-bit
// value, so an extra or missing rounding moves a band edge or a hundredth.
#include "decode/conversions.h"

#include <cstdio>
#include <limits>

#include "screen/colours.h"

const std::int32_t temperature[256] = {
    125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,  //   0
    125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,  //  16
    125, 122, 119, 116, 113, 111, 108, 105, 102, 99,  96,  93,  90,  87,  84,  82,   //  32
    79,  77,  76,  75,  74,  73,  71,  70,  69,  68,  66,  65,  64,  63,  62,  60,   //  48
    59,  58,  58,  57,  56,  56,  55,  54,  53,  53,  52,  51,  50,  50,  49,  48,   //  64
    48,  47,  46,  46,  45,  45,  44,  43,  43,  42,  42,  41,  40,  40,  39,  39,   //  80
    38,  37,  37,  36,  36,  35,  35,  34,  34,  33,  33,  32,  32,  31,  31,  30,   //  96
    30,  29,  29,  28,  28,  27,  27,  26,  26,  25,  25,  24,  24,  23,  23,  22,   // 112
    22,  22,  21,  21,  20,  20,  19,  19,  18,  18,  17,  17,  16,  16,  15,  15,   // 128
    14,  14,  13,  13,  12,  12,  11,  11,  10,  10,  9,   9,   8,   8,   7,   7,    // 144
    6,   6,   5,   5,   4,   4,   3,   3,   2,   2,   1,   1,   0,   0,   -1,  -1,   // 160
    -2,  -2,  -3,  -4,  -4,  -5,  -6,  -6,  -7,  -7,  -8,  -9,  -9,  -10, -11, -11,  // 176
    -12, -13, -14, -15, -16, -17, -18, -19, -20, -21, -22, -23, -24, -26, -27, -28,  // 192
    -29, -34, -35, -37, -39, -40, -42, -43, -45, -47, -48, -50, -52, -53, -55, -57,  // 208
    -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,  // 224
    -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,  // 240
};

namespace {

// "%d" readings show the 32-bit value truncated toward zero. Every value
// that reaches here is bounded well inside int (revs at most 30000000).
int Truncated(float value) { return static_cast<int>(value); }

// Decimal readings format the 32-bit value widened to double, never the
// double intermediate it was computed from.
double Widened(float value) { return static_cast<double>(value); }

template <typename... Args>
Reading Make(float value, std::uint16_t colour, const char* format, Args... args) {
    Reading r{};
    r.value = value;
    r.colour = colour;
    std::snprintf(r.text, sizeof r.text, format, args...);
    return r;
}

// Counted from the signed table entry so that a colour test on the value
// sees exactly the whole degrees shown.
float TemperatureOf(std::uint8_t raw) { return static_cast<float>(temperature[raw]); }

std::uint16_t Banded(float value, const ColourBands& b) {
    if (value < b.alarm_low || value > b.alarm_high) return kColourAlarm;
    if (value < b.warn_low || value > b.warn_high) return kColourWarning;
    return kColourNormal;
}

constexpr float kNoLimit = std::numeric_limits<float>::lowest();

}  // namespace

const ColourBands kRevsBands{500.0f, 800.0f, 6000.0f, 6500.0f};
const ColourBands kWaterBands{kNoLimit, kNoLimit, 105.0f, 110.0f};
const ColourBands kBatteryBands{12.0f, 12.5f, 14.0f, 14.5f};

Reading RevsReading(float value) {
    return Make(value, Banded(value, kRevsBands), "Revs:\t\t%d rpm     ", Truncated(value));
}

Reading InjectorsReading(float value) {
    // Threshold is a double: compared on the 32-bit value widened.
    const std::uint16_t colour = static_cast<double>(value) <= kInjectorsAlarmAtMost ? kColourAlarm : kColourNormal;
    return Make(value, colour, "Injectors:\t%2.2f ms     ", Widened(value));
}

Reading AdvanceReading(float value) {
    return Make(value, kColourNormal, "Advance:\t%d degrees     ", Truncated(value));
}

Reading ManifoldPressureReading(float value) {
    return Make(value, kColourNormal, "MAP1,02/03:\t%d milliBar  ", Truncated(value));
}

Reading AirTemperatureReading(float value) {
    return Make(value, kColourNormal, "Air temp:\t%d degrees     ", Truncated(value));
}

Reading WaterTemperatureReading(float value) {
    return Make(value, Banded(value, kWaterBands), "Water temp:\t%d degrees     ", Truncated(value));
}

Reading ThrottleReading(float value) {
    return Make(value, kColourNormal, "Throttle:\t%.2f degrees     ", Widened(value));
}

Reading BatteryReading(float value) {
    return Make(value, Banded(value, kBatteryBands), "Battery:\t%2.2f volts     ", Widened(value));
}

Reading InjectionAngleReading(float value) {
    return Make(value, kColourNormal, "Inj. angle:\t%d degrees     ", Truncated(value));
}

Reading VaeReading(float value) {
    return Make(value, kColourNormal, "VAE:\t\t%d percent     ", Truncated(value));
}

Reading LambdaIntegratorReading(float value) {
    return Make(value, kColourNormal, "%2.2f %%", Widened(value));
}

Reading LambdaStateReading(bool closed) {
    // No engineering value: the state is a flag, kept as the raw byte.
    return Make(closed ? 1.0f : 0.0f, closed ? kColourNormal : kColourWarning, "%s",
                closed ? "closed loop" : "open loop  ");
}

Reading ConvertRevs(std::uint16_t period) {
    // The period counts ECU timer ticks per revolution; 0 means no pulses,
    // i.e. the engine is stopped.
    return RevsReading(period == 0 ? 0.0f : 30000000.0f / static_cast<float>(period));
}

Reading ConvertInjectors(std::uint16_t count) {
    // The count is in 4 us steps; the product stays an exact integer.
    const std::int32_t micros = static_cast<std::int32_t>(count) * 4;
    return InjectorsReading(static_cast<float>(static_cast<double>(micros) / 1000.0));
}

Reading ConvertAdvance(std::uint8_t raw) { return AdvanceReading(static_cast<float>(raw / 4.0)); }

Reading ConvertManifoldPressure(std::uint8_t raw) {
    return ManifoldPressureReading(static_cast<float>(raw * 8.5548 + 60.84));
}

Reading ConvertAirTemperature(std::uint8_t raw) { return AirTemperatureReading(TemperatureOf(raw)); }

Reading ConvertWaterTemperature(std::uint8_t raw) { return WaterTemperatureReading(TemperatureOf(raw)); }

Reading ConvertThrottle(std::uint8_t raw) {
    // The sensor's slope changes above 170.
    const double degrees = raw > 170 ? raw * 0.7058 - 90.0 : raw * 0.1848 - 1.41;
    return ThrottleReading(static_cast<float>(degrees));
}

Reading ConvertBattery(std::uint8_t raw) { return BatteryReading(static_cast<float>(raw * 0.0628)); }

Reading ConvertInjectionAngle(std::uint8_t raw) {
    // Two roundings: the product is held in 32 bits before the subtraction.
    const float product = static_cast<float>(raw * 90.0 / 4.0);
    return InjectionAngleReading(720.0f - product);
}

Reading ConvertVae(std::uint16_t raw) {
    // Two roundings: the product is held in 32 bits before the offset.
    const float product = static_cast<float>(raw * 0.009782);
    return VaeReading(product - 16.0f);
}

Reading ConvertLambdaIntegrator(std::uint16_t raw) {
    return LambdaIntegratorReading(static_cast<float>(raw * 125.0 / 1000000.0));
}

Reading ConvertLambdaState(std::uint8_t raw) {
    Reading r = LambdaStateReading(raw != 0);
    r.value = static_cast<float>(raw);
    return r;
}

bool EngineRunning(const Reading& revs) { return revs.value >= 1.0f; }
